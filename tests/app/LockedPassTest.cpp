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

// In a request of several statements the holder row follows the CREATE at once, and the object
// id is read after it.
Lines LockInBatch(const std::string& ATable, int AKey) {
  const Lines single = Lock(ATable, AKey);
  return {single[0], single[2], single[1]};
}

std::string ReleaseNamed(const std::string& AName) {
  return "IF OBJECT_ID(N'" + AName + "') = <id> DROP TABLE " + AName;
}

std::string Release(const std::string& ATable, int AKey) {
  return ReleaseNamed(TWorkstation::LockName(ATable, AKey));
}

// A release among a request's writes: should it fail, its own CATCH names the row (its place
// among the rows written) and nothing after it is stopped.
std::string ReleaseInBatch(const std::string& ATable, int AKey, int APlace) {
  return "BEGIN TRY\n" + Release(ATable, AKey) + "\nEND TRY\nBEGIN CATCH\nSELECT " +
         std::to_string(APlace) + " AS BunkmereReleaseFailed\nEND CATCH";
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
  const std::string cellCount =
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'F1' and "
      "CELLKEY = 10";
  // The cell and its beds take two requests. The first counts the cell as the table holds it,
  // then locks, re-reads and counts the cell and each bed, every count under its row's lock;
  // the second lists the bookings of each conflict, writes the rows that change and releases
  // every lock, row by row in the same order. Either
  // stops at its first failing statement, and its CATCH says which one that was.
  const auto batch = [](const Lines& AStatements) {
    std::string text = "BEGIN TRY\n";
    for (const std::string& s : AStatements) text += s + "\n";
    return text +
           "END TRY\nBEGIN CATCH\nSELECT 1 AS BunkmereBatchError, ERROR_NUMBER() AS "
           "ErrorNumber, ERROR_LINE() AS ErrorLine, ERROR_MESSAGE() AS ErrorMessage\nEND CATCH";
  };
  const std::string guard = "IF @@ROWCOUNT <> 1 RAISERROR(N'Update failed', 16, 1)";
  const Lines take = Lines{cellCount} + LockInBatch("CFGCELL", 1) +
                     Lines{
                         "SELECT [DORMCODE] AS _1, [FACILITYID] AS _2, [CELLKEY] AS _3, "
                         "[ALLOWMANY] AS _4, [ALLOW] AS _5, [ONCELL] AS _6, [CELLNO] AS _7 "
                         "FROM [CFGCELL]\r\nWHERE\r\n  [UniqueKey] = @P1",
                         cellCount} +
                     LockInBatch("CFGBED", 1) +
                     Lines{
                         "SELECT [CELLKEY] AS _1, [BEDNO] AS _2, [BEDDESC] AS _3, "
                         "[AVAILABLE] AS _4 FROM [CFGBED]\r\nWHERE\r\n  [UniqueKey] = @P2",
                         "SELECT Count(bed) FROM DETENTIA WHERE " + bed1} +
                     LockInBatch("CFGBED", 2) +
                     Lines{
                         "SELECT [CELLKEY] AS _1, [BEDNO] AS _2, [BEDDESC] AS _3, "
                         "[AVAILABLE] AS _4 FROM [CFGBED]\r\nWHERE\r\n  [UniqueKey] = @P3",
                         "SELECT Count(bed) FROM DETENTIA WHERE " + bed2};
  const Lines write = {
      "UPDATE [CFGCELL]\r\nSET\r\n  [ONCELL] = @P1\r\nWHERE\r\n  [UniqueKey] = @P2",
      guard,
      ReleaseInBatch("CFGCELL", 1, 1),
      "SELECT BOOKNO FROM DETENTIA WHERE " + bed1,
      "UPDATE [CFGBED]\r\nSET\r\n  [AVAILABLE] = @P3\r\nWHERE\r\n  [UniqueKey] = @P4",
      guard,
      ReleaseInBatch("CFGBED", 1, 2),
      "UPDATE [CFGBED]\r\nSET\r\n  [AVAILABLE] = @P5\r\nWHERE\r\n  [UniqueKey] = @P6",
      guard,
      ReleaseInBatch("CFGBED", 2, 3)};
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
            batch(take) + " <- 1 1 2",
            batch(write) + " <- 2 1 0 1 1 2",
            ReleaseNamed(kPassLock)};
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

