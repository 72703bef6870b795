#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "config/VeltraneCfg.h"
#include "core/Exceptions.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

constexpr const char* kModule = "D:\\Apps\\VELTRANE.APP\\Bin\\Bunkmere.exe";
constexpr const char* kSiteFile = "D:\\Apps\\Veltrane.Cfg\\Veltrane.ini";
constexpr const char* kMobileFile = "D:\\Apps\\VELTRANE.APP\\Bin\\Roveline.ini";
constexpr const char* kSiteText =
    "; site settings\r\n"
    "[Paths]\r\n"
    "HelpPath=\\\\srv\\help\r\n"
    "LogPath = D:\\Logs \r\n"
    "LibPath=..\\Lib\r\n"
    "[Paging]\r\n"
    "Enabled=1\r\n"
    "[Server]\r\n"
    "ServerKey=K-1\r\n"
    "[DataProvider]\r\n"
    "ConnStr=Data Source=jailsrv;Initial Catalog=JAIL;Integrated Security=SSPI\r\n";

// A Windows workstation with the family installed under D:\Apps\VELTRANE.APP.
class SiteFileTest : public testing::Test {
 protected:
  SiteFileTest() {
    FPlatform.SetDrive('D', TDriveType::dtFixed);
    FPlatform.SetModuleFileName(kModule);
    FPlatform.AddFile(kSiteFile, kSiteText);
  }

  TFakeWindowsPlatform FPlatform;
  TPlatformOverride FOverride{FPlatform};
};

// The exception's class and message, or "none".
std::string Outcome(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return "none";
}

TEST_F(SiteFileTest, ConstructorLocatesAndReadsTheSiteFile) {
  TVeltraneIni ini(nullptr);
  EXPECT_EQ(ini.VeltraneIni(), kSiteFile);
  EXPECT_FALSE(ini.IsMobile());
  EXPECT_EQ(ini.HelpFilePath(), "\\\\srv\\help");
  EXPECT_EQ(ini.LogFilePath(), "D:\\Logs");
  EXPECT_EQ(ini.LibPathUnexpanded(), "..\\Lib");
  EXPECT_EQ(ini.LibPath(), "D:\\Apps\\Lib");
  EXPECT_TRUE(ini.PagingEnabled());
  EXPECT_EQ(ini.ServerKey(), "K-1");
  EXPECT_EQ(ini.ConnectionString(),
            "Data Source=jailsrv;Initial Catalog=JAIL;Integrated Security=SSPI");
}

TEST_F(SiteFileTest, OverlayAppliesToEveryReadOfTheConnectionString) {
  TVeltraneIni ini(nullptr);
  ini.SetConnectionStringOverlay("Integrated Security=;User ID=jail");
  EXPECT_EQ(ini.ConnectionString(), "Data Source=jailsrv;Initial Catalog=JAIL;User ID=jail");
  ini.SetConnectionStringOverlay("");
  EXPECT_EQ(ini.ConnectionString(),
            "Data Source=jailsrv;Initial Catalog=JAIL;Integrated Security=SSPI");
}

struct EnabledCase {
  const char* line;  // the [Paging] line, or "" for none
  bool expected;
};
void PrintTo(const EnabledCase& c, std::ostream* os) {
  *os << "'" << c.line << "'";
}

class PagingEnabled : public SiteFileTest, public testing::WithParamInterface<EnabledCase> {};

