#pragma once
// The one way the tests start another program: an outside client (tsql, bsqldb, python3,
// node), a second Bunkmere, the shipped program itself. Its standard input is a pipe (or
// nothing), its output is caught; every wait has a time-out, and a child still running when
// its object goes is killed.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace bunkmere::testing {

struct ChildOptions {
  std::vector<std::string> Env;      // entries added to ours ("NAME=value")
  std::vector<std::string> Unset;    // names taken out of ours ("DISPLAY")
  std::filesystem::path Folder;      // its working folder; ours when empty
  bool NoInput = false;              // standard input from /dev/null instead of a pipe
  bool SeparateErrors = false;       // standard error caught apart (Errors) instead of with Output
  std::filesystem::path ErrorsFile;  // standard error written to this file instead of caught
  int Descriptor3 = -1;              // handed to the child as its descriptor 3
};

class ChildProcess {
 public:
  // Starts argv[0] (looked up in PATH); throws std::runtime_error when it cannot.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& env = {});
  ChildProcess(const std::vector<std::string>& argv, const ChildOptions& AOptions);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  void Write(const std::string& text);
  void CloseInput();
  // Reads output until it contains `marker` (true) or the time runs out / the child exits (false).
  bool ReadUntil(const std::string& marker, int timeoutMs = 10000);
  // Closes stdin, reads everything, waits; returns the exit status (-signal when killed). A
  // child still running after timeoutMs is killed: -SIGKILL.
  int Finish(int timeoutMs = 20000);
  // Whether it still runs; an ended child's status is kept for Finish.
  bool Running();
  void Signal(int ASignal) const;
  // Asks it to end (SIGTERM), as a session's end does, and kills it when it has not within
  // AGraceMs.
  void Stop(int AGraceMs = 1000);
  void Kill();
  const std::string& Output() const { return output_; }
  const std::string& Errors() const { return errors_; }

 private:
  void Start(const std::vector<std::string>& argv, const ChildOptions& AOptions);
  // Waits up to timeoutMs for output on either pipe and takes what came; false when nothing
  // came in time or both pipes are at their end.
  bool ReadSome(int timeoutMs);
  // Finish's status of a child already ended.
  int Status() const;
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string output_, errors_;
};

// Runs a command to completion with the given input; returns {exit status, output}.
std::pair<int, std::string> RunProcess(const std::vector<std::string>& argv,
                                       const std::string& input,
                                       const std::vector<std::string>& env = {});

}  // namespace bunkmere::testing
