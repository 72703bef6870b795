// What Windows and its shell read from the executable: the version resource, the manifest
// (common controls 6, no elevation) and the application icon. This test program carries the
// very resources the program does.

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace {

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring path = ModulePath();
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "no version resource";
    FData.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, FData.data()));
  }
  std::wstring Text(const wchar_t* ABlock, const wchar_t* AName) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\") + ABlock + L"\\" + AName;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(FData.data(), key.c_str(), &value, &length) || length == 0) return {};
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
  }
  std::vector<char> FData;
};

TEST_F(VersionResource, NumbersLanguageAndCodePage) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(FData.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(4, 9));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(1, 0));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(4, 9));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 0));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  WORD* translation = nullptr;
  ASSERT_TRUE(::VerQueryValueW(FData.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);              // exactly one language
  EXPECT_EQ(translation[0], 0x0409);  // US English
  EXPECT_EQ(translation[1], 1252);

  EXPECT_EQ(Text(L"040904E4", L"FileVersion"), L"9.4.0.1");
  EXPECT_EQ(Text(L"040904E4", L"ProductVersion"), L"9.4.0");
  EXPECT_EQ(Text(L"040904E4", L"OriginalFilename"), L"Bunkmere.exe");
}

std::string Manifest() {
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  if (found == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(nullptr, found);
  const char* bytes = static_cast<const char*>(::LockResource(loaded));
  return std::string(bytes, ::SizeofResource(nullptr, found));
}

TEST(Manifest, AsksForCommonControls6AndTheInvokersRights) {
  const std::string manifest = Manifest();
  ASSERT_FALSE(manifest.empty()) << "no manifest";
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  // The window scales itself on every screen: the system must not stretch it.
  EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
}

// Windows 10 and 11 know the program as theirs (one entry stands for both); without it they
// would tell it they are Windows 8 and keep older versions' behaviour for it.
TEST(Manifest, DeclaresWindows10And11AsSupported) {
  const std::string manifest = Manifest();
  EXPECT_NE(manifest.find("<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">"),
            std::string::npos);
  EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
            std::string::npos);
}

TEST(Manifest, TheSystemLoadsCommonControls6ForTheProgram) {
  // The manifest only counts if the loader honours it: the controls library it hands the
  // program is then version 6 from the side-by-side store, not the system folder's version 5.
  HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(comctl, path, MAX_PATH);
  std::wstring lower = path;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(::towlower(c));
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_"), std::wstring::npos);
  EXPECT_NE(lower.find(L"_6.0."), std::wstring::npos);
  ::FreeLibrary(comctl);
}

TEST(Icon, TheApplicationIconComesInTheSizesTheShellShows) {
  for (int size : {16, 32}) {
    HICON icon = static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP bitmap{};
    ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(icon);
  }
}

}  // namespace
