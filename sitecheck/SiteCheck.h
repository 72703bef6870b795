#pragma once
// The site check: walks the road Bunkmere takes from start-up to its first connect, one step
// at a time, with the program's own components, and prints what each step found. It stops at
// the first step that fails and names it, so a site administrator sees where the road ends
// and what the file, the library or the server said there.
//
// It runs from the program's own folder, so the site file search is the program's.

#include <iosfwd>

namespace bunkmere {

// The steps in the order Bunkmere meets them. A failed step's exit code is its number + 1;
// 0 means Bunkmere would start and connect.
enum class TSiteCheckStep : int {
  SiteFile = 1,
  SiteSettings,
  ProgramLibrary,
  OdbcDriver,
  Connect,
};

inline constexpr int ExitCodeOf(TSiteCheckStep AStep) {
  return static_cast<int>(AStep) + 1;
}

// Runs every step, printing the report to AOut; returns the exit code. Passwords never reach
// AOut.
int RunSiteCheck(std::ostream& AOut);

}  // namespace bunkmere
