// The conflicts log on disk: what counts as a Bunkmere log, the --log probe facing links,
// FIFOs and devices, two savers in the same second, temporary files of killed saves, and the
// code page of --log.

#include "app/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "app/BunkmereMain.h"
#include "app/CommandLine.h"
#include "app/UnattendedSync.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/PosixPlatform.h"
#include "tests/app/JailFixture.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "bunkmere-logs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempFolder() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  std::string operator/(const std::string& AName) const { return (FPath / AName).string(); }
  std::string Path() const { return FPath.string(); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(FPath))
      names.insert(entry.path().filename().string());
    return names;
  }

 private:
  fs::path FPath;
};

void WriteFile(const std::string& APath, const std::string& ABytes) {
  std::ofstream(APath, std::ios::binary) << ABytes;
}

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const char* const kCellConflict =
    "Facility :North DormCode : D1 CellNo : C-10 Allow 1 but 3 are assign to it";
const char* const kBedConflict =
    "Facility :North DormCode : D1 CellNo : C-10 Bed : Lower had more than one inmate assign "
    "to it";

TEST(LogFile, ALogHoldsOnlyWhatThePassWritesInItsOrder) {
  const std::string cell = std::string(kCellConflict) + "\r\n----Inmates On Cell----\r\n B1\r\n";
  const std::string bed = std::string(kBedConflict) +
                          "\r\n----Inmates On Bed----\r\n"
                          "NOTE: No Inmate Currently Assign To Bed\r\n----End----\r\n";
  struct Case {
    const char* What;
    std::string Bytes;
    bool IsLog;
  } const cases[] = {
      {"empty: Save Log of an empty log", "", true},
      {"a cell's and a bed's conflict", cell + " B2\r\n----End----\r\n" + bed, true},
      {"line feeds only", std::string(kBedConflict) + "\n----Inmates On Bed----\n B1\n B2\n", true},
      {"a pass that stopped inside a listing", cell, true},
      {"a pass that stopped after a conflict's line", std::string(kCellConflict) + "\r\n", true},
      {"a negative allowance",
       "Facility :N DormCode : D CellNo : C Allow -1 but 2 are assign to it", true},
      {"every line starts with a blank", " root:x:0:0\r\n daemon:x:1:1\r\n", false},
      {"an entry outside a listing", " B1\r\n", false},
      {"an empty line", cell + "----End----\r\n\r\n", false},
      {"a listing without its conflict", "----Inmates On Cell----\r\n B1\r\n----End----\r\n",
       false},
      {"a bed's listing under a cell's conflict",
       std::string(kCellConflict) + "\r\n----Inmates On Bed----\r\n", false},
      {"a bed's note in a cell's listing",
       std::string(kCellConflict) +
           "\r\n----Inmates On Cell----\r\nNOTE: No Inmate Currently Assign To Bed\r\n",
       false},
      {"entries after a note",
       std::string(kCellConflict) +
           "\r\n----Inmates On Cell----\r\nNOTE: No Inmates Currently Assign To Cell\r\n B1\r\n",
       false},
      {"a conflict's line with a word for a figure",
       "Facility :N DormCode : D CellNo : C Allow one but 2 are assign to it\r\n", false},
      {"the start of a conflict's line only", "Facility :North\r\n", false},
      {"text", "Dear operator,\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(IsBunkmereLog(c.Bytes), c.IsLog);
  }
}

// The --log probe on a real file system: nothing is created through a link, a FIFO or a
// device is never opened, and a file is read only up to a bound.
class LogProbe : public ::testing::Test {
 protected:
  // The probe's answer, or "HUNG" when it has not answered in time. A probe stuck opening a
  // FIFO (for reading or for writing) is set free by opening the other end for a moment.
  std::string Probe(const std::string& APath, bool AForce = false) {
    auto answer = std::async(std::launch::async, [&] { return LogFileProblem(APath, AForce); });
    if (answer.wait_for(std::chrono::seconds(10)) != std::future_status::timeout)
      return answer.get().value_or("");
    while (answer.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout) {
      const int fd = ::open(APath.c_str(), O_RDWR | O_NONBLOCK);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (fd >= 0) ::close(fd);
    }
    return "HUNG";
  }
  TTempFolder temp;
};

TEST_F(LogProbe, RefusesWhatIsNoRegularFileWithoutTouchingIt) {
  WriteFile(temp / "last.log", std::string(kCellConflict) + "\r\n");
  WriteFile(temp / "notes.txt", "Dear operator,\r\n");
  WriteFile(temp / "blanks.txt", " a\r\n b\r\n");
  fs::create_symlink(temp / "created-through-link.log", temp / "dangling.log");
  fs::create_symlink(temp / "last.log", temp / "link.log");
  fs::create_directory(temp / "folder.log");
  ASSERT_EQ(::mkfifo((temp / "fifo.log").c_str(), 0600), 0);
  struct Case {
    std::string Path;
    bool Force;
    const char* Problem;  // part of the answer; empty: no problem
  } const cases[] = {
      {temp / "new.log", false, ""},
      {temp / "last.log", false, ""},
      {temp / "notes.txt", false, "is not a Bunkmere log"},
      {temp / "notes.txt", true, ""},
      {temp / "blanks.txt", false, "is not a Bunkmere log"},
      {temp / "dangling.log", false, "symbolic link"},
      {temp / "dangling.log", true, "symbolic link"},
      {temp / "link.log", false, "symbolic link"},
      {temp / "folder.log", false, "is a folder"},
      {temp / "fifo.log", false, "is not a regular file"},
      {temp / "fifo.log", true, "is not a regular file"},
      {"/dev/zero", false, "is not a regular file"},
      {"/dev/null", true, "is not a regular file"},
      {temp / "no-folder/x.log", false, "does not exist"},
  };
  const std::set<std::string> before = temp.Names();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path + (c.Force ? " --force" : ""));
    const std::string problem = Probe(c.Path, c.Force);
    if (*c.Problem == '\0')
      EXPECT_EQ(problem, "");
    else
      EXPECT_NE(problem.find(c.Problem), std::string::npos) << problem;
  }
  EXPECT_EQ(temp.Names(), before);  // nothing made, nothing removed
  EXPECT_EQ(ReadFile(temp / "notes.txt"), "Dear operator,\r\n");
}

