#include "platform/Win32Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/DateTime.h"
#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "tests/CannotRun.h"

// After the project's headers: windows.h names CP_UTF8 as a macro.
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>
#undef CP_UTF8

namespace bunkmere {
namespace {

namespace fs = std::filesystem;

class TTempFolder {
 public:
  TTempFolder() {
    FPath = fs::temp_directory_path() /
            ("bunkmere-platform-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(FPath);
  }
  ~TTempFolder() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  std::string operator/(const std::string& AName) const { return (FPath / AName).string(); }
  std::string Path() const { return FPath.string(); }

 private:
  fs::path FPath;
};

// Sets one of the user's regional overrides for the test's lifetime.
class TLocaleOverride {
 public:
  TLocaleOverride(LCTYPE AType, const wchar_t* AValue) : FType(AType) {
    wchar_t old[128] = {};
    FHad = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, AType, old, 128) > 0;
    FOld = old;
    ::SetLocaleInfoW(LOCALE_USER_DEFAULT, AType, AValue);
  }
  ~TLocaleOverride() {
    if (FHad) ::SetLocaleInfoW(LOCALE_USER_DEFAULT, FType, FOld.c_str());
  }
  TLocaleOverride(const TLocaleOverride&) = delete;
  TLocaleOverride& operator=(const TLocaleOverride&) = delete;

 private:
  LCTYPE FType;
  bool FHad = false;
  std::wstring FOld;
};

class Win32PlatformTest : public ::testing::Test {
 protected:
  TWin32Platform platform;
  TTempFolder temp;
};

TEST_F(Win32PlatformTest, DriveLettersAndTheirTypes) {
  const std::vector<std::string> roots = platform.DriveRoots();
  ASSERT_FALSE(roots.empty());
  EXPECT_TRUE(std::is_sorted(roots.begin(), roots.end()));
  // Wine shows its own C: drive and the host's root as Z:, both local disks.
  struct Case {
    const char* root;
    TDriveType type;
  };
  const Case cases[] = {{"C:\\", TDriveType::dtFixed}, {"Z:\\", TDriveType::dtFixed}};
  for (const Case& c : cases) {
    EXPECT_NE(std::find(roots.begin(), roots.end(), c.root), roots.end()) << c.root;
    EXPECT_EQ(platform.DriveType(c.root), c.type) << c.root;
    EXPECT_EQ(platform.UniversalName(std::string(c.root) + "x.ini"), std::nullopt) << c.root;
  }
  // A letter no drive has.
  for (char letter = 'Y'; letter > 'D'; --letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (std::find(roots.begin(), roots.end(), root) != roots.end()) continue;
    EXPECT_EQ(platform.DriveType(root), TDriveType::dtNoRootDir) << root;
    break;
  }
}

TEST_F(Win32PlatformTest, ModuleAndPaths) {
  const std::string module = platform.ModuleFileName();
  EXPECT_EQ(platform.ExecutableFileName(), "platform_tests.exe");
  EXPECT_TRUE(platform.FileExists(module)) << module;
  EXPECT_EQ(module.substr(1, 2), ":\\") << module;
  EXPECT_EQ(platform.DriveRootOf(module), module.substr(0, 3));

  const std::string cwd = platform.CurrentDirectory();
  const std::string base = cwd.back() == '\\' ? cwd : cwd + "\\";
  struct Case {
    std::string path;
    std::string full;
  };
  const Case cases[] = {
      {"site.ini", base + "site.ini"},
      {"a\\..\\b\\.\\c.ini", base + "b\\c.ini"},
      {"a/b/", base + "a\\b\\"},
      {"C:\\x\\..\\Veltrane.Cfg\\Veltrane.ini", "C:\\Veltrane.Cfg\\Veltrane.ini"},
      {"\\\\server\\share\\x\\..\\y", "\\\\server\\share\\y"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform.FullPathName(c.path), c.full) << c.path;
  EXPECT_EQ(platform.DriveRootOf("\\\\server\\share\\y"), "\\\\server\\share\\");
}

TEST_F(Win32PlatformTest, FilesAreWrittenReadAndReplaced) {
  const std::string file = temp / "caf\xC3\xA9.log";  // a name outside ASCII
  EXPECT_EQ(platform.ReadFileIfExists(file), std::nullopt);
  EXPECT_FALSE(platform.FileExists(file));
  platform.WriteFileBytes(file, std::string("one\r\ntwo\0three", 15));
  EXPECT_TRUE(platform.FileExists(file));
  EXPECT_FALSE(platform.DirectoryExists(file));
  EXPECT_TRUE(platform.DirectoryExists(temp.Path()));
  EXPECT_EQ(platform.ReadFileBytes(file), std::string("one\r\ntwo\0three", 15));
  platform.WriteFileBytes(file, "");
  EXPECT_EQ(platform.ReadFileBytes(file), "");
  // Nothing is left behind beside the file.
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path()), fs::directory_iterator()), 1);
}

