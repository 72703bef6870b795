// The event log's entry for an unattended run: its level from the exit status, and the text
// an administrator reads there (the counts of the last line as a console showed them, then
// what went to the error stream).
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/UnattendedReport.h"

namespace bunkmere {
namespace {

TEST(UnattendedReport, LevelAndTextFollowTheRunsOutcome) {
  struct Case {
    int Status;
    const char* Out;
    const char* Err;
    TReportLevel Level;
    const char* Text;
  } cases[] = {
      {kExitCompleted, "Facility 1 of 1 done: 1 cells, 2 beds written\nCompleted: 1 cells\n",
       "Cell Synchronization Completed\n", TReportLevel::Information,
       "Bunkmere's unattended run completed (exit status 0).\n\nCompleted: 1 cells\n\n"
       "Cell Synchronization Completed"},
      // A console's progress line, rewritten in place, ends before the last line.
      {kExitConflicts,
       "\rFacility 1 of 2: 0 cells\x1b[K\rFacility 2 of 2: 3 cells\x1b[K\r\nCompleted: 3 cells\r\n",
       "", TReportLevel::Warning,
       "Bunkmere's unattended run completed with conflicts (exit status 3).\n\nCompleted: 3 cells"},
      {kExitHeld, "\rFacility 1 of 2: 0 cells\x1b[K", "The row is held\r\n", TReportLevel::Warning,
       "Bunkmere's unattended run stopped at a held row (exit status 2).\n\nFacility 1 of 2: 0 "
       "cells\n\nThe row is held"},
      // A failure before the pass writes nothing to the output: the reason is the entry.
      {kExitFailed, "", "Application Error: Exception EIniFileException\n\nNo ConnStr.\n",
       TReportLevel::Error,
       "Bunkmere's unattended run failed (exit status 1).\n\nApplication Error: Exception "
       "EIniFileException\n\nNo ConnStr."},
      {kExitUsage, "", "Bunkmere: --log: the folder 'x' does not exist; see --help\n",
       TReportLevel::Error,
       "Bunkmere's unattended run was not started: bad arguments (exit status 64).\n\nBunkmere: "
       "--log: the folder 'x' does not exist; see --help"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Status);
    const TRunReport report = UnattendedRunReport(c.Status, c.Out, c.Err);
    EXPECT_EQ(report.Level, c.Level);
    EXPECT_EQ(report.Text, c.Text);
  }
}

}  // namespace
}  // namespace bunkmere
