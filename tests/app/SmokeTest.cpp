// The real program under Xvfb against a stand-in holding the sample jail: a person's view.
// The window opens, the start button is pressed from the keyboard, the completion box is
// dismissed, and the server has received the pass's statements.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "standin/testing/StandinServer.h"

extern char** environ;

namespace {

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool OnPath(const char* AProgram) {
  return std::system((std::string("command -v ") + AProgram + " >/dev/null 2>&1").c_str()) == 0;
}

// A child process stopped (SIGTERM, then SIGKILL) when it goes out of scope.
class Child {
 public:
  Child(std::vector<std::string> AArgs, std::vector<std::string> AEnv = {}, int AStdout = -1) {
    std::vector<char*> argv;
    for (auto& a : AArgs) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    for (auto& e : AEnv) env.push_back(e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (AStdout >= 0) posix_spawn_file_actions_adddup2(&actions, AStdout, 3);
    if (posix_spawnp(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() { Stop(); }
  pid_t Pid() const { return FPid; }
  bool Running() {
    if (FPid < 0) return false;
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (FPid < 0) return;
    kill(FPid, SIGTERM);
    for (int i = 0; i < 50 && Running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (FPid >= 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
      FPid = -1;
    }
  }

 private:
  pid_t FPid = -1;
};

// Runs a shell command with DISPLAY set; returns its output without the final line break.
std::string Shell(const std::string& ADisplay, const std::string& ACommand,
                  int* AStatus = nullptr) {
  FILE* p = popen(("DISPLAY=" + ADisplay + " " + ACommand).c_str(), "r");
  std::string out;
  char buf[256];
  while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) out += buf;
  const int status = p != nullptr ? pclose(p) : -1;
  if (AStatus != nullptr) *AStatus = status;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(Smoke, TheProgramSynchronisesTheSampleUnderXvfb) {
  if (!OnPath("Xvfb") || !OnPath("xdotool")) GTEST_SKIP() << "Xvfb or xdotool missing";
  standin::testing::StandinOptions options;
  options.initScript = ReadFile(std::string(BUNKMERE_SAMPLE_DIR) + "/jail.sql");
  standin::testing::StandinServer server(options);

  // Xvfb tells the display it picked through a pipe.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Child xvfb(
      {"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-dpi", "96", "-nolisten", "tcp"},
      {}, fds[1]);
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";
  const std::string display = ":" + number;

  Child program({BUNKMERE_DEMO_EXE},
                {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                 "BUNKMERE_DEMO_SERVER=" + server.Host() + "," + std::to_string(server.Port()) +
                     ";" + server.User() + ";" + server.Password()});
  ASSERT_GT(program.Pid(), 0);

  const std::string window = Shell(
      display, "timeout 20 xdotool search --sync --onlyvisible --name '^Synch Facility Cells'");
  ASSERT_FALSE(window.empty()) << "the main window did not open";
  // The start button holds the focus when the window opens: a space presses it.
  Shell(display, "xdotool windowfocus --sync " + window + " key space");
  const std::string box =
      Shell(display, "timeout 30 xdotool search --sync --onlyvisible --name '^Bunkmere$'");
  ASSERT_FALSE(box.empty()) << "no message box appeared";
  Shell(display, "xdotool windowfocus --sync " + box.substr(0, box.find('\n')) + " key Return");

  std::vector<std::string> counts;
  for (const auto& s : server.Statements())
    if (s.sql.starts_with("SELECT Count(CELLKEY)")) counts.push_back(s.sql);
  EXPECT_EQ(counts.size(), 6u);  // every cell of the sample
  EXPECT_TRUE(program.Running());
}

}  // namespace
