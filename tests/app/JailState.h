#pragma once
// What a pass leaves on the server, read over a connection of the test's own: the housing rows
// it writes and the record-lock tables of those rows that still exist.

#include <map>
#include <string>
#include <vector>

#include "standin/testing/StandinServer.h"

namespace bunkmere::testing {

// Rows of ASql on AServer's JAIL database, each column as text ("NULL" for NULL), columns
// joined by "|".
std::vector<std::string> QueryJail(const standin::testing::StandinServer& AServer,
                                   const std::string& ASql);

// Every CFGCELL and CFGBED row, whole, by table and UniqueKey ("CFGCELL.3").
using THousing = std::map<std::string, std::string>;
THousing ReadHousing(const standin::testing::StandinServer& AServer);

// The lock tables of CFGCELL and CFGBED rows that exist on the server, by name.
std::vector<std::string> LockTablesLeft(const standin::testing::StandinServer& AServer);

}  // namespace bunkmere::testing
