#include "tests/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace bunkmere::testing {

namespace {

void ClosePipe(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env) {
  ChildOptions options;
  options.Env = env;
  Start(argv, options);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& AOptions) {
  Start(argv, AOptions);
}

void ChildProcess::Start(const std::vector<std::string>& argv, const ChildOptions& AOptions) {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if ((!AOptions.NoInput && ::pipe2(in, O_CLOEXEC) != 0) || ::pipe2(out, O_CLOEXEC) != 0 ||
      (AOptions.SeparateErrors && ::pipe2(err, O_CLOEXEC) != 0))
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (AOptions.NoInput)
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (!AOptions.ErrorsFile.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, AOptions.ErrorsFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  else
    posix_spawn_file_actions_adddup2(&actions, AOptions.SeparateErrors ? err[1] : out[1],
                                     STDERR_FILENO);
  if (AOptions.Descriptor3 >= 0)
    posix_spawn_file_actions_adddup2(&actions, AOptions.Descriptor3, 3);
  if (!AOptions.Folder.empty())
    posix_spawn_file_actions_addchdir_np(&actions, AOptions.Folder.c_str());
  std::vector<std::string> args = argv, envs;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (std::find(AOptions.Unset.begin(), AOptions.Unset.end(), name) == AOptions.Unset.end())
      envs.push_back(entry);
  }
  envs.insert(envs.end(), AOptions.Env.begin(), AOptions.Env.end());
  std::vector<char*> a, e;
  for (auto& s : args) a.push_back(s.data());
  a.push_back(nullptr);
  for (auto& s : envs) e.push_back(s.data());
  e.push_back(nullptr);
  int rc = ::posix_spawnp(&pid_, a[0], &actions, nullptr, a.data(), e.data());
  posix_spawn_file_actions_destroy(&actions);
  ClosePipe(in[0]);
  ClosePipe(out[1]);
  ClosePipe(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  ClosePipe(in_);
  ClosePipe(out_);
  ClosePipe(err_);
}

void ChildProcess::Write(const std::string& text) {
  std::size_t off = 0;
  while (in_ >= 0 && off < text.size()) {
    ssize_t n = ::write(in_, text.data() + off, text.size() - off);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

void ChildProcess::CloseInput() {
  ClosePipe(in_);
}

bool ChildProcess::ReadSome(int timeoutMs) {
  pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  if (out_ < 0 && err_ < 0) return false;
  if (::poll(p, 2, timeoutMs) <= 0) return false;
  bool got = false;
  for (int i = 0; i < 2; ++i) {
    if (p[i].fd < 0 || p[i].revents == 0) continue;
    char buf[8192];
    ssize_t n = ::read(p[i].fd, buf, sizeof buf);
    if (n <= 0) {
      ClosePipe(i == 0 ? out_ : err_);
      continue;
    }
    (i == 0 ? output_ : errors_).append(buf, static_cast<std::size_t>(n));
    got = true;
  }
  return got || out_ >= 0 || err_ >= 0;
}

bool ChildProcess::ReadUntil(const std::string& marker, int timeoutMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output_.find(marker) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0 || !ReadSome(static_cast<int>(left.count()))) return false;
  }
  return true;
}

int ChildProcess::Finish(int timeoutMs) {
  CloseInput();
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      Kill();
      return -SIGKILL;
    }
    if (!ReadSome(static_cast<int>(left.count()))) break;
  }
  // Both pipes are at their end; a child that closed them and lives on is given the time left.
  while (Running()) {
    if (std::chrono::steady_clock::now() >= until) {
      Kill();
      return -SIGKILL;
    }
    ::poll(nullptr, 0, 10);
  }
  return Status();
}

int ChildProcess::Status() const {
  if (!ended_) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t done;
  while ((done = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done == 0) return true;
  if (done == pid_) {
    ended_ = true;
    status_ = status;
  }
  pid_ = -1;
  return false;
}

void ChildProcess::Stop(int AGraceMs) {
  if (!Running()) return;
  Signal(SIGTERM);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AGraceMs);
  while (Running() && std::chrono::steady_clock::now() < until) ::poll(nullptr, 0, 10);
  Kill();
}

void ChildProcess::Signal(int ASignal) const {
  if (pid_ > 0) ::kill(pid_, ASignal);
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  ended_ = true;
  status_ = status;
  pid_ = -1;
}

std::pair<int, std::string> RunProcess(const std::vector<std::string>& argv,
                                       const std::string& input,
                                       const std::vector<std::string>& env) {
  ChildProcess p(argv, env);
  p.Write(input);
  int status = p.Finish();
  return {status, p.Output()};
}

}  // namespace bunkmere::testing
