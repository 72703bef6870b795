#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/ConfigClasses.h"
#include "config/VeltraneCfg.h"
#include "config/VtConfigInfo.h"
#include "core/Reader.h"
#include "core/Writer.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

class ConfigDescription : public testing::Test {
 protected:
  ConfigDescription() {
    RegisterConfigClasses();
    FPlatform.AddFile("C:\\Veltrane.Cfg\\Veltrane.ini", "[DataProvider]\nConnStr=Data Source=s\n");
    FPlatform.AddFile("C:\\Other.ini", "[DataProvider]\nConnStr=Data Source=o\n");
  }

  TFakeWindowsPlatform FPlatform;
  TPlatformOverride FOverride{FPlatform};
};

TEST_F(ConfigDescription, SettingsFromTheFileAreNotStored) {
  TComponent owner(nullptr);
  auto* ini = new TVeltraneIni(&owner);
  ini->SetName("Cfg");
  EXPECT_EQ(WriteComponentDescription(owner).find("ConnectionString"), std::string::npos);
  EXPECT_EQ(WriteComponentDescription(*ini), "object Cfg: TVeltraneIni\nend\n");
}

TEST_F(ConfigDescription, HandSettingsAreStoredSwitchesFirstAndReadBackInThatOrder) {
  TVeltraneIni ini(nullptr);
  ini.SetName("Cfg");
  ini.SetOverrideIniFileName(true);
  ini.SetOverrideSettings(true);
  ini.SetVeltraneIni("C:\\Other.ini");
  ini.SetPagingEnabled(true);
  ini.SetIsMobile(true);
  ini.SetConnectionString("Data Source=hand");
  ini.SetConnectionStringOverlay("App=x");
  ini.SetHelpFilePath("h");
  ini.SetLogFilePath("l");
  ini.SetServerKey("k");
  ini.SetLibPathUnexpanded("b");
  const std::string expected =
      "object Cfg: TVeltraneIni\n"
      "  OverrideIniFileName = True\n"
      "  OverrideSettings = True\n"
      "  PagingEnabled = True\n"
      "  IsMobile = True\n"
      "  VeltraneIni = 'C:\\Other.ini'\n"
      // What is stored is what the property reads: the string with the overlay merged in.
      "  ConnectionString = 'Data Source=hand;App=x'\n"
      "  ConnectionStringOverlay = 'App=x'\n"
      "  HelpFilePath = 'h'\n"
      "  LogFilePath = 'l'\n"
      "  ServerKey = 'k'\n"
      "  LibPathUnexpanded = 'b'\n"
      "end\n";
  EXPECT_EQ(WriteComponentDescription(ini), expected);

  // Read back: the switches arrive before the values they unlock, so no write is refused.
  std::unique_ptr<TComponent> read = CreateComponentFromDescription(expected);
  auto* copy = dynamic_cast<TVeltraneIni*>(read.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->VeltraneIni(), "C:\\Other.ini");
  EXPECT_EQ(copy->ConnectionString(), "Data Source=hand;App=x");
  EXPECT_EQ(copy->HelpFilePath(), "h");
  EXPECT_TRUE(copy->IsMobile());
  EXPECT_EQ(WriteComponentDescription(*copy), expected);
}

TEST_F(ConfigDescription, OnlyTheFileNameByHand) {
  TVeltraneIni ini(nullptr);
  ini.SetName("Cfg");
  ini.SetOverrideIniFileName(true);
  ini.SetVeltraneIni("C:\\Other.ini");
  const std::string text = WriteComponentDescription(ini);
  EXPECT_EQ(text,
            "object Cfg: TVeltraneIni\n"
            "  OverrideIniFileName = True\n"
            "  VeltraneIni = 'C:\\Other.ini'\n"
            "end\n");
  // Loading keeps the stored file and reads it.
  std::unique_ptr<TComponent> read = CreateComponentFromDescription(text);
  auto* copy = dynamic_cast<TVeltraneIni*>(read.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->VeltraneIni(), "C:\\Other.ini");
  EXPECT_EQ(copy->ConnectionString(), "Data Source=o");
}

TEST_F(ConfigDescription, ConfigInfoAsTheWindowStoresIt) {
  TComponent form(nullptr);
  form.SetName("frmMain");
  // The window stores nothing for it: the component reads the site file when it is created.
  CreateComponentFromDescription(form, "object VtConfigInfo: TVtConfigInfo\nend\n");
  auto* info = dynamic_cast<TVtConfigInfo*>(form.FindComponent("VtConfigInfo"));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->ConnectionString(), "Data Source=s");

  // The skip switch is never stored, even when set in the designer.
  info->SetDesigning(true);
  info->SetSkipLookups(true);
  ASSERT_TRUE(info->SkipLookups());
  const std::string text = WriteComponentDescription(*info);
  info->SetSkipLookups(false);
  EXPECT_EQ(text, "object VtConfigInfo: TVtConfigInfo\nend\n");
}

}  // namespace
}  // namespace bunkmere
