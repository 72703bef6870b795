// The pass when the world changes under it: bookings released between a count and its
// listing, a statement the server refuses, a connection that drops, a missing column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "tests/app/JailFixture.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using testing::JailFixture;
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
  struct Case {
    const char* What;
    const char* CountPattern;
    Lines Log;
  } cases[] = {
      {"cell",
       "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'F1' and CELLKEY = "
       "11",
       {"Facility :North DormCode : D1 CellNo : C-11 Allow 1 but 2 are assign to it",
        "----Inmates On Cell----", "NOTE: No Inmates Currently Assign To Cell", "----End----"}},
      {"bed",
       "SELECT Count(bed) FROM DETENTIA WHERE NAMERELEAS = 0 and facicode = 'F1' and cellkey = 11",
       {"Facility :North DormCode : D1 CellNo : C-11 Allow 1 but 2 are assign to it",
        "----Inmates On Cell----", " B1", " B2", "----End----",
        "Facility :North DormCode : D1 CellNo : C-11 Bed : Bed B had more than one inmate assign "
        "to it",
        "----Inmates On Bed----", "NOTE: No Inmate Currently Assign To Bed", "----End----"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const std::int64_t seq = SeqOfFirst(kThreeCells, c.CountPattern);
    // Another workstation releases both inmates of cell 11 right after the count.
    JailFixture jail(kThreeCells, {"exec-after:" + std::to_string(seq) +
                                   ":UPDATE DETENTIA SET NAMERELEAS = 1 WHERE CELLKEY = 11"});
    jail.PressStart();
    EXPECT_EQ(jail.Log(), c.Log);
    EXPECT_EQ(jail.Boxes().Texts(), Lines{"Cell Synchronization Completed"});
  }
}

TEST(PassFailure, AFailureMidPassKeepsEverythingWrittenBeforeIt) {
  struct Case {
    const char* What;
    std::string Fault;
    std::string Message;  // empty: any text from the driver
  } cases[] = {
      {"the server refuses a count",
       "fail:1205:CELLKEY = 11|Transaction was deadlocked on lock resources",
       "Transaction was deadlocked on lock resources"},
      {"the connection drops at a count", "drop-on:CELLKEY = 11", ""},
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
  EXPECT_EQ(jail.Query("SELECT ONCELL FROM CFGCELL WHERE CELLKEY = 10"), Lines{"0"});
}

}  // namespace
}  // namespace bunkmere
