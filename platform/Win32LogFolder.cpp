// Where Save Log and an unattended run's default log go on Windows. The current directory
// serves, as on every system, where a person chose it (a shortcut's "Start in", a prompt's
// folder). It does not where nobody chose it or nobody may write: a program started by
// Task Scheduler, an elevated prompt or a deployment tool starts in the Windows folder
// (usually System32), one started from a shortcut without a folder in its own, and an
// ordinary user can write in neither. There the log goes to the user's Documents folder, as
// the shell knows it: redirected to a server, moved by OneDrive, or wherever else a site has
// put it.

#include "platform/Win32Platform.h"

#include "core/Encoding.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>
#undef CP_UTF8

#include <string>
#include <string_view>

namespace bunkmere {
namespace {

std::wstring Wide(std::string_view AText) {
  const std::u16string u = Utf8ToUtf16(AText);
  return std::wstring(u.begin(), u.end());
}

std::string Utf8(std::wstring_view AText) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(AText.data()), AText.size()));
}

// Without a trailing delimiter, for comparing folders.
std::wstring Folder(std::string_view APath) {
  std::wstring folder = Wide(APath);
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

bool SameText(std::wstring_view A, std::wstring_view B) {
  return CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(),
                              static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

// AFolder is AOuter or lies in it.
bool Within(const std::wstring& AFolder, const std::wstring& AOuter) {
  if (AOuter.empty()) return false;
  if (SameText(AFolder, AOuter)) return true;
  return AFolder.size() > AOuter.size() && AFolder[AOuter.size()] == L'\\' &&
         SameText(std::wstring_view(AFolder).substr(0, AOuter.size()), AOuter);
}

// Whether the user can make a file in AFolder: one is made and gone again, which answers
// for the folder's permissions, a read-only share and a full disk alike.
bool CanMakeFileIn(const std::wstring& AFolder) {
  std::wstring probe = AFolder;
  if (!probe.empty() && probe.back() != L'\\') probe += L'\\';
  probe += L"~bunkmere-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  CloseHandle(file);
  return true;
}

std::string DocumentsFolder() {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &path)))
    folder = Utf8(path);
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

std::string ChooseLogFolder(const std::string& ACurrent, const std::string& AWindows,
                            const std::string& AProgram, bool ACurrentWritable,
                            const std::string& ADocuments) {
  const std::wstring current = Folder(ACurrent);
  const bool nobodysChoice = Within(current, Folder(AWindows)) ||
                             (!AProgram.empty() && SameText(current, Folder(AProgram)));
  if ((nobodysChoice || !ACurrentWritable) && !ADocuments.empty()) return ADocuments;
  return ACurrent;
}

std::string TWin32Platform::LogFolder() const {
  const std::string current = CurrentDirectory();
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH + 1);
  const std::string windowsFolder =
      n > 0 && n <= MAX_PATH ? Utf8(std::wstring_view(windows, n)) : std::string();
  return ChooseLogFolder(current, windowsFolder, ExtractFilePath(ModuleFileName()),
                         CanMakeFileIn(Folder(current)), DocumentsFolder());
}

}  // namespace bunkmere
