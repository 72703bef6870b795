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
#include "tests/ChildProcess.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "tests/app/LockHolder.h"
#include "tests/app/PytdsHousing.h"
#include "tests/app/SiteFolder.h"
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

// Takes the lock of ARow ("CFGBED.3").
bool TakeRow(testing::TLockHolder& ADesk, const std::string& ARow) {
  const std::size_t dot = ARow.find('.');
  return ADesk.Take(ARow.substr(0, dot), ARow.substr(dot + 1));
}

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
    std::vector<std::unique_ptr<testing::ChildProcess>> bunkmeres;
    for (int i = 0; i < 2; ++i) {
      bunkmeres.push_back(std::make_unique<testing::ChildProcess>(
          std::vector<std::string>{BUNKMERE_PASS_RUNNER, site.Path().string()}));
      ASSERT_TRUE(bunkmeres.back()->ReadUntil("ready\n", 60000)) << bunkmeres.back()->Output();
    }
    // The front desk's program: holds one row's lock at a time, as the family's programs do.
    testing::TLockHolder desk(server);
    for (auto& b : bunkmeres) b->Write("go\n");
    // The desk holds a random row for a random few milliseconds at a time until both are done.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::size_t done = 0;
    while (done < bunkmeres.size() && std::chrono::steady_clock::now() < deadline) {
      // One step in four, so that some passes get through it.
      if (random() % 4 == 0 && TakeRow(desk, rows[random() % rows.size()])) ++deskLocks;
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
    // Once, what a clean pass leaves is also set against the rows worked out by hand, read by
    // a client nobody here wrote: a clean pass that went wrong would otherwise be its own judge.
    if (round == 0) {
      EXPECT_EQ(testing::HousingThroughPytds(server), testing::kSampleHousingAfterPass);
    }
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
  // The rounds met what they are for: locks the desk held refused (named, or caught before
  // their holder row), and passes that got through. A run in which no row was ever refused
  // proves nothing.
  EXPECT_GT(deskLocks, 0);
  EXPECT_GT(tally.ByDesk + tally.HolderNotYetWritten, 0);
  EXPECT_GT(tally.Completed, 0);
  EXPECT_EQ(tally.Passes, 2 * BUNKMERE_CONCURRENT_ROUNDS);
}

}  // namespace
}  // namespace bunkmere