TEST_F(LogProbe, ReadsABoundedAmount) {
  // Log lines all through, but longer than any log: refused without being read whole.
  std::string big = std::string(kCellConflict) + "\r\n----Inmates On Cell----\r\n";
  big.reserve(kMaxProbeBytes + 64);
  while (big.size() <= kMaxProbeBytes) big += " B1\r\n";
  WriteFile(temp / "big.log", big);
  EXPECT_NE(Probe(temp / "big.log").find("is not a Bunkmere log"), std::string::npos);
}

// The same probe on a Windows workstation, whose paths may be typed with either delimiter.
TEST(LogProbeOnWindows, TakesBothDelimitersAndCreatesNothing) {
  TFakeWindowsPlatform platform;
  TPlatformOverride use(platform);
  platform.AddFolder("C:\\Jail\\Logs");
  platform.AddFile("C:\\Jail\\notes.txt", "Dear operator,\r\n");
  struct Case {
    const char* Path;
    const char* Problem;  // part of the answer; empty: no problem
  } const cases[] = {
      {"C:\\Jail\\night.log", ""},
      {"C:\\Jail/Logs/night.log", ""},
      {"C:\\Nowhere\\night.log", "the folder 'C:\\Nowhere' does not exist"},
      {"C:\\Jail/Nowhere/night.log", "the folder 'C:\\Jail/Nowhere' does not exist"},
      {"C:\\Jail\\notes.txt", "is not a Bunkmere log"},
      {"C:\\Jail\\Logs", "is a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    const std::string problem = LogFileProblem(c.Path, false).value_or("");
    if (*c.Problem == '\0') {
      EXPECT_EQ(problem, "");
      EXPECT_FALSE(platform.FileExists(c.Path));
    } else {
      EXPECT_NE(problem.find(c.Problem), std::string::npos) << problem;
    }
  }
}

// Two savers in the same second, each in its own process or window: both logs are kept.
TEST(SaveNewLog, TwoSaversInTheSameSecondKeepBothLogs) {
  TTempFolder temp;
  const std::string folder = temp.Path() + "/";
  for (int round = 0; round < 200; ++round) {
    const std::string stem = std::to_string(10000000 + round);
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    auto save = [&](const std::string& AText) {
      start.wait();
      return SaveNewLog(folder, stem, AText, "");
    };
    auto first = std::async(std::launch::async, save, "first\r\n");
    auto second = std::async(std::launch::async, save, "second\r\n");
    go.set_value();
    const std::string a = first.get(), b = second.get();
    ASSERT_NE(a, b) << "round " << round;
    ASSERT_EQ(ReadFile(a), "first\r\n");
    ASSERT_EQ(ReadFile(b), "second\r\n");
    ASSERT_EQ((std::set<std::string>{a, b}),
              (std::set<std::string>{folder + stem + ".log", folder + stem + "_2.log"}));
  }
}

// The id of a process that has ended.
unsigned long DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return static_cast<unsigned long>(child);
}

