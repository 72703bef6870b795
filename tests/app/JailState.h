#pragma once
// What a pass leaves on the server, read over a connection of the test's own: the housing rows
// it writes and the record-lock tables of those rows that still exist.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "standin/testing/StandinServer.h"
#include "tests/app/JailQuery.h"

namespace bunkmere::testing {

// Every CFGCELL and CFGBED row, whole, by table and UniqueKey ("CFGCELL.3").
using THousing = std::map<std::string, std::string>;
THousing ReadHousing(const standin::testing::StandinServer& AServer);

// The lock tables of CFGCELL and CFGBED rows, and the pass's own, that exist on the server, by
// name.
std::vector<std::string> LockTablesLeft(const standin::testing::StandinServer& AServer);

// The number the server gave the last statement it received; 0 before the first.
std::int64_t LastStatementNumber(const standin::testing::StandinServer& AServer);
// The number of the last statement step the server started (its step log on); 0 before any.
std::int64_t LastStepNumber(const standin::testing::StandinServer& AServer);

// The sample jail's script (sample/jail.sql).
std::string SampleJailScript();

// One clean pass of a window over a fresh server started with a script: what it sends and what
// it leaves, statement by statement (steps: the statements within each request, numbered by
// the server).
struct TCleanPass {
  THousing Before;
  THousing After;
  std::int64_t FirstStep = 0;  // the pass's first statement
  std::int64_t LastStep = 0;   // its last
  // The rows the pass changes, in the order it writes them, with the step of the UPDATE that
  // writes each (rows it writes with the value they hold cannot show a cut: left out).
  std::vector<std::pair<std::string, std::int64_t>> Writes;
  // The step at which each row's record lock is first taken.
  std::map<std::string, std::int64_t> Locked;
  // The steps that release a record lock (the guard and the DROP in it), and those that
  // release the pass's own.
  std::vector<std::int64_t> Releases, PassLockReleases;
  // Each step's statement, for a failure's trace.
  std::map<std::int64_t, std::string> Texts;
};
TCleanPass RunCleanPass(const std::string& AScript);

}  // namespace bunkmere::testing
