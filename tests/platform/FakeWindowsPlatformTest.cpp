#include "platform/FakeWindowsPlatform.h"

#include <gtest/gtest.h>

#include "core/Exceptions.h"

namespace bunkmere {
namespace {

TEST(WindowsPaths, FullPathName) {
  struct Case {
    const char* path;
    const char* current;
    const char* full;
  };
  const Case cases[] = {
      {"D:\\Veltrane.Cfg\\..\\Lib", "C:\\", "D:\\Lib"},
      {"D:\\Veltrane.Cfg\\", "C:\\", "D:\\Veltrane.Cfg\\"},
      {"d:/apps/./x//y", "C:\\", "d:\\apps\\x\\y"},
      {"D:\\..\\..", "C:\\", "D:\\"},
      {"Veltrane.Cfg\\Veltrane.ini", "C:\\Work", "C:\\Work\\Veltrane.Cfg\\Veltrane.ini"},
      {"..\\Lib", "C:\\Work\\Sub", "C:\\Work\\Lib"},
      {"\\Lib", "E:\\Work", "E:\\Lib"},
      {"E:Lib", "E:\\Work", "E:\\Work\\Lib"},  // relative to the current folder of E:
      {"F:Lib", "E:\\Work", "F:\\Lib"},
      {"\\\\server\\share\\a\\..\\..\\b", "C:\\", "\\\\server\\share\\b"},
      {"//server/share/x/", "C:\\", "\\\\server\\share\\x\\"},
      {"x", "\\\\server\\share\\dir", "\\\\server\\share\\dir\\x"},
      {"\\x", "\\\\server\\share\\dir", "\\\\server\\share\\x"},
      {".", "C:\\Work", "C:\\Work"},
      {"", "C:\\", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WindowsFullPathName(c.path, c.current), c.full) << c.path;
}

TEST(WindowsPaths, RootIsTheDriveOrTheShareWithItsBackslash) {
  EXPECT_EQ(WindowsPathRoot("D:\\Veltrane.Cfg\\Veltrane.ini"), "D:\\");
  EXPECT_EQ(WindowsPathRoot("\\\\server\\share\\dir\\x"), "\\\\server\\share\\");
  EXPECT_EQ(WindowsPathRoot("\\\\server\\share"), "\\\\server\\share\\");
  EXPECT_EQ(WindowsPathRoot("relative"), "");
}

class FakeWindowsPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win.SetDrive('A', TDriveType::dtRemovable);
    win.SetDrive('D', TDriveType::dtFixed);
    win.SetDrive('E', TDriveType::dtCdRom);
    win.MapDrive('N', "\\\\fileserver\\jail");
    win.AddShare("\\\\fileserver\\jail");
  }
  TFakeWindowsPlatform win;
};

TEST_F(FakeWindowsPlatformTest, DrivesAndTheirTypes) {
  EXPECT_EQ(win.DriveRoots(), (std::vector<std::string>{"A:\\", "C:\\", "D:\\", "E:\\", "N:\\"}));
  struct Case {
    const char* root;
    TDriveType type;
  };
  const Case cases[] = {
      {"A:\\", TDriveType::dtRemovable},
      {"c:\\", TDriveType::dtFixed},
      {"D:", TDriveType::dtFixed},
      {"E:\\", TDriveType::dtCdRom},
      {"N:\\", TDriveType::dtRemote},
      {"Z:\\", TDriveType::dtNoRootDir},
      {"D:\\Lib\\", TDriveType::dtNoRootDir},
      {"\\\\fileserver\\jail\\", TDriveType::dtRemote},
      {"\\\\FILESERVER\\JAIL", TDriveType::dtRemote},
      {"\\\\other\\share\\", TDriveType::dtNoRootDir},
      {"", TDriveType::dtFixed},  // the current directory's drive
  };
  for (const Case& c : cases) EXPECT_EQ(win.DriveType(c.root), c.type) << c.root;
  EXPECT_EQ(win.PathDelimiter(), '\\');
}

TEST_F(FakeWindowsPlatformTest, RemovingADriveRemovesItsFiles) {
  win.AddFile("D:\\Veltrane.Cfg\\Veltrane.ini", "x");
  win.SetDrive('D', TDriveType::dtNoRootDir);
  EXPECT_EQ(win.DriveType("D:\\"), TDriveType::dtNoRootDir);
  win.SetDrive('D', TDriveType::dtFixed);
  EXPECT_FALSE(win.FileExists("D:\\Veltrane.Cfg\\Veltrane.ini"));
}

TEST_F(FakeWindowsPlatformTest, RootsOfPaths) {
  win.SetCurrentDirectory("D:\\Work");
  EXPECT_EQ(win.DriveRootOf("d:\\apps\\x"), "d:\\");
  EXPECT_EQ(win.DriveRootOf("\\\\fileserver\\jail\\Lib"), "\\\\fileserver\\jail\\");
  EXPECT_EQ(win.DriveRootOf("relative\\x"), "D:\\");
  EXPECT_EQ(win.DriveRootOf(""), "");
}

TEST_F(FakeWindowsPlatformTest, UniversalNamesOfMappedDrives) {
  EXPECT_EQ(win.UniversalName("N:\\Lib"), "\\\\fileserver\\jail\\Lib");
  EXPECT_EQ(win.UniversalName("n:\\Veltrane.Cfg\\..\\Lib\\"), "\\\\fileserver\\jail\\Lib\\");
  EXPECT_EQ(win.UniversalName("D:\\Lib"), std::nullopt);
  EXPECT_EQ(win.UniversalName("\\\\fileserver\\jail\\Lib"), std::nullopt);
}

TEST_F(FakeWindowsPlatformTest, FileSystemIgnoresLetterCase) {
  win.AddFile("D:\\Apps\\Veltrane.Cfg\\Veltrane.ini", "[DataProvider]");
  EXPECT_TRUE(win.FileExists("d:\\APPS\\veltrane.cfg\\VELTRANE.INI"));
  EXPECT_TRUE(win.FileExists("D:/Apps/Veltrane.Cfg/Veltrane.ini"));
  EXPECT_TRUE(win.DirectoryExists("d:\\apps\\veltrane.cfg\\"));
  EXPECT_TRUE(win.DirectoryExists("D:\\Apps"));
  EXPECT_TRUE(win.DirectoryExists("D:\\"));
  EXPECT_FALSE(win.FileExists("D:\\Apps\\Veltrane.Cfg"));  // a folder is no file
  EXPECT_FALSE(win.FileExists("D:\\Apps\\Veltrane.Cfg\\Veltrane.ini\\"));
  EXPECT_FALSE(win.DirectoryExists("D:\\Apps\\Veltrane.Cfg\\Veltrane.ini"));
  EXPECT_FALSE(win.DirectoryExists("Z:\\"));
  EXPECT_EQ(win.ReadFileIfExists("D:\\APPS\\Veltrane.Cfg\\Veltrane.ini"), "[DataProvider]");
}

TEST_F(FakeWindowsPlatformTest, RelativePathsUseTheCurrentDirectory) {
  win.AddFile("C:\\Work\\Veltrane.Cfg\\Veltrane.ini", "x");
  EXPECT_FALSE(win.FileExists("Veltrane.Cfg\\Veltrane.ini"));
  win.SetCurrentDirectory("c:\\work");
  EXPECT_EQ(win.CurrentDirectory(), "c:\\work");
  EXPECT_TRUE(win.FileExists("Veltrane.Cfg\\Veltrane.ini"));
  EXPECT_EQ(win.FullPathName("Veltrane.Cfg\\Veltrane.ini"), "c:\\work\\Veltrane.Cfg\\Veltrane.ini");
}

TEST_F(FakeWindowsPlatformTest, FilesOnSharesAndMappedDrives) {
  win.AddFile("\\\\fileserver\\jail\\Veltrane.Cfg\\Veltrane.ini", "unc");
  win.AddFile("N:\\Veltrane.Cfg\\Veltrane.ini", "mapped");
  EXPECT_EQ(win.ReadFileIfExists("\\\\FileServer\\Jail\\Veltrane.Cfg\\Veltrane.ini"), "unc");
  EXPECT_EQ(win.ReadFileIfExists("N:\\Veltrane.Cfg\\Veltrane.ini"), "mapped");
  EXPECT_THROW(win.AddFile("\\\\nowhere\\share\\x", "x"), std::invalid_argument);
  EXPECT_THROW(win.AddFile("Q:\\x", "x"), std::invalid_argument);
}

TEST_F(FakeWindowsPlatformTest, ReadingReportsMissingApartFromUnreadable) {
  win.AddFile("D:\\site.ini", "x");
  EXPECT_EQ(win.ReadFileIfExists("D:\\missing.ini"), std::nullopt);
  EXPECT_EQ(win.ReadFileIfExists("Z:\\site.ini"), std::nullopt);
  struct Case {
    const char* path;
    const char* message;
  };
  win.SetFileLocked("D:\\site.ini", true);
  const Case cases[] = {
      {"d:\\site.ini",
       "Cannot open file \"d:\\site.ini\". The process cannot access the file because it is "
       "being used by another process"},
      {"D:\\", "Cannot open file \"D:\\\". Access is denied"},
  };
  for (const Case& c : cases) {
    try {
      win.ReadFileIfExists(c.path);
      ADD_FAILURE() << "no exception: " << c.path;
    } catch (const EFileError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  try {
    win.ReadFileBytes("D:\\missing.ini");
    ADD_FAILURE() << "no exception";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"D:\\missing.ini\". The system cannot find the file specified");
  }
}

TEST_F(FakeWindowsPlatformTest, Writing) {
  win.SetCurrentDirectory("D:\\Logs");
  EXPECT_THROW(win.WriteFileBytes("10044350.log", "x"), EFileError);  // no such folder yet
  win.AddFolder("D:\\Logs");
  win.WriteFileBytes("10044350.log", "first");
  win.WriteFileBytes("10044350.LOG", "second");
  EXPECT_EQ(win.FileBytes("D:\\Logs\\10044350.log"), "second");
  win.WriteFileBytes("D:\\top.log", "x");
  EXPECT_EQ(win.FileBytes("d:\\TOP.LOG"), "x");

  struct Case {
    const char* path;
    const char* message;
  };
  win.SetFileLocked("D:\\top.log", true);
  const Case cases[] = {
      {"Z:\\x.log", "Cannot create file \"Z:\\x.log\". The system cannot find the path specified"},
      {"D:\\No\\x.log",
       "Cannot create file \"D:\\No\\x.log\". The system cannot find the path specified"},
      {"D:\\Logs", "Cannot create file \"D:\\Logs\". Access is denied"},
      {"D:\\top.log",
       "Cannot create file \"D:\\top.log\". The process cannot access the file because it is "
       "being used by another process"},
  };
  for (const Case& c : cases) {
    try {
      win.WriteFileBytes(c.path, "y");
      ADD_FAILURE() << "no exception: " << c.path;
    } catch (const EFileError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_EQ(win.FileBytes("D:\\top.log"), "x");
}

TEST_F(FakeWindowsPlatformTest, ProcessIdentity) {
  win.SetModuleFileName("D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe");
  win.SetUserName("jdoe");
  win.SetComputerName("BOOKING-7");
  win.SetAnsiCodePage(65001);
  win.SetNow(45000.5);
  EXPECT_EQ(win.ModuleFileName(), "D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe");
  EXPECT_EQ(win.ExecutableFileName(), "Bunkmere.exe");
  EXPECT_EQ(win.UserName(), "jdoe");
  EXPECT_EQ(win.ComputerName(), "BOOKING-7");
  EXPECT_EQ(win.AnsiCodePage(), 65001u);
  EXPECT_EQ(win.Now(), 45000.5);
}

TEST(PathText, TakenApartTheWindowsWay) {
  const TFakeWindowsPlatform win;
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* drive;
  };
  const Case cases[] = {
      {"D:\\Veltrane.Cfg\\Veltrane.ini", "D:\\Veltrane.Cfg\\", "Veltrane.ini", "D:"},
      {"d:\\apps\\veltrane.app\\bin\\", "d:\\apps\\veltrane.app\\bin\\", "", "d:"},
      {"Veltrane.Cfg\\Veltrane.ini", "Veltrane.Cfg\\", "Veltrane.ini", ""},
      {"E:Lib", "E:", "Lib", "E:"},
      {"\\\\server\\share\\Lib\\x.dll", "\\\\server\\share\\Lib\\", "x.dll", "\\\\server\\share"},
      {"\\\\server\\share", "\\\\server\\", "share", "\\\\server\\share"},
      {"\\\\server", "\\\\", "server", ""},
      {"\\\\\\share", "\\\\\\", "share", ""},
      {"\\Lib", "\\", "Lib", ""},
      {"C:/Apps/x.exe", "C:", "/Apps/x.exe", "C:"},  // "/" does not end a folder
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(win.ExtractFilePath(c.path), c.folder) << c.path;
    EXPECT_EQ(win.ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(win.ExtractFileDrive(c.path), c.drive) << c.path;
  }
}

TEST(PlatformOverride, NestsAndRestores) {
  TPlatform& real = CurrentPlatform();
  TFakeWindowsPlatform outer, inner;
  {
    TPlatformOverride o1(outer);
    EXPECT_EQ(&CurrentPlatform(), &outer);
    {
      TPlatformOverride o2(inner);
      EXPECT_EQ(&CurrentPlatform(), &inner);
    }
    EXPECT_EQ(&CurrentPlatform(), &outer);
  }
  EXPECT_EQ(&CurrentPlatform(), &real);
#ifdef _WIN32
  EXPECT_EQ(real.PathDelimiter(), '\\');
#else
  EXPECT_EQ(real.PathDelimiter(), '/');
#endif
}

}  // namespace
}  // namespace bunkmere
