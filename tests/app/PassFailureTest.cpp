// The pass when the world changes under it: bookings released between a count and its
// listing, a statement the server refuses, a connection that drops, a missing column.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "db/VtMSAccess.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using testing::JailFixture;
using testing::LockTablesLeft;
using Lines = std::vector<std::string>;

const std::string kOn = " On: TfrmSynchCellsMain.GoSynchCells";

// F1/D1 with cells 10, 11 and 12 (allow 1, not many); cell 11 holds two inmates on bed 1,
// the others one each. Every cell has one bed.
const std::string kThreeCells =
    "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
    "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
    "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) VALUES "
    "('D1', 'F1', 10, 0, 1, 9, 'C-10'), ('D1', 'F1', 11, 0, 1, 9, 'C-11'), "
    "('D1', 'F1', 12, 0, 1, 9, 'C-12')\n"
    "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'Bed A', 1), "
    "(11, 1, 'Bed B', 1), (12, 1, 'Bed C', 1)\n"
    "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
    "('A1', 0, 'F1', 10, '1'), ('B1', 0, 'F1', 11, '1'), ('B2', 0, 'F1', 11, '1'), "
    "('C1', 0, 'F1', 12, '1')\n";

// The number the stand-in gave the first statement containing APattern in a run of the pass
// over AFixture, so a second run can change the data right after it.
std::int64_t SeqOfFirst(const std::string& AFixture, const std::string& APattern) {
  JailFixture probe(AFixture);
  probe.PressStart();
  for (const auto& s : probe.Server().Statements())
    if (s.sql.find(APattern) != std::string::npos) return s.seq;
  ADD_FAILURE() << "no statement contains " << APattern;
  return 0;
}

TEST(PassFailure, ListingsThatFindNobodyWriteTheNoteLines) {
  // Another workstation releases both inmates of cell 11 right after the request that counts
  // the cell and its beds, before their listings.
  const std::int64_t seq = SeqOfFirst(
      kThreeCells,
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'F1' and CELLKEY = "
      "11");
  JailFixture jail(kThreeCells, {"exec-after:" + std::to_string(seq) +
                                 ":UPDATE DETENTIA SET NAMERELEAS = 1 WHERE CELLKEY = 11"});
  jail.PressStart();
  EXPECT_EQ(
      jail.Log(),
      (Lines{"Facility :North DormCode : D1 CellNo : C-11 Allow 1 but 2 are assign to it",
             "----Inmates On Cell----", "NOTE: No Inmates Currently Assign To Cell", "----End----",
             "Facility :North DormCode : D1 CellNo : C-11 Bed : Bed B had more than one "
             "inmate assign to it",
             "----Inmates On Bed----", "NOTE: No Inmate Currently Assign To Bed", "----End----"}));
  EXPECT_EQ(jail.Boxes().Texts(), Lines{"Cell Synchronization Completed"});
}

