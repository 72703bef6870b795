#include "platform/PosixPlatform.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "platform/CrashDumps.h"

namespace bunkmere {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "bunkmere-platform-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempFolder() {
    std::error_code ec;
    fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(FPath, ec);
  }
  std::string operator/(const std::string& AName) const { return (FPath / AName).string(); }
  std::string Path() const { return FPath.string(); }

 private:
  fs::path FPath;
};

void WriteFile(const std::string& APath, const std::string& ABytes) {
  std::ofstream(APath, std::ios::binary) << ABytes;
}

class PosixPlatformTest : public ::testing::Test {
 protected:
  TPosixPlatform platform;
  TTempFolder temp;
};

TEST_F(PosixPlatformTest, FilesAndFoldersAreToldApartAndNamesKeepTheirCase) {
  WriteFile(temp / "site.ini", "x");
  fs::create_directory(temp / "Veltrane.Cfg");
  EXPECT_TRUE(platform.FileExists(temp / "site.ini"));
  EXPECT_FALSE(platform.FileExists(temp / "Veltrane.Cfg"));  // a folder is no file
  EXPECT_FALSE(platform.FileExists(temp / "missing"));
  EXPECT_FALSE(platform.FileExists(""));
  EXPECT_TRUE(platform.DirectoryExists(temp / "Veltrane.Cfg"));
  EXPECT_FALSE(platform.DirectoryExists(temp / "site.ini"));
  EXPECT_FALSE(platform.FileExists(temp / "SITE.INI"));  // Linux names keep their case
}

// A site file is trusted only in a folder nobody else could have written it into.
TEST_F(PosixPlatformTest, AFolderOthersCanWriteIsNotTrusted) {
  struct Case {
    const char* What;
    mode_t Mode;
    bool OtherOwner;     // owned by a user who is neither root nor this one
    const char* Reason;  // what the reason says; empty: trusted
  } cases[] = {
      {"the user's own", 0755, false, ""},
      {"writable by its group", 0775, false, "can be written by its group"},
      {"writable by everyone", 0777, false, "can be written by every user"},
      {"writable by everyone, sticky", 01777, false, ""},
      {"another user's", 0755, true, "neither root nor this user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string folder = temp / c.What;
    fs::create_directory(folder);
    WriteFile(folder + "/Veltrane.ini", "x");
    ASSERT_EQ(::chmod(folder.c_str(), c.Mode), 0);
    if (c.OtherOwner) {
      if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can give a folder away";
      ASSERT_EQ(::chown(folder.c_str(), 4242, 4242), 0);
    }
    const std::string why = platform.UntrustedFolderReason(folder + "/Veltrane.ini");
    if (*c.Reason == '\0') {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_NE(why.find(c.Reason), std::string::npos) << why;
      EXPECT_NE(why.find(folder), std::string::npos) << why;
    }
  }
}

// A core file would hold every password the program read.
TEST(CrashDumps, TheProcessIsMadeNonDumpable) {
  KeepMemoryOutOfCrashDumps();
  EXPECT_FALSE(ProcessMemoryIsDumpable());
}

TEST_F(PosixPlatformTest, AFileIsReadByteForByteAndAnEmptyOneIsEmptyText) {
  const std::string bytes("\xFF\xFE\0a\r\n", 6);
  WriteFile(temp / "site.ini", bytes);
  EXPECT_EQ(platform.ReadFileIfExists(temp / "site.ini"), bytes);
  EXPECT_EQ(platform.ReadFileBytes(temp / "site.ini"), bytes);
  WriteFile(temp / "empty", "");
  EXPECT_EQ(platform.ReadFileIfExists(temp / "empty"), std::string());
}

TEST_F(PosixPlatformTest, AMissingFileIsToldApartFromAnUnreadableOne) {
  EXPECT_EQ(platform.ReadFileIfExists(temp / "missing"), std::nullopt);
  EXPECT_EQ(platform.ReadFileIfExists(temp / "no-folder/missing"), std::nullopt);
  try {
    platform.ReadFileBytes(temp / "missing");
    FAIL() << "no exception";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"" + (temp / "missing") + "\". No such file or directory");
  }
  // A folder exists but cannot be read as a file.
  try {
    platform.ReadFileIfExists(temp.Path());
    FAIL() << "no exception";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + temp.Path() + "\". Is a directory");
  }
}

TEST_F(PosixPlatformTest, ErrorsNameTheFullPath) {
  const std::string cwd = platform.CurrentDirectory();
  ASSERT_EQ(::chdir(temp.Path().c_str()), 0);
  try {
    platform.WriteFileBytes("no-such-folder/10044350.log", "x");
    ADD_FAILURE() << "no exception";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + (temp / "no-such-folder/10044350.log") +
                               "\". No such file or directory");
  }
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
}

