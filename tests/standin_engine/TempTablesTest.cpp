// Global temporary tables: one tempdb seen by every session, a second CREATE refused in any
// session, and tables gone when their creator's session ends. The record-lock protocol of the
// system is played here statement by statement.

#include "RecordingSink.h"

namespace standin::test {

constexpr const char* kLock = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]";

std::string CreateLock(const std::string& name) {
  return "CREATE TABLE " + name +
         "(  DatabaseName VARCHAR(30),  TableName    VARCHAR(100),  UniqueKey    VARCHAR(22),  "
         "ComputerName VARCHAR(30),  UserName     VARCHAR(30),  ProgramName  VARCHAR(30),  "
         "TimeLocked   DateTime)";
}

std::string InsertHolder(const std::string& name, const std::string& time) {
  return "INSERT INTO " + name +
         "  (DatabaseName, TableName, UniqueKey, ComputerName, UserName, ProgramName, TimeLocked) "
         "VALUES   ('JAIL', 'CFGCELL', '17', 'WS1', 'o''neil', 'Bunkmere', '" +
         time + "')";
}

TEST_F(EngineTest, LockProtocolAcrossTwoSessions) {
  auto other = engine_->OpenSession(52, "JAIL");
  ASSERT_EQ(Run(CreateLock(kLock)).Error(), 0);
  ASSERT_EQ(Run(InsertHolder(kLock, "12/10/2026 4:43:50 AM")).Error(), 0);

  // Every session is refused, the holder's own too, with SQL Server's 2714.
  for (Session* s : {other.get(), session_.get()}) {
    auto refused = RunOn(*s, CreateLock(kLock));
    EXPECT_EQ(refused.Error(), 2714);
    EXPECT_EQ(refused.ErrorText(),
              "There is already an object named '##LOCK-JAIL.CFGCELL.17' in the database.");
    EXPECT_EQ(refused.messages[0].state, 6);
  }
  auto holder = RunOn(*other, std::string("SELECT * FROM ") + kLock);
  ASSERT_EQ(holder.Error(), 0);
  EXPECT_EQ(holder.rows, (Rowset{{"'JAIL'", "'CFGCELL'", "'17'", "'WS1'", "'o'neil'", "'Bunkmere'",
                                  "'2026-12-10 04:43:50.000'"}}));
  EXPECT_EQ(holder.LastColumns()[6].type, SqlType::DateTime);

  // Release, and the other session may take it.
  ASSERT_EQ(Run(std::string("DROP TABLE ") + kLock).Error(), 0);
  EXPECT_EQ(RunOn(*other, CreateLock(kLock)).Error(), 0);
  EXPECT_EQ(Run(std::string("DROP TABLE ") + kLock).Error(), 0);  // any session may drop it
  auto gone = Run(std::string("DROP TABLE ") + kLock);
  EXPECT_EQ(gone.Error(), 3701);
  EXPECT_EQ(gone.ErrorText(),
            "Cannot drop the table 'tempdb.dbo.##LOCK-JAIL.CFGCELL.17', because it "
            "does not exist or you do not have permission.");
  EXPECT_EQ(Run(std::string("SELECT * FROM ") + kLock).Error(), 208);
}

TEST_F(EngineTest, TemporaryTablesEndWithTheirCreator) {
  auto creator = engine_->OpenSession(60, "master");
  ASSERT_EQ(RunOn(*creator, CreateLock(kLock)).Error(), 0);
  ASSERT_EQ(RunOn(*creator, "CREATE TABLE ##other (A INT)").Error(), 0);
  EXPECT_EQ(Rows(std::string("SELECT Count(*) FROM ") + kLock), (Rowset{{"0"}}));
  creator.reset();
  EXPECT_EQ(Run(std::string("SELECT * FROM ") + kLock).Error(), 208);
  EXPECT_EQ(Run("SELECT * FROM ##other").Error(), 208);
  EXPECT_EQ(Run(CreateLock(kLock)).Error(), 0);
}

