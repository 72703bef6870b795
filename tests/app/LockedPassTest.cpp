// The pass as a site runs it: the window built from the site file and the program library on
// a workstation of the family's layout, every cell and bed edit guarded by the family's record
// lock. The statements that reach the server are checked one by one, and a row that another
// program holds stops the pass there. (The holder row's time goes as ISO text, the one form
// the server reads alike under every language setting.)
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "platform/FakeWindowsPlatform.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailQuery.h"
#include "tests/app/LockHolder.h"
#include "tests/app/ReceivedStatements.h"
#include "tests/app/SiteFolder.h"
#include "tests/ui/RecordingMessageBoxes.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using Lines = std::vector<std::string>;
using standin::testing::StandinServer;

// A workstation laid out as the family's programs expect: the program under C:\VELTRANE.APP,
// the site file in C:\Veltrane.Cfg beside it naming the test's stand-in; a known user,
// computer and clock for the holder rows.
class TWorkstation {
 public:
  explicit TWorkstation(const std::string& ARows) : server(testing::JailScript(ARows)) {
    platform.SetModuleFileName("C:\\VELTRANE.APP\\Bunkmere\\Bunkmere.exe");
    platform.AddFile("C:\\Veltrane.Cfg\\Veltrane.ini",
                     "[DataProvider]\r\nConnStr=" + testing::SiteConnectString(server) + "\r\n");
    window = std::make_unique<TfrmSynchCellsMain>(nullptr);
  }
  void PressStart() { window->btConvertTavrichWeekenders->Click(); }
  Lines Query(const std::string& ASql) const { return testing::QueryJail(server, ASql); }
  // Whether the lock table of ATable's row AKey exists on the server.
  bool LockExists(const std::string& ATable, int AKey) const {
    try {
      Query("SELECT * FROM " + LockName(ATable, AKey));
      return true;
    } catch (const EDatabaseError& e) {
      if (std::string(e.what()).find("Invalid object name") == std::string::npos) throw;
      return false;
    }
  }
  static std::string LockName(const std::string& ATable, int AKey) {
    return "[tempdb].[dbo].[##LOCK-JAIL." + ATable + "." + std::to_string(AKey) + "]";
  }

  StandinServer server;
  TFakeWindowsPlatform platform;
  TPlatformOverride use{platform};
  testing::RecordingMessageBoxes boxes;
  std::unique_ptr<TfrmSynchCellsMain> window;
};

const std::string kLookup =
    "SELECT ConnString, UseInitial FROM ConnectLib (readuncommitted) WHERE ProgramID = 'JAIL'";

Lines LockNamed(const std::string& AName, const std::string& ATable, const std::string& AKey) {
  return {"CREATE TABLE " + AName +
              "(  DatabaseName VARCHAR(30),  TableName    VARCHAR(100),  UniqueKey    VARCHAR(22),"
              "  ComputerName VARCHAR(30),  UserName     VARCHAR(30),  ProgramName  VARCHAR(30),"
              "  TimeLocked   DateTime)",
          "SELECT OBJECT_ID(N'" + AName + "')",
          "INSERT INTO " + AName +
              "  (DatabaseName, TableName, UniqueKey, ComputerName, UserName, ProgramName, "
              "TimeLocked) VALUES   ('JAIL', '" +
              ATable + "', '" + AKey +
              "', 'WORKSTATION1', 'operator', 'Bunkmere.exe', '2026-12-10T04:43:50')"};
}

Lines Lock(const std::string& ATable, int AKey) {
  return LockNamed(TWorkstation::LockName(ATable, AKey), ATable, std::to_string(AKey));
}

std::string ReleaseNamed(const std::string& AName) {
  return "IF OBJECT_ID(N'" + AName + "') = <id> DROP TABLE " + AName;
}

std::string Release(const std::string& ATable, int AKey) {
  return ReleaseNamed(TWorkstation::LockName(ATable, AKey));
}

