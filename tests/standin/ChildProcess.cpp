#include "tests/standin/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace standin::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  std::vector<std::string> args = argv, envs;
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  envs.insert(envs.end(), env.begin(), env.end());
  std::vector<char*> a, e;
  for (auto& s : args) a.push_back(s.data());
  a.push_back(nullptr);
  for (auto& s : envs) e.push_back(s.data());
  e.push_back(nullptr);
  int rc = ::posix_spawnp(&pid_, a[0], &actions, nullptr, a.data(), e.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  in_ = in[1];
  out_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
}

void ChildProcess::Write(const std::string& text) {
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::write(in_, text.data() + off, text.size() - off);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

bool ChildProcess::ReadSome(int timeoutMs) {
  pollfd p{out_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return false;
  char buf[8192];
  ssize_t n = ::read(out_, buf, sizeof buf);
  if (n <= 0) return false;
  output_.append(buf, static_cast<std::size_t>(n));
  return true;
}

bool ChildProcess::ReadUntil(const std::string& marker, int timeoutMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output_.find(marker) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
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
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
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

}  // namespace standin::test