// A save killed mid-write leaves its temporary file; the next save in that folder removes it,
// and only those of logs whose process has ended.
TEST(SaveNewLog, TheNextSaveRemovesTemporaryFilesOfKilledSaves) {
  TFakeWindowsPlatform platform;
  TPlatformOverride use(platform);
  platform.AddFolder("C:\\Jail");
  platform.SetProcessAlive(222, true);
  struct Case {
    const char* Name;
    bool Removed;
  } const cases[] = {
      {"C:\\Jail\\~09070503.log.111.0.tmp", true},          // a Save Log of a dead process
      {"C:\\Jail\\~01020304_7.log.111.3.tmp", true},        // one with a "_N" name
      {"C:\\Jail\\~night.log.111.0.tmp", true},             // the file --log names
      {"C:\\Jail\\~09070503.log.222.0.tmp", false},         // its process still runs
      {"C:\\Jail\\~Veltrane.ini.111.0.tmp", false},         // not a log
      {"C:\\Jail\\~0907050.log.111.0.tmp", false},          // not a name Save Log gives
      {"C:\\Jail\\Other\\~09070503.log.111.0.tmp", false},  // another folder
  };
  for (const Case& c : cases) platform.AddFile(c.Name, "half a log");
  WriteNamedLog("C:\\Jail\\night.log", "log\r\n");
  EXPECT_EQ(SaveNewLog("C:\\Jail", "09070503", "log\r\n", ""), "C:\\Jail\\09070503.log");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(platform.FileBytes(c.Name).has_value(), !c.Removed);
  }
  EXPECT_EQ(platform.FileBytes("C:\\Jail\\night.log"), "log\r\n");
}

TEST(SaveNewLog, TemporaryFilesOfAKilledSaveOnLinux) {
  TTempFolder temp;
  const unsigned long dead = DeadPid();
  const std::string left = "." + std::string("11223344.log.") + std::to_string(dead) + ".0.tmp";
  const std::string live = ".11223344.log." + std::to_string(::getpid()) + ".1.tmp";
  WriteFile(temp / left, "half");
  WriteFile(temp / live, "being written");
  const std::string path = SaveNewLog(temp.Path(), "11223344", "log\r\n", "");
  EXPECT_EQ(temp.Names(), (std::set<std::string>{live, "11223344.log"}));
  EXPECT_EQ(ReadFile(path), "log\r\n");
}

// A workstation whose code page is 1250 (Central European): its conversion, which Save Log
// uses, knows no "à" and writes "?"; the generic one knows only 1252 and UTF-8 and would
// write 0xE0. ASCII is the same in both.
class TCentralEuropeanPlatform final : public TPosixPlatform {
 public:
  unsigned AnsiCodePage() const override { return 1250; }
  std::string EncodeAnsiText(std::string_view AText) const override {
    std::string bytes;
    for (std::size_t i = 0; i < AText.size(); ++i) {
      if (AText.substr(i, 2) == "\xC3\xA0") {
        bytes += '?';
        ++i;
      } else {
        bytes += AText[i];
      }
    }
    return bytes;
  }
};

TEST(NamedLog, IsWrittenInTheWorkstationsCodePageAsSaveLogWritesIt) {
  testing::JailFixture jail(
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'S\xC3\xA0rka')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('D1', 'F1', 10, 0, 1, 0, 'C-10')\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('B1', 0, 'F1', 10, '1')\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('B2', 0, 'F1', 10, '1')\n");
  TCentralEuropeanPlatform platform;
  TPlatformOverride use(platform);
  TTempFolder temp;
  TCommandLine line;
  line.Mode = TCommandLine::TMode::Sync;
  line.LogFile = temp / "night.log";
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  RunUnattendedSync(jail.Window(), line, TSyncStreams{out, err, false});
  std::fclose(out);
  std::fclose(err);
  const std::string log = ReadFile(line.LogFile);
  ASSERT_EQ(jail.Window().Memo1->Lines().at(0).rfind("Facility :S\xC3\xA0rka DormCode", 0), 0u);
  EXPECT_EQ(log.rfind("Facility :S?rka DormCode : D1 CellNo : C-10 Allow 1 but 2", 0), 0u) << log;
  EXPECT_EQ(log, platform.EncodeAnsiText(jail.Window().Memo1->LinesText()));
}

}  // namespace
}  // namespace bunkmere
