// The family's connection component without a server: where its connection string comes
// from, when it is taken and cleared, the designer links, and the datasets it creates.

#include <gtest/gtest.h>

#include <memory>

#include "FakeConfigInfo.h"
#include "db/VtMSAccess.h"
#include "db/VtSQLDatabase.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"

namespace bunkmere::testing {
namespace {

class VtSQLDatabaseTest : public ::testing::Test {
 protected:
  VtSQLDatabaseTest() {
    FPlatform.AddFile(kSiteFile, kSiteText);
    FConfig = std::make_unique<TFakeConfigInfo>(nullptr);
    FConfig->Row["ConnString"] =
        "Data Source=jailsrv;Initial Catalog=JAIL;Integrated Security=SSPI";
    FConfig->Row["HelpFile"] = "H:\\jail.chm";
    FConfig->Row["LogFile"] = "L:\\jail";
  }

  TFakeWindowsPlatform FPlatform;
  TPlatformOverride FOverride{FPlatform};
  std::unique_ptr<TFakeConfigInfo> FConfig;
};

TEST_F(VtSQLDatabaseTest, StartsWithTheFamilysDefaultsAndNoConnectionString) {
  TVtSQLDatabase db(nullptr);
  EXPECT_EQ(db.Options().DefaultLockTimeout(), -1);
  EXPECT_FALSE(db.Options().KeepDesignConnected());
  EXPECT_FALSE(db.LoginPrompt());
  EXPECT_EQ(db.Server(), "");
  EXPECT_EQ(db.Database(), "");
  EXPECT_EQ(db.VtConfigInfo(), nullptr);
  EXPECT_EQ(db.ProgramName(), "");
  EXPECT_EQ(db.VtVersion(), "2.1");
  EXPECT_EQ(db.HelpFilePath(), "");
  EXPECT_EQ(db.LogFilePath(), "");
}

TEST_F(VtSQLDatabaseTest, NameAndLinkTakeTheProgramsStringEachTimeTheyAreSet) {
  TVtSQLDatabase db(nullptr);
  db.SetServer("designtime");
  db.SetProgramName("JAIL");  // no configuration info yet: the stored settings stay
  EXPECT_EQ(db.Server(), "designtime");
  EXPECT_EQ(FConfig->Lookups, 0);

  db.SetVtConfigInfo(FConfig.get());
  EXPECT_EQ(FConfig->Lookups, 1);
  EXPECT_EQ(db.Server(), "jailsrv");
  EXPECT_EQ(db.Database(), "JAIL");
  EXPECT_EQ(db.Authentication(), TMSAuthentication::auWindows);
  EXPECT_FALSE(db.LoginPrompt());

  db.SetProgramName("JAIL");  // the same name again asks again
  EXPECT_EQ(FConfig->Lookups, 2);
  EXPECT_EQ(db.HelpFilePath(), "H:\\jail.chm");
  EXPECT_EQ(db.LogFilePath(), "L:\\jail");
}

TEST_F(VtSQLDatabaseTest, ClearingTheNameOrTheLinkResetsTheSettings) {
  struct Case {
    const char* what;
    void (*clear)(TVtSQLDatabase&);
  };
  const Case cases[] = {
      {"name emptied", [](TVtSQLDatabase& db) { db.SetProgramName(""); }},
      {"link removed", [](TVtSQLDatabase& db) { db.SetVtConfigInfo(nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TVtSQLDatabase db(nullptr);
    db.SetVtConfigInfo(FConfig.get());
    db.SetProgramName("JAIL");
    db.Options().SetProvider(TOLEDBProvider::prSQL);
    db.SetLoginPrompt(true);
    c.clear(db);
    EXPECT_EQ(db.Server(), "");
    EXPECT_EQ(db.Database(), "");
    EXPECT_EQ(db.Authentication(), TMSAuthentication::auServer);
    EXPECT_EQ(db.Options().Provider(), TOLEDBProvider::prAuto);
    EXPECT_FALSE(db.LoginPrompt());
  }
  // Emptying a name that was never set changes nothing.
  TVtSQLDatabase db(nullptr);
  db.SetServer("mine");
  db.SetProgramName("");
  EXPECT_EQ(db.Server(), "mine");
}

TEST_F(VtSQLDatabaseTest, AFailingLookupLeavesTheSetterAndKeepsTheOldSettings) {
  TVtSQLDatabase db(nullptr);
  db.SetServer("before");
  db.SetProgramName("JAIL");
  FConfig->FailWith = "Invalid object name 'ConnectLib'.";
  try {
    db.SetVtConfigInfo(FConfig.get());
    FAIL() << "no failure";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Invalid object name 'ConnectLib'.");
  }
  EXPECT_EQ(db.Server(), "before");
  // A string the connection cannot read fails the same way and keeps the settings.
  FConfig->FailWith.clear();
  FConfig->Row["ConnString"] = "Data Source=x;Bogus=1";
  EXPECT_THROW(db.SetProgramName("JAIL"), EDatabaseError);
  EXPECT_EQ(db.Server(), "before");
}

TEST_F(VtSQLDatabaseTest, CreatedDataSetsAreTheFamilysQueriesOnThisConnection) {
  TComponent owner(nullptr);
  TVtSQLDatabase db(nullptr);
  std::unique_ptr<TCustomMSDataSet> loose(db.CreateDataSet(nullptr));
  auto* query = dynamic_cast<TVtMSQuery*>(loose.get());
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(query->Connection(), &db);
  EXPECT_EQ(query->Owner(), nullptr);
  EXPECT_FALSE(query->IsDesigning());

  TCustomMSDataSet* owned = db.CreateDataSet(&owner);
  EXPECT_EQ(owned->Owner(), &owner);

  db.SetDesigning(true);
  std::unique_ptr<TCustomMSDataSet> designed(db.CreateDataSet(nullptr));
  EXPECT_TRUE(designed->IsDesigning());
}

TEST_F(VtSQLDatabaseTest, InTheDesignerTheFirstConfigInfoIsLinkedAndUnlinkedWhenRemoved) {
  TComponent form(nullptr);
  form.SetDesigning(true);
  new TVtMSQuery(&form);
  auto* config = new TFakeConfigInfo(&form);
  config->Row = FConfig->Row;
  new TFakeConfigInfo(&form);
  auto* db = new TVtSQLDatabase(&form);
  EXPECT_EQ(db->VtConfigInfo(), config);
  db->SetProgramName("JAIL");
  EXPECT_EQ(db->Server(), "jailsrv");
  delete config;
  EXPECT_EQ(db->VtConfigInfo(), nullptr);
  EXPECT_EQ(db->Server(), "");  // unlinking with a name set clears the string
}

TEST_F(VtSQLDatabaseTest, AtRunTimeAFreedConfigInfoLeavesNoDanglingLink) {
  struct Case {
    const char* what;
    bool configOwned, databaseOwned;
  };
  const Case cases[] = {{"the same owner", true, true},
                        {"only the connection owned", false, true},
                        {"neither owned", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TComponent form(nullptr);
    std::unique_ptr<TFakeConfigInfo> looseConfig;
    TFakeConfigInfo* config = new TFakeConfigInfo(c.configOwned ? &form : nullptr);
    if (!c.configOwned) looseConfig.reset(config);
    std::unique_ptr<TVtSQLDatabase> looseDb;
    TVtSQLDatabase* db = new TVtSQLDatabase(c.databaseOwned ? &form : nullptr);
    if (!c.databaseOwned) looseDb.reset(db);
    config->Row = FConfig->Row;
    db->SetVtConfigInfo(config);
    db->SetProgramName("JAIL");
    if (c.configOwned)
      delete config;
    else
      looseConfig.reset();
    EXPECT_EQ(db->VtConfigInfo(), nullptr);
    EXPECT_EQ(db->Server(), "jailsrv");  // the string taken stays
    EXPECT_EQ(db->HelpFilePath(), "");
  }
}

}  // namespace
}  // namespace bunkmere::testing
