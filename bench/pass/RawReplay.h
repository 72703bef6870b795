#pragma once
// The benchmark's floor: a minimal ODBC client that sends a recorded list of statements, in
// order, over one connection, and fetches and discards every row of every result.

#include <string>
#include <vector>

#include "standin/testing/StatementLogReader.h"

namespace bunkmere::bench {

struct ReplayResult {
  double Seconds = 0;
  std::size_t Statements = 0;
  std::size_t Rows = 0;
};

// AStatements as the stand-in logged them: batches are sent as they are, parameterised
// statements with their "@Pn" markers as "?" and the logged values bound with the logged types.
ReplayResult Replay(const std::string& AConnectionString,
                    const std::vector<standin::testing::LoggedStatement>& AStatements);

}  // namespace bunkmere::bench
