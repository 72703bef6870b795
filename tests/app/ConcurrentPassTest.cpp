// Two Bunkmere processes press start on the same sample jail at the same moment while a third
// program takes and releases record locks of random cells and beds. Each pass completes or
// stops at a row another holds, saying who holds it; every row ends old or new, no lock is
// left behind, and a pass on the quiet server afterwards leaves what one clean pass leaves.
// The rounds run from a fixed seed; the sanitizer build runs fewer of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "app/PassLock.h"
#include "dataaccess/MSConnection.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "tests/app/SiteFolder.h"
#include "tests/standin/ChildProcess.h"
#include "tests/ui/RecordingMessageBoxes.h"
#include "ui/StdCtrls.h"

#ifndef BUNKMERE_CONCURRENT_ROUNDS
#define BUNKMERE_CONCURRENT_ROUNDS 30
#endif

namespace bunkmere {
namespace {

using Lines = std::vector<std::string>;
using standin::testing::StandinServer;

const std::string kCompleted = "Cell Synchronization Completed";
const std::string kRefused = "The requested lock could not be granted.";
const std::string kOn = " On: TfrmSynchCellsMain.GoSynchCells";

// The front desk's program: holds one row's lock at a time, as the family's programs do.
class TFrontDesk {
 public:
  explicit TFrontDesk(const StandinServer& AServer) : FDb(nullptr) {
    FDb.SetServer(AServer.Host() + "," + std::to_string(AServer.Port()));
    FDb.SetDatabase("JAIL");
    FDb.SetAuthentication(TMSAuthentication::auServer);
    FDb.SetUsername(AServer.User());
    FDb.SetPassword(AServer.Password());
    FDb.SetLoginPrompt(false);
  }
  // Takes the lock of ARow ("CFGBED.3"); false when someone else holds it.
  bool Take(const std::string& ARow) {
    const std::string table = ARow.substr(0, ARow.find('.'));
    const std::string name = "[tempdb].[dbo].[##LOCK-JAIL." + ARow + "]";
    try {
      FDb.ExecSQL("CREATE TABLE " + name +
                  " (DatabaseName VARCHAR(30), TableName VARCHAR(100), UniqueKey VARCHAR(22), "
                  "ComputerName VARCHAR(30), UserName VARCHAR(30), ProgramName VARCHAR(30), "
                  "TimeLocked DateTime)");
    } catch (const EDatabaseError&) {
      return false;
    }
    FHeld = name;
    FDb.ExecSQL("INSERT INTO " + name + " VALUES ('JAIL', '" + table + "', '" +
                ARow.substr(ARow.find('.') + 1) +
                "', 'FRONTDESK', 'clerk', 'Intake.exe', '2026-12-10 03:15:00')");
    return true;
  }
  void Release() {
    if (FHeld.empty()) return;
    FDb.ExecSQL("DROP TABLE " + FHeld);
    FHeld.clear();
  }

