// The shipped program run as a scheduler runs it: "Bunkmere --sync" from a folder holding the
// site folder, with no display at all. What it writes, saves, prints and exits with is set
// against a person's press of the start button in a window on the same jail, and the rows it
// leaves against rows worked out by hand, read back through a client nobody here wrote.
#include <gtest/gtest.h>

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
#include "tests/ChildProcess.h"
#include "tests/ClosedPort.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "tests/app/LockHolder.h"
#include "tests/app/PytdsHousing.h"
#include "tests/app/ReceivedStatements.h"
#include "tests/app/SiteFolder.h"
#include "tests/app/StartUpFailures.h"
#include "ui/StdCtrls.h"

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

// The program as a scheduler starts it: in AFolder with AArgs, our environment without any
// display, no input. Started at once; Wait for its end.
class TBunkmere {
 public:
  TBunkmere(const fs::path& AFolder, const Lines& AArgs) : FChild(Args(AArgs), Options(AFolder)) {}
  void Signal(int ASignal) const { FChild.Signal(ASignal); }
  // Its status, output and errors once it has ended; -SIGKILL when it was still running after
  // two minutes.
  TRun Wait() {
    TRun run;
    run.Status = FChild.Finish(120000);
    run.Out = FChild.Output();
    run.Err = FChild.Errors();
    return run;
  }

 private:
  static Lines Args(const Lines& AArgs) {
    Lines args{BUNKMERE_EXE};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    return args;
  }
  static testing::ChildOptions Options(const fs::path& AFolder) {
    testing::ChildOptions options;
    options.Folder = AFolder;
    options.Unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    options.NoInput = true;
    options.SeparateErrors = true;
    return options;
  }
  testing::ChildProcess FChild;
};

TRun RunBunkmere(const fs::path& AFolder, const Lines& AArgs) {
  return TBunkmere(AFolder, AArgs).Wait();
}

// The conflicts logs a run left in AFolder ("ddhhnnss.log").
std::vector<fs::path> SavedLogs(const fs::path& AFolder) {
  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(AFolder))
    if (entry.path().extension() == ".log") logs.push_back(entry.path());
  return logs;
}

// Waits until the first bed count reaches the server: a run answered late is then inside it.
bool WaitForBedCount(const StandinServer& AServer) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto counting = [&] {
    for (const auto& st : AServer.Statements())
      if (st.sql.find("Count(bed)") != std::string::npos) return true;
    return false;
  };
  while (!counting() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return counting();
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
  return {testing::ComparableStatements(jail->Server()), jail->Window().Memo1->LinesText(),
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
    Lines Housing;  // every CFGCELL and CFGBED row afterwards, worked out by hand
  } cases[] = {
      {"the sample, with its conflicts", testing::SampleJailScript(), 3,
       testing::kSampleHousingAfterPass},
      {"a jail without bookings", CleanJailScript(), 0, testing::kSampleWithoutBookingsAfterPass},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TPress press = PressOnce(c.Script);
    StandinServer server(c.Script);
    const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
    const TRun run = RunBunkmere(site.Path(), {"--sync"});
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_EQ(run.Err, "Cell Synchronization Completed\n");
    const Lines sent =
        testing::ComparableStatements(server);  // before the test's own reads join the log
    EXPECT_EQ(testing::ReadHousing(server), press.After);
    EXPECT_EQ(testing::HousingThroughPytds(server), c.Housing);
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
  testing::TLockHolder desk(server);
  ASSERT_TRUE(desk.Take("CFGCELL", "5"));
  const std::string lock = desk.Held();

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
// a lock table that cannot be made for any other reason, a server error or a session lost in
// the middle of the pass is a failure (1), told in the server's (or the driver's) own words.
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
       "The server kept a row locked for 60 seconds while locking, re-reading and counting ",
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
      // Whatever the statements' batching, a row's write names its table.
      {"a server error mid-pass",
       "fail:8645:UPDATE [CFG|A timeout occurred while waiting for memory resources to execute "
       "the query in resource pool 'default' (2). Rerun the query.",
       1,
       "A timeout occurred while waiting for memory resources to execute the query in resource "
       "pool 'default' (2). Rerun the query. On: TfrmSynchCellsMain.GoSynchCells",
       "Failed: "},
      // The driver's own words for a lost session, whichever driver it is.
      {"a session dropped mid-pass", "drop-on:Count(bed)", 1, "", "Failed: "},
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
    const std::string on = " On: TfrmSynchCellsMain.GoSynchCells";
    EXPECT_TRUE(err[0].ends_with(on) && err[0].size() > on.size()) << err[0];
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
  TBunkmere bunkmere(site.Path(), {"--sync"});
  ASSERT_TRUE(WaitForBedCount(server));
  bunkmere.Signal(SIGTERM);
  const TRun run = bunkmere.Wait();
  EXPECT_EQ(run.Status, 4) << run.Err;
  const Lines errLines = SplitLines(run.Err);
  ASSERT_FALSE(errLines.empty());
  EXPECT_TRUE(errLines.back().starts_with("Stopped by SIGTERM after ")) << run.Err;
  const Lines outLines = SplitLines(run.Out);
  ASSERT_FALSE(outLines.empty());
  EXPECT_TRUE(outLines.back().starts_with("Stopped on request: ")) << run.Out;
  EXPECT_EQ(testing::LockTablesLeft(server), Lines{});
  EXPECT_EQ(SavedLogs(site.Path()).size(), 1u);
  for (const auto& entry : fs::directory_iterator(site.Path()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

// The log's folder is gone by the time the pass ends: every row is written, but a run whose
// log was lost has failed, and says why.
TEST(UnattendedSync, ALogThatCannotBeSavedFailsTheRunWithOne) {
  StandinServer server(testing::SampleJailScript(), {"delay-on:100:SELECT Count(bed)"});
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(server));
  const fs::path folder = site.Path() / "logs";
  fs::create_directory(folder);
  TBunkmere bunkmere(site.Path(), {"--sync", "--log", "logs/tonight.log"});
  ASSERT_TRUE(WaitForBedCount(server));
  fs::remove_all(folder);
  const TRun run = bunkmere.Wait();
  EXPECT_EQ(run.Status, 1) << run.Err;
  const Lines err = SplitLines(run.Err);
  ASSERT_FALSE(err.empty());
  EXPECT_TRUE(err.back().starts_with("The log could not be saved: ")) << run.Err;
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(testing::LockTablesLeft(server), Lines{});
  EXPECT_EQ(testing::HousingThroughPytds(server), testing::kSampleHousingAfterPass);
}

// The failures that end a person's start before the window shows end an unattended run the
// same way: status 1, the same report on standard error, no log.
TEST(UnattendedSync, StartUpFailuresExitWithOneAndSayWhyOnStandardError) {
  for (const auto& c : testing::StartUpFailures()) {
    SCOPED_TRACE(c.What);
    const testing::TStartUpSite world = c.Make();
    const TRun run = RunBunkmere(world.Site->Path(), {"--sync"});
    EXPECT_EQ(run.Status, 1);
    testing::ExpectApplicationError(run.Err, c, world);
    EXPECT_TRUE(SavedLogs(world.Site->Path()).empty());
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
    EXPECT_EQ(testing::ComparableStatements(server), testing::ComparableStatements(plainServer));

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