TEST_F(EngineTest, ATableDroppedAndRecreatedByAnotherSessionOutlivesTheFirstCreator) {
  auto first = engine_->OpenSession(60, "JAIL");
  ASSERT_EQ(RunOn(*first, "CREATE TABLE ##t (A INT)").Error(), 0);
  Ok("DROP TABLE ##t; CREATE TABLE ##t (B INT)");
  first.reset();
  EXPECT_EQ(Run("SELECT B FROM ##t").Error(), 0);
}

TEST_F(EngineTest, LockNamesMayHoldAnyCharacterInBrackets) {
  const std::string names[] = {
      "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.]",                    // empty key
      "[tempdb].[dbo].[##LOCK-JAIL.CFG CELL.1%2]",                // blank and percent
      "[tempdb].[dbo].[##LOCK-JAIL.A]]B.7]",                      // escaped bracket
      "[tempdb].[dbo].[##LOCK-JAIL.T.\"q\"'s]",                   // quotes
      "tempdb..[##LOCK-JAIL.CFGBED.12345678901234567890123456]",  // key longer than 22
  };
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Run(CreateLock(name)).Error(), 0) << Run(CreateLock(name)).ErrorText();
    EXPECT_EQ(Run(CreateLock(name)).Error(), 2714);
    EXPECT_EQ(Run(InsertHolder(name, "2026-12-10 04:43:50")).Error(), 0);
    EXPECT_EQ(Rows("SELECT UniqueKey FROM " + name), (Rowset{{"'17'"}}));
    EXPECT_EQ(Run("DROP TABLE " + name).Error(), 0);
  }
}

TEST_F(EngineTest, OverlongNamesAreRefused) {
  std::string longKey(120, '9');
  auto sink = Run(CreateLock("[tempdb].[dbo].[##LOCK-JAIL.CFGCELL." + longKey + "]"));
  EXPECT_EQ(sink.Error(), 103);
  EXPECT_EQ(sink.ErrorText(), "The identifier that starts with '##LOCK-JAIL.CFGCELL." +
                                  longKey.substr(0, 128 - 20) +
                                  "' is too long. Maximum length is 128.");
  // Temporary table names stop at 116 characters.
  EXPECT_EQ(Run(CreateLock("[##" + std::string(115, 'x') + "]")).Error(), 193);
  EXPECT_EQ(Run(CreateLock("[##" + std::string(113, 'x') + "]")).Error(), 0);
}

TEST_F(EngineTest, HolderRowWithAnUnreadableTimeIsRefused) {
  Ok(CreateLock(kLock));
  auto sink = Run(InsertHolder(kLock, "10.12.2026 04:43:50 nachm."));
  EXPECT_EQ(sink.Error(), 241);
  EXPECT_EQ(sink.ErrorText(),
            "Conversion failed when converting date and/or time from character string.");
  EXPECT_EQ(Rows(std::string("SELECT Count(*) FROM ") + kLock), (Rowset{{"0"}}));
}

TEST_F(EngineTest, HolderValuesLongerThanTheirColumnsAreRefused) {
  Ok(CreateLock(kLock));
  auto sink = Run("INSERT INTO " + std::string(kLock) + " (UserName) VALUES ('" +
                  std::string(31, 'u') + "')");
  EXPECT_EQ(sink.Error(), 8152);
}

TEST_F(EngineTest, LocalTemporaryTablesArePrivate) {
  auto other = engine_->OpenSession(52, "JAIL");
  Ok("CREATE TABLE #mine (A INT); INSERT INTO #mine VALUES (1)");
  EXPECT_EQ(RunOn(*other, "CREATE TABLE #mine (B INT)").Error(), 0);
  EXPECT_EQ(RunOn(*other, "SELECT B FROM #mine").Error(), 0);
  EXPECT_EQ(Rows("SELECT A FROM #mine"), (Rowset{{"1"}}));
}

}  // namespace standin::test
