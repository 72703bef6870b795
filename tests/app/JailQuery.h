#pragma once
// Another workstation on a stand-in's JAIL database: a connection of the test's own, with the
// server's SQL login, to read back what a pass left or to act as another program of the
// family while a pass runs.

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/MSConnection.h"
#include "standin/testing/StandinServer.h"

namespace bunkmere::testing {

// Set up for AServer's JAIL database; it connects on first use.
std::unique_ptr<TMSConnection> JailConnection(const standin::testing::StandinServer& AServer);

// Rows of ASql on AServer's JAIL database, each column as text ("NULL" for NULL), columns
// joined by "|".
std::vector<std::string> QueryJail(const standin::testing::StandinServer& AServer,
                                   const std::string& ASql);

}  // namespace bunkmere::testing
