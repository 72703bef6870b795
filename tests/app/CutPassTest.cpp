// The pass on the sample jail cut at every statement it sends: once with the session dropped
// there, once with that statement failing with a server error. Whatever the cut, the pass ends
// with its two boxes, every housing row holds its old value or the one a complete pass writes
// (exactly the rows written before the cut), no lock of ours is left on the server, and the
// next press completes the pass. Under the sanitizer build the loop takes every
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

// Each row holds its old value or its new one, and the new ones are exactly the rows the
// clean pass writes before statement ACut.
void ExpectWrittenUpTo(const testing::TCleanPass& AClean, const THousing& ANow, std::int64_t ACut) {
  ASSERT_EQ(ANow.size(), AClean.Before.size());
  for (const auto& [key, row] : ANow) {
    const bool old = row == AClean.Before.at(key);
    const bool written = row == AClean.After.at(key);
    EXPECT_TRUE(old || written) << key << " holds a third value: " << row;
  }
  for (const auto& [key, seq] : AClean.Writes)
    EXPECT_EQ(ANow.at(key), seq < ACut ? AClean.After.at(key) : AClean.Before.at(key))
        << key << (seq < ACut ? " should have been written" : " written after the cut");
}

TEST(CutPass, EveryStatementDroppedOrFailedLeavesOldOrNewRowsAndTheNextPressCompletes) {
  const std::string script = testing::SampleJailScript();
  const testing::TCleanPass clean = testing::RunCleanPass(script);
  ASSERT_FALSE(clean.Writes.empty());
  ASSERT_GT(clean.LastSeq, clean.FirstSeq);
  struct Mode {
    const char* Name;
    std::string (*Fault)(std::int64_t);
  } modes[] = {
      {"dropped", [](std::int64_t seq) { return "drop-after:" + std::to_string(seq - 1); }},
      {"failed",
       [](std::int64_t seq) {
         return "fail-at:" + std::to_string(seq) + ":1205|Transaction was deadlocked";
       }},
  };
  int cuts = 0;
  for (const Mode& mode : modes) {
    for (std::int64_t cut = clean.FirstSeq; cut <= clean.LastSeq; cut += BUNKMERE_CUT_STRIDE) {
      SCOPED_TRACE(std::string(mode.Name) + " at statement " + std::to_string(cut));
      auto jail = JailFixture::FromScript(script, {mode.Fault(cut)});
      ASSERT_EQ(testing::LastStatementNumber(jail->Server()) + 1, clean.FirstSeq);
      jail->PressStart();
      ++cuts;
      const Lines boxes = jail->Boxes().Texts();
      EXPECT_EQ(jail->Window().ProgressBar1->Position(), 0);
      if (std::find(clean.Releases.begin(), clean.Releases.end(), cut) != clean.Releases.end()) {
        // A release that fails is not the pass's failure: the row is written, and the lock goes
        // with the session (dropped) or with a second try (failed).
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
              static_cast<long long>(clean.LastSeq - clean.FirstSeq + 1), BUNKMERE_CUT_STRIDE);
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
