// A pass that meets what a site's nights bring: a row another program keeps in an open
// transaction, a server that stops answering, a lock table that cannot be made, a second pass
// started beside it, a count gone stale before its lock, and a stop asked for from outside.
// Each stops at one row with the rows before it written, nothing after it touched and no lock
// of ours left, and says truly why: held (run again later) or failed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/BunkmereMain.h"
#include "app/CommandLine.h"
#include "app/PassLock.h"
#include "app/StopRequest.h"
#include "app/UnattendedSync.h"
#include "dataaccess/Fields.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "db/VtMSAccess.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailQuery.h"
#include "tests/app/JailState.h"
#include "tests/app/LockHolder.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using Lines = std::vector<std::string>;
using testing::JailFixture;
namespace fs = std::filesystem;

const std::string kOn = " On: TfrmSynchCellsMain.GoSynchCells";

// Three cells of one dorm (keys 1 to 3 in CFGCELL and CFGBED), one bed each, one current
// booking on each bed; every ONCELL 9 and every AVAILABLE NULL, so a written row shows.
const std::string kThreeCells =
    "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
    "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
    "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
    "VALUES ('D1', 'F1', 10, 0, 2, 9, 'C-10'), ('D1', 'F1', 20, 0, 2, 9, 'C-20'), "
    "('D1', 'F1', 30, 0, 2, 9, 'C-30')\n"
    "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', NULL), "
    "(20, 1, 'B', NULL), (30, 1, 'C', NULL)\n"
    "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
    "('B-10', 0, 'F1', 10, '1'), ('B-20', 0, 'F1', 20, '1'), ('B-30', 0, 'F1', 30, '1')\n";

std::string Contents(std::FILE* AFile);

Lines Cells(const JailFixture& AJail) {
  return AJail.Query("SELECT CELLKEY, ONCELL FROM CFGCELL ORDER BY CELLKEY");
}
Lines Beds(const JailFixture& AJail) {
  return AJail.Query("SELECT CELLKEY, AVAILABLE FROM CFGBED ORDER BY CELLKEY");
}

