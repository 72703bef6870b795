// The pass on the sample jail cut at every statement it sends, inside its requests as between
// them: once with the session dropped there, once with that statement failing with a server
// error. Whatever the cut, the pass ends with its two boxes (or completes, when only a lock's
// release failed), the rows it has written are a prefix of those a complete pass writes, in
// its order (every row written before the cut, none whose lock it had not yet taken), every
// housing row holds its old value or the new one, no lock of ours is left on the server, and
// the next press completes the pass. Under the sanitizer build the loop takes every
// BUNKMERE_CUT_STRIDE-th statement (the build sets it), so the run stays bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "ui/ProgressBar.h"

#ifndef BUNKMERE_CUT_STRIDE
#define BUNKMERE_CUT_STRIDE 1
#endif

namespace bunkmere {
namespace {

using testing::JailFixture;
using testing::THousing;
using Lines = std::vector<std::string>;

const std::string kOn = " On: TfrmSynchCellsMain.GoSynchCells";
const std::string kCompleted = "Cell Synchronization Completed";

// Each row holds its old value or its new one; the rows written are the first ones the clean
// pass writes, including all it writes before step ACut and none whose lock it takes after it.
void ExpectWrittenUpTo(const testing::TCleanPass& AClean, const THousing& ANow, std::int64_t ACut) {
  ASSERT_EQ(ANow.size(), AClean.Before.size());
  for (const auto& [key, row] : ANow) {
    const bool old = row == AClean.Before.at(key);
    const bool written = row == AClean.After.at(key);
    EXPECT_TRUE(old || written) << key << " holds a third value: " << row;
  }
  bool gap = false;
  for (const auto& [key, step] : AClean.Writes) {
    const bool written = ANow.at(key) == AClean.After.at(key);
    EXPECT_FALSE(written && gap) << key << " written after a row before it was not";
    if (step < ACut) {
      EXPECT_TRUE(written) << key << " should have been written";
    }
    const auto locked = AClean.Locked.find(key);
    if (locked != AClean.Locked.end() && locked->second >= ACut) {
      EXPECT_FALSE(written) << key << " written though its lock comes after the cut";
    }
    gap = gap || !written;
  }
}

TEST(CutPass, EveryStatementDroppedOrFailedLeavesOldOrNewRowsAndTheNextPressCompletes) {
  const std::string script = testing::SampleJailScript();
  const testing::TCleanPass clean = testing::RunCleanPass(script);
  ASSERT_FALSE(clean.Writes.empty());
  ASSERT_GT(clean.LastStep, clean.FirstStep);
  struct Mode {
    const char* Name;
    std::string (*Fault)(std::int64_t);
  } modes[] = {
      {"dropped", [](std::int64_t step) { return "drop-at-step:" + std::to_string(step); }},
      {"failed",
       [](std::int64_t step) {
         return "fail-at-step:" + std::to_string(step) + ":1205|Transaction was deadlocked";
       }},
  };
  int cuts = 0;
  for (const Mode& mode : modes) {
    for (std::int64_t cut = clean.FirstStep; cut <= clean.LastStep; cut += BUNKMERE_CUT_STRIDE) {
      SCOPED_TRACE(std::string(mode.Name) + " at step " + std::to_string(cut) + ": " +
                   clean.Texts.at(cut));
      auto jail = JailFixture::FromScript(script, {mode.Fault(cut)});
      ASSERT_EQ(testing::LastStepNumber(jail->Server()) + 1, clean.FirstStep);
      jail->PressStart();
      ++cuts;
      const Lines boxes = jail->Boxes().Texts();
      EXPECT_EQ(jail->Window().ProgressBar1->Position(), 0);
      const bool release =
          std::find(clean.Releases.begin(), clean.Releases.end(), cut) != clean.Releases.end();
      if (release && (std::string(mode.Name) == "failed" ||
                      std::find(clean.PassLockReleases.begin(), clean.PassLockReleases.end(),
                                cut) != clean.PassLockReleases.end())) {
        // A release that fails is not the pass's failure: the row is written, and the lock goes
        // with a second try. A session dropped there fails the pass as anywhere else, since the
        // rest of its request is lost with it; but the pass's own lock, released last and
        // alone, goes with the session.
        EXPECT_EQ(boxes, Lines{kCompleted});
        EXPECT_EQ(testing::ReadHousing(jail->Server()), clean.After);
      } else {
        ASSERT_EQ(boxes.size(), 2u) << (boxes.empty() ? "" : boxes[0]);
        EXPECT_TRUE(boxes[0].ends_with(kOn)) << boxes[0];
        EXPECT_EQ(boxes[1], "Process Aborted");
        ExpectWrittenUpTo(clean, testing::ReadHousing(jail->Server()), cut);
      }
      EXPECT_EQ(testing::LockTablesLeft(jail->Server()), Lines{});

      jail->Boxes().Boxes.clear();
      jail->PressStart();
      EXPECT_EQ(jail->Boxes().Texts(), Lines{kCompleted});
      EXPECT_EQ(testing::ReadHousing(jail->Server()), clean.After);
      EXPECT_EQ(testing::LockTablesLeft(jail->Server()), Lines{});
    }
  }
  std::printf("[ cuts ] %d passes cut (%lld statements, stride %d)\n", cuts,
              static_cast<long long>(clean.LastStep - clean.FirstStep + 1), BUNKMERE_CUT_STRIDE);
}

// The server away at the first press, then stopped and started again between two presses:
// each press while it is away ends with the boxes, and the first press once it is back
// completes the pass.
TEST(CutPass, TheServerAwayAtAPressAndBackForTheNext) {
  const std::string script = testing::SampleJailScript();
  const testing::TCleanPass clean = testing::RunCleanPass(script);
  auto jail = JailFixture::FromScript(script);
  auto press = [&] {
    jail->Boxes().Boxes.clear();
    jail->PressStart();
    return jail->Boxes().Texts();
  };
  auto expectAborted = [](const Lines& ABoxes) {
    ASSERT_EQ(ABoxes.size(), 2u) << (ABoxes.empty() ? "" : ABoxes[0]);
    EXPECT_TRUE(ABoxes[0].ends_with(kOn)) << ABoxes[0];
    EXPECT_EQ(ABoxes[1], "Process Aborted");
  };

  jail->Server().Stop();
  expectAborted(press());
  jail->Server().Restart();
  EXPECT_EQ(testing::ReadHousing(jail->Server()), clean.Before);
  EXPECT_EQ(press(), Lines{kCompleted});
  EXPECT_EQ(testing::ReadHousing(jail->Server()), clean.After);

  // Stopped with the connection open, then back: the rows put back to their old values show
  // that the pass after the restart ran whole.
  jail->Server().Stop();
  expectAborted(press());
  jail->Server().Restart();
  jail->Exec("UPDATE CFGBED SET AVAILABLE = 1 WHERE AVAILABLE = 0");
  EXPECT_EQ(press(), Lines{kCompleted});
  EXPECT_EQ(testing::ReadHousing(jail->Server()), clean.After);
  jail->Server().Stop();
  jail->Server().Restart();
  jail->Exec("UPDATE CFGBED SET AVAILABLE = 1 WHERE AVAILABLE = 0");
  EXPECT_EQ(press(), Lines{kCompleted});
  EXPECT_EQ(testing::ReadHousing(jail->Server()), clean.After);
  EXPECT_EQ(testing::LockTablesLeft(jail->Server()), Lines{});
}

}  // namespace
}  // namespace bunkmere
