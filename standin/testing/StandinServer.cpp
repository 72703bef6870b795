#include "standin/testing/StandinServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "standin/testing/TestCertificates.h"

extern char** environ;

namespace standin::testing {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

bool StandinServer::Available() {
  return BinaryPath()[0] != '\0';
}
const char* StandinServer::BinaryPath() {
  return STANDIN_BINARY;
}

StandinServer::StandinServer(StandinOptions options) : options_(std::move(options)) {
  if (!Available()) throw std::runtime_error("sqlstandin is not part of this build");
  std::string tmpl = (std::filesystem::temp_directory_path() / "standin-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary data folder");
  dataDir_ = tmpl;
  logPath_ = dataDir_ + "/statements.log";
  sessionPath_ = dataDir_ + "/sessions.log";
  try {
    Spawn(0, true);
  } catch (...) {
    std::filesystem::remove_all(dataDir_);
    throw;
  }
}

void StandinServer::Restart() {
  Stop();
  Spawn(port_, false);
}

void StandinServer::Spawn(int APort, bool AFirstStart) {
  std::string errPath = dataDir_ + "/stderr.txt";
  std::vector<std::string> args = {
      BinaryPath(),    "--port",           std::to_string(APort),
      "--data",        dataDir_ + "/data", "--log",
      logPath_,        "--login",          options_.user + ":" + options_.password,
      "--session-log", sessionPath_,       "--encrypt",
      options_.encrypt};
  if (options_.encrypt != "notsup") {
    const auto& certs = TestCertificates::Shared();
    using C = StandinOptions::Certificate;
    const CertificateFiles& files = options_.certificate == C::SelfSigned  ? certs.SelfSigned()
                                    : options_.certificate == C::OtherName ? certs.OtherName()
                                                                           : certs.Server();
    args.insert(args.end(), {"--tls-cert", files.cert, "--tls-key", files.key});
  }
  if (AFirstStart && !options_.initScript.empty()) {
    std::string init = dataDir_ + "/init.sql";
    std::ofstream(init, std::ios::binary) << options_.initScript;
    args.insert(args.end(), {"--init", init});
  }
  if (AFirstStart)
    for (const auto& f : options_.faults) args.insert(args.end(), {"--fault", f});
  if (options_.stepLog) args.push_back("--step-log");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    pid_ = -1;
    throw std::runtime_error(std::string("cannot start sqlstandin: ") + std::strerror(rc));
  }
  // The first line of stdout is the port; anything else (exit, timeout) is a failed start.
  std::string line;
  char c;
  while (line.size() < 16) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, options_.startTimeoutMs) <= 0) break;
    if (::read(out[0], &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  ::close(out[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    Kill();
    throw std::runtime_error("sqlstandin did not start: " + ReadFile(errPath));
  }
}

StandinServer::~StandinServer() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dataDir_, ec);
}

std::string StandinServer::OdbcConnectionString(const std::string& database) const {
  return "Driver=FreeTDS;Server=" + host_ + ";Port=" + std::to_string(port_) +
         ";UID=" + options_.user + ";PWD=" + options_.password + ";Database=" + database +
         ";TDS_Version=7.4;ClientCharset=UTF-8";
}

std::vector<LoggedStatement> StandinServer::Statements() const {
  return ParseStatementLog(ReadFile(logPath_));
}

std::vector<LoggedSession> StandinServer::Sessions() const {
  return ParseSessionLog(ReadFile(sessionPath_));
}

std::string StandinServer::CaFile() {
  return TestCertificates::Shared().CaFile();
}

int StandinServer::Wait() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

int StandinServer::Stop() {
  if (pid_ <= 0) return 0;
  ::kill(pid_, SIGTERM);
  return Wait();
}

int StandinServer::Kill() {
  if (pid_ <= 0) return 0;
  ::kill(pid_, SIGKILL);
  return Wait();
}

}  // namespace standin::testing