TEST_P(PagingEnabled, ReadsAThirtyTwoBitInteger) {
  FPlatform.AddFile(kSiteFile,
                    std::string("[Paging]\n") + GetParam().line + "\n[DataProvider]\nConnStr=x\n");
  TVeltraneIni ini(nullptr);
  EXPECT_EQ(ini.PagingEnabled(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PagingEnabled,
    testing::Values(EnabledCase{"Enabled=1", true}, EnabledCase{"Enabled=-1", true},
                    EnabledCase{"Enabled=0x10", true}, EnabledCase{"Enabled=0X0", false},
                    EnabledCase{"Enabled=$A", true}, EnabledCase{"Enabled=x1", true},
                    EnabledCase{"Enabled=+2", true}, EnabledCase{"Enabled=0", false},
                    EnabledCase{"Enabled=-0", false}, EnabledCase{"Enabled=yes", false},
                    EnabledCase{"Enabled=true", false}, EnabledCase{"Enabled=1.0", false},
                    EnabledCase{"Enabled=0x", false}, EnabledCase{"Enabled=9999999999", false},
                    EnabledCase{"Enabled=", false}, EnabledCase{"", false}));

TEST_F(SiteFileTest, MissingConnectionStringFailsAtRunTimeKeepingTheOtherValues) {
  FPlatform.AddFile(kSiteFile,
                    "[Paths]\nHelpPath=h\nLogPath=l\nLibPath=b\n[Server]\nServerKey=k\n"
                    "[Paging]\nEnabled=1\n[DataProvider]\nConnStr=\n");
  EXPECT_EQ(Outcome([] { TVeltraneIni ini(nullptr); }),
            std::string("EIniFileException: Database connection information not found in ") +
                kSiteFile + " (DataProvider.ConnStr)");

  // Read again through the switch on a working component: the five other values are read.
  FPlatform.AddFile(kSiteFile, kSiteText);
  TVeltraneIni ini(nullptr);
  ini.SetOverrideSettings(true);
  FPlatform.AddFile(kSiteFile,
                    "[Paths]\nHelpPath=h\nLogPath=l\nLibPath=b\n[Server]\nServerKey=k\n"
                    "[Paging]\nEnabled=0\n");
  EXPECT_EQ(Outcome([&] { ini.SetOverrideSettings(false); }),
            std::string("EIniFileException: Database connection information not found in ") +
                kSiteFile + " (DataProvider.ConnStr)");
  EXPECT_EQ(ini.HelpFilePath(), "h");
  EXPECT_EQ(ini.LogFilePath(), "l");
  EXPECT_EQ(ini.LibPathUnexpanded(), "b");
  EXPECT_EQ(ini.ServerKey(), "k");
  EXPECT_FALSE(ini.PagingEnabled());
  EXPECT_EQ(ini.ConnectionString(), "");
}

TEST_F(SiteFileTest, MissingConnectionStringIsAcceptedInTheDesigner) {
  FPlatform.AddFile(kSiteFile, "[Paths]\nHelpPath=h\n");
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto* ini = new TVeltraneIni(&form);
  EXPECT_EQ(ini->HelpFilePath(), "h");
  EXPECT_EQ(ini->ConnectionString(), "");
}

TEST_F(SiteFileTest, FailingConstructorLeavesNothingBehindInItsOwner) {
  FPlatform.RemoveFile(kSiteFile);
  TComponent form(nullptr);
  EXPECT_EQ(Outcome([&] { new TVeltraneIni(&form); }),
            "EIniFileException: Veltrane.ini not found.");
  EXPECT_EQ(form.ComponentCount(), 0);
}

TEST_F(SiteFileTest, UnreadableSiteFileFailsWithTheFileError) {
  FPlatform.SetFileLocked(kSiteFile, true);
  const std::string outcome = Outcome([] { TVeltraneIni ini(nullptr); });
  EXPECT_EQ(outcome.rfind("EFileError: ", 0), 0u) << outcome;
  EXPECT_NE(outcome.find(kSiteFile), std::string::npos) << outcome;
}

TEST_F(SiteFileTest, MobileInstallationReadsItsOwnFile) {
  FPlatform.AddFile(kMobileFile, "[DataProvider]\nConnStr=Data Source=laptop\n");
  TVeltraneIni ini(nullptr);
  EXPECT_TRUE(ini.IsMobile());
  EXPECT_EQ(ini.VeltraneIni(), kMobileFile);
  EXPECT_EQ(ini.ConnectionString(), "Data Source=laptop");
}

TEST_F(SiteFileTest, FailedSearchKeepsThePathButNotTheMobileDetection) {
  FPlatform.AddFile(kMobileFile, "[DataProvider]\nConnStr=Data Source=laptop\n");
  TVeltraneIni ini(nullptr);
  FPlatform.RemoveFile(kMobileFile);
  FPlatform.RemoveFile(kSiteFile);
  EXPECT_EQ(Outcome([&] { ini.Loaded(); }), "EIniFileException: Veltrane.ini not found.");
  EXPECT_FALSE(ini.IsMobile());
  EXPECT_EQ(ini.VeltraneIni(), kMobileFile);
  EXPECT_EQ(ini.ConnectionString(), "Data Source=laptop");
}

TEST_F(SiteFileTest, LoadedReadsTheFileAfresh) {
  TVeltraneIni ini(nullptr);
  FPlatform.AddFile(kSiteFile, "[DataProvider]\nConnStr=Data Source=new\n");
  ini.Loaded();
  EXPECT_EQ(ini.ConnectionString(), "Data Source=new");
  EXPECT_EQ(ini.HelpFilePath(), "");
}

// ---------------------------------------------------------------------------------------------
// The override switches

struct GatedCase {
  const char* property;
  std::function<void(TVeltraneIni&)> write;
  std::function<std::string(const TVeltraneIni&)> read;
  const char* written;  // what read gives after a successful write
  bool from_file;       // the file gives it back when the switch goes off
};
void PrintTo(const GatedCase& c, std::ostream* os) {
  *os << c.property;
}

class GatedWrite : public SiteFileTest, public testing::WithParamInterface<GatedCase> {};

TEST_P(GatedWrite, FailsWhileTheFileRulesAndWorksByHand) {
  const GatedCase& c = GetParam();
  TVeltraneIni ini(nullptr);
  const std::string before = c.read(ini);
  EXPECT_EQ(Outcome([&] { c.write(ini); }),
            std::string("Exception: Cannot set ") + c.property + " when OverrideSettings is False");
  EXPECT_EQ(c.read(ini), before);

  ini.SetOverrideSettings(true);
  EXPECT_EQ(c.read(ini), before) << "switching to hand settings keeps the values";
  c.write(ini);
  EXPECT_EQ(c.read(ini), c.written);

  // Back to the file: a value the file gives is replaced; the mobile detection is not read.
  ini.SetOverrideSettings(false);
  EXPECT_EQ(c.read(ini), c.from_file ? before : c.written);
}

std::string Flag(bool AValue) {
  return AValue ? "true" : "false";
}

INSTANTIATE_TEST_SUITE_P(
    Properties, GatedWrite,
    testing::Values(
        GatedCase{"HelpFilePath", [](TVeltraneIni& i) { i.SetHelpFilePath("H"); },
                  [](const TVeltraneIni& i) { return i.HelpFilePath(); }, "H", true},
        GatedCase{"LogFilePath", [](TVeltraneIni& i) { i.SetLogFilePath("L"); },
                  [](const TVeltraneIni& i) { return i.LogFilePath(); }, "L", true},
        GatedCase{"ServerKey", [](TVeltraneIni& i) { i.SetServerKey("S"); },
                  [](const TVeltraneIni& i) { return i.ServerKey(); }, "S", true},
        GatedCase{"LibPathUnexpanded", [](TVeltraneIni& i) { i.SetLibPathUnexpanded("B"); },
                  [](const TVeltraneIni& i) { return i.LibPathUnexpanded(); }, "B", true},
        GatedCase{"ConnectionString", [](TVeltraneIni& i) { i.SetConnectionString("A=1"); },
                  [](const TVeltraneIni& i) { return i.ConnectionString(); }, "A=1", true},
        GatedCase{"PagingEnabled", [](TVeltraneIni& i) { i.SetPagingEnabled(false); },
                  [](const TVeltraneIni& i) { return Flag(i.PagingEnabled()); }, "false", true},
        GatedCase{"IsMobile", [](TVeltraneIni& i) { i.SetIsMobile(true); },
                  [](const TVeltraneIni& i) { return Flag(i.IsMobile()); }, "true", false}));

TEST_F(SiteFileTest, ConnectionStringSetByHandStillGetsTheOverlay) {
  TVeltraneIni ini(nullptr);
  ini.SetOverrideSettings(true);
  ini.SetConnectionString("A=1;B=2");
  ini.SetConnectionStringOverlay("B=");
  EXPECT_EQ(ini.ConnectionString(), "A=1");
}

TEST_F(SiteFileTest, HandSettingsAreNotReplacedByLoading) {
  TVeltraneIni ini(nullptr);
  ini.SetOverrideSettings(true);
  ini.SetHelpFilePath("H");
  FPlatform.AddFile(kMobileFile, "[DataProvider]\nConnStr=x\n");
  ini.Loaded();
  EXPECT_EQ(ini.HelpFilePath(), "H");
  EXPECT_FALSE(ini.IsMobile()) << "detection is part of the file settings";
  EXPECT_EQ(ini.VeltraneIni(), kMobileFile) << "the file is still located";
}

TEST_F(SiteFileTest, SiteFileNameByHand) {
  TVeltraneIni ini(nullptr);
  const std::string other = "D:\\Other's\\Site.ini";
  FPlatform.AddFile(other, "[DataProvider]\nConnStr=Data Source=other\n");

  EXPECT_EQ(Outcome([&] { ini.SetVeltraneIni(other); }),
            "Exception: Cannot set VeltraneIni when OverrideIniFileName is False");
  EXPECT_EQ(ini.VeltraneIni(), kSiteFile);

  ini.SetOverrideIniFileName(true);
  EXPECT_EQ(ini.VeltraneIni(), kSiteFile) << "switching keeps the path";
  EXPECT_EQ(Outcome([&] { ini.SetVeltraneIni("D:\\Nowhere\\It's.ini"); }),
            "EIniFileException: File not found: 'D:\\Nowhere\\It''s.ini'");
  EXPECT_EQ(ini.VeltraneIni(), kSiteFile);
  EXPECT_EQ(Outcome([&] { ini.SetVeltraneIni("D:\\Apps"); }),
            "EIniFileException: File not found: 'D:\\Apps'");

  ini.SetVeltraneIni(other);
  EXPECT_EQ(ini.VeltraneIni(), other);
  EXPECT_EQ(ini.ConnectionString(), "Data Source=other");

  // Loading keeps a path set by hand.
  ini.Loaded();
  EXPECT_EQ(ini.VeltraneIni(), other);

  // Back to the search: located and read again.
  ini.SetOverrideIniFileName(false);
  EXPECT_EQ(ini.VeltraneIni(), kSiteFile);
  EXPECT_EQ(ini.ConnectionString(),
            "Data Source=jailsrv;Initial Catalog=JAIL;Integrated Security=SSPI");
}

TEST_F(SiteFileTest, SiteFileNameByHandWithSettingsByHandReadsNothing) {
  TVeltraneIni ini(nullptr);
  ini.SetOverrideSettings(true);
  ini.SetOverrideIniFileName(true);
  FPlatform.AddFile("D:\\Empty.ini", "");
  ini.SetVeltraneIni("D:\\Empty.ini");
  EXPECT_EQ(ini.VeltraneIni(), "D:\\Empty.ini");
  EXPECT_EQ(ini.ConnectionString(),
            "Data Source=jailsrv;Initial Catalog=JAIL;Integrated Security=SSPI");
}

}  // namespace
}  // namespace bunkmere