// Two cells of one dorm, three beds each, one current booking on every bed; another program
// holds the lock of one row of the second cell: the cell itself, its first bed or its last.
// The pass writes every row before it, stops there with the holder named, writes nothing from
// it on, leaves the holder's table as it found it (no row of ours inserted into it), and leaves
// no lock of its own behind.
TEST(LockedPass, ARowAnotherProgramHoldsStopsThePassThere) {
  const std::string rows =
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('D1', 'F1', 10, 0, 3, 9, 'C-10'), ('D1', 'F1', 20, 0, 3, 9, 'C-20')\n"
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', NULL), "
      "(10, 2, 'B', NULL), (10, 3, 'C', NULL), (20, 1, 'D', NULL), (20, 2, 'E', NULL), "
      "(20, 3, 'F', NULL)\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('B-11', 0, 'F1', 10, '1'), ('B-12', 0, 'F1', 10, '2'), ('B-13', 0, 'F1', 10, '3'), "
      "('B-21', 0, 'F1', 20, '1'), ('B-22', 0, 'F1', 20, '2'), ('B-23', 0, 'F1', 20, '3')\n";
  struct Case {
    const char* What;
    const char* Table;
    int Key;
    Lines Cells;  // CELLKEY|ONCELL after the pass
    Lines Beds;   // UniqueKey|AVAILABLE
  } cases[] = {
      {"the second cell",
       "CFGCELL",
       2,
       {"10|3", "20|9"},
       {"1|False", "2|False", "3|False", "4|NULL", "5|NULL", "6|NULL"}},
      {"the second cell's first bed",
       "CFGBED",
       4,
       {"10|3", "20|3"},
       {"1|False", "2|False", "3|False", "4|NULL", "5|NULL", "6|NULL"}},
      {"the second cell's last bed",
       "CFGBED",
       6,
       {"10|3", "20|3"},
       {"1|False", "2|False", "3|False", "4|False", "5|False", "6|NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TWorkstation site(rows);
    // The other program holds the row.
    testing::TLockHolder holder(site.server);
    ASSERT_TRUE(holder.Take(c.Table, std::to_string(c.Key)));
    const std::string lock = testing::TLockHolder::LockName(c.Table, std::to_string(c.Key));

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
    EXPECT_EQ(site.Query("SELECT UniqueKey, AVAILABLE FROM CFGBED ORDER BY UniqueKey"), c.Beds);
    EXPECT_EQ(testing::QueryJail(site.server,
                                 "SELECT ComputerName, UserName, ProgramName, "
                                 "UniqueKey FROM " +
                                     lock),
              Lines{"FRONTDESK|clerk|Intake.exe|" + std::to_string(c.Key)});
    for (const char* table : {"CFGCELL", "CFGBED"})
      for (int key = 1; key <= 6; ++key)
        EXPECT_EQ(site.LockExists(table, key), table == std::string(c.Table) && key == c.Key)
            << table << " " << key;
  }
}

// Between the request that locks a cell's rows and the one that writes them, another session
// drops the lock table of a bed and creates its own under the same name: the release of the
// pass names the object id it read back, so that new table, another holder's, survives.
TEST(LockedPass, ALockTableMadeAnewUnderOurNameSurvivesTheRelease) {
  const std::string lock = TWorkstation::LockName("CFGBED", 1);
  const std::string swap = "DROP TABLE " + lock + "; CREATE TABLE " + lock +
                           " (DatabaseName VARCHAR(30), TableName VARCHAR(100), "
                           "UniqueKey VARCHAR(22), ComputerName VARCHAR(30), UserName VARCHAR(30), "
                           "ProgramName VARCHAR(30), TimeLocked DateTime); INSERT INTO " +
                           lock + " (ComputerName) VALUES ('ELSEWHERE')";
  StandinServer server(
      testing::JailScript(
          "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
          "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
          "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
          "VALUES ('D1', 'F1', 10, 0, 3, 9, 'C-10')\n"
          "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', 0)\n"),
      {"exec-before:UPDATE [CFGCELL]|" + swap});
  testing::RecordingMessageBoxes boxes;
  auto window = testing::WindowAtSite(server);
  window->btConvertTavrichWeekenders->Click();
  EXPECT_EQ(boxes.Texts(), Lines{"Cell Synchronization Completed"});
  EXPECT_EQ(testing::QueryJail(server, "SELECT ComputerName FROM " + lock), Lines{"ELSEWHERE"});
  EXPECT_EQ(testing::QueryJail(server, "SELECT ONCELL FROM CFGCELL"), Lines{"0"});
  EXPECT_EQ(testing::QueryJail(server, "SELECT AVAILABLE FROM CFGBED"), Lines{"True"});
}

}  // namespace
}  // namespace bunkmere
