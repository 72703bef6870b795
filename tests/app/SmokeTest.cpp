// The shipped program under Xvfb, started the way a site starts it: from a folder holding the
// site folder, with no argument and no environment of its own. A person's view: windows found
// and keys pressed with xdotool, the server's rows read back afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"
#include "tests/ClosedPort.h"
#include "tests/SilentPort.h"
#include "tests/app/JailQuery.h"
#include "tests/app/SiteFolder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using bunkmere::testing::SiteConnectString;
using bunkmere::testing::TClosedPort;
using bunkmere::testing::TSilentPort;
using bunkmere::testing::TSiteFolder;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool OnPath(const char* AProgram) {
  return std::system((std::string("command -v ") + AProgram + " >/dev/null 2>&1").c_str()) == 0;
}

// A child process, started in AFolder with AEnv added to ours and, when given, its standard
// error sent to AStderr; stopped (SIGTERM, then SIGKILL) when it goes out of scope.
class Child {
 public:
  Child(std::vector<std::string> AArgs, std::vector<std::string> AEnv = {},
        const fs::path& AFolder = {}, const fs::path& AStderr = {}, int AFd3 = -1) {
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
    if (AFd3 >= 0) posix_spawn_file_actions_adddup2(&actions, AFd3, 3);
    if (!AFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, AFolder.c_str());
    if (!AStderr.empty())
      posix_spawn_file_actions_addopen(&actions, 2, AStderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
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
      FStatus = status;
      return false;
    }
    return true;
  }
  // The exit code once the child has ended by itself within ASeconds; -1 otherwise.
  int ExitCode(int ASeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(ASeconds);
    while (Running() && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return FPid < 0 && WIFEXITED(FStatus) ? WEXITSTATUS(FStatus) : -1;
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
  int FStatus = 0;
};

// Runs a shell command; returns its output without the final line break.
std::string Shell(const std::string& ACommand) {
  FILE* p = popen(ACommand.c_str(), "r");
  std::string out;
  char buf[256];
  while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) out += buf;
  if (p != nullptr) pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// One virtual display for the whole suite.
class Program : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"Xvfb", "xdotool"})
      if (!OnPath(tool)) {
        FNoDisplay = std::string(tool) + " is not installed (scripts/setup installs it)";
        return;
      }
    int fds[2];
    if (pipe(fds) != 0) {
      FNoDisplay = "no pipe for Xvfb's display number";
      return;
    }
    FXvfb = new Child({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-dpi", "96",
                       "-nolisten", "tcp"},
                      {}, {}, {}, fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty())
      FDisplay = ":" + number;
    else
      FNoDisplay = "Xvfb did not start (it gave no display number)";
    FRuntime = fs::temp_directory_path() / ("bunkmere-xdg-" + std::to_string(getpid()));
    fs::create_directories(FRuntime);
    fs::permissions(FRuntime, fs::perms::owner_all);
  }
  static void TearDownTestSuite() {
    delete FXvfb;
    FXvfb = nullptr;
    std::error_code ignored;
    fs::remove_all(FRuntime, ignored);
  }
  void SetUp() override {
    if (FDisplay.empty()) BUNKMERE_CANNOT_RUN(FNoDisplay);
  }

  // The program started from AFolder, as a person starts it from a desktop session.
  static std::unique_ptr<Child> Start(const fs::path& AFolder, const fs::path& AStderr) {
    return std::make_unique<Child>(
        std::vector<std::string>{BUNKMERE_EXE},
        std::vector<std::string>{"DISPLAY=" + FDisplay, "QT_QPA_PLATFORM=xcb",
                                 "XDG_RUNTIME_DIR=" + FRuntime.string()},
        AFolder, AStderr);
  }
  static std::string X(const std::string& ACommand) {
    return Shell("DISPLAY=" + FDisplay + " " + ACommand);
  }
  // The first visible window whose name matches APattern, waiting up to ASeconds.
  static std::string WaitWindow(const std::string& APattern, int ASeconds = 20) {
    const std::string ids = X("timeout " + std::to_string(ASeconds) +
                              " xdotool search --sync --onlyvisible --name '" + APattern + "'");
    return ids.substr(0, ids.find('\n'));
  }
  // A visible window matching APattern other than AOld, waiting up to ASeconds.
  static std::string WaitNewWindow(const std::string& APattern, const std::string& AOld,
                                   int ASeconds = 20) {
    const auto deadline = Clock::now() + std::chrono::seconds(ASeconds);
    while (Clock::now() < deadline) {
      std::istringstream ids(X("xdotool search --onlyvisible --name '" + APattern + "'"));
      for (std::string id; std::getline(ids, id);)
        if (!id.empty() && id != AOld) return id;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
  }
  static void Keys(const std::string& AWindow, const std::string& AKeys) {
    X("xdotool windowfocus --sync " + AWindow + " key " + AKeys);
  }

  static Child* FXvfb;
  static std::string FDisplay;
  static std::string FNoDisplay;  // why there is no display
  static fs::path FRuntime;
};
Child* Program::FXvfb = nullptr;
std::string Program::FDisplay;
std::string Program::FNoDisplay;
fs::path Program::FRuntime;