TEST(PassFailure, AFailureMidPassKeepsEverythingWrittenBeforeIt) {
  // Cell 11's first count: in the request that also writes cell 10 and its bed, after them.
  const std::string step = std::to_string(testing::StepOfFirst(kThreeCells, "CELLKEY = 11"));
  struct Case {
    const char* What;
    std::string Fault;
    std::string Message;  // empty: any text from the driver
  } cases[] = {
      {"the server refuses a count",
       "fail-at-step:" + step + ":1205|Transaction was deadlocked on lock resources",
       "Transaction was deadlocked on lock resources"},
      {"the connection drops at a count", "drop-at-step:" + step, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    JailFixture jail(kThreeCells, {c.Fault});
    jail.Window().ProgressBar1->SetPosition(50);
    jail.PressStart();
    ASSERT_EQ(jail.Boxes().Texts().size(), 2u);
    const std::string first = jail.Boxes().Texts()[0];
    if (!c.Message.empty()) {
      EXPECT_EQ(first, c.Message + kOn);
    }
    EXPECT_TRUE(first.ends_with(kOn)) << first;
    EXPECT_GT(first.size(), kOn.size());
    EXPECT_EQ(jail.Boxes().Texts()[1], "Process Aborted");
    EXPECT_EQ(jail.Window().ProgressBar1->Position(), 0);
    EXPECT_EQ(jail.Window().lblWhatHappen->Caption(),
              "Synching Facility :North DormCode : D1 CellNo : C-11");
    // Cell 10 and its bed were written before the failure; nothing after it.
    EXPECT_EQ(jail.Query("SELECT CELLKEY, ONCELL FROM CFGCELL ORDER BY CELLKEY"),
              (Lines{"10|1", "11|9", "12|9"}));
    EXPECT_EQ(jail.Query("SELECT CELLKEY, AVAILABLE FROM CFGBED ORDER BY CELLKEY"),
              (Lines{"10|False", "11|True", "12|True"}));
  }
}

TEST(PassFailure, AMissingColumnEndsThePassWithItsName) {
  JailFixture jail(
      "DROP TABLE CFGBED\n"
      "CREATE TABLE CFGBED (UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY, CELLKEY INT NOT "
      "NULL, "
      "BEDNO INT NOT NULL, AVAILABLE BIT NULL)\n" +
      kThreeCells.substr(0, kThreeCells.find("INSERT INTO CFGBED")) +
      "INSERT INTO CFGBED (CELLKEY, BEDNO, AVAILABLE) VALUES (10, 1, 1)\n");
  jail.PressStart();
  EXPECT_EQ(jail.Boxes().Texts(), (Lines{"Field 'BEDDESC' not found" + kOn, "Process Aborted"}));
  // The column is missed while the cell's rows are gathered, before any of them is locked:
  // the cell is not written either, and nothing is left locked.
  EXPECT_EQ(jail.Query("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 10"), Lines{"9"});
  EXPECT_EQ(LockTablesLeft(jail.Server()), Lines{});
}

// Another workstation acts after the pass has read the tables and before the request that locks
// a cell's rows: the pass decides from each row as re-read under its lock, counting again there,
// so that neither an allowance raised meanwhile nor a newer count is overwritten.
TEST(PassFailure, TheRuleIsDecidedFromTheRowAsItStandsUnderTheLock) {
  struct Case {
    const char* What;
    std::string Cell;  // ALLOWMANY, ALLOW, ONCELL of cell 10
    int Booked;        // current bookings X1, X2, ... of cell 10, each on the bed of its number
    const char* CountPattern;
    std::vector<std::string> Meanwhile;
    std::string CellAfter;  // ONCELL|ALLOW
    std::string BedAfter;   // AVAILABLE
    Lines Log;
  } cases[] = {
      {"the allowance is raised",
       "1, 2, 0",
       4,
       "SELECT Count(CELLKEY)",
       {"UPDATE CFGCELL SET ALLOW = 6 WHERE CELLKEY = 10"},
       "4|6",
       "False",
       {}},
      {"another pass writes a newer count",
       "0, 5, 9",
       2,
       "SELECT Count(CELLKEY)",
       {"UPDATE DETENTIA SET NAMERELEAS = 1 WHERE BOOKNO = 'X1'",
        "UPDATE CFGCELL SET ONCELL = 1 WHERE CELLKEY = 10"},
       "1|5",
       "True",
       {}},
      {"the cell may no longer hold more",
       "1, 2, 0",
       4,
       "SELECT Count(CELLKEY)",
       {"UPDATE CFGCELL SET ALLOWMANY = 0 WHERE CELLKEY = 10"},
       "0|2",
       "False",
       {"Facility :North DormCode : D1 CellNo : C-10 Allow 2 but 4 are assign to it",
        "----Inmates On Cell----", " X1", " X2", " X3", " X4", "----End----"}},
      {"another pass finds the bed taken",
       "0, 1, 0",
       0,
       "SELECT Count(bed)",
       {"INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
        "('Y1', 0, 'F1', 10, '1')",
        "UPDATE CFGBED SET AVAILABLE = 0 WHERE CELLKEY = 10"},
       "1|1",
       "False",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    std::string rows =
        "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
        "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
        "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
        "VALUES ('D1', 'F1', 10, " +
        c.Cell +
        ", 'C-10')\n"
        "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'Bed A', 1)\n";
    for (int b = 1; b <= c.Booked; ++b)
      rows += "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES ('X" +
              std::to_string(b) + "', 0, 'F1', 10, '" + std::to_string(b) + "')\n";
    std::vector<std::string> faults;
    for (const std::string& sql : c.Meanwhile)
      faults.push_back("exec-before:" + std::string(c.CountPattern) + "|" + sql);
    JailFixture jail(rows, faults);
    jail.PressStart();
    EXPECT_EQ(jail.Boxes().Texts(), Lines{"Cell Synchronization Completed"});
    EXPECT_EQ(jail.Query("SELECT ONCELL, ALLOW FROM CFGCELL"), Lines{c.CellAfter});
    EXPECT_EQ(jail.Query("SELECT AVAILABLE FROM CFGBED"), Lines{c.BedAfter});
    EXPECT_EQ(jail.Log(), c.Log);
    EXPECT_EQ(LockTablesLeft(jail.Server()), Lines{});
  }
}

// A failure that is not the family's own (out of memory, a fault of the program) still goes
// to the unhandled-failure path, but only once the row it interrupted is let go: no lock is
// left on the server, and the next press finds nothing in edit and writes a clean pass.
TEST(PassFailure, AnyFailureBetweenEditAndPostLetsTheRowGo) {
  struct Case {
    const char* What;
    bool Beds;
    std::function<void()> Throw;
  } cases[] = {
      {"out of memory at a cell", false, [] { throw std::bad_alloc(); }},
      {"an index out of range at a bed", true, [] { throw std::out_of_range("bed index"); }},
  };
  const testing::TCleanPass clean = testing::RunCleanPass(testing::JailScript(kThreeCells));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    JailFixture jail(kThreeCells);
    TfrmSynchCellsMain& w = jail.Window();
    TVtMSTable& table = c.Beds ? *w.tblCFGBeds : *w.tblCFGCells;
    table.AfterEdit = [&c](TCustomMSDataSet&) { c.Throw(); };
    w.ProgressBar1->SetPosition(40);
    EXPECT_ANY_THROW(w.GoSynchCells());
    EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(w.ProgressBar1->Position(), 0);
    EXPECT_EQ(LockTablesLeft(jail.Server()), Lines{});
    EXPECT_TRUE(jail.Boxes().Texts().empty());

    table.AfterEdit = nullptr;
    jail.PressStart();
    EXPECT_EQ(jail.Boxes().Texts(), Lines{"Cell Synchronization Completed"});
    EXPECT_EQ(testing::ReadHousing(jail.Server()), clean.After);
  }
}

// A row left in edit in the window (a pass cut short before this fix, or any other path) is
// cancelled when the next press starts: the refresh would otherwise post it, stale.
TEST(PassFailure, APressNeverPostsAnEditLeftOpen) {
  JailFixture jail(kThreeCells);
  TfrmSynchCellsMain& w = jail.Window();
  jail.PressStart();
  // Cell 11 is over its allowance: the pass itself never writes it.
  w.tblCFGCells->First();
  w.tblCFGCells->Next();
  w.tblCFGCells->Edit();
  w.tblCFGCells->FieldByName("ONCELL").SetAsInteger(99);
  jail.PressStart();
  EXPECT_EQ(jail.Boxes().Texts(),
            (Lines{"Cell Synchronization Completed", "Cell Synchronization Completed"}));
  EXPECT_EQ(jail.Query("SELECT CELLKEY, ONCELL FROM CFGCELL ORDER BY CELLKEY"),
            (Lines{"10|1", "11|9", "12|1"}));
  EXPECT_EQ(LockTablesLeft(jail.Server()), Lines{});
}

}  // namespace
}  // namespace bunkmere
