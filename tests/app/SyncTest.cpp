// The shipped program run as a scheduler runs it: "Bunkmere --sync" from a folder holding the
// site folder, with no display at all. What it writes, saves, prints and exits with is set
// against a person's press of the start button in a window on the same jail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/BunkmereMain.h"
#include "dataaccess/MSConnection.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "tests/app/SiteFolder.h"
#include "ui/StdCtrls.h"

extern char** environ;

namespace bunkmere {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using standin::testing::StandinServer;
using testing::SiteConnectString;
using testing::TSiteFolder;

std::string ReadFile(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Lines SplitLines(const std::string& AText) {
  Lines out;
  std::istringstream in(AText);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

// The program started in AFolder with AArgs, its environment ours without any display, its
// standard streams caught in files; waits for it to end.
TRun RunBunkmere(const fs::path& AFolder, const Lines& AArgs) {
  std::vector<std::string> args{BUNKMERE_EXE};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=") ||
        entry.starts_with("QT_QPA_PLATFORM="))
      continue;
    env.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const fs::path out = AFolder / "stdout.txt", err = AFolder / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, AFolder.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  TRun run;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.Status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.Out = ReadFile(out);
  run.Err = ReadFile(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

// The conflicts logs a run left in AFolder ("ddhhnnss.log").
std::vector<fs::path> SavedLogs(const fs::path& AFolder) {
  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(AFolder))
    if (entry.path().extension() == ".log") logs.push_back(entry.path());
  return logs;
}

// What the server received, comparable between two workstations: the holder row's values
// (computer, user, program, time) and the lock table's object id are each workstation's own.
Lines Comparable(const StandinServer& AServer) {
  Lines out;
  for (const auto& s : AServer.Statements()) {
    std::string text = s.sql;
    if (text.starts_with("INSERT INTO [tempdb]")) text.resize(text.find(" VALUES ") + 8);
    if (text.starts_with("IF OBJECT_ID(N'")) {
      const std::size_t at = text.find("') = "), drop = text.find(" DROP TABLE ");
      if (at != std::string::npos && drop != std::string::npos && at < drop)
        text.replace(at + 5, drop - at - 5, "<id>");
    }
    for (const auto& p : s.params) text += " <- " + p.value.value_or("NULL");
    out.push_back(text);
  }
  return out;
}

// A person's press on a window over a fresh server started with AScript.
struct TPress {
  Lines Statements;
  std::string LogText;
  testing::THousing After;
};
TPress PressOnce(const std::string& AScript) {
  auto jail = testing::JailFixture::FromScript(AScript);
  jail->PressStart();
  return {Comparable(jail->Server()), jail->Window().Memo1->LinesText(),
          testing::ReadHousing(jail->Server())};
}

// A jail with no booking: every cell and bed is written, nothing conflicts.
std::string CleanJailScript() {
  return testing::SampleJailScript() + "\nDELETE FROM DETENTIA\n";
}

TEST(UnattendedSync, OnTheSampleItWritesSavesAndSendsWhatAPressDoes) {
  const struct {
    const char* Name;
    std::string Script;
    int Status;
  } cases[] = {
      {"the sample, with its conflicts", testing::SampleJailScript(), 3},
      {"a jail without bookings", CleanJailScript(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TPress press = PressOnce(c.Script);
    StandinServer server(c.Script);
    const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
    const TRun run = RunBunkmere(site.Path(), {"--sync"});
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_EQ(run.Err, "Cell Synchronization Completed\n");
    const Lines sent = Comparable(server);  // before the test's own reads join the log
    EXPECT_EQ(testing::ReadHousing(server), press.After);
    for (std::size_t i = 0; i < std::max(sent.size(), press.Statements.size()); ++i)
      ASSERT_EQ(i < sent.size() ? sent[i] : "(nothing)",
                i < press.Statements.size() ? press.Statements[i] : "(nothing)")
          << "statement " << i + 1;
    const std::vector<fs::path> logs = SavedLogs(site.Path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].stem().string().size(), 8u) << logs[0];
    EXPECT_EQ(ReadFile(logs[0]), press.LogText);
    const Lines out = SplitLines(run.Out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.back().starts_with("Completed: ")) << run.Out;
    EXPECT_NE(out.back().find(c.Status == 3 ? " 3 conflicts, " : " 0 conflicts, "),
              std::string::npos)
        << out.back();
  }
}

// The front desk holds cell B-202's lock (CFGCELL.5) for the whole run.
TEST(UnattendedSync, ARowAnotherProgramHoldsStopsTheRunWithTwoAndNamesTheHolder) {
  const std::string script = testing::SampleJailScript();
  StandinServer server(script);
  const testing::THousing before = testing::ReadHousing(server);
  const testing::THousing after = PressOnce(script).After;
  TMSConnection desk(nullptr);
  desk.SetConnectString(SiteConnectString(server));
  desk.SetLoginPrompt(false);
  const std::string lock = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.5]";
  desk.ExecSQL("CREATE TABLE " + lock +
               " (DatabaseName VARCHAR(30), TableName VARCHAR(100), UniqueKey VARCHAR(22), "
               "ComputerName VARCHAR(30), UserName VARCHAR(30), ProgramName VARCHAR(30), "
               "TimeLocked DateTime)");
  desk.ExecSQL("INSERT INTO " + lock +
               " VALUES ('JAIL', 'CFGCELL', '5', 'FRONTDESK', 'clerk', 'Intake.exe', "
               "'2026-12-10 03:15:00')");

  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  const TRun run = RunBunkmere(site.Path(), {"--sync"});
  EXPECT_EQ(run.Status, 2) << run.Err;
  const Lines err = SplitLines(run.Err);
  ASSERT_EQ(err.size(), 2u) << run.Err;
  EXPECT_TRUE(err[0].starts_with("The requested lock could not be granted.")) << err[0];
  EXPECT_NE(err[0].find("clerk"), std::string::npos) << err[0];
  EXPECT_NE(err[0].find("FRONTDESK"), std::string::npos) << err[0];
  EXPECT_EQ(err[1], "Process Aborted");
  // The cells before B-202 are written, B-202 and everything after it are not.
  const testing::THousing now = testing::ReadHousing(server);
  for (const char* row : {"CFGCELL.1", "CFGCELL.2"}) EXPECT_EQ(now.at(row), after.at(row)) << row;
  for (const char* row : {"CFGCELL.5", "CFGCELL.6"}) EXPECT_EQ(now.at(row), before.at(row)) << row;
  EXPECT_EQ(testing::LockTablesLeft(server), Lines{lock});
}

// What the run met decides its status: a row the server kept locked is a hold (2, run later);
// a lock table that cannot be made for any other reason is a failure (1), with the server's
// own text.
TEST(UnattendedSync, TheStatusTellsAHoldFromAFailure) {
  const struct {
    const char* Name;
    std::string Fault;
    int Status;
    std::string FirstLine;  // its start
    std::string Summary;    // the output's last line, its start
  } cases[] = {
      {"a lock wait that ran out",
       "fail:1222:SELECT Count(bed)|Lock request time out period exceeded.", 2,
       "The server kept a row locked for 60 seconds while counting the bookings of Facility :",
       "Stopped at a held row: "},
      {"tempdb full",
       "fail:1105:CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGBED.1]|Could not "
       "allocate space for object 'x' in database 'tempdb' because the 'PRIMARY' filegroup is "
       "full.",
       1, "Could not allocate space for object 'x' in database 'tempdb'", "Failed: "},
      {"no permission in tempdb",
       "fail:262:CREATE TABLE [tempdb]|CREATE TABLE permission denied "
       "in database 'tempdb'.",
       1, "CREATE TABLE permission denied in database 'tempdb'. On: ", "Failed: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    StandinServer server(testing::SampleJailScript(), {c.Fault});
    const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
    const TRun run = RunBunkmere(site.Path(), {"--sync"});
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    const Lines err = SplitLines(run.Err);
    ASSERT_EQ(err.size(), 2u) << run.Err;
    EXPECT_TRUE(err[0].starts_with(c.FirstLine)) << err[0];
    EXPECT_EQ(err[1], "Process Aborted");
    const Lines out = SplitLines(run.Out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.back().starts_with(c.Summary)) << run.Out;
    EXPECT_EQ(testing::LockTablesLeft(server), Lines{});
    EXPECT_EQ(SavedLogs(site.Path()).size(), 1u);
  }
}

// A service manager's stop reaches the run while it waits on the server: the run stops at the
// next statement boundary, says so, saves its log, leaves no lock and no temporary file, and
// exits with 4.
TEST(UnattendedSync, SigtermStopsTheRunCleanlyWithItsOwnStatus) {
  // Every bed count answered late, so that the signal finds the run inside one.
  StandinServer server(testing::SampleJailScript(), {"delay-on:200:SELECT Count(bed)"});
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  const fs::path out = site.Path() / "stdout.txt", err = site.Path() / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, site.Path().c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string exe = BUNKMERE_EXE, sync = "--sync";
  char* argv[] = {exe.data(), sync.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Wait for the first bed count to reach the server: the run is then inside it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto counting = [&] {
    for (const auto& st : server.Statements())
      if (st.sql.starts_with("SELECT Count(bed)")) return true;
    return false;
  };
  while (!counting() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(counting());
  kill(pid, SIGTERM);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(WIFEXITED(status)) << "still running or killed: " << status;
  EXPECT_EQ(WEXITSTATUS(status), 4) << ReadFile(err);
  const Lines errLines = SplitLines(ReadFile(err));
  ASSERT_FALSE(errLines.empty());
  EXPECT_TRUE(errLines.back().starts_with("Stopped by SIGTERM after ")) << ReadFile(err);
  EXPECT_TRUE(SplitLines(ReadFile(out)).back().starts_with("Stopped on request: "))
      << ReadFile(out);
  EXPECT_EQ(testing::LockTablesLeft(server), Lines{});
  EXPECT_EQ(SavedLogs(site.Path()).size(), 1u);
  for (const auto& entry : fs::directory_iterator(site.Path()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(UnattendedSync, StartUpFailuresExitWithOneAndSayWhyOnStandardError) {
  StandinServer server(testing::SampleJailScript());
  const struct {
    const char* Name;
    std::string Ini;
    bool WriteFile;
    const char* Says;
  } cases[] = {
      {"no site file", "", false, "Veltrane.ini"},
      {"a server that refuses the connection",
       "[DataProvider]\r\nConnStr=Data Source=127.0.0.1,1;Initial Catalog=JAIL;User ID=" +
           server.User() + ";Password=" + server.Password() + "\r\n",
       true, "Cannot connect to SQL Server 127.0.0.1,1 (database JAIL)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TSiteFolder site(c.Ini, c.WriteFile);
    const TRun run = RunBunkmere(site.Path(), {"--sync"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Application Error"), std::string::npos) << run.Err;
    EXPECT_TRUE(SavedLogs(site.Path()).empty());
  }
}

// What a preview lists is what the run after it writes, and it sends nothing that locks or
// writes.
TEST(UnattendedSync, APreviewListsExactlyTheChangesTheNextRunWritesAndWritesNothing) {
  StandinServer server(testing::SampleJailScript());
  const testing::THousing before = testing::ReadHousing(server);
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  const TRun preview = RunBunkmere(site.Path(), {"--sync", "--preview"});
  EXPECT_EQ(preview.Status, 3) << preview.Err;
  EXPECT_EQ(testing::ReadHousing(server), before);
  for (const auto& s : server.Statements()) {
    EXPECT_FALSE(s.sql.starts_with("UPDATE") || s.sql.starts_with("INSERT") ||
                 s.sql.starts_with("DELETE") || s.sql.find("tempdb") != std::string::npos)
        << s.sql;
  }

  // "CFGCELL 1 ONCELL: 5 -> 1"
  std::set<std::string> listed;
  for (const std::string& line : SplitLines(preview.Out)) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos || line.find(" -> ") == std::string::npos) continue;
    std::istringstream head(line.substr(0, colon));
    std::string table, key, column;
    head >> table >> key >> column;
    listed.insert(table + "." + key);
  }
  const TRun run = RunBunkmere(site.Path(), {"--sync", "--log", "again.log"});
  EXPECT_EQ(run.Status, 3) << run.Err;
  std::set<std::string> changed;
  for (const auto& [row, values] : testing::ReadHousing(server))
    if (values != before.at(row)) changed.insert(row);
  EXPECT_FALSE(changed.empty());
  EXPECT_EQ(listed, changed) << preview.Out;
  // Both saved the same conflicts.
  const std::vector<fs::path> logs = SavedLogs(site.Path());
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(ReadFile(logs[0]), ReadFile(logs[1]));
}

TEST(UnattendedSync, BadArgumentsExitWithSixtyFourBeforeAnythingConnects) {
  StandinServer server(testing::SampleJailScript());
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  std::ofstream(site.Path() / "notes.txt") << "not a log\n";
  const struct {
    Lines Args;
    const char* Says;
  } cases[] = {
      {{"--sync", "--frobnicate"}, "unknown switch '--frobnicate'"},
      {{"--sync", "--log", "no/such/folder/x.log"}, "does not exist"},
      {{"--sync", "--log", "notes.txt"}, "is not a Bunkmere log"},
      {{"--preview"}, "--preview needs --sync"},
      {{"--sync", "--log"}, "needs a file name"},
      {{"--report", "r.html"}, "--report needs --sync"},
      {{"--sync", "--summary"}, "needs a file name"},
      {{"--sync", "--report", "a.html", "--report=b.html"}, "given twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args.back());
    const TRun run = RunBunkmere(site.Path(), c.Args);
    EXPECT_EQ(run.Status, 64);
    const Lines err = SplitLines(run.Err);
    ASSERT_EQ(err.size(), 1u) << run.Err;
    EXPECT_NE(err[0].find(c.Says), std::string::npos) << err[0];
    EXPECT_TRUE(err[0].ends_with("; see --help")) << err[0];
  }
  EXPECT_EQ(ReadFile(site.Path() / "notes.txt"), "not a log\n");
  EXPECT_TRUE(server.Statements().empty());
  // --force lets the run replace it.
  const TRun forced = RunBunkmere(site.Path(), {"--sync", "--log", "notes.txt", "--force"});
  EXPECT_EQ(forced.Status, 3) << forced.Err;
  EXPECT_TRUE(ReadFile(site.Path() / "notes.txt").starts_with("Facility :"));
}

}  // namespace
}  // namespace bunkmere

namespace bunkmere {
namespace {

// The occupancy report costs the server nothing: a run asked for the page and the summary
// sends exactly what a run without them sends, a preview too; the page lies beside the log
// under its name, and the files named are written.
TEST(UnattendedSync, TheOccupancyReportAddsNoStatement) {
  const std::string script = testing::SampleJailScript();
  const struct {
    const char* Name;
    Lines Plain;
  } cases[] = {{"a pass", {"--sync"}}, {"a preview", {"--sync", "--preview"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    StandinServer plainServer(script);
    const TSiteFolder plainSite = TSiteFolder::For(SiteConnectString(plainServer));
    const TRun plain = RunBunkmere(plainSite.Path(), c.Plain);
    EXPECT_EQ(plain.Status, 3) << plain.Err;

    StandinServer server(script);
    const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
    Lines args = c.Plain;
    for (const char* a : {"--report", "occupancy.html", "--summary", "occupancy.json"})
      args.push_back(a);
    const TRun run = RunBunkmere(site.Path(), args);
    EXPECT_EQ(run.Status, 3) << run.Err;
    EXPECT_EQ(Comparable(server), Comparable(plainServer));

    const std::string page = ReadFile(site.Path() / "occupancy.html");
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>")) << page.substr(0, 200);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("O&#39;Neil Annex"), std::string::npos);
    const std::string summary = ReadFile(site.Path() / "occupancy.json");
    EXPECT_NE(summary.find("\"schema\": \"bunkmere-occupancy/1\""), std::string::npos);
    EXPECT_NE(summary.find("\"outcome\": \"completed\""), std::string::npos);
    const bool preview = c.Plain.back() == "--preview";
    EXPECT_EQ(summary.find("\"preview\": true") != std::string::npos, preview);
    EXPECT_EQ(page.find("Preview: nothing was written.") != std::string::npos, preview);
    const std::vector<fs::path> logs = SavedLogs(site.Path());
    ASSERT_EQ(logs.size(), 1u);
    fs::path beside = logs[0];
    beside.replace_extension(".html");
    EXPECT_EQ(ReadFile(beside), page);
  }
}

TEST(UnattendedSync, AReportThatCannotBeWrittenFailsTheRun) {
  StandinServer server(testing::SampleJailScript());
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  const TRun run =
      RunBunkmere(site.Path(), {"--sync", "--summary", "no-such-folder/occupancy.json"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("The summary could not be written: "), std::string::npos) << run.Err;
}

}  // namespace
}  // namespace bunkmere