const char* const kMainWindow = "^Synch Facility Cells";

TEST_F(Program, SynchronisesTheSampleFoundThroughItsSiteFolderAndSavesTheLog) {
  standin::testing::StandinServer server(ReadFile(BUNKMERE_SAMPLE_DIR "/jail.sql"));
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  const fs::path err = site.Path() / "stderr.txt";
  auto program = Start(site.Path(), err);

  const std::string window = WaitWindow(kMainWindow);
  ASSERT_FALSE(window.empty()) << "the main window did not open: " << ReadFile(err);
  // The start button holds the focus when the window opens: a space presses it.
  Keys(window, "space");
  const std::string box = WaitWindow("^Bunkmere$", 60);
  ASSERT_FALSE(box.empty()) << "no message box appeared";
  Keys(box, "Return");
  // Tab twice (log box, Save Log) and press Save Log; the file is named after the time.
  Keys(window, "Tab Tab space");
  fs::path log;
  for (const auto deadline = Clock::now() + std::chrono::seconds(10);
       log.empty() && Clock::now() < deadline;
       std::this_thread::sleep_for(std::chrono::milliseconds(20)))
    for (const auto& entry : fs::directory_iterator(site.Path()))
      if (entry.path().extension() == ".log" && entry.path().stem().string().size() == 8)
        log = entry.path();
  ASSERT_FALSE(log.empty()) << "Save Log wrote no file";
  EXPECT_TRUE(program->Running());

  // The pass looked the program's string up twice (at start-up and before connecting),
  // wrote every cell and bed of the sample, and saved the conflicts it found.
  int lookups = 0;
  for (const auto& s : server.Statements())
    if (s.sql.find("FROM ConnectLib") != std::string::npos) ++lookups;
  EXPECT_EQ(lookups, 2);
  EXPECT_EQ(bunkmere::testing::QueryJail(
                server, "SELECT CELLKEY, ONCELL, ALLOW FROM CFGCELL ORDER BY CELLKEY"),
            (std::vector<std::string>{"101|1|2", "102|2|0", "103|0|1", "201|3|NULL", "202|0|4",
                                      "301|1|2"}));
  const std::string saved = ReadFile(log);
  EXPECT_TRUE(saved.starts_with(
      "Facility :Main Jail DormCode : A CellNo : A-103 Allow 1 but 2 are assign to it\r\n"))
      << saved;
  EXPECT_EQ(ReadFile(err), "") << "a correct set-up prints nothing";
}

