#pragma once
// What Bunkmere is asked to do by its arguments. Without any it opens its window, as it always
// has; "--sync" runs one pass unattended (for a scheduler) and ends with an exit status, and
// "--sync --preview" runs the pass without writing. Windows also takes every switch with a
// slash ("/sync", "/log FILE").
//
// Bad arguments are found here, before anything reads the site file or connects: the caller
// prints the problem with "see --help" and ends with kExitUsage.

#include <optional>
#include <string>
#include <vector>

#include "app/LogFile.h"

namespace bunkmere {

// Exit statuses of an unattended run, for schedulers to act on.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitHeld = 2;
inline constexpr int kExitConflicts = 3;
// Stopped on request (SIGTERM, SIGINT, a console's Ctrl+C or close) with its rows let go and its
// log saved.
inline constexpr int kExitStopped = 4;
inline constexpr int kExitUsage = 64;

struct TCommandLine {
  enum class TMode { Window, Sync, Help } Mode = TMode::Window;
  bool Preview = false;
  // Where the conflicts log goes; empty: "ddhhnnss.log" where Save Log writes it
  // (TPlatform::LogFolder).
  std::string LogFile;
  bool Force = false;
  // Where the occupancy report (HTML) and its summary (JSON) go; empty: not written.
  std::string ReportFile;
  std::string SummaryFile;
};

// AArguments without the program's name. ASlashSwitches: "/name" is taken as "--name" too.
// Returns the problem, one line without a full stop, in AProblem when the arguments are bad.
std::optional<TCommandLine> ParseCommandLine(const std::vector<std::string>& AArguments,
                                             bool ASlashSwitches, std::string& AProblem);

// The text of --help.
std::string UsageText();

}  // namespace bunkmere