// The pass's own lock, one pass at a time on the database.
const std::string kPassLock = "[tempdb].[dbo].[##LOCK-JAIL.Bunkmere.SynchCells]";

Lines operator+(Lines A, const Lines& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// One facility with trailing blanks in its description, one dorm, one cell allowing two with
// two current bookings on bed 1 (and a released one), and a second, empty bed.
TEST(LockedPass, SendsEveryStatementOfTheSmallJailInOrder) {
  TWorkstation site(
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North Wing   ')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1  ')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('D1  ', 'F1', 10, 0, 2, 0, 'C-10 ')\n"
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'Upper ', 1), "
      "(10, 2, 'Lower', 0)\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('B-1', 0, 'F1', 10, '1'), ('B-2', 0, 'F1', 10, '1'), ('B-3', 1, 'F1', 10, '2')\n");
  site.PressStart();
  ASSERT_EQ(site.boxes.Texts(), Lines{"Cell Synchronization Completed"});

  const std::string bed1 = "NAMERELEAS = 0 and facicode = 'F1' and cellkey = 10 and bed = '1'";
  const std::string bed2 = "NAMERELEAS = 0 and facicode = 'F1' and cellkey = 10 and bed = '2'";
  // Every row's lock comes before the count that decides what is written to it: a count
  // taken before the lock may be older than what another program wrote meanwhile.
  const std::string cellCount =
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'F1' and "
      "CELLKEY = 10";
  const Lines expected =
      Lines{kLookup,  // at start-up, when dbJail receives its link
            kLookup,  // before the connection opens
            "SET LOCK_TIMEOUT 60000"} +
      LockNamed(kPassLock, "Bunkmere", "SynchCells") +
      Lines{"SELECT * FROM [DETENTIA]",
            "SELECT * FROM [CFGFACI]",
            "SELECT * FROM [CFGDORMS]\r\nWHERE [FACILITYID] = @P1  <- F1",
            "SELECT * FROM [CFGCELL]\r\nWHERE [FACILITYID] = @P1 AND [DORMCODE] = @P2  <- F1 D1",
            "SELECT * FROM [CFGBED]\r\nWHERE [CELLKEY] = @P1  <- 10",
            cellCount} +
      Lock("CFGCELL", 1) +
      Lines{
          "SELECT [DORMCODE] AS _1, [FACILITYID] AS _2, [CELLKEY] AS _3, [ALLOWMANY] AS _4, "
          "[ALLOW] AS _5, [ONCELL] AS _6, [CELLNO] AS _7 FROM [CFGCELL]\r\nWHERE\r\n  "
          "[UniqueKey] = @P1 <- 1",
          cellCount,
          "UPDATE [CFGCELL]\r\nSET\r\n  [ONCELL] = @P1\r\nWHERE\r\n  [UniqueKey] = @P2 <- 2 1",
          Release("CFGCELL", 1)} +
      Lock("CFGBED", 1) +
      Lines{
          "SELECT [CELLKEY] AS _1, [BEDNO] AS _2, [BEDDESC] AS _3, [AVAILABLE] AS _4 FROM "
          "[CFGBED]\r\nWHERE\r\n  [UniqueKey] = @P1 <- 1",
          "SELECT Count(bed) FROM DETENTIA WHERE " + bed1,
          "SELECT BOOKNO FROM DETENTIA WHERE " + bed1,
          "UPDATE [CFGBED]\r\nSET\r\n  [AVAILABLE] = @P1\r\nWHERE\r\n  [UniqueKey] = @P2 <- 0 1",
          Release("CFGBED", 1)} +
      Lock("CFGBED", 2) +
      Lines{
          "SELECT [CELLKEY] AS _1, [BEDNO] AS _2, [BEDDESC] AS _3, [AVAILABLE] AS _4 FROM "
          "[CFGBED]\r\nWHERE\r\n  [UniqueKey] = @P1 <- 2",
          "SELECT Count(bed) FROM DETENTIA WHERE " + bed2,
          "UPDATE [CFGBED]\r\nSET\r\n  [AVAILABLE] = @P1\r\nWHERE\r\n  [UniqueKey] = @P2 <- 1 2",
          Release("CFGBED", 2), ReleaseNamed(kPassLock)};
  const Lines received = testing::ReceivedStatements(site.server);
  for (std::size_t i = 0; i < std::max(expected.size(), received.size()); ++i)
    EXPECT_EQ(i < received.size() ? received[i] : "(nothing)",
              i < expected.size() ? expected[i] : "(nothing)")
        << "statement " << i + 1;

  // Variable-length text reaches the log without its trailing blanks; fixed-length keeps them.
  EXPECT_EQ(site.window->Memo1->Lines(),
            (Lines{"Facility :North Wing DormCode : D1 CellNo : C-10 Bed : Upper had more than "
                   "one inmate assign to it",
                   "----Inmates On Bed----", " B-1", " B-2", "----End----"}));
  EXPECT_EQ(site.Query("SELECT ONCELL FROM CFGCELL"), Lines{"2"});
  EXPECT_EQ(site.Query("SELECT BEDNO, AVAILABLE FROM CFGBED ORDER BY BEDNO"),
            (Lines{"1|False", "2|True"}));
}