// A new name is claimed only when nothing has it, and what has it is left as it was; what sits
// at a name is told, and only a file on disk is read.
TEST_F(Win32PlatformTest, NewFilesNeverReplaceAndOnlyFilesAreRead) {
  using K = TPlatform::TPathKind;
  std::ofstream(temp / "taken.log", std::ios::binary) << "theirs";
  fs::create_directory(temp / "folder.log");
  EXPECT_FALSE(platform.CreateNewFile(temp / "taken.log", "ours"));
  EXPECT_FALSE(platform.CreateNewFile(temp / "folder.log", "ours"));
  EXPECT_EQ(platform.ReadFileBytes(temp / "taken.log"), "theirs");
  EXPECT_TRUE(platform.CreateNewFile(temp / "new.log", "ours\r\n"));
  EXPECT_EQ(platform.ReadFileBytes(temp / "new.log"), "ours\r\n");
  EXPECT_FALSE(platform.CreateNewFile(temp / "new.log", "again"));
  EXPECT_TRUE(platform.TempFilesIn(temp.Path()).empty());  // nothing left beside them

  EXPECT_EQ(platform.PathKind(temp / "new.log"), K::File);
  EXPECT_EQ(platform.PathKind(temp / "folder.log"), K::Folder);
  EXPECT_EQ(platform.PathKind(temp / "missing.log"), K::None);
  EXPECT_EQ(platform.PathKind("NUL"), K::Other);
  EXPECT_EQ(platform.ReadFileHead(temp / "new.log", 3), "our");
  EXPECT_THROW(platform.ReadFileHead("NUL", 3), EFileError);
  EXPECT_THROW(platform.ReadFileHead(temp / "folder.log", 3), EFileError);
}

// Temporary files of a killed save ("~NAME.PID.N.tmp") are found with their process.
TEST_F(Win32PlatformTest, TemporaryFilesLeftInAFolder) {
  std::ofstream(temp / "~10044350.log.4242.0.tmp", std::ios::binary) << "half";
  std::ofstream(temp / "~notes.tmp", std::ios::binary) << "not ours";
  const auto left = platform.TempFilesIn(temp.Path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].TargetName, "10044350.log");
  EXPECT_EQ(left[0].Pid, 4242u);
  EXPECT_TRUE(platform.ProcessAlive(::GetCurrentProcessId()));
  EXPECT_FALSE(platform.ProcessAlive(0));
  EXPECT_TRUE(platform.RemoveFile(left[0].Path));
  EXPECT_FALSE(platform.RemoveFile(left[0].Path));
}

TEST_F(Win32PlatformTest, FailuresNameTheFullPathAndTheReason) {
  const std::string missing = temp / "missing.ini";
  try {
    platform.ReadFileBytes(missing);
    ADD_FAILURE();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"" + missing + "\". " + Win32ErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(e.Message().back(), '.');
  }
  // Writing over a folder fails and keeps the folder.
  try {
    platform.WriteFileBytes(temp.Path(), "x");
    ADD_FAILURE();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot create file \"" + temp.Path() + "\". ", 0), 0u)
        << e.Message();
  }
  EXPECT_TRUE(platform.DirectoryExists(temp.Path()));
  EXPECT_THROW(platform.WriteFileBytes(temp / "no\\such\\folder.log", "x"), EFileError);
}

