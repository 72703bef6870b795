#pragma once
// What a stand-in received, one entry per statement, in a form a test can set down: the text
// without the line break a query adds after its one line, the object id a lock's release names
// shown as "<id>" (which number the server gave the table is its own business; the lock tests
// check that it is the table's), then " <-" and each bound value ("NULL" for NULL).

#include <string>
#include <vector>

#include "standin/testing/StandinServer.h"

namespace bunkmere::testing {

std::vector<std::string> ReceivedStatements(const standin::testing::StandinServer& AServer);

// The same, comparable between two workstations: the values of a holder row (computer, user,
// program, time) are each workstation's own and are left out.
std::vector<std::string> ComparableStatements(const standin::testing::StandinServer& AServer);

}  // namespace bunkmere::testing
