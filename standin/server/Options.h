#pragma once
// sqlstandin's command line.

#include <string>
#include <vector>

#include "standin/server/Server.h"

namespace standin {

struct CommandLine {
  ServerOptions server;
  std::string dataDir;
  std::string initFile;
  std::string logFile;
  bool help = false;
};

// Returns an error text, empty on success.
std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& out);
const char* UsageText();

}  // namespace standin
