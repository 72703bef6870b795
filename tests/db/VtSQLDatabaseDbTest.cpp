// The family's connection component on a server: a lookup before every connect, no login
// ever asked, and locks whose holder is read through the queries it creates.

#include <gtest/gtest.h>

#include "DbTestServer.h"
#include "FakeConfigInfo.h"
#include "config/VtConfigInfo.h"
#include "core/SqlText.h"
#include "db/VtMSAccess.h"
#include "db/VtSQLDatabase.h"

namespace bunkmere::testing {
namespace {

class VtSQLDatabaseDbTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped()) return;
    FPlatform.AddFile(kSiteFile, kSiteText);
    FServer = std::make_unique<TDbTestServer>();
    FConfig = std::make_unique<TFakeConfigInfo>(nullptr);
    FConfig->Row["ConnString"] = FServer->ConnectString();
  }
  std::unique_ptr<TDbTestServer> FServer;
  std::unique_ptr<TFakeConfigInfo> FConfig;
};

TEST_F(VtSQLDatabaseDbTest, EveryConnectTakesTheConnectionStringAnewAndNeverPrompts) {
  TVtSQLDatabase db(nullptr);
  int prompts = 0;
  db.OnLogin = [&](TMSConnection&, TLoginValues&) { ++prompts; };
  db.SetVtConfigInfo(FConfig.get());
  db.SetProgramName("JAIL");
  EXPECT_EQ(FConfig->Lookups, 1);

  // Whatever was changed by hand since, the connect takes the program's string again.
  db.SetServer("nowhere");
  db.Connect();
  EXPECT_EQ(FConfig->Lookups, 2);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.ExecSQL("UPDATE CFGCELL SET ONCELL = 0 WHERE UniqueKey = 1"), 1);
  db.Disconnect();

  // An implicit connect (a dataset opening) asks too.
  TVtMSTable cells(nullptr);
  cells.SetConnection(&db);
  cells.SetTableName("CFGCELL");
  cells.Open();
  EXPECT_EQ(FConfig->Lookups, 3);
  EXPECT_EQ(prompts, 0);
}

TEST_F(VtSQLDatabaseDbTest, WithTheSitesProgramLibraryEveryConnectLooksUpItsRow) {
  FServer->Exec(
      "CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NULL, ConnString VARCHAR(250) NULL, "
      "HelpFile VARCHAR(100) NULL, LogFile VARCHAR(100) NULL, UseInitial BIT NULL)");
  FServer->Exec("INSERT INTO ConnectLib VALUES ('JAIL', " + QuotedStr(FServer->ConnectString()) +
                ", 'H:\\jail.chm', 'L:\\jail', 0)");
  FPlatform.AddFile(kSiteFile, "[DataProvider]\r\nConnStr=" + FServer->ConnectString() + "\r\n");
  TVtConfigInfo config(nullptr);
  const std::size_t start = FServer->Mark();
  auto lookups = [&] {
    int n = 0;
    for (const std::string& sql : FServer->SqlSince(start))
      if (sql.find("FROM ConnectLib") != std::string::npos) ++n;
    return n;
  };

  TVtSQLDatabase db(nullptr);
  db.SetProgramName("JAIL");
  db.SetVtConfigInfo(&config);
  EXPECT_EQ(lookups(), 1);
  db.Connect();
  EXPECT_EQ(lookups(), 2);
  db.Disconnect();
  db.Connect();
  EXPECT_EQ(lookups(), 3);
  EXPECT_EQ(db.HelpFilePath(), "H:\\jail.chm");
  EXPECT_EQ(lookups(), 4);
  EXPECT_EQ(db.ExecSQL("UPDATE CFGCELL SET ONCELL = 1 WHERE UniqueKey = 2"), 1);
}

TEST_F(VtSQLDatabaseDbTest, AFailedLookupFailsTheConnectAndLeavesItClosed) {
  TVtSQLDatabase db(nullptr);
  db.SetVtConfigInfo(FConfig.get());
  db.SetProgramName("JAIL");
  FConfig->FailWith = "Login failed for user 'sa'.";
  try {
    db.Connect();
    FAIL() << "connected";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Login failed for user 'sa'.");
  }
  EXPECT_FALSE(db.Connected());
}

TEST_F(VtSQLDatabaseDbTest, WithoutConfigInfoTheStoredSettingsConnect) {
  TVtSQLDatabase db(nullptr);
  FServer->Configure(db);
  db.SetProgramName("JAIL");
  db.Connect();
  EXPECT_TRUE(db.Connected());
  EXPECT_FALSE(db.LoginPrompt());
}

TEST_F(VtSQLDatabaseDbTest, ARefusalReadsTheHolderThroughTheFamilysQuery) {
  TVtSQLDatabase db(nullptr);
  db.SetVtConfigInfo(FConfig.get());
  db.SetProgramName("JAIL");
  TVtMSTable first(nullptr), second(nullptr);
  for (TVtMSTable* t : {&first, &second}) {
    t->SetConnection(&db);
    t->SetTableName("CFGCELL");
    t->Open();
  }
  first.Edit();
  std::size_t mark = FServer->Mark();
  try {
    second.Edit();
    FAIL() << "granted twice";
  } catch (const EVtDBLockError& e) {
    EXPECT_EQ(e.UserName(), kUser);
    EXPECT_EQ(e.ComputerName(), kComputer);
    EXPECT_EQ(e.ProgramName(), kProgram);
  }
  const std::vector<std::string> sent = FServer->SqlSince(mark);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], "SELECT * FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]\r\n");
}

TEST_F(VtSQLDatabaseDbTest, AConfigInfoFreedAtRunTimeLeavesTheKeptStringToConnectWith) {
  TVtSQLDatabase db(nullptr);
  db.SetVtConfigInfo(FConfig.get());
  db.SetProgramName("JAIL");
  FConfig.reset();
  db.Connect();
  EXPECT_TRUE(db.Connected());
}

}  // namespace
}  // namespace bunkmere::testing