TEST_F(Win32PlatformTest, RegionalFormatsFollowTheUsersSettings) {
  const TLocaleOverride date(LOCALE_SSHORTDATE, L"dd.MM.yyyy");
  const TLocaleOverride time(LOCALE_STIMEFORMAT, L"HH:mm:ss");
  const TFormatSettings s = platform.FormatSettings();
  EXPECT_EQ(s.ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(s.DateSeparator, ".");
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2026, 12, 10, 16, 5, 0, 0}), s), "10.12.2026 16:05:00");
}

TEST_F(Win32PlatformTest, NamesOfTheMonthsAndDaysComeFromTheLocale) {
  wchar_t january[64] = {}, sunday[64] = {};
  ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SMONTHNAME1, january, 64);
  ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDAYNAME7, sunday, 64);
  const TFormatSettings s = platform.FormatSettings();
  const auto utf8 = [](const wchar_t* w) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(w)));
  };
  EXPECT_EQ(s.LongMonthNames[0], utf8(january));
  EXPECT_EQ(s.LongDayNames[0], utf8(sunday));  // the settings count from Sunday
}

TEST_F(Win32PlatformTest, TextIsWrittenInTheSystemsCodePage) {
  // What the system itself makes of text outside ASCII, look-alikes aside, is what the program
  // must write, whatever the code page.
  const std::string text = "Zelle \xC3\xA9\xC3\xBC \xE2\x82\xAC \xD0\x96";
  const std::u16string wide = Utf8ToUtf16(text);
  char bytes[64] = {};
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS,
                                      reinterpret_cast<const wchar_t*>(wide.data()),
                                      static_cast<int>(wide.size()), bytes, 64, "?", nullptr);
  ASSERT_GT(n, 0);
  EXPECT_EQ(platform.EncodeAnsiText(text), std::string(bytes, n));
}

// Known text in the code pages of the workstations this runs on; the stage starts the tests
// under more than one. "Missing" is a character the code page lacks: it must be written as
// "?", never as a look-alike.
struct TCodePageCase {
  unsigned CodePage;
  std::string Bytes;
  std::string Text;
  std::string Missing;
};

const TCodePageCase kCodePageCases[] = {
    {1252, "Zelle \xE9\xFC \x80 \x81", "Zelle \xC3\xA9\xC3\xBC \xE2\x82\xAC \xC2\x81", "\xC4\x81"},
    {1251, "\xCA\xEE\xF0\xEF\xF3\xF1 \xC1 \xB8",
     "\xD0\x9A\xD0\xBE\xD1\x80\xD0\xBF\xD1\x83\xD1\x81 \xD0\x91 \xD1\x91", "\xC3\xA9"},
    {1250, "Cela \x8A\xE8", "Cela \xC5\xA0\xC4\x8D", "\xC4\x81"},
    {932, "\x83\x5A\x83\x8B 1", "\xE3\x82\xBB\xE3\x83\xAB 1",
     "\xC3\xA9"},  // 932 has Cyrillic, not "é"
};