// Three cells of one dorm, one bed each, one current booking on each bed; another program
// holds the lock of one row. The pass writes every row before it, stops there with the
// holder named, writes nothing after it, and leaves no lock of its own behind.
TEST(LockedPass, ARowAnotherProgramHoldsStopsThePassThere) {
  const std::string rows =
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('D1', 'F1', 10, 0, 2, 9, 'C-10'), ('D1', 'F1', 20, 0, 2, 9, 'C-20'), "
      "('D1', 'F1', 30, 0, 2, 9, 'C-30')\n"
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', NULL), "
      "(20, 1, 'B', NULL), (30, 1, 'C', NULL)\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('B-10', 0, 'F1', 10, '1'), ('B-20', 0, 'F1', 20, '1'), ('B-30', 0, 'F1', 30, '1')\n";
  struct Case {
    const char* Table;
    Lines Cells;  // CELLKEY|ONCELL after the pass
    Lines Beds;   // CELLKEY|AVAILABLE
  } cases[] = {
      {"CFGCELL", {"10|1", "20|9", "30|9"}, {"10|False", "20|NULL", "30|NULL"}},
      {"CFGBED", {"10|1", "20|1", "30|9"}, {"10|False", "20|NULL", "30|NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Table);
    TWorkstation site(rows);
    // The other program holds row 2 of the table (cell 20, or the bed of cell 20).
    testing::TLockHolder holder(site.server);
    ASSERT_TRUE(holder.Take(c.Table, "2"));

    site.PressStart();
    EXPECT_EQ(site.boxes.Texts(),
              (Lines{"The requested lock could not be granted.\r\n\r\n"
                     "The record is already being edited.\r\n"
                     "     User Name: clerk\r\n"
                     "     Computer Name: FRONTDESK\r\n"
                     "     Program Name: Intake.exe\r\n"
                     "     Time Locked: 12/10/2026 3:15:00 AM\r\n"
                     "     Table Name: " +
                         std::string(c.Table) + " On: TfrmSynchCellsMain.GoSynchCells",
                     "Process Aborted"}));
    EXPECT_EQ(site.Query("SELECT CELLKEY, ONCELL FROM CFGCELL ORDER BY CELLKEY"), c.Cells);
    EXPECT_EQ(site.Query("SELECT CELLKEY, AVAILABLE FROM CFGBED ORDER BY CELLKEY"), c.Beds);
    for (const char* table : {"CFGCELL", "CFGBED"})
      for (int key : {1, 2, 3})
        EXPECT_EQ(site.LockExists(table, key), table == std::string(c.Table) && key == 2)
            << table << " " << key;
  }
}

}  // namespace
}  // namespace bunkmere
