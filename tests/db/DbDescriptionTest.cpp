// The family's database components in stored window descriptions: what is stored (only what
// differs from the family's defaults), the provider entry in both of its stored forms, the
// query's load check, and the connection's loading order.

#include <gtest/gtest.h>

#include "FakeConfigInfo.h"
#include "core/ClassRegistry.h"
#include "core/Reader.h"
#include "core/Writer.h"
#include "db/DbClasses.h"
#include "db/VtMSAccess.h"
#include "db/VtSQLDatabase.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"

namespace bunkmere::testing {
namespace {

class DbDescriptionTest : public ::testing::Test {
 protected:
  DbDescriptionTest() {
    RegisterDbClasses();
    Register<TFakeConfigInfo, TVtCustomConfigInfo>("TFakeConfigInfo");
    FPlatform.AddFile(kSiteFile, kSiteText);
  }
  // Reads AText as the blocks of a form and hands back the form.
  std::unique_ptr<TComponent> Form(const std::string& ABlocks, bool ADesigning = false) {
    auto form = std::make_unique<TComponent>(nullptr);
    if (ADesigning) form->SetDesigning(true);
    ReadComponentDescription(*form, "object Form: TComponent\n" + ABlocks + "end\n");
    return form;
  }
  template <class T>
  static T& Find(TComponent& AForm, const char* AName) {
    auto* c = dynamic_cast<T*>(AForm.FindComponent(AName));
    if (c == nullptr) throw std::runtime_error(std::string("no ") + AName);
    return *c;
  }
  static std::string Block(const TComponent& AComponent) {
    return WriteComponentDescription(AComponent);
  }