 private:
  TMSConnection FDb;
  std::string FHeld;
};

struct TTally {
  int Passes = 0, Completed = 0, ByDesk = 0, ByOtherPass = 0, HolderNotYetWritten = 0;
};

// What a pass running in another process showed: completed, or refused with a holder named.
void ExpectCompletedOrRefused(const std::string& AOutput, TTally& ATally) {
  ++ATally.Passes;
  const std::string box = "box: ";
  std::vector<std::string> boxes;
  for (std::size_t at = AOutput.find(box); at != std::string::npos; at = AOutput.find(box, at + 1))
    boxes.push_back(AOutput.substr(at + box.size(), AOutput.find('\n', at) - at - box.size()));
  if (boxes == Lines{kCompleted}) {
    ++ATally.Completed;
    return;
  }
  ASSERT_EQ(boxes.size(), 2u) << AOutput;
  EXPECT_EQ(boxes[1], "Process Aborted");
  // A row's lock, or the pass's own when both start together.
  const bool passRunning = boxes[0].starts_with(kPassRunningText);
  ASSERT_TRUE((boxes[0].starts_with(kRefused) || passRunning) && boxes[0].ends_with(kOn))
      << boxes[0];
  // Between a holder's CREATE and its holder row the refusal can only say the lock is taken;
  // a holder that let go meanwhile cannot be read at all.
  if (boxes[0].find("has not written its name yet") != std::string::npos ||
      boxes[0].find("could not be read") != std::string::npos) {
    ++ATally.HolderNotYetWritten;
    return;
  }
  const bool desk = boxes[0].find(
                        "User Name: clerk /      Computer Name: FRONTDESK /      "
                        "Program Name: Intake.exe") != std::string::npos;
  const bool other = boxes[0].find("Program Name: app_pass_runner") != std::string::npos;
  EXPECT_TRUE(desk || other) << boxes[0];
  ++(desk ? ATally.ByDesk : ATally.ByOtherPass);
}

TEST(ConcurrentPass, TwoPassesAndAThirdProgramsLocksLoseNothingAndLeaveNoLock) {
  const std::string script = testing::SampleJailScript();
  const testing::TCleanPass clean = testing::RunCleanPass(script);
  std::vector<std::string> rows;
  for (const auto& [key, row] : clean.Before) rows.push_back(key);
  std::mt19937 random(20261210);
  TTally tally;
  int deskLocks = 0;
  for (int round = 0; round < BUNKMERE_CONCURRENT_ROUNDS; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    StandinServer server(script);
    const testing::TSiteFolder site = testing::TSiteFolder::For(testing::SiteConnectString(server));
    std::vector<std::unique_ptr<standin::test::ChildProcess>> bunkmeres;
    for (int i = 0; i < 2; ++i) {
      bunkmeres.push_back(std::make_unique<standin::test::ChildProcess>(
          std::vector<std::string>{BUNKMERE_PASS_RUNNER, site.Path().string()}));
      ASSERT_TRUE(bunkmeres.back()->ReadUntil("ready\n", 60000)) << bunkmeres.back()->Output();
    }
    TFrontDesk desk(server);
    for (auto& b : bunkmeres) b->Write("go\n");
    // The desk holds a random row for a random few milliseconds at a time until both are done.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::size_t done = 0;
    while (done < bunkmeres.size() && std::chrono::steady_clock::now() < deadline) {
      // One step in four, so that some passes get through it.
      if (random() % 4 == 0 && desk.Take(rows[random() % rows.size()])) ++deskLocks;
      const int hold = static_cast<int>(random() % 8);
      done = 0;
      for (auto& b : bunkmeres) done += b->ReadUntil("done\n", hold) ? 1 : 0;
      desk.Release();
    }
    ASSERT_EQ(done, bunkmeres.size()) << "passes still running after two minutes";
    for (auto& b : bunkmeres) ExpectCompletedOrRefused(b->Output(), tally);
    // Every row old or new, and no lock of any program left while both still run.
    for (const auto& [key, row] : testing::ReadHousing(server))
      EXPECT_TRUE(row == clean.Before.at(key) || row == clean.After.at(key)) << key << ": " << row;
    EXPECT_EQ(testing::LockTablesLeft(server), Lines{});
    for (auto& b : bunkmeres) EXPECT_EQ(b->Finish(), 0) << b->Output();

    // One pass on the quiet server leaves what one clean pass leaves.
    testing::RecordingMessageBoxes boxes;
    auto window = testing::WindowAtSite(server);
    window->btConvertTavrichWeekenders->Click();
    EXPECT_EQ(boxes.Texts(), Lines{kCompleted});
    EXPECT_EQ(testing::ReadHousing(server), clean.After);
    EXPECT_EQ(testing::LockTablesLeft(server), Lines{});
    if (::testing::Test::HasFailure()) break;
  }
  std::printf(
      "[ concurrent ] %d passes: %d completed; refused by the desk %d, by the other pass %d, "
      "before a holder row %d; %d desk locks taken\n",
      tally.Passes, tally.Completed, tally.ByDesk, tally.ByOtherPass, tally.HolderNotYetWritten,
      deskLocks);
  // Two passes pressed together never both walk the rows: one of them is refused at once.
  EXPECT_GT(tally.ByOtherPass, 0);
}

}  // namespace
}  // namespace bunkmere