TEST_F(PosixPlatformTest, WritingCreatesAndReplacesAFile) {
  const std::string path = temp / "10044350.log";
  platform.WriteFileBytes(path, "first\r\n");
  EXPECT_EQ(platform.ReadFileBytes(path), "first\r\n");
  platform.WriteFileBytes(path, "");
  EXPECT_EQ(platform.ReadFileBytes(path), "");
  platform.WriteFileBytes(path, "second");
  EXPECT_EQ(platform.ReadFileBytes(path), "second");
  // Nothing is left behind beside the file.
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path()), fs::directory_iterator()), 1);
}

TEST_F(PosixPlatformTest, WritingOverAFolderFailsAndKeepsIt) {
  fs::create_directory(temp / "taken");
  EXPECT_THROW(platform.WriteFileBytes(temp / "taken", "x"), EFileError);
  EXPECT_THROW(platform.WriteFileBytes(temp / "taken/", "x"), EFileError);
  EXPECT_TRUE(platform.DirectoryExists(temp / "taken"));
}

TEST_F(PosixPlatformTest, WritingInAFolderWithoutWriteAccess) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const std::string path = temp / "old.log";
  WriteFile(path, "old");
  fs::permissions(temp.Path(), fs::perms::owner_write, fs::perm_options::remove);
  // The file itself may still be rewritten; a new one may not be made.
  platform.WriteFileBytes(path, "new");
  EXPECT_EQ(platform.ReadFileBytes(path), "new");
  EXPECT_THROW(platform.WriteFileBytes(temp / "new.log", "x"), EFileError);
}

// What sits at a name is told without following it, and only a regular file is ever opened
// to be read: a FIFO would block the reader, /dev/zero would never end.
TEST_F(PosixPlatformTest, ReadingTheHeadOfAFileRefusesWhatIsNoRegularFile) {
  using K = TPlatform::TPathKind;
  WriteFile(temp / "log", "0123456789");
  fs::create_directory(temp / "folder");
  fs::create_symlink(temp / "log", temp / "link");
  fs::create_symlink(temp / "nowhere", temp / "dangling");
  ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0600), 0);
  struct Case {
    std::string Path;
    K Kind;
  } const cases[] = {
      {temp / "log", K::File},  {temp / "missing", K::None},          {temp / "folder", K::Folder},
      {temp / "link", K::Link}, {temp / "dangling", K::Link},         {temp / "fifo", K::Other},
      {"/dev/zero", K::Other},  {temp / "log/under-a-file", K::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(platform.PathKind(c.Path), c.Kind);
    if (c.Kind == K::File)
      EXPECT_EQ(platform.ReadFileHead(c.Path, 4), "0123");
    else
      EXPECT_THROW(platform.ReadFileHead(c.Path, 4), EFileError);
  }
  EXPECT_EQ(platform.ReadFileHead(temp / "log", 1000), "0123456789");
}

// A new name is claimed only when nothing has it; what has it is left as it was, and a link
// is never followed to create its target.
TEST_F(PosixPlatformTest, CreatingANewFileNeverReplacesOrFollows) {
  WriteFile(temp / "taken.log", "theirs");
  fs::create_directory(temp / "folder.log");
  fs::create_symlink(temp / "target.log", temp / "dangling.log");
  for (const char* name : {"taken.log", "folder.log", "dangling.log"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(platform.CreateNewFile(temp / name, "ours"));
  }
  EXPECT_EQ(platform.ReadFileBytes(temp / "taken.log"), "theirs");
  EXPECT_TRUE(fs::is_directory(temp / "folder.log"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(temp / "target.log")));

  EXPECT_TRUE(platform.CreateNewFile(temp / "new.log", "ours\r\n"));
  EXPECT_EQ(platform.ReadFileBytes(temp / "new.log"), "ours\r\n");
  EXPECT_FALSE(platform.CreateNewFile(temp / "new.log", "again"));
  EXPECT_EQ(platform.ReadFileBytes(temp / "new.log"), "ours\r\n");
  // No temporary file is left beside them.
  EXPECT_TRUE(platform.TempFilesIn(temp.Path()).empty());
}

// Temporary files are told by their name and process; only regular files count.
TEST_F(PosixPlatformTest, TemporaryFilesLeftInAFolder) {
  WriteFile(temp / ".10044350.log.4242.0.tmp", "half");
  WriteFile(temp / ".x.y.log.77.12.TMP", "half");
  for (const char* name :
       {".plain.tmp", ".a.log.pid.0.tmp", "a.log.1.0.tmp", ".a.log.1.x.tmp", ".log.4242.0.txt"})
    WriteFile(temp / name, "not ours");
  fs::create_directory(temp / ".dir.log.1.0.tmp");
  auto left = platform.TempFilesIn(temp.Path());
  std::sort(left.begin(), left.end(),
            [](const auto& a, const auto& b) { return a.TargetName < b.TargetName; });
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].TargetName, "10044350.log");
  EXPECT_EQ(left[0].Pid, 4242u);
  EXPECT_EQ(left[0].Path, temp / ".10044350.log.4242.0.tmp");
  EXPECT_EQ(left[1].TargetName, "x.y.log");
  EXPECT_EQ(left[1].Pid, 77u);

  EXPECT_TRUE(platform.ProcessAlive(static_cast<unsigned long>(::getpid())));
  EXPECT_TRUE(platform.ProcessAlive(1));  // not ours to signal, but running
  EXPECT_FALSE(platform.ProcessAlive(0));
  EXPECT_FALSE(platform.ProcessAlive(4194305));  // above any Linux process id

  EXPECT_TRUE(platform.RemoveFile(left[0].Path));
  EXPECT_FALSE(platform.RemoveFile(left[0].Path));
  EXPECT_FALSE(fs::exists(left[0].Path));
}

