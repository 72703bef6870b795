#include "config/SitePaths.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

// ---------------------------------------------------------------------------------------------
// The search on a Windows workstation

struct Drive {
  char letter;
  TDriveType type;
};

struct LocateCase {
  const char* name;
  const char* module;
  std::vector<Drive> drives;  // C: is fixed unless listed
  std::vector<const char*> files;
  std::vector<const char*> folders;
  const char* current_directory;
  const char* expected;                  // the path found, or the message of the failure
  std::vector<const char*> shares = {};  // network shares that files may be added to
};
void PrintTo(const LocateCase& c, std::ostream* os) {
  *os << c.name;
}

class LocateSiteFileOnWindows : public testing::TestWithParam<LocateCase> {};

TEST_P(LocateSiteFileOnWindows, TriesTheCandidatesInOrder) {
  const LocateCase& c = GetParam();
  TFakeWindowsPlatform platform;
  for (const Drive& d : c.drives) platform.SetDrive(d.letter, d.type);
  for (const char* s : c.shares) platform.AddShare(s);
  for (const char* f : c.files) platform.AddFile(f, "[DataProvider]\r\nConnStr=x\r\n");
  for (const char* f : c.folders) platform.AddFolder(f);
  platform.SetModuleFileName(c.module);
  platform.SetCurrentDirectory(c.current_directory);

  std::string outcome;
  try {
    outcome = LocateSiteFile(platform);
  } catch (const EIniFileException& e) {
    outcome = e.Message();
  }
  EXPECT_EQ(outcome, c.expected);
}

constexpr TDriveType kFixed = TDriveType::dtFixed;
constexpr TDriveType kRemote = TDriveType::dtRemote;
constexpr TDriveType kRemovable = TDriveType::dtRemovable;
constexpr TDriveType kCdRom = TDriveType::dtCdRom;
constexpr TDriveType kRamDisk = TDriveType::dtRamDisk;

