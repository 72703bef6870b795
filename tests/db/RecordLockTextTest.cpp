// The lock name, the statements and the refusal text, without a server.

#include <gtest/gtest.h>

#include "core/DateTime.h"
#include "db/VtRecordLock.h"

namespace bunkmere {
namespace {

TEST(RecordLockName, PiecesGoInUncutAndOnlyAClosingBracketIsDoubled) {
  struct Case {
    const char* database;
    const char* table;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"JAIL", "CFGCELL", "17", "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]"},
      // a NULL or empty key: every such row of the table shares one lock
      {"JAIL", "CFGCELL", "", "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.]"},
      {"JAIL", "dbo.CFGBED", "it's 100% [x]",
       "[tempdb].[dbo].[##LOCK-JAIL.dbo.CFGBED.it's 100% [x]]]"},
      // a key that tries to end the identifier and run its own statement stays inside it
      {"JAIL", "CFGCELL", "1]; DROP TABLE CFGCELL; --",
       "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]]; DROP TABLE CFGCELL; --]"},
      {"J]AIL", "T]", "]", "[tempdb].[dbo].[##LOCK-J]]AIL.T]].]]]"},
      {"JAIL", "CFGCELL", "Zoë 12345678901234567890",
       "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.Zoë 12345678901234567890]"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RecordLockName(c.database, c.table, c.key), c.expected) << c.key;
}

TEST(RecordLockStatements, CreateInsertSelectAndDropAsOtherProgramsSendThem) {
  const std::string name = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]";
  EXPECT_EQ(LockTableCreateStatement(name),
            "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17](  DatabaseName VARCHAR(30),"
            "  TableName    VARCHAR(100),  UniqueKey    VARCHAR(22),  ComputerName VARCHAR(30),"
            "  UserName     VARCHAR(30),  ProgramName  VARCHAR(30),  TimeLocked   DateTime)");
  // A name holding "%d" or "%s" is no template.
  EXPECT_EQ(LockTableCreateStatement("[x%d%s]").substr(0, 21), "CREATE TABLE [x%d%s](");

  TLockHolder holder{"JAIL",
                     "CFGCELL",
                     "17",
                     "WORK'S",
                     "o'brien",
                     "Bunkmere.exe",
                     EncodeDateTime({2026, 12, 10, 4, 43, 50, 0})};
  EXPECT_EQ(LockHolderInsertStatement(name, holder),
            "INSERT INTO [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]  (DatabaseName, TableName, "
            "UniqueKey, ComputerName, UserName, ProgramName, TimeLocked) VALUES   ('JAIL', "
            "'CFGCELL', '17', 'WORK''S', 'o''brien', 'Bunkmere.exe', '2026-12-10T04:43:50')");
  EXPECT_EQ(LockHolderSelectStatement(name), "SELECT * FROM " + name);
  EXPECT_EQ(LockTableObjectIdStatement(name), "SELECT OBJECT_ID(N'" + name + "')");
  EXPECT_EQ(LockTableDropStatement(name), "DROP TABLE " + name);
  EXPECT_EQ(LockTableDropStatement(name, -1000007),
            "IF OBJECT_ID(N'" + name + "') = -1000007 DROP TABLE " + name);
  // The name inside the literal is text: a quote in a key cannot end it.
  const std::string quoted = RecordLockName("JAIL", "CFGCELL", "it's");
  EXPECT_EQ(LockTableObjectIdStatement(quoted),
            "SELECT OBJECT_ID(N'[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.it''s]')");
}

TEST(RecordLockHolder, ValuesAreCutToTheirColumnsWithoutSplittingACharacter) {
  const std::string key23 = "12345678901234567890123";
  const std::string long40 = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
  const std::string table = std::string(120, 'T');
  // 29 ASCII letters then a character of two UTF-8 bytes: it still fits in 30.
  const std::string accented = std::string(29, 'u') + "é" + "tail";
  const TLockHolder h =
      MakeLockHolder(long40, table, key23, accented, long40, "Bunkmere.exe", 45000.5);
  EXPECT_EQ(h.DatabaseName, long40.substr(0, 30));
  EXPECT_EQ(h.TableName, std::string(100, 'T'));
  EXPECT_EQ(h.UniqueKey, key23.substr(0, 22));
  EXPECT_EQ(h.ComputerName, std::string(29, 'u') + "é");
  EXPECT_EQ(h.UserName, long40.substr(0, 30));
  EXPECT_EQ(h.ProgramName, "Bunkmere.exe");
  EXPECT_EQ(h.TimeLocked, 45000.5);
}

TEST(RecordLockRefusal, MessageNamesTheHolderLineByLineInTheRegionalFormat) {
  TLockHolder h{"JAIL",
                "CFGCELL",
                "17",
                "WORKSTATION1",
                "operator",
                "Bunkmere.exe",
                EncodeDateTime({2026, 12, 10, 14, 5, 9, 0})};
  TFormatSettings us;
  EXPECT_EQ(LockRefusalMessage(h, us),
            "The requested lock could not be granted.\r\n"
            "\r\n"
            "The record is already being edited.\r\n"
            "     User Name: operator\r\n"
            "     Computer Name: WORKSTATION1\r\n"
            "     Program Name: Bunkmere.exe\r\n"
            "     Time Locked: 12/10/2026 2:05:09 PM\r\n"
            "     Table Name: CFGCELL");
  // Midnight shows the date alone; another region's formats are followed.
  TFormatSettings de;
  de.ShortDateFormat = "dd.mm.yyyy";
  de.DateSeparator = ".";
  de.LongTimeFormat = "hh:nn:ss";
  h.TimeLocked = EncodeDate(2026, 12, 10);
  EXPECT_NE(LockRefusalMessage(h, de).find("     Time Locked: 10.12.2026\r\n"), std::string::npos);
  h.TimeLocked = EncodeDateTime({2026, 12, 10, 0, 0, 1, 0});
  EXPECT_NE(LockRefusalMessage(h, de).find("     Time Locked: 10.12.2026 00:00:01\r\n"),
            std::string::npos);
}

TEST(RecordLockRefusal, ExceptionKeepsItsSevenValuesInConstructorOrder) {
  const EVtDBLockError e("msg", "db", "tbl", "key", "comp", "user", "prog", 12.25);
  const EDatabaseError& asDatabaseError = e;  // what the datasets' error handlers receive
  EXPECT_STREQ(asDatabaseError.ClassName(), "EVtDBLockError");
  EXPECT_EQ(e.Message(), "msg");
  EXPECT_EQ(e.DatabaseName(), "db");
  EXPECT_EQ(e.TableName(), "tbl");
  EXPECT_EQ(e.UniqueKey(), "key");
  EXPECT_EQ(e.ComputerName(), "comp");
  EXPECT_EQ(e.UserName(), "user");
  EXPECT_EQ(e.ProgramName(), "prog");
  EXPECT_EQ(e.TimeLocked(), 12.25);
}

}  // namespace
}  // namespace bunkmere