TEST_F(PosixPlatformTest, FullPathName) {
  const std::string cwd = platform.CurrentDirectory();
  char buf[4096];
  ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
  EXPECT_EQ(cwd, buf);
  struct Case {
    std::string in, out;
  };
  const std::string parent = fs::path(cwd).parent_path().string();
  const Case cases[] = {
      {"/a/b/../c/./d", "/a/c/d"},
      {"/a//b/", "/a/b/"},
      {"/../..", "/"},
      {"/", "/"},
      {"Veltrane.Cfg/Veltrane.ini", cwd + "/Veltrane.Cfg/Veltrane.ini"},
      {"..", parent},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform.FullPathName(c.in), c.out) << c.in;
}

TEST_F(PosixPlatformTest, PathsSplitAtTheLastSlashOnlyAndHaveNoDrive) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {"/etc/bunkmere/Veltrane.ini", "/etc/bunkmere/", "Veltrane.ini"},
      {"/", "/", ""},
      {"Veltrane.ini", "", "Veltrane.ini"},
      {"a\\b:c", "", "a\\b:c"},  // "\\" and ":" are ordinary characters here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform.ExtractFilePath(c.path), c.folder) << c.path;
    EXPECT_EQ(platform.ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(platform.ExtractFileDrive(c.path), "") << c.path;
  }
}

TEST_F(PosixPlatformTest, DrivesComeFromTheMountTable) {
  const std::vector<std::string> roots = platform.DriveRoots();
  EXPECT_NE(std::find(roots.begin(), roots.end(), "/"), roots.end());
  for (const std::string& root : roots) {
    EXPECT_EQ(root.back(), '/') << root;
    EXPECT_NE(platform.DriveType(root), TDriveType::dtNoRootDir) << root;
  }
  EXPECT_NE(platform.DriveType("/"), TDriveType::dtNoRootDir);
  EXPECT_EQ(platform.DriveType("/proc"), TDriveType::dtUnknown);
  EXPECT_EQ(platform.DriveType(temp / "not-a-mount-point"), TDriveType::dtNoRootDir);
  EXPECT_EQ(platform.DriveType("relative"), TDriveType::dtNoRootDir);
  EXPECT_EQ(platform.DriveRootOf("/proc/self/status"), "/proc/");
  const std::string root = platform.DriveRootOf(temp / "x");
  EXPECT_EQ((temp / "x").rfind(root, 0), 0u) << root;
  EXPECT_EQ(platform.UniversalName(temp / "x"), std::nullopt);
}

TEST_F(PosixPlatformTest, ProcessIdentity) {
  const std::string module = platform.ModuleFileName();
  EXPECT_EQ(module.front(), '/');
  EXPECT_TRUE(platform.FileExists(module));
  EXPECT_EQ(platform.ExecutableFileName(), "platform_tests");
  passwd* pw = ::getpwuid(::geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(platform.UserName(), pw->pw_name);
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(platform.ComputerName(), host);
  EXPECT_TRUE(platform.AnsiCodePage() == CP_UTF8 || platform.AnsiCodePage() == CP_WINDOWS1252);
}

TEST_F(PosixPlatformTest, NowIsTheLocalClock) {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&t, &local);
  const TDateTime expected = EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                             local.tm_hour, local.tm_min, local.tm_sec, 0});
  EXPECT_LT(std::fabs(platform.Now() - expected), 5.0 / 86400);
}

}  // namespace
}  // namespace bunkmere