// What ends the program before its window shows. Each case: the site, the server's database,
// the failure's class and the start of its message.
TEST_F(Program, StartUpFailuresShowTheApplicationErrorBoxAndExitWithOne) {
  const std::string library = bunkmere::testing::kProgramLibrary;
  struct Case {
    const char* What;
    enum { NoFile, NoConnStr, Good, Unreachable, Silent, NoSuchHost, WrongPassword } Site;
    std::string Database;  // after CREATE DATABASE JAIL / USE JAIL
    const char* Class;
    const char* Message;
  } cases[] = {
      {"no site file", Case::NoFile, library, "EIniFileException", "Veltrane.ini not found."},
      {"a site file without ConnStr", Case::NoConnStr, library, "EIniFileException",
       "Database connection information not found in Veltrane.Cfg/Veltrane.ini "
       "(DataProvider.ConnStr)"},
      {"the server unreachable", Case::Unreachable, library, "EDatabaseError",
       "Cannot connect to SQL Server {closed} (database JAIL): the server did not answer "
       "(connection refused)"},
      {"the server silent", Case::Silent, library, "EDatabaseError",
       "Cannot connect to SQL Server 127.0.0.1,"},
      {"no such server", Case::NoSuchHost, library, "EDatabaseError",
       "Cannot connect to SQL Server no-such-host.invalid,1433 (database JAIL): the server's name "
       "is not known (no such host)"},
      {"the login refused", Case::WrongPassword, library, "EDatabaseError",
       "Login failed for user 'sa'."},
      {"no ConnectLib table", Case::Good, "CREATE TABLE Other (x INT)\n", "EDatabaseError",
       "Invalid object name 'ConnectLib'."},
      {"ConnectLib without UseInitial", Case::Good,
       "CREATE TABLE ConnectLib (ProgramID VARCHAR(20), ConnString VARCHAR(255))\n",
       "EDatabaseError", "Invalid column name 'UseInitial'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    standin::testing::StandinServer server("CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n" + c.Database);
    std::string connStr = SiteConnectString(server);
    std::string message = c.Message;
    std::optional<TClosedPort> closed;
    if (c.Site == Case::Unreachable) {
      closed.emplace();
      connStr = "Data Source=" + closed->Server() + ";Initial Catalog=JAIL;User ID=sa;Password=x";
      message.replace(message.find("{closed}"), 8, closed->Server());
    }
    if (c.Site == Case::NoSuchHost)
      connStr = "Data Source=no-such-host.invalid,1433;Initial Catalog=JAIL;User ID=sa;Password=x";
    std::optional<TSilentPort> silent;
    if (c.Site == Case::Silent) {
      silent.emplace();
      connStr = "Data Source=" + silent->Server() +
                ";Initial Catalog=JAIL;User ID=sa;Password=x;Connect Timeout=2";
    }
    if (c.Site == Case::WrongPassword)
      connStr = "Data Source=" + server.Host() + "," + std::to_string(server.Port()) +
                ";Initial Catalog=JAIL;User ID=sa;Password=wrong";
    const TSiteFolder site = c.Site == Case::NoFile      ? TSiteFolder("", false)
                             : c.Site == Case::NoConnStr ? TSiteFolder("[Paths]\r\nLogPath=x\r\n")
                                                         : TSiteFolder::For(connStr);
    const fs::path err = fs::temp_directory_path() / ("bunkmere-err-" + std::to_string(getpid()));
    auto program = Start(site.Path(), err);

    const std::string box = WaitWindow("^Application Error$");
    ASSERT_FALSE(box.empty()) << "no Application Error box";
    EXPECT_EQ(X("xdotool search --onlyvisible --name '" + std::string(kMainWindow) + "'"), "");
    Keys(box, "Return");
    EXPECT_EQ(program->ExitCode(20), 1);

    // "Exception <class> in module Bunkmere at <address>.\n\n<message>"
    const std::string text = ReadFile(err);
    fs::remove(err);
    const std::string head =
        "Application Error: Exception " + std::string(c.Class) + " in module Bunkmere at ";
    ASSERT_TRUE(text.starts_with(head)) << text;
    const std::string address = text.substr(head.size(), 8);
    EXPECT_EQ(text.substr(head.size() + 8, 3), ".\n\n") << text;
    EXPECT_EQ(text.substr(head.size() + 11, message.size()), message) << text;
    EXPECT_GT(text.size(), head.size() + 12) << "the message is empty";
    // The address is where the failure was raised, not main's handler: no function of its
    // chain of inlined callers is main.
    const std::string functions =
        Shell("addr2line -f -i -s -e " + std::string(BUNKMERE_EXE) + " 0x" + address);
    EXPECT_FALSE(functions.starts_with("??")) << address;
    EXPECT_EQ(("\n" + functions + "\n").find("\nmain\n"), std::string::npos) << functions;
  }
}

// A program string that connects nowhere is no start-up failure: the window opens, and the
// first press ends in the pass's two boxes, the program going on.
TEST_F(Program, AProgramStringThatCannotConnectFailsTheFirstPassNotTheStart) {
  const TClosedPort closed;
  standin::testing::StandinServer server(
      "CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n"
      "CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NOT NULL, ConnString VARCHAR(255) NULL, "
      "HelpFile VARCHAR(255) NULL, LogFile VARCHAR(255) NULL, UseInitial BIT NULL)\n"
      "INSERT INTO ConnectLib VALUES ('JAIL', 'Data Source=" +
      closed.Server() +
      ";Initial Catalog=JAIL;"
      "User ID=sa;Password=x', NULL, NULL, 0)\n");
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  auto program = Start(site.Path(), site.Path() / "stderr.txt");

  const std::string window = WaitWindow(kMainWindow);
  ASSERT_FALSE(window.empty()) << "the main window did not open";
  Keys(window, "space");
  const std::string first = WaitWindow("^Bunkmere$", 60);
  ASSERT_FALSE(first.empty()) << "no failure box";
  Keys(first, "Return");
  const std::string second = WaitNewWindow("^Bunkmere$", first);
  ASSERT_FALSE(second.empty()) << "no \"Process Aborted\" box";
  Keys(second, "Return");
  EXPECT_TRUE(program->Running());
  EXPECT_EQ(X("xdotool search --onlyvisible --name '^Application Error$'"), "");
}

}  // namespace
