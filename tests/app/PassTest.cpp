// The synchronisation pass against a stand-in, each fixture showing one behaviour: the
// statements that reach the server, the rows written, the log lines, captions and boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "dataaccess/MSTable.h"
#include "db/VtMSAccess.h"
#include "tests/app/JailFixture.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using testing::JailFixture;
using Lines = std::vector<std::string>;

const std::string kDone = "Cell Synchronization Completed";
const std::string kOn = " On: TfrmSynchCellsMain.GoSynchCells";

std::string CellCount(const std::string& AFacility, int AKey) {
  return "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = " + AFacility +
         " and CELLKEY = " + std::to_string(AKey);
}
std::string CellList(const std::string& AFacility, int AKey) {
  return "SELECT BOOKNO FROM DETENTIA WHERE NAMERELEAS = 0 and facicode = " + AFacility +
         " and cellkey = " + std::to_string(AKey);
}
std::string BedCondition(const std::string& AFacility, int AKey, int ABed) {
  return "NAMERELEAS = 0 and facicode = " + AFacility + " and cellkey = " + std::to_string(AKey) +
         " and bed = '" + std::to_string(ABed) + "'";
}
std::string BedCount(const std::string& AFacility, int AKey, int ABed) {
  return "SELECT Count(bed) FROM DETENTIA WHERE " + BedCondition(AFacility, AKey, ABed);
}
std::string BedList(const std::string& AFacility, int AKey, int ABed) {
  return "SELECT BOOKNO FROM DETENTIA WHERE " + BedCondition(AFacility, AKey, ABed);
}

// One facility "North" (F1) with one dorm D1 and one cell 10 numbered C-10.
std::string OneCell(const std::string& AAllow, const std::string& AAllowMany, int AOnCell) {
  return "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
         "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
         "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
         "VALUES ('D1', 'F1', 10, " +
         AAllowMany + ", " + AAllow + ", " + std::to_string(AOnCell) + ", 'C-10')\n";
}

// ACurrent current and AReleased released bookings on cell 10 of F1, bed '1'.
std::string Bookings(int ACurrent, int AReleased, int ACell = 10, const std::string& ABed = "'1'") {
  std::string sql;
  for (int i = 0; i < ACurrent + AReleased; ++i)
    sql += "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES ('B" +
           std::to_string(ACell) + "-" + std::to_string(i + 1) + "', " +
           (i < ACurrent ? "0" : "1") + ", 'F1', " + std::to_string(ACell) + ", " + ABed + ")\n";
  return sql;
}

