// sqlstandin: a SQL Server stand-in (TDS on SQLite) for tests and the demo.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "standin/Engine.h"
#include "standin/server/Options.h"
#include "standin/server/Server.h"
#include "standin/server/StatementLog.h"

int main(int argc, char** argv) {
  using namespace standin;
  CommandLine cl;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (auto err = ParseCommandLine(args, cl); !err.empty()) {
    // One line naming what was wrong; the usage is a --help away, not repeated on every typo.
    std::fprintf(stderr, "sqlstandin: %s\nsee --help\n", err.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }

  // Every thread inherits this mask, so SIGTERM/SIGINT reach only the waiting thread below;
  // a client that vanishes must not kill the server with SIGPIPE.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::error_code ec;
  std::filesystem::create_directories(cl.dataDir, ec);
  if (ec) {
    std::fprintf(stderr, "sqlstandin: cannot create data folder %s: %s\n", cl.dataDir.c_str(),
                 ec.message().c_str());
    return 1;
  }
  std::unique_ptr<Engine> engine;
  try {
    engine = Engine::Create({cl.dataDir});
    if (!cl.initFile.empty()) {
      std::ifstream in(cl.initFile, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "sqlstandin: cannot read init script %s\n", cl.initFile.c_str());
        return 1;
      }
      std::stringstream script;
      script << in.rdbuf();
      engine->RunScript(script.str());
    }
  } catch (const ServerError& e) {
    std::fprintf(stderr,
                 "sqlstandin: init script failed: Msg %d, Level %d, State %d, Line %d\n%s\n",
                 e.message.number, e.message.severity, e.message.state, e.message.line,
                 e.message.text.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sqlstandin: %s\n", e.what());
    return 1;
  }

  StatementLog log;
  if (!cl.logFile.empty() && !log.Open(cl.logFile)) {
    std::fprintf(stderr, "sqlstandin: cannot create log %s\n", cl.logFile.c_str());
    return 1;
  }
  Server server(*engine, cl.server, cl.logFile.empty() ? nullptr : &log);
  int port;
  try {
    port = server.Listen();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sqlstandin: %s\n", e.what());
    return 1;
  }
  std::printf("%d\n", port);
  std::fflush(stdout);

  std::thread waiter([&] {
    int sig;
    sigwait(&stopSignals, &sig);
    server.Stop();
  });
  server.Serve();
  waiter.join();
  return 0;
}
