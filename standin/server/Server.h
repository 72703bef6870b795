#pragma once
// The listening server: accepts on 127.0.0.1, runs every session on its own thread, and stops
// cleanly: Stop() closes the listener and shuts every session's socket, whose threads then
// destroy their engine sessions (dropping their ## tables) and end.

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "standin/Engine.h"
#include "standin/server/Faults.h"
#include "standin/server/SessionLog.h"
#include "standin/server/StatementLog.h"
#include "standin/server/TlsContext.h"
#include "standin/tds/Prelogin.h"

namespace standin {

struct ServerOptions {
  int port = 0;  // 0: the system picks a free port
  std::vector<std::pair<std::string, std::string>> logins{{"sa", "Standin#1"}};
  FaultConfig faults;
  std::string serverName = "sqlstandin";
  std::size_t maxMessageBytes = 64u << 20;
  int midMessageTimeoutMs = 30000;  // a peer that stops inside a message is cut off
  // Encryption as SQL Server's settings give it; every mode but NotSupported needs the
  // certificate and its key (PEM files).
  tds::EncryptionMode encryption = tds::EncryptionMode::NotSupported;
  std::string tlsCertFile, tlsKeyFile;
  std::string sessionLogFile;  // empty: no session record
  bool stepLog = false;        // the statement log gets a line for every statement's step
};

// What every session shares.
class ServerContext {
 public:
  ServerContext(Engine& engine, ServerOptions options, StatementLog* log)
      : engine_(engine), options_(std::move(options)), log_(log) {}
  // Loads the certificate and opens the session record; throws std::runtime_error saying which
  // file failed.
  void Prepare();

  Engine& GetEngine() { return engine_; }
  const ServerOptions& Options() const { return options_; }
  StatementLog* Log() { return log_; }
  std::int64_t NextStatement() { return ++statements_; }
  // Steps number the statements within the requests of every session, from 1.
  std::int64_t NextStep() { return ++steps_; }
  bool CheckLogin(const std::string& user, const std::string& password) const;
  // Runs the exec-after faults due after statement `seq`, in a server-owned session.
  void RunDueFaults(std::int64_t seq, const std::string& database);
  // Runs each exec-before fault whose pattern ATEXT contains, the first time it does.
  void RunFaultsBefore(std::string_view text, const std::string& database);
  int NextSpid() { return nextSpid_++; }
  // Null when the server has no certificate.
  const TlsContext* Tls() const { return tls_.get(); }
  void RecordSession(const SessionRecord& record) { sessions_.Write(record); }

 private:
  Engine& engine_;
  ServerOptions options_;
  StatementLog* log_;
  std::atomic<std::int64_t> statements_{0};
  std::atomic<std::int64_t> steps_{0};
  std::atomic<int> nextSpid_{51};
  // Runs ASql in the server-owned session of ADatabase.
  void RunInBackground(const std::string& sql, const std::string& database, const char* fault);
  std::mutex backgroundMutex_;
  std::vector<bool> execBeforeDone_;  // under backgroundMutex_
  std::map<std::string, std::unique_ptr<Session>> background_;
  std::unique_ptr<TlsContext> tls_;
  SessionLog sessions_;
};

class Server {
 public:
  Server(Engine& engine, ServerOptions options, StatementLog* log = nullptr);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds 127.0.0.1 and listens; returns the port. Throws std::runtime_error on failure.
  int Listen();
  // Accepts until Stop(); returns once every session thread has ended.
  void Serve();
  // Safe from any thread (not from a signal handler).
  void Stop();
  int SessionCount();

 private:
  struct Worker {
    std::thread thread;
    int fd = -1;
    std::atomic<bool> done{false};
  };
  void Reap(bool all);

  ServerContext context_;
  int listenFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex workersMutex_;
  std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace standin