INSTANTIATE_TEST_SUITE_P(
    Cases, LocateSiteFileOnWindows,
    testing::Values(
        LocateCase{"BesideAppFolder",
                   "D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe",
                   {{'D', kFixed}},
                   {"D:\\Apps\\Veltrane.Cfg\\Veltrane.ini", "C:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "D:\\Apps\\Veltrane.Cfg\\Veltrane.ini"},
        // The marker matches in any case; the prefix keeps the folder's own spelling.
        LocateCase{"MarkerInLowerCase",
                   "d:\\apps\\veltrane.app\\bin\\Bunkmere.exe",
                   {{'D', kFixed}},
                   {"D:\\Apps\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "d:\\apps\\Veltrane.Cfg\\Veltrane.ini"},
        // Blanks around the module name are not part of it; the first marker counts.
        LocateCase{"FirstMarkerOfTwo",
                   "  D:\\A\\Veltrane.App\\B\\VELTRANE.APP\\Bunkmere.exe ",
                   {{'D', kFixed}},
                   {"D:\\A\\Veltrane.Cfg\\Veltrane.ini",
                    "D:\\A\\Veltrane.App\\B\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "D:\\A\\Veltrane.Cfg\\Veltrane.ini"},
        // Without the marker the relative candidate comes first, found against the current
        // directory and returned as it was tried.
        LocateCase{"RelativeToCurrentDirectory",
                   "D:\\Prog\\Bunkmere.exe",
                   {{'D', kFixed}, {'E', kFixed}},
                   {"E:\\Work\\Veltrane.Cfg\\Veltrane.ini", "D:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "E:\\Work",
                   "Veltrane.Cfg\\Veltrane.ini"},
        // A marker folder without the file falls through to the next candidates.
        LocateCase{"MarkerCandidateMissing",
                   "D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe",
                   {{'D', kFixed}},
                   {"D:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "D:\\Veltrane.Cfg\\Veltrane.ini"},
        // The module's own drive is tried whatever its type.
        LocateCase{"ModuleDriveRootEvenIfRemovable",
                   "E:\\Bunkmere.exe",
                   {{'D', kFixed}, {'E', kRemovable}},
                   {"E:\\Veltrane.Cfg\\Veltrane.ini", "D:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "E:\\Veltrane.Cfg\\Veltrane.ini"},
        LocateCase{"FirstFixedOrRemoteDriveFromC",
                   "C:\\Bunkmere\\Bunkmere.exe",
                   {{'F', kRemote}, {'G', kFixed}, {'E', kRemovable}},
                   {"G:\\Veltrane.Cfg\\Veltrane.ini", "F:\\Veltrane.Cfg\\Veltrane.ini",
                    "E:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "F:\\Veltrane.Cfg\\Veltrane.ini"},
        LocateCase{"LastDriveZ",
                   "C:\\Bunkmere\\Bunkmere.exe",
                   {{'Z', kRemote}},
                   {"Z:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "Z:\\Veltrane.Cfg\\Veltrane.ini"},
        LocateCase{
            "RemovableOpticalRamDiskAndFloppyLettersSkipped",
            "C:\\Bunkmere\\Bunkmere.exe",
            {{'A', kFixed}, {'B', kRemote}, {'E', kRemovable}, {'F', kCdRom}, {'G', kRamDisk}},
            {"A:\\Veltrane.Cfg\\Veltrane.ini", "B:\\Veltrane.Cfg\\Veltrane.ini",
             "E:\\Veltrane.Cfg\\Veltrane.ini", "F:\\Veltrane.Cfg\\Veltrane.ini",
             "G:\\Veltrane.Cfg\\Veltrane.ini"},
            {},
            "C:\\",
            "Veltrane.ini not found."},
        // A folder where the file should be is no file.
        LocateCase{"FolderIsNotAFile",
                   "C:\\Bunkmere\\Bunkmere.exe",
                   {},
                   {},
                   {"C:\\Veltrane.Cfg\\Veltrane.ini"},
                   "C:\\",
                   "Veltrane.ini not found."},
        // A module on a network share has no drive letter; the search goes on over drives.
        LocateCase{"ModuleOnShare",
                   "\\\\srv\\apps\\Bunkmere.exe",
                   {{'D', kRemote}},
                   {"D:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "D:\\Veltrane.Cfg\\Veltrane.ini"},
        // Started by a network path, the program finds the site folder beside VELTRANE.APP on
        // the share, before any drive.
        LocateCase{"ModuleOnShareBesideAppFolder",
                   "\\\\srv\\apps\\VELTRANE.APP\\Bunkmere\\Bunkmere.exe",
                   {{'D', kRemote}},
                   {"\\\\srv\\apps\\Veltrane.Cfg\\Veltrane.ini", "C:\\Veltrane.Cfg\\Veltrane.ini",
                    "D:\\Veltrane.Cfg\\Veltrane.ini"},
                   {},
                   "C:\\",
                   "\\\\srv\\apps\\Veltrane.Cfg\\Veltrane.ini",
                   {"\\\\srv\\apps"}},
        // A mobile installation reads only its own file.
        LocateCase{
            "MobileFileWins",
            "D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe",
            {{'D', kFixed}},
            {"D:\\Apps\\VELTRANE.APP\\Bin\\Roveline.ini", "D:\\Apps\\Veltrane.Cfg\\Veltrane.ini"},
            {},
            "C:\\",
            "D:\\Apps\\VELTRANE.APP\\Bin\\Roveline.ini"}),
    [](const testing::TestParamInfo<LocateCase>& info) { return std::string(info.param.name); });

// The mobile file that is there on the first look and gone on the second.
class VanishingFilePlatform : public TFakeWindowsPlatform {
 public:
  explicit VanishingFilePlatform(std::string APath) : FPath(std::move(APath)) {
    AddFile(FPath, "");
  }
  bool FileExists(const std::string& APath) const override {
    const bool exists = TFakeWindowsPlatform::FileExists(APath);
    if (exists && APath == FPath) const_cast<VanishingFilePlatform*>(this)->RemoveFile(FPath);
    return exists;
  }

 private:
  std::string FPath;
};

TEST(LocateSiteFile, MobileFileVanishingBetweenTheChecksFails) {
  VanishingFilePlatform platform("C:\\Bunkmere\\Roveline.ini");
  platform.AddFile("C:\\Veltrane.Cfg\\Veltrane.ini", "");
  try {
    LocateSiteFile(platform);
    FAIL() << "no failure";
  } catch (const EIniFileException& e) {
    EXPECT_STREQ(e.what(), "Roveline.ini not found");
  }
}

// The list a site check shows is the search itself: every place in the order tried, the
// module's own drive again among the searched ones, removable drives left out.
TEST(SiteFileCandidates, ListsEveryPlaceInTheOrderOfTheSearch) {
  TFakeWindowsPlatform platform;
  platform.SetDrive('D', kFixed);
  platform.SetDrive('E', kRemovable);
  platform.SetDrive('F', kRemote);
  platform.SetModuleFileName("D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe");
  EXPECT_EQ(SiteFileCandidates(platform),
            (std::vector<std::string>{
                "D:\\Apps\\VELTRANE.APP\\Bin\\Roveline.ini", "D:\\Apps\\Veltrane.Cfg\\Veltrane.ini",
                "D:\\Veltrane.Cfg\\Veltrane.ini", "C:\\Veltrane.Cfg\\Veltrane.ini",
                "D:\\Veltrane.Cfg\\Veltrane.ini", "F:\\Veltrane.Cfg\\Veltrane.ini"}));
}

// ---------------------------------------------------------------------------------------------
// The search on this machine: the relative candidate in a real folder

class CurrentDirectoryGuard {
 public:
  explicit CurrentDirectoryGuard(const std::filesystem::path& APath)
      : FPrevious(std::filesystem::current_path()) {
    std::filesystem::current_path(APath);
  }
  ~CurrentDirectoryGuard() { std::filesystem::current_path(FPrevious); }

 private:
  std::filesystem::path FPrevious;
};

TEST(LocateSiteFile, FindsTheConfigurationFolderInTheCurrentDirectoryOfThisSystem) {
  TPlatform& system = CurrentPlatform();
  const std::string d(1, system.PathDelimiter());
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("bunkmere-site-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root / "Veltrane.Cfg");
  std::ofstream(root / "Veltrane.Cfg" / "Veltrane.ini") << "[DataProvider]\nConnStr=x\n";
  {
    CurrentDirectoryGuard cwd(root);
    EXPECT_EQ(LocateSiteFile(system), "Veltrane.Cfg" + d + "Veltrane.ini");
    // A library path next to it is made absolute against the real folder.
    EXPECT_EQ(ExpandLibPath(system, ".." + d + "Lib", "Veltrane.Cfg" + d + "Veltrane.ini"),
              (std::filesystem::canonical(root) / "Lib").string());
  }
  std::filesystem::remove_all(root);
}

// ---------------------------------------------------------------------------------------------
// The library path

struct LibPathCase {
  const char* name;
  const char* lib_path;
  const char* ini_path;
  const char* expected;
};
void PrintTo(const LibPathCase& c, std::ostream* os) {
  *os << c.name;
}

class ExpandLibPathOnWindows : public testing::TestWithParam<LibPathCase> {};

TEST_P(ExpandLibPathOnWindows, ExpandsAgainstTheSiteFile) {
  const LibPathCase& c = GetParam();
  TFakeWindowsPlatform platform;
  platform.SetDrive('D', TDriveType::dtFixed);
  platform.MapDrive('M', "\\\\srv\\share");
  platform.SetDrive('E', TDriveType::dtFixed);
  platform.SetCurrentDirectory("E:\\Work");
  EXPECT_EQ(ExpandLibPath(platform, c.lib_path, c.ini_path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpandLibPathOnWindows,
    testing::Values(
        LibPathCase{"Rooted", "\\Lib", "D:\\Veltrane.Cfg\\Veltrane.ini", "D:\\Lib"},
        LibPathCase{"Parent", "..\\Lib", "D:\\Veltrane.Cfg\\Veltrane.ini", "D:\\Lib"},
        LibPathCase{"Empty", "", "D:\\Veltrane.Cfg\\Veltrane.ini", "D:\\Veltrane.Cfg\\"},
        LibPathCase{"Relative", "Lib\\.\\x", "D:\\Veltrane.Cfg\\Veltrane.ini",
                    "D:\\Veltrane.Cfg\\Lib\\x"},
        LibPathCase{"OtherDrive", "E:\\Lib", "D:\\Veltrane.Cfg\\Veltrane.ini", "E:\\Lib"},
        LibPathCase{"DriveOnly", "E:", "D:\\Veltrane.Cfg\\Veltrane.ini", "E:"},
        LibPathCase{"Unc", "\\\\server\\share\\Lib", "D:\\Veltrane.Cfg\\Veltrane.ini",
                    "\\\\server\\share\\Lib"},
        // A mapped drive is replaced by its share so other workstations can follow it.
        LibPathCase{"ParentOnMappedDrive", "..\\Lib", "M:\\Veltrane.Cfg\\Veltrane.ini",
                    "\\\\srv\\share\\Lib"},
        // A rooted path keeps the mapped drive: only the resolved form is translated.
        LibPathCase{"RootedOnMappedDrive", "\\Lib", "M:\\Veltrane.Cfg\\Veltrane.ini", "M:\\Lib"},
        LibPathCase{"RootedOnShare", "\\Lib", "\\\\srv\\share\\Veltrane.Cfg\\Veltrane.ini",
                    "\\\\srv\\share\\Lib"},
        LibPathCase{"RelativeOnShare", "..\\Lib", "\\\\srv\\share\\Veltrane.Cfg\\Veltrane.ini",
                    "\\\\srv\\share\\Lib"},
        // The site file found relative to the current directory.
        LibPathCase{"RelativeSiteFile", "Lib", "Veltrane.Cfg\\Veltrane.ini",
                    "E:\\Work\\Veltrane.Cfg\\Lib"},
        LibPathCase{"RootedWithRelativeSiteFile", "\\Lib", "Veltrane.Cfg\\Veltrane.ini", "\\Lib"}),
    [](const testing::TestParamInfo<LibPathCase>& info) { return std::string(info.param.name); });

#ifndef _WIN32
TEST(ExpandLibPath, KeepsPosixAbsolutePathsAndResolvesRelativeOnes) {
  TPlatform& posix = CurrentPlatform();
  const char* ini = "/srv/site/Veltrane.Cfg/Veltrane.ini";
  EXPECT_EQ(ExpandLibPath(posix, "/opt/lib", ini), "/opt/lib");
  EXPECT_EQ(ExpandLibPath(posix, "../lib", ini), "/srv/site/lib");
  EXPECT_EQ(ExpandLibPath(posix, "", ini), "/srv/site/Veltrane.Cfg/");
  // A colon means nothing on POSIX.
  EXPECT_EQ(ExpandLibPath(posix, "a:b", ini), "/srv/site/Veltrane.Cfg/a:b");
}
#endif

}  // namespace
}  // namespace bunkmere
