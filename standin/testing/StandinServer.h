#pragma once
// Starts a private sqlstandin for one test: a fresh data folder, an init script, a free port,
// optional faults; stops it (and removes the folder) in the destructor. Startup takes a few
// milliseconds, so every database test can have its own server.
//
//   standin::testing::StandinServer server("CREATE DATABASE JAIL");
//   connect(server.OdbcConnectionString("JAIL"));
//   ... server.Statements() ...

#include <sys/types.h>

#include <string>
#include <vector>

#include "standin/testing/StatementLogReader.h"

namespace standin::testing {

struct StandinOptions {
  std::string initScript;           // T-SQL run before the server listens (GO separates batches)
  std::vector<std::string> faults;  // --fault specs, e.g. "drop-after:3"
  bool stepLog = false;             // --step-log: Statements() also holds each statement's step
  std::string user = "sa";
  std::string password = "Standin#1";
  int startTimeoutMs = 20000;  // for the init script and the listen; big benchmark data needs more
  // sqlstandin's --encrypt mode. Tests run over TLS unless they say otherwise: "off" encrypts the
  // login, so no password of a test crosses in the clear.
  std::string encrypt = "off";
  // Which test certificate the server presents (TestCertificates): issued by the test CA for
  // localhost and 127.0.0.1, self-signed, or issued for another name.
  enum class Certificate { Server, SelfSigned, OtherName } certificate = Certificate::Server;
};

class StandinServer {
 public:
  // Throws std::runtime_error (with the server's stderr) when it does not come up.
  explicit StandinServer(StandinOptions options);
  explicit StandinServer(const std::string& initScript = "", std::vector<std::string> faults = {})
      : StandinServer(Options(initScript, std::move(faults))) {}
  ~StandinServer();
  StandinServer(const StandinServer&) = delete;
  StandinServer& operator=(const StandinServer&) = delete;

  // True when the build has the sqlstandin executable.
  static bool Available();
  static const char* BinaryPath();

  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  const std::string& User() const { return options_.user; }
  const std::string& Password() const { return options_.password; }
  const std::string& DataDir() const { return dataDir_; }
  pid_t Pid() const { return pid_; }
  // For unixODBC with the FreeTDS driver.
  std::string OdbcConnectionString(const std::string& database = "master") const;

  // Every statement the server has received so far, in order.
  std::vector<LoggedStatement> Statements() const;
  // Every session that reached LOGIN7 or was turned away, in order: what travelled encrypted.
  std::vector<LoggedSession> Sessions() const;
  // The test CA that issued the server's certificate (when it is not self-signed).
  static std::string CaFile();
  // SIGTERM and wait (clean stop); Kill: SIGKILL and wait. Both return the exit status
  // (-signal when killed; 0 when already stopped) and may be called again.
  int Stop();
  int Kill();
  // Starts the stopped server again on the same port and data folder, as a site's server comes
  // back after a restart: the init script and the faults do not apply again, and the statement
  // log starts over.
  // Throws std::runtime_error when it does not come up.
  void Restart();

 private:
  static StandinOptions Options(const std::string& initScript, std::vector<std::string> faults) {
    StandinOptions o;
    o.initScript = initScript;
    o.faults = std::move(faults);
    return o;
  }
  int Wait();
  // Spawns sqlstandin on APort (0: a free one) and reads the port it listens on; the init
  // script and the faults go only to the first start.
  void Spawn(int APort, bool AFirstStart);

  StandinOptions options_;
  std::string host_ = "127.0.0.1";
  std::string dataDir_;
  std::string logPath_;
  std::string sessionPath_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace standin::testing