TEST(PassReliability, EachFailureAtARowStopsThereWithItsTrueCause) {
  const std::string bed20 = "and cellkey = 20 and bed = '1'";
  struct Case {
    const char* What;
    std::string Fault;
    int QueryTimeout;
    TPassOutcome Outcome;
    std::string Box;  // the first box, without " On: ..."
    Lines Cells, Beds;
    // Where the server may have stopped anywhere in a request the pass could not place: cell
    // 20 and its bed each as before or as written, the bed only after the cell.
    bool Cell20Either = false;
  } cases[] = {
      {"the server keeps the bed's bookings locked past the lock wait",
       "fail:1222:" + bed20 + "|Lock request time out period exceeded.",
       120,
       TPassOutcome::Held,
       "The server kept a row locked for 60 seconds while counting the bookings of Facility "
       ":North DormCode : D1 CellNo : C-20 Bed : B: another program holds it in an open "
       "transaction. The rows before it are written; nothing from it on was touched.",
       {"10|1", "20|1", "30|9"},
       {"10|False", "20|NULL", "30|NULL"}},
      {"the server keeps the first cell's row locked when it is written",
       "fail:1222:UPDATE [CFGCELL]|Lock request time out period exceeded.",
       120,
       TPassOutcome::Held,
       "The server kept a row locked for 60 seconds while writing CFGCELL row 1 (Facility "
       ":North DormCode : D1 CellNo : C-10): another program holds it in an open transaction. "
       "The rows before it are written; nothing from it on was touched.",
       {"10|9", "20|9", "30|9"},
       {"10|NULL", "20|NULL", "30|NULL"}},
      {"tempdb is full when the bed's lock table is made",
       "fail:1105:CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGBED.2]|Could not allocate space "
       "for object 'dbo.SORT temporary run storage' in database 'tempdb' because the "
       "'PRIMARY' filegroup is full.",
       120,
       TPassOutcome::Failed,
       "Could not allocate space for object 'dbo.SORT temporary run storage' in database "
       "'tempdb' because the 'PRIMARY' filegroup is full.",
       {"10|1", "20|1", "30|9"},
       {"10|False", "20|NULL", "30|NULL"}},
      {"the login may not create tables in tempdb",
       "fail:262:CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGBED.2]|CREATE TABLE permission "
       "denied in database 'tempdb'.",
       120,
       TPassOutcome::Failed,
       "CREATE TABLE permission denied in database 'tempdb'.",
       {"10|1", "20|1", "30|9"},
       {"10|False", "20|NULL", "30|NULL"}},
      // The request that writes cell 20 and its bed and counts cell 30's rows is the one not
      // answered in time: what it did is unknown to the pass, so its session goes, and every
      // lock with it. (The stand-in runs the request once the cancel ends its delay; a server
      // may stop anywhere in it, and the cut tests cover every such point.)
      {"the server does not answer the last cell's request within the query time-out",
       "delay-on:4000:and cellkey = 30 and bed = '1'",
       1,
       TPassOutcome::Failed,
       "The server did not answer within 1 second while locking, re-reading and counting "
       "CFGCELL row 3 (Facility :North DormCode : D1 CellNo : C-30).",
       {"10|1", "20|9", "30|9"},
       {"10|False", "20|NULL", "30|NULL"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    // A failure the server answers fails the statement it names within its request: the
    // step of the first statement holding the pattern, as a probe pass numbers it.
    std::string fault = c.Fault;
    if (fault.starts_with("fail:")) {
      const std::size_t number = fault.find(':', 5), bar = fault.find('|');
      const std::string pattern = fault.substr(number + 1, bar - number - 1);
      fault = "fail-at-step:" + std::to_string(testing::StepOfFirst(kThreeCells, pattern)) + ":" +
              fault.substr(5, number - 5) + fault.substr(bar);
    }
    JailFixture jail(kThreeCells, {fault});
    jail.Window().SetTimeouts(TfrmSynchCellsMain::kLockWaitMilliseconds, c.QueryTimeout);
    jail.PressStart();
    EXPECT_EQ(jail.Boxes().Texts(), (Lines{c.Box + kOn, "Process Aborted"}));
    EXPECT_EQ(jail.Window().Outcome(), c.Outcome);
    Lines cells = Cells(jail), beds = Beds(jail);
    if (c.Cell20Either) {
      EXPECT_TRUE(cells[1] == "20|9" || cells[1] == "20|1") << cells[1];
      EXPECT_TRUE(beds[1] == "20|NULL" || (beds[1] == "20|False" && cells[1] == "20|1")) << beds[1];
      cells[1] = c.Cells[1];
      beds[1] = c.Beds[1];
    }
    EXPECT_EQ(cells, c.Cells);
    EXPECT_EQ(beds, c.Beds);
    EXPECT_EQ(testing::LockTablesLeft(jail.Server()), Lines{});
  }
}

// Another program keeps cell 20's bed in an open transaction, as a booking program does while
// it writes: the pass waits no longer than its lock wait, stops there as at a held row, and
// tells a scheduler to run it later.
TEST(PassReliability, ARowHeldInAnOpenTransactionStopsThePassAfterTheLockWait) {
  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "--sync" : "the window");
    JailFixture jail(kThreeCells);
    auto booking = testing::JailConnection(jail.Server());
    booking->ExecSQL("BEGIN TRANSACTION");
    booking->ExecSQL("UPDATE CFGBED SET AVAILABLE = 0 WHERE CELLKEY = 20");
    TfrmSynchCellsMain& w = jail.Window();
    w.SetTimeouts(1000, 120);
    const std::string held =
        "The server kept a row locked for 1 second while moving to the next cell after Facility "
        ":North DormCode : D1 CellNo : C-10: another program holds it in an open transaction. "
        "The rows before it are written; nothing from it on was touched.";
    if (unattended) {
      TCommandLine line;
      line.Mode = TCommandLine::TMode::Sync;
      const fs::path log =
          fs::temp_directory_path() / ("bunkmere-held-" + std::to_string(getpid()) + ".log");
      line.LogFile = log.string();
      std::FILE* out = std::tmpfile();
      std::FILE* err = std::tmpfile();
      EXPECT_EQ(RunUnattendedSync(w, line, {out, err, false}), kExitHeld);
      EXPECT_EQ(Contents(err), held + kOn + "\nProcess Aborted\n");
      std::fclose(out);
      std::fclose(err);
      fs::remove(log);
    } else {
      jail.PressStart();
      EXPECT_EQ(jail.Boxes().Texts(), (Lines{held + kOn, "Process Aborted"}));
    }
    EXPECT_EQ(w.Outcome(), TPassOutcome::Held);
    booking->ExecSQL("ROLLBACK");
    EXPECT_EQ(Cells(jail), (Lines{"10|1", "20|9", "30|9"}));
    EXPECT_EQ(Beds(jail), (Lines{"10|False", "20|NULL", "30|NULL"}));
    EXPECT_EQ(testing::LockTablesLeft(jail.Server()), Lines{});
  }
}

