// The protocol side with the fake engine as a process, so that outside clients (tsql, bsqldb,
// pytds, the ODBC driver) can be pointed at it without the SQL engine. Same command line as
// sqlstandin for --port, --log, --login and --fault.

#include <signal.h>

#include <cstdio>
#include <thread>

#include "standin/server/Options.h"
#include "tests/standin/FakeEngine.h"

int main(int argc, char** argv) {
  using namespace standin;
  CommandLine cl;
  std::vector<std::string> args(argv + 1, argv + argc);
  args.insert(args.end(), {"--data", "unused"});
  if (auto err = ParseCommandLine(args, cl); !err.empty()) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  test::FakeEngine engine;
  StatementLog log;
  if (!cl.logFile.empty()) log.Open(cl.logFile);
  Server server(engine, cl.server, cl.logFile.empty() ? nullptr : &log);
  std::printf("%d\n", server.Listen());
  std::fflush(stdout);
  std::thread waiter([&] {
    int sig;
    sigwait(&stop, &sig);
    server.Stop();
  });
  server.Serve();
  waiter.join();
}