TEST_F(Win32PlatformTest, FilesAreReadAndWrittenInTheSystemsCodePage) {
  const unsigned cp = ::GetACP();
  // The stage names the code page it started the program under: a locale Wine does not know
  // falls back to 1252 without a word, and the row for 1252 would pass in its place.
  if (const char* wanted = std::getenv("BUNKMERE_TEST_CODE_PAGE")) {
    ASSERT_EQ(cp, std::strtoul(wanted, nullptr, 10)) << "the workstation's code page";
  }
  EXPECT_EQ(platform.AnsiCodePage(), cp);
  const auto found = std::find_if(std::begin(kCodePageCases), std::end(kCodePageCases),
                                  [cp](const TCodePageCase& c) { return c.CodePage == cp; });
  if (found == std::end(kCodePageCases)) BUNKMERE_CANNOT_RUN("no known text for code page " << cp);
  EXPECT_EQ(platform.DecodeFileText(found->Bytes), found->Text);
  EXPECT_EQ(platform.EncodeAnsiText(found->Text), found->Bytes);
  EXPECT_EQ(platform.EncodeAnsiText("[" + found->Missing + "]"), "[?]");
  // A byte-order mark wins over the code page.
  EXPECT_EQ(platform.DecodeFileText("\xEF\xBB\xBF" + found->Text), found->Text);
  EXPECT_EQ(platform.DecodeFileText("\xFF\xFEZ\0" + std::string(1, '\0')), "Z");
}

// Started by a task, an elevated prompt or a shortcut without a folder, the program's current
// directory is the Windows folder or its own, where nobody looks for a log and an ordinary user
// cannot write: the log goes to the user's Documents folder, as the shell knows it.
TEST_F(Win32PlatformTest, TheLogFolderIsTheCurrentOneUnlessNobodyChoseItOrMayWriteThere) {
  PWSTR documentsPath = nullptr;
  ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documentsPath)));
  const std::string documents = Utf16ToUtf8(reinterpret_cast<const char16_t*>(documentsPath));
  CoTaskMemFree(documentsPath);
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::string program = platform.ExtractFilePath(platform.ModuleFileName());
  struct Case {
    std::string Current;
    std::string Expected;
  } cases[] = {
      {Utf16ToUtf8(reinterpret_cast<const char16_t*>(system)), documents},
      {program, documents},
      {temp.Path(), temp.Path()},
  };
  const std::string before = platform.CurrentDirectory();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Current);
    ASSERT_TRUE(
        SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(Utf8ToUtf16(c.Current).c_str())));
    EXPECT_EQ(platform.LogFolder(), c.Expected);
  }
  SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(Utf8ToUtf16(before).c_str()));
}

TEST(Win32LogFolder, TheChoiceComparesWholeFoldersWhateverTheirCase) {
  struct Case {
    const char* Current;
    bool Writable;
    const char* Documents;
    const char* Expected;
  } cases[] = {
      {"C:\\WINDOWS\\System32", true, "D:\\Docs", "D:\\Docs"},
      {"c:\\windows\\", true, "D:\\Docs", "D:\\Docs"},
      {"C:\\VELTRANE.APP\\bunkmere", true, "D:\\Docs", "D:\\Docs"},
      // Only the folder itself and those in it: a name that merely begins alike is the user's.
      {"C:\\WindowsApps", true, "D:\\Docs", "C:\\WindowsApps"},
      {"C:\\VELTRANE.APP\\Bunkmere2", true, "D:\\Docs", "C:\\VELTRANE.APP\\Bunkmere2"},
      {"H:\\", false, "D:\\Docs", "D:\\Docs"},
      {"H:\\", true, "D:\\Docs", "H:\\"},
      // No Documents folder to go to: the current directory stays, and Save Log says why not.
      {"C:\\Windows\\System32", false, "", "C:\\Windows\\System32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Current);
    EXPECT_EQ(ChooseLogFolder(c.Current, "C:\\Windows", "C:\\VELTRANE.APP\\Bunkmere\\", c.Writable,
                              c.Documents),
              c.Expected);
  }
}

TEST_F(Win32PlatformTest, IdentityAndClock) {
  EXPECT_FALSE(platform.UserName().empty());
  EXPECT_FALSE(platform.ComputerName().empty());
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  const TDecodedDateTime now = DecodeDateTime(platform.Now());
  EXPECT_EQ(now.Year, t.wYear);
  EXPECT_EQ(now.Month, t.wMonth);
  EXPECT_EQ(now.Day, t.wDay);
}

}  // namespace
}  // namespace bunkmere