// The pass's own lock held by another workstation's pass: refused before any row is counted,
// with that pass's holder named; the other programs of the family are not concerned.
TEST(PassReliability, ASecondPassIsRefusedAtOnceWithTheFirstOneNamed) {
  JailFixture jail(kThreeCells);
  testing::TLockHolder other(jail.Server(),
                             {"NIGHTDESK", "svc-sync", "Bunkmere.exe", "2026-12-10 02:00:00"});
  ASSERT_TRUE(other.Take("Bunkmere", "SynchCells"));
  const std::string lock = TPassLock::Name("JAIL");
  ASSERT_EQ(other.Held(), lock);
  jail.PressStart();
  ASSERT_EQ(jail.Boxes().Texts().size(), 2u);
  const std::string box = jail.Boxes().Texts()[0];
  EXPECT_TRUE(
      box.starts_with("Another cell synchronization is already running on this database.\r\n\r\n"
                      "     User Name: svc-sync\r\n"
                      "     Computer Name: NIGHTDESK\r\n"
                      "     Program Name: Bunkmere.exe\r\n"
                      "     Time Locked: "))
      << box;
  EXPECT_TRUE(box.ends_with(kOn)) << box;
  EXPECT_EQ(box.find("Table Name"), std::string::npos) << box;
  EXPECT_EQ(jail.Window().Outcome(), TPassOutcome::Held);
  EXPECT_EQ(jail.PassStatements(), Lines{});
  EXPECT_EQ(Cells(jail), (Lines{"10|9", "20|9", "30|9"}));
  // Its lock is still the other pass's.
  EXPECT_EQ(testing::LockTablesLeft(jail.Server()), Lines{lock});
}

// Another program acts in the moment between the pass's look at a row and its lock of it:
// a booking arrives, and the row's figures stay as they were. What is written comes from a
// count taken under the lock, so the newer booking is in it.
TEST(PassReliability, ACountTakenBeforeTheLockIsNeverWritten) {
  struct Case {
    const char* What;
    std::string Rows;
    std::string LockOf;  // the lock whose CREATE the other program just beats
    std::string Meanwhile;
    std::string Query;
    Lines Expected;
  } cases[] = {
      {"a cell whose booking count grows while ONCELL stays",
       "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
       "VALUES ('D1', 'F1', 10, 0, 2, 1, 'C-10')\n"
       "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
       "('B-1', 0, 'F1', 10, NULL)\n",
       "CFGCELL.1",
       "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
       "('B-2', 0, 'F1', 10, NULL)",
       "SELECT ONCELL FROM CFGCELL", Lines{"2"}},
      {"a bed already marked taken that a booking program fills and marks taken again",
       "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
       "VALUES ('D1', 'F1', 10, 0, 2, 0, 'C-10')\n"
       "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', 0)\n",
       "CFGBED.1",
       "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
       "('B-9', 0, 'F1', 10, '1'); UPDATE CFGBED SET AVAILABLE = 0",
       "SELECT AVAILABLE FROM CFGBED", Lines{"False"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    JailFixture jail(
        "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North')\n"
        "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n" +
            c.Rows,
        {"exec-before:CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL." + c.LockOf + "]|" + c.Meanwhile});
    jail.PressStart();
    EXPECT_EQ(jail.Boxes().Texts(), Lines{"Cell Synchronization Completed"});
    EXPECT_EQ(jail.Query(c.Query), c.Expected);
  }
}

std::string ReadFile(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Contents(std::FILE* AFile) {
  std::fflush(AFile);
  std::rewind(AFile);
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, AFile)) > 0;) text.append(buf, n);
  return text;
}

