#pragma once
// The benchmark's floor: a minimal ODBC client that sends a recorded list of statements, in
// order, over one connection, and fetches every row of every result: discarding the rows, or
// reading every value into bound buffers as a program that uses them must.

#include <string>
#include <vector>

#include "standin/testing/StatementLogReader.h"

namespace bunkmere::bench {

// Seconds of CPU the calling thread has used so far.
double ThreadCpuSeconds();

struct ReplayResult {
  double Seconds = 0;
  double CpuSeconds = 0;  // of the client alone
  std::size_t Statements = 0;
  std::size_t Rows = 0;
};

// AStatements as the stand-in logged them: batches are sent as they are, parameterised
// statements with their "@Pn" markers as "?" and the logged values bound with the logged types.
enum class TRowHandling { Discard, ReadEveryValue };

ReplayResult Replay(const std::string& AConnectionString,
                    const std::vector<standin::testing::LoggedStatement>& AStatements,
                    TRowHandling ARows = TRowHandling::Discard);

}  // namespace bunkmere::bench