  TFakeWindowsPlatform FPlatform;
  TPlatformOverride FOverride{FPlatform};
};

TEST_F(DbDescriptionTest, LockableDatasetsStoreOnlyWhatDiffersFromTheFamilysDefaults) {
  TVtMSTable table(nullptr);
  table.SetName("tblCells");
  EXPECT_EQ(Block(table), "object tblCells: TVtMSTable\nend\n");

  table.SetRefreshOptions({});
  table.Options().SetQuoteNames(false);
  table.SetRecordLocksMake(false);
  const std::string text = Block(table);
  EXPECT_NE(text.find("  RecordLocksMake = False\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  RecordLocksCheck = False\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  RefreshOptions = []\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Options.QuoteNames = False\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("TrimVarChar"), std::string::npos) << text;
  EXPECT_EQ(text.find("VtVersion"), std::string::npos) << text;

  auto form = Form(
      "  object tblCells: TVtMSTable\n"
      "    RecordLocksCheck = False\n"
      "    RefreshOptions = [roAfterUpdate, roBeforeEdit]\n"
      "    Options.TrimVarChar = False\n"
      "  end\n");
  auto& read = Find<TVtMSTable>(*form, "tblCells");
  EXPECT_FALSE(read.RecordLocksMake());
  EXPECT_EQ(read.RefreshOptions(),
            (TRefreshOptions{TRefreshOption::roAfterUpdate, TRefreshOption::roBeforeEdit}));
  EXPECT_FALSE(read.Options().TrimVarChar());
  EXPECT_TRUE(read.Options().QuoteNames());
}

TEST_F(DbDescriptionTest, AQueryWithOldTableSettingsIsRefusedAtRunTimeOnly) {
  const std::string blocks[] = {
      "    TableName = 'CFGCELL'\n",
      "    IndexName = 'ByCell'\n",
      "    AutoLoadIndexDefs = False\n",
      "    IndexDefs = <\n      item\n        Name = 'ByCell'\n        Fields = 'CELLKEY'\n"
      "        Options = [ixPrimary]\n      end>\n",
  };
  for (const std::string& settings : blocks) {
    SCOPED_TRACE(settings);
    const std::string query = "  object qryOld: TVtMSQuery\n" + settings + "  end\n";
    try {
      Form(query);
      ADD_FAILURE() << "read at run time";
    } catch (const EDatabaseError&) {
      ADD_FAILURE() << "raised as a database error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "TVtMSQuery 'qryOld' must be converted to TVtMSSearchQuery");
    }
    auto designed = Form(query, true);
    auto& q = Find<TVtMSQuery>(*designed, "qryOld");
    // The designer keeps what was read, and writes it back.
    EXPECT_NE(Block(q).find(settings.substr(4, settings.find(' ', 4) - 4)), std::string::npos);
  }
  EXPECT_NO_THROW(Form("  object qryGeneric: TVtMSQuery\n  end\n"));
}

TEST_F(DbDescriptionTest, TheProviderEntryWritesBackTheFormItWasReadIn) {
  struct Case {
    const char* stored;
    TOLEDBProvider provider;
    TNativeClientVersion nativeClient;
    const char* written;  // nullptr: not written
  };
  const Case cases[] = {
      {"prSQL", TOLEDBProvider::prSQL, TNativeClientVersion::ncAuto, "prSQL"},
      {"prNativeClient", TOLEDBProvider::prNativeClient, TNativeClientVersion::ncAuto,
       "prNativeClient"},
      {"'SQLNCLI10.1'", TOLEDBProvider::prNativeClient, TNativeClientVersion::nc2008,
       "'SQLNCLI10.1'"},
      {"'SQLNCLI11.1'", TOLEDBProvider::prNativeClient, TNativeClientVersion::nc2012,
       "'SQLNCLI11.1'"},
      {"'SQLOLEDB.1'", TOLEDBProvider::prSQL, TNativeClientVersion::ncAuto, "'SQLOLEDB.1'"},
      // an unknown string selects prAuto, whose string is not the one read: not written
      {"'Unknown.Provider'", TOLEDBProvider::prAuto, TNativeClientVersion::ncAuto, nullptr},
      {"prAuto", TOLEDBProvider::prAuto, TNativeClientVersion::ncAuto, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    auto form =
        Form("  object dbJail: TVtSQLDatabase\n    Options.Provider = " + std::string(c.stored) +
             "\n  end\n");
    auto& db = Find<TVtSQLDatabase>(*form, "dbJail");
    EXPECT_EQ(db.Options().Provider(), c.provider);
    EXPECT_EQ(db.Options().NativeClientVersion(), c.nativeClient);
    const std::string text = Block(db);
    if (c.written == nullptr)
      EXPECT_EQ(text.find("Provider"), std::string::npos) << text;
    else
      EXPECT_NE(text.find("  Options.Provider = " + std::string(c.written) + "\n"),
                std::string::npos)
          << text;
  }

  // 'SQLOLEDB.1' is also the string of prAuto, so setting prAuto still writes it.
  auto form = Form("  object dbJail: TVtSQLDatabase\n    Options.Provider = 'SQLOLEDB.1'\n  end\n");
  auto& db = Find<TVtSQLDatabase>(*form, "dbJail");
  db.Options().SetProvider(TOLEDBProvider::prAuto);
  EXPECT_NE(Block(db).find("  Options.Provider = 'SQLOLEDB.1'\n"), std::string::npos);
}

TEST_F(DbDescriptionTest, AnIdentifierNamingNoProviderFailsTheConnectButSurvivesWriting) {
  auto form = Form("  object dbJail: TVtSQLDatabase\n    Options.Provider = prOracle\n  end\n");
  auto& db = Find<TVtSQLDatabase>(*form, "dbJail");
  EXPECT_NE(Block(db).find("  Options.Provider = prOracle\n"), std::string::npos);
  try {
    db.Connect();
    FAIL() << "connected";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Wrong provider name");
  }
}

TEST_F(DbDescriptionTest, TheConnectionTakesItsStringOnceTheLinkIsResolvedAndStaysClosed) {
  auto form = Form(
      "  object VtConfigInfo: TFakeConfigInfo\n"
      "  end\n"
      "  object dbJail: TVtSQLDatabase\n"
      "    ProgramName = 'JAIL'\n"
      "    VtConfigInfo = VtConfigInfo\n"
      "    Database = 'JAIL'\n"
      "    Authentication = auWindows\n"
      "    Options.Provider = prSQL\n"
      "    Connected = True\n"
      "  end\n");
  auto& config = Find<TFakeConfigInfo>(*form, "VtConfigInfo");
  auto& db = Find<TVtSQLDatabase>(*form, "dbJail");
  // The fake's row is empty, so the string taken is empty too: the settings reset.
  EXPECT_EQ(config.Lookups, 1);
  EXPECT_EQ(db.VtConfigInfo(), &config);
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(db.LoginPrompt());
  const std::string text = Block(*form);
  EXPECT_NE(text.find("    ProgramName = 'JAIL'\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    VtConfigInfo = VtConfigInfo\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("VtVersion"), std::string::npos) << text;
  EXPECT_EQ(text.find("DefaultLockTimeout"), std::string::npos) << text;
  EXPECT_EQ(text.find("KeepDesignConnected"), std::string::npos) << text;
}

TEST_F(DbDescriptionTest, ADatasetsConnectionMustBeAConnection) {
  EXPECT_THROW(Form("  object src: TDataSource\n  end\n"
                    "  object tblCells: TVtMSTable\n    Connection = src\n  end\n"),
               Exception);
}

}  // namespace
}  // namespace bunkmere::testing
