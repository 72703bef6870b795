#pragma once
// What ends the program before its window shows, set up once and run through both ways the
// program starts: a person's start under a display, and an unattended "--sync". Each case
// builds its own server and site folder; both ways must end with status 1 and the failure's
// class and message on standard error.

#include <memory>
#include <string>
#include <vector>

#include "standin/testing/StandinServer.h"
#include "tests/ClosedPort.h"
#include "tests/SilentPort.h"
#include "tests/app/SiteFolder.h"

namespace bunkmere::testing {

// One case's world: the server (a JAIL database holding what the case says), a port that
// answers nothing where the case needs one, and the site folder the program starts from.
struct TStartUpSite {
  std::unique_ptr<standin::testing::StandinServer> Server;
  std::unique_ptr<TSilentPort> Silent;
  std::unique_ptr<TClosedPort> Closed;  // a port held shut, for a server that refuses
  std::unique_ptr<TSiteFolder> Site;
  std::string Message;  // the message's start when it names this world's port; else the case's
};

struct TStartUpFailure {
  const char* What;
  const char* Class;    // the failure's class
  const char* Message;  // the start of its message
  TStartUpSite (*Make)();
};

const std::vector<TStartUpFailure>& StartUpFailures();

// Checks AStderr against the failure's report: "Application Error: Exception <class> in module
// Bunkmere at <address>.\n\n<message>". Gives the address ("" when the text does not fit).
std::string ExpectApplicationError(const std::string& AStderr, const TStartUpFailure& AFailure,
                                   const TStartUpSite& ASite);

}  // namespace bunkmere::testing
