#include "standin/server/Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "standin/server/Connection.h"

namespace standin {
namespace {

// Results of a server-owned fault statement go nowhere; failures are reported on stderr so
// that a test author sees a mistyped exec-after.
class DiscardSink : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>&) override {}
  void Row(std::span<const Value>) override {}
  void StatementDone(bool, std::int64_t, bool) override {}
  void Message(const ServerMessage& m) override {
    if (m.severity > 10)
      std::fprintf(stderr, "sqlstandin: exec-after fault failed: %d %s\n", m.number,
                   m.text.c_str());
  }
  void DatabaseChanged(const std::string&, const std::string&) override {}
};

}  // namespace

bool ServerContext::CheckLogin(const std::string& user, const std::string& password) const {
  for (const auto& [u, p] : options_.logins) {
    bool sameUser = u.size() == user.size() && ContainsNoCase(u, user);
    if (sameUser && p == password) return true;
  }
  return false;
}

void ServerContext::Prepare() {
  const bool wantsTls = options_.encryption != tds::EncryptionMode::NotSupported;
  if (wantsTls && (options_.tlsCertFile.empty() || options_.tlsKeyFile.empty()))
    throw std::runtime_error("encryption needs a certificate and its key");
  if (!options_.tlsCertFile.empty())
    tls_ = std::make_unique<TlsContext>(options_.tlsCertFile, options_.tlsKeyFile);
  if (!options_.sessionLogFile.empty() && !sessions_.Open(options_.sessionLogFile))
    throw std::runtime_error("cannot create the session record " + options_.sessionLogFile);
}

void ServerContext::RunDueFaults(std::int64_t seq, const std::string& database) {
  for (const auto& f : options_.faults.execAfter) {
    if (f.after != seq) continue;
    std::lock_guard lock(backgroundMutex_);
    RunInBackground(f.sql, database, "exec-after");
  }
}

void ServerContext::RunFaultsBefore(std::string_view text, const std::string& database) {
  const auto& faults = options_.faults.execBefore;
  if (faults.empty()) return;
  std::lock_guard lock(backgroundMutex_);
  execBeforeDone_.resize(faults.size());
  for (std::size_t i = 0; i < faults.size(); ++i) {
    if (execBeforeDone_[i] || !ContainsNoCase(text, faults[i].pattern)) continue;
    execBeforeDone_[i] = true;
    RunInBackground(faults[i].sql, database, "exec-before");
  }
}

void ServerContext::RunInBackground(const std::string& sql, const std::string& database,
                                    const char* fault) {
  try {
    auto& session = background_[database];
    if (!session) session = engine_.OpenSession(NextSpid(), database);
    DiscardSink sink;
    session->Execute(sql, {}, sink);
  } catch (const ServerError& e) {
    std::fprintf(stderr, "sqlstandin: %s fault failed: %s\n", fault, e.message.text.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sqlstandin: %s fault failed: %s\n", fault, e.what());
  }
}

Server::Server(Engine& engine, ServerOptions options, StatementLog* log)
    : context_(engine, std::move(options), log) {}

Server::~Server() {
  Stop();
  Reap(true);
  if (listenFd_ >= 0) ::close(listenFd_);
}

int Server::Listen() {
  context_.Prepare();
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(context_.Options().port));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1:" +
                             std::to_string(context_.Options().port) + ": " + std::strerror(errno));
  if (::listen(listenFd_, 128) != 0)
    throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

void Server::Serve() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    int r = ::poll(&p, 1, 500);
    if (stopping_) break;
    if (r <= 0) {
      Reap(false);
      continue;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Reap(false);
    auto worker = std::make_unique<Worker>();
    worker->fd = fd;
    Worker* w = worker.get();
    std::lock_guard lock(workersMutex_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    workers_.push_back(std::move(worker));
    w->thread = std::thread([this, w] {
      {
        Connection conn(w->fd, context_.NextSpid(), context_, stopping_);
        conn.Run();
      }
      w->done = true;
    });
  }
  Reap(true);
}

void Server::Stop() {
  stopping_ = true;
  // Wakes the accept loop at once (Linux ends a pending poll/accept on a listening socket).
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  std::lock_guard lock(workersMutex_);
  for (auto& w : workers_)
    if (!w->done) ::shutdown(w->fd, SHUT_RDWR);
}

int Server::SessionCount() {
  std::lock_guard lock(workersMutex_);
  int n = 0;
  for (auto& w : workers_) n += !w->done;
  return n;
}

void Server::Reap(bool all) {
  std::list<std::unique_ptr<Worker>> finished;
  {
    std::lock_guard lock(workersMutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& w : finished) {
    // Reaping them all happens only when stopping; Stop() may have looked at the list after
    // these workers left it, so wake any that still waits on its client here.
    if (all && !w->done) ::shutdown(w->fd, SHUT_RDWR);
    if (w->thread.joinable()) w->thread.join();
    ::close(w->fd);
  }
}

}  // namespace standin
