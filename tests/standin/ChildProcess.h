#pragma once
// Runs an outside client (tsql, bsqldb, python3) as a child process with piped stdin and
// stdout+stderr, for the tests that check the stand-in against clients nobody here wrote.

#include <sys/types.h>

#include <string>
#include <vector>

namespace standin::test {

class ChildProcess {
 public:
  // Starts argv[0] (looked up in PATH) with extra environment entries ("NAME=value").
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Write(const std::string& text);
  void CloseInput();
  // Reads output until it contains `marker` (true) or the time runs out / the child exits (false).
  bool ReadUntil(const std::string& marker, int timeoutMs = 10000);
  // Closes stdin, reads everything, waits; returns the exit status (-signal when killed).
  int Finish(int timeoutMs = 20000);
  void Kill();
  const std::string& Output() const { return output_; }

 private:
  bool ReadSome(int timeoutMs);
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string output_;
};

// Runs a command to completion with the given input; returns {exit status, output}.
std::pair<int, std::string> RunProcess(const std::vector<std::string>& argv,
                                       const std::string& input,
                                       const std::vector<std::string>& env = {});

}  // namespace standin::test
