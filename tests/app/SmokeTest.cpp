// The shipped program under Xvfb, started the way a site starts it: from a folder holding the
// site folder, with no argument and no environment of its own. A person's view: windows found
// and keys pressed with xdotool, the server's rows read back afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"
#include "tests/ChildProcess.h"
#include "tests/ClosedPort.h"
#include "tests/SilentPort.h"
#include "tests/app/JailQuery.h"
#include "tests/app/SiteFolder.h"
#include "tests/app/StartUpFailures.h"

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

using bunkmere::testing::ChildOptions;
using bunkmere::testing::ChildProcess;

// A child that is asked to end (then killed) when it goes out of scope, as a desktop session
// ends its programs: Xvfb then removes its lock and socket.
struct Child : ChildProcess {
  using ChildProcess::ChildProcess;
  ~Child() { Stop(); }
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
    ChildOptions options;
    options.NoInput = true;
    options.Descriptor3 = fds[1];
    FXvfb = new Child(std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0",
                                               "1024x768x24", "-dpi", "96", "-nolisten", "tcp"},
                      options);
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
    ChildOptions options;
    options.Env = {"DISPLAY=" + FDisplay, "QT_QPA_PLATFORM=xcb",
                   "XDG_RUNTIME_DIR=" + FRuntime.string()};
    options.Folder = AFolder;
    options.NoInput = true;
    options.ErrorsFile = AStderr;
    return std::make_unique<Child>(std::vector<std::string>{BUNKMERE_EXE}, options);
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

// What ends the program before its window shows: the box, no window, status 1, and the
// failure's report on standard error, raised where the failure was.
TEST_F(Program, StartUpFailuresShowTheApplicationErrorBoxAndExitWithOne) {
  for (const auto& c : bunkmere::testing::StartUpFailures()) {
    SCOPED_TRACE(c.What);
    const bunkmere::testing::TStartUpSite world = c.Make();
    const fs::path err = fs::temp_directory_path() / ("bunkmere-err-" + std::to_string(getpid()));
    auto program = Start(world.Site->Path(), err);

    const std::string box = WaitWindow("^Application Error$");
    ASSERT_FALSE(box.empty()) << "no Application Error box";
    EXPECT_EQ(X("xdotool search --onlyvisible --name '" + std::string(kMainWindow) + "'"), "");
    Keys(box, "Return");
    EXPECT_EQ(program->Finish(20000), 1);

    const std::string text = ReadFile(err);
    fs::remove(err);
    const std::string address = bunkmere::testing::ExpectApplicationError(text, c, world);
    ASSERT_FALSE(address.empty()) << text;
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