// SIGTERM (or SIGINT) reaching an unattended run: the pass stops at its next statement
// boundary, lets its open edit go, saves the log found so far and exits with its own status.
TEST(PassReliability, ASignalStopsTheRunBetweenStatementsAndItsLogIsSaved) {
  struct Case {
    const char* What;
    int Signal;
    // Where the signal arrives: while bed 10 is decided, or bed 20.
    bool InEdit;
    std::string Err;
    Lines Cells, Beds;
  } cases[] = {
      {"SIGTERM while the first cell's bed is decided",
       SIGTERM,
       false,
       "Stopped by SIGTERM after 1 cell\n",
       {"10|9", "20|9", "30|9"},
       {"10|False", "20|NULL", "30|NULL"}},
      // The bed's edit is the decision of a row already counted under its lock: the cell it
      // belongs to is written whole before the run stops.
      {"SIGINT during a bed's edit",
       SIGINT,
       true,
       "Stopped by SIGINT after 2 cells\n",
       {"10|9", "20|1", "30|9"},
       {"10|False", "20|False", "30|NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    // Cell 10 over its allowance of 0 and reported, so that the saved log has a line.
    JailFixture jail(kThreeCells + "UPDATE CFGCELL SET ALLOW = 0 WHERE CELLKEY = 10\n");
    TfrmSynchCellsMain& w = jail.Window();
    // Raised while a bed of the cell is decided: cell 10's (the run then stops once that
    // cell is written), or cell 20's.
    const int cell = c.InEdit ? 20 : 10;
    w.tblCFGBeds->AfterEdit = [&](TCustomMSDataSet& d) {
      if (d.FieldByName("CELLKEY").AsInteger() == cell) std::raise(c.Signal);
    };
    const fs::path folder =
        fs::temp_directory_path() / ("bunkmere-stop-" + std::to_string(getpid()));
    fs::create_directories(folder);
    TCommandLine line;
    line.Mode = TCommandLine::TMode::Sync;
    line.LogFile = (folder / "night.log").string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = RunUnattendedSync(w, line, {out, err, false});
    EXPECT_EQ(status, kExitStopped);
    EXPECT_EQ(Contents(err), c.Err);
    EXPECT_NE(Contents(out).find("Stopped on request: "), std::string::npos) << Contents(out);
    EXPECT_EQ(w.Outcome(), TPassOutcome::Stopped);
    EXPECT_EQ(Cells(jail), c.Cells);
    EXPECT_EQ(Beds(jail), c.Beds);
    EXPECT_EQ(testing::LockTablesLeft(jail.Server()), Lines{});
    EXPECT_EQ(ReadFile(line.LogFile),
              "Facility :North DormCode : D1 CellNo : C-10 Allow 0 but 1 are assign to it\r\n"
              "----Inmates On Cell----\r\n B-10\r\n----End----\r\n");
    std::fclose(out);
    std::fclose(err);
    fs::remove_all(folder);
    // The handlers are the process's own again.
    struct sigaction now {};
    sigaction(c.Signal, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
  }
}

// A second signal while the first is honoured (the clean-up itself hangs) ends the process
// at once, with the same status.
TEST(PassReliabilityDeathTest, ASecondSignalEndsTheProcessAtOnce) {
  EXPECT_EXIT(
      {
        TStopGuard guard;
        std::raise(SIGTERM);
        std::raise(SIGTERM);
        std::fprintf(stderr, "still running\n");
      },
      ::testing::ExitedWithCode(kExitStopped), "");
}

}  // namespace
}  // namespace bunkmere