TEST(Pass, CellRuleWritesCountsAndReportsCellsOverTheirAllowance) {
  struct Case {
    const char* What;
    const char* Allow;
    const char* AllowMany;
    int Current, Released;
    std::string Row;  // ONCELL|ALLOW after the pass
    Lines Log;
  } cases[] = {
      {"no current booking writes 0 whatever the allowance says", "2", "1", 0, 3, "0|2", {}},
      {"exactly the allowance writes the count", "2", "0", 2, 1, "2|2", {}},
      {"over with ALLOWMANY writes the count and clears the allowance", "1", "1", 3, 0, "3|0", {}},
      {"over without ALLOWMANY keeps ONCELL and reports the cell",
       "1",
       "0",
       2,
       2,
       "7|1",
       {"Facility :North DormCode : D1 CellNo : C-10 Allow 1 but 2 are assign to it",
        "----Inmates On Cell----", " B10-1", " B10-2", "----End----"}},
      {"NULL allowance counts as 0 and NULL ALLOWMANY as false",
       "NULL",
       "NULL",
       1,
       0,
       "7|NULL",
       {"Facility :North DormCode : D1 CellNo : C-10 Allow 0 but 1 are assign to it",
        "----Inmates On Cell----", " B10-1", "----End----"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    JailFixture jail(OneCell(c.Allow, c.AllowMany, 7) + Bookings(c.Current, c.Released));
    jail.PressStart();
    EXPECT_EQ(jail.Query("SELECT ONCELL, ALLOW FROM CFGCELL"), Lines{c.Row});
    EXPECT_EQ(jail.Log(), c.Log);
    EXPECT_EQ(jail.Boxes().Texts(), Lines{kDone});
    // The cell is counted as the table holds it, then again under its lock in the same
    // request; the first count decides whether it is reported, the second what is written.
    Lines statements{CellCount("'F1'", 10), CellCount("'F1'", 10)};
    if (!c.Log.empty()) statements.push_back(CellList("'F1'", 10));
    EXPECT_EQ(jail.PassStatements(), statements);
  }
}

TEST(Pass, BedsBecomeAvailableOnlyWhenEmptyAndTwoInmatesAreReported) {
  JailFixture jail(
      OneCell("5", "0", 0) +
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES "
      "(10, 1, 'Lower', 0), (10, 2, 'Middle', 1), (10, 3, 'Upper', 1)\n" +
      Bookings(1, 2, 10, "'2'") +
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('X1', 0, 'F1', 10, '3'), ('X2', 0, 'F1', 10, '3'), ('X3', 5, 'F1', 10, '1')\n");
  jail.PressStart();
  EXPECT_EQ(jail.Query("SELECT BEDNO, AVAILABLE FROM CFGBED ORDER BY BEDNO"),
            (Lines{"1|True", "2|False", "3|False"}));
  EXPECT_EQ(jail.Query("SELECT ONCELL FROM CFGCELL"), Lines{"3"});
  EXPECT_EQ(jail.Log(), (Lines{"Facility :North DormCode : D1 CellNo : C-10 Bed : Upper had more "
                               "than one inmate assign to it",
                               "----Inmates On Bed----", " X1", " X2", "----End----"}));
  EXPECT_EQ(jail.PassStatements(),
            (Lines{CellCount("'F1'", 10), CellCount("'F1'", 10), BedCount("'F1'", 10, 1),
                   BedCount("'F1'", 10, 2), BedCount("'F1'", 10, 3), BedList("'F1'", 10, 3)}));
  auto& w = jail.Window();
  EXPECT_EQ(w.lblWhatHappen->Caption(),
            "Synching Facility :North DormCode : D1 CellNo : C-10 Bed : Upper");
  EXPECT_EQ(w.lblPasses->Caption(), "0 Facilities To Process Remaining");
  EXPECT_EQ(w.ProgressBar1->Position(), 0);
  // The facility's maximum: 1 facility + 1 dorm + 1 cell + 3 beds.
  EXPECT_EQ(w.ProgressBar1->Max(), 6);
  EXPECT_EQ(w.ProgressBar1->Step(), 1);
  EXPECT_EQ(jail.Boxes().Texts(), Lines{kDone});
}

TEST(Pass, AQuoteInAFacilityIdentifierIsDoubledInEveryStatement) {
  JailFixture jail(
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('O''NEIL', 'O''Neil Annex')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('O''NEIL', 'N1')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('N1', 'O''NEIL', 30, 0, 0, 9, 'N-30')\n"
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (30, 4, 'Cot', 1)\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('Q1', 0, 'O''NEIL', 30, '4')\n");
  jail.PressStart();
  const std::string id = "'O''NEIL'";
  EXPECT_EQ(jail.PassStatements(),
            (Lines{CellCount(id, 30), CellCount(id, 30), BedCount(id, 30, 4), CellList(id, 30)}));
  EXPECT_EQ(jail.Log(), (Lines{"Facility :O'Neil Annex DormCode : N1 CellNo : N-30 Allow 0 but 1 "
                               "are assign to it",
                               "----Inmates On Cell----", " Q1", "----End----"}));
  EXPECT_EQ(jail.Query("SELECT ONCELL FROM CFGCELL"), Lines{"9"});
  EXPECT_EQ(jail.Query("SELECT AVAILABLE FROM CFGBED"), Lines{"False"});
}

TEST(Pass, MissingLevelsAreSkippedAndStillCountDown) {
  // F0 has no dorm, F1's D0 has no cell, F1's cell 11 has no bed; F2 follows them all.
  JailFixture jail(
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F0', 'Empty'), ('F1', 'North'), "
      "('F2', 'South')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D0'), ('F1', 'D1'), ('F2', 'S')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('D1', 'F1', 11, 0, 2, 5, 'C-11'), ('S', 'F2', 20, 0, 2, 5, 'S-20')\n"
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (20, 1, 'Only', 0)\n");
  jail.PressStart();
  EXPECT_EQ(jail.PassStatements(),
            (Lines{CellCount("'F1'", 11), CellCount("'F1'", 11), CellCount("'F2'", 20),
                   CellCount("'F2'", 20), BedCount("'F2'", 20, 1)}));
  EXPECT_EQ(jail.Query("SELECT CELLKEY, ONCELL FROM CFGCELL ORDER BY CELLKEY"),
            (Lines{"11|0", "20|0"}));
  EXPECT_EQ(jail.Query("SELECT AVAILABLE FROM CFGBED"), Lines{"True"});
  EXPECT_EQ(jail.Window().lblPasses->Caption(), "0 Facilities To Process Remaining");
  EXPECT_EQ(jail.Window().lblWhatHappen->Caption(),
            "Synching Facility :South DormCode : S CellNo : S-20 Bed : Only");
  EXPECT_TRUE(jail.Log().empty());
  EXPECT_EQ(jail.Boxes().Texts(), Lines{kDone});
}

TEST(Pass, NoFacilitiesCompletesWithoutWritingAnything) {
  JailFixture jail("");
  jail.Window().ProgressBar1->SetMax(40);
  jail.PressStart();
  EXPECT_EQ(jail.Window().lblPasses->Caption(), "0 Facilities To Process Remaining");
  EXPECT_EQ(jail.Window().lblWhatHappen->Caption(), "[XXXXXX]");
  EXPECT_EQ(jail.Window().ProgressBar1->Max(), 40);
  EXPECT_TRUE(jail.PassStatements().empty());
  EXPECT_EQ(jail.Boxes().Texts(), Lines{kDone});
  for (const auto& s : jail.Server().Statements())
    EXPECT_FALSE(s.sql.starts_with("UPDATE")) << s.sql;
}

TEST(Pass, ASecondRunClearsTheLogAndRefreshesTheOpenTables) {
  JailFixture jail(OneCell("0", "0", 0) + Bookings(1, 0));
  auto& w = jail.Window();
  int opens = 0, refreshes = 0;
  for (TMSTable* t : {w.tblDetentia, w.tblFacility, w.tblDorms, w.tblCFGCells, w.tblCFGBeds}) {
    t->AfterOpen = [&](TCustomMSDataSet&) { ++opens; };
    t->AfterRefresh = [&](TCustomMSDataSet&) { ++refreshes; };
  }
  jail.PressStart();
  ASSERT_EQ(jail.Log().size(), 4u);
  EXPECT_EQ(opens, 5);
  EXPECT_EQ(refreshes, 0);
  // A person types into the log; the next press clears it. Meanwhile the cell is released
  // on another workstation.
  w.Memo1->Add("a note of my own");
  jail.Exec("UPDATE DETENTIA SET NAMERELEAS = 1");
  jail.PressStart();
  EXPECT_EQ(opens, 5);
  EXPECT_EQ(refreshes, 5);
  EXPECT_TRUE(jail.Log().empty());
  EXPECT_EQ(jail.Query("SELECT ONCELL FROM CFGCELL"), Lines{"0"});
  EXPECT_EQ(jail.Boxes().Texts(), (Lines{kDone, kDone}));
}

TEST(Pass, TextWithMarkupQuotesAndNonAsciiReachesTheLogUnchanged) {
  const std::string desc = "<b>Nord</b> 100% [ü] \"x\"";
  JailFixture jail("INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', '" + desc +
                   "')\n"
                   "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D%')\n"
                   "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, "
                   "CELLNO) VALUES ('D%', 'F1', 10, 0, 0, 0, NULL)\n" +
                   Bookings(1, 0));
  jail.PressStart();
  EXPECT_EQ(jail.Log().front(),
            "Facility :" + desc + " DormCode : D% CellNo :  Allow 0 but 1 are assign to it");
  EXPECT_EQ(jail.Window().lblWhatHappen->Caption(),
            "Synching Facility :" + desc + " DormCode : D% CellNo : ");
  EXPECT_EQ(jail.Boxes().Texts(), Lines{kDone});
}

}  // namespace
}  // namespace bunkmere
