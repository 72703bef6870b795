// Component behaviour that needs no server: settings, names, lifetimes and misuse errors.

#include <gtest/gtest.h>

#include "MessageOf.h"

#include <memory>

#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/MSTable.h"

namespace bunkmere {
namespace {

TEST(ConnectionOfflineTest, AStringEqualToTheGeneratedOneChangesNothing) {
  TMSConnection conn(nullptr);
  conn.SetConnectString("Data Source=SRV;Initial Catalog=JAIL");
  conn.SetLoginPrompt(false);
  std::string generated = conn.ConnectString();
  conn.SetConnectString(generated);
  EXPECT_FALSE(conn.LoginPrompt());
  // The same settings written another way are a new string: they reset LoginPrompt.
  conn.SetConnectString("Server=SRV;Database=JAIL");
  EXPECT_TRUE(conn.LoginPrompt());
  EXPECT_EQ(conn.Server(), "SRV");
}

TEST(ConnectionOfflineTest, ABadStringKeepsTheSettingsBefore) {
  TMSConnection conn(nullptr);
  conn.SetConnectString("Data Source=SRV;Provider=SQLOLEDB.1");
  conn.SetLoginPrompt(false);
  EXPECT_EQ(MessageOf([&] { conn.SetConnectString("Data Source=OTHER;Bogus=1"); }),
            "Connection parameter name is unknown: Bogus");
  EXPECT_EQ(conn.Server(), "SRV");
  EXPECT_EQ(conn.Options().Provider(), TOLEDBProvider::prSQL);
  EXPECT_FALSE(conn.LoginPrompt());
}

TEST(ConnectionOfflineTest, ProviderFailuresLeaveTheConnectionClosed) {
  TMSConnection conn(nullptr);
  conn.Options().SetProvider(TOLEDBProvider::prCompact);
  EXPECT_EQ(MessageOf([&] { conn.Connect(); }), "Required provider is not installed");
  EXPECT_FALSE(conn.Connected());
  conn.Options().SetProvider(static_cast<TOLEDBProvider>(7));
  EXPECT_EQ(MessageOf([&] { conn.SetConnected(true); }), "Wrong provider name");
  EXPECT_FALSE(conn.Connected());
}

TEST(ConnectionOfflineTest, LoadedConnectsOnlyWhenKeptConnected) {
  TMSConnection conn(nullptr);
  conn.Options().SetProvider(TOLEDBProvider::prCompact);  // a connect attempt fails at once
  conn.Options().SetKeepDesignConnected(false);
  conn.SetLoadingState();
  conn.SetConnected(true);
  conn.Loaded();
  EXPECT_FALSE(conn.Connected());

  TMSConnection kept(nullptr);
  kept.Options().SetProvider(TOLEDBProvider::prCompact);
  kept.SetLoadingState();
  kept.SetConnected(true);
  EXPECT_EQ(MessageOf([&] { kept.Loaded(); }), "Required provider is not installed");
}

TEST(ConnectionOfflineTest, LoginPromptAsksNobodyWithoutAHandler) {
  TMSConnection conn(nullptr);
  conn.Options().SetProvider(TOLEDBProvider::prCompact);
  int asked = 0;
  conn.OnLogin = [&](TMSConnection&, TLoginValues& v) {
    ++asked;
    v.Username = "given";
  };
  EXPECT_THROW(conn.Connect(), EDatabaseError);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(conn.Username(), "given");
  conn.SetLoginPrompt(false);
  EXPECT_THROW(conn.Connect(), EDatabaseError);
  EXPECT_EQ(asked, 1);
}

TEST(TableOfflineTest, TableNameIsStoredTrimmedAndUnquoted) {
  struct TCase {
    const char* Given;
    const char* Stored;
  };
  const TCase cases[] = {{"[CFGCELL]", "CFGCELL"},       {"  CFGCELL ", "CFGCELL"},
                         {"\"CFGCELL\"", "CFGCELL"},     {"[dbo].[CFG CELL]", "dbo.CFG CELL"},
                         {"dbo.CFGCELL", "dbo.CFGCELL"}, {"cfgCell", "cfgCell"}};
  TMSTable table(nullptr);
  for (const TCase& c : cases) {
    table.SetTableName(c.Given);
    EXPECT_EQ(table.TableName(), c.Stored);
    EXPECT_EQ(table.ReportedTableName(), c.Stored);
  }
}

TEST(DataSetOfflineTest, MisuseIsReportedWithTheLayersMessages) {
  TMSTable table(nullptr);
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "TableName must be defined");
  EXPECT_FALSE(table.Active());
  const std::string closed = "Cannot perform this operation on a closed dataset";
  EXPECT_EQ(MessageOf([&] { table.First(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.Next(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.Edit(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.Post(); }), closed);
  EXPECT_EQ(MessageOf([&] { (void)table.RecordCount(); }), closed);
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.FindField("X"), nullptr);
  EXPECT_EQ(MessageOf([&] { table.FieldByName("X"); }), "Field 'X' not found");
}

TEST(DataSetOfflineTest, QueryReportsTheFirstTableOfItsStatement) {
  TMSQuery query(nullptr);
  query.SQL().Add("SELECT BOOKNO");
  query.SQL().Add("FROM [dbo].[DETENTIA] WHERE 1 = 0");
  EXPECT_EQ(query.SQL().Text(), "SELECT BOOKNO\r\nFROM [dbo].[DETENTIA] WHERE 1 = 0\r\n");
  EXPECT_EQ(query.ReportedTableName(), "dbo.DETENTIA");
}

TEST(LifetimeTest, FreeingAConnectionOrDataSourceUnlinksWhoUsedIt) {
  auto conn = std::make_unique<TMSConnection>(nullptr);
  std::unique_ptr<TCustomMSDataSet> plain(conn->CreateDataSet(nullptr));
  EXPECT_EQ(plain->Connection(), conn.get());
  EXPECT_STREQ(plain->ClassName(), "TCustomMSDataSet");
  conn.reset();
  EXPECT_EQ(plain->Connection(), nullptr);

  TMSTable master(nullptr), detail(nullptr);
  auto source = std::make_unique<TDataSource>(nullptr);
  source->SetDataSet(&master);
  detail.SetMasterSource(source.get());
  source.reset();
  EXPECT_EQ(detail.MasterSource(), nullptr);

  TDataSource second(nullptr);
  {
    TMSTable shortLived(nullptr);
    second.SetDataSet(&shortLived);
  }
  EXPECT_EQ(second.DataSet(), nullptr);
}

}  // namespace
}  // namespace bunkmere
