#include "platform/Win32Platform.h"

#include <string_view>

#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/WindowsFormats.h"

// After the system's own headers of this unit: windows.h names CP_UTF8 as a macro.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winnetwk.h>
#undef CP_UTF8

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

// Calls AGet(buffer, capacity) for a text of unknown length, growing the buffer while the
// answer fills it. AGet returns the length written, or a larger number when it needs more.
template <typename TGet>
std::wstring GrowingText(TGet AGet) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = AGet(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(std::max<std::size_t>(n + 1, buf.size() * 2));
  }
}

// A handle that closes itself.
class THandle {
 public:
  explicit THandle(HANDLE AHandle) : FHandle(AHandle) {}
  ~THandle() {
    if (Valid()) ::CloseHandle(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
  HANDLE Get() const { return FHandle; }
  // Closes now and reports the result, so a failed final flush is not missed.
  bool Close() {
    const BOOL ok = ::CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE FHandle;
};

bool WriteAll(HANDLE AFile, const std::string& ABytes) {
  for (std::size_t done = 0; done < ABytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(ABytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(AFile, ABytes.data() + done, chunk, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

std::string LocaleText(LCTYPE AType) {
  wchar_t buf[256] = {};
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, AType, buf, 256);
  if (n <= 1) return {};
  return Utf8(std::wstring_view(buf, static_cast<std::size_t>(n - 1)));
}

}  // namespace

std::string Win32ErrorText(unsigned long AError) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, AError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() <= L' ' || message.back() == L'.')) message.pop_back();
  if (message.empty()) return "System error " + std::to_string(AError);
  return Utf8(message);
}

std::string TWin32Platform::ModuleFileName() const {
  return Utf8(GrowingText(
      [](wchar_t* ABuf, DWORD ASize) { return ::GetModuleFileNameW(nullptr, ABuf, ASize); }));
}

std::vector<std::string> TWin32Platform::DriveRoots() const {
  std::vector<std::string> roots;
  const DWORD drives = ::GetLogicalDrives();
  for (int k = 0; k < 26; ++k)
    if (drives & (1u << k)) roots.push_back(std::string(1, static_cast<char>('A' + k)) + ":\\");
  return roots;
}

TDriveType TWin32Platform::DriveType(const std::string& ARoot) const {
  if (ARoot.empty()) return TDriveType::dtNoRootDir;
  return static_cast<TDriveType>(::GetDriveTypeW(Wide(ARoot).c_str()));
}

std::string TWin32Platform::DriveRootOf(const std::string& APath) const {
  if (APath.empty()) return {};
  return WindowsPathRoot(FullPathName(APath));
}

bool TWin32Platform::FileExists(const std::string& APath) const {
  if (APath.empty()) return false;
  const DWORD a = ::GetFileAttributesW(Wide(APath).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool TWin32Platform::DirectoryExists(const std::string& APath) const {
  if (APath.empty()) return false;
  const DWORD a = ::GetFileAttributesW(Wide(APath).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string TWin32Platform::FullPathName(const std::string& APath) const {
  if (APath.empty()) return {};
  const std::wstring path = Wide(APath);
  return Utf8(GrowingText([&](wchar_t* ABuf, DWORD ASize) {
    return ::GetFullPathNameW(path.c_str(), ASize, ABuf, nullptr);
  }));
}

std::optional<std::string> TWin32Platform::UniversalName(const std::string& APath) const {
  if (APath.empty()) return std::nullopt;
  const std::wstring path = Wide(FullPathName(APath));
  // The answer is a structure pointing into the same buffer, so the buffer is raw bytes
  // aligned for that structure.
  std::vector<UNIVERSAL_NAME_INFOW> buf(64);
  for (;;) {
    DWORD size = static_cast<DWORD>(buf.size() * sizeof(UNIVERSAL_NAME_INFOW));
    const DWORD rc =
        ::WNetGetUniversalNameW(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buf.data(), &size);
    if (rc == ERROR_MORE_DATA) {
      buf.resize(size / sizeof(UNIVERSAL_NAME_INFOW) + 1);
      continue;
    }
    if (rc != NO_ERROR || buf[0].lpUniversalName == nullptr) return std::nullopt;
    return Utf8(buf[0].lpUniversalName);
  }
}

std::string TWin32Platform::CurrentDirectory() const {
  return Utf8(
      GrowingText([](wchar_t* ABuf, DWORD ASize) { return ::GetCurrentDirectoryW(ASize, ABuf); }));
}

std::string TWin32Platform::UserName() const {
  wchar_t buf[257] = {};
  DWORD size = 257;
  if (!::GetUserNameW(buf, &size) || size == 0) return {};
  return Utf8(std::wstring_view(buf, size - 1));  // the count includes the terminator
}

std::string TWin32Platform::ComputerName() const {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buf, &size)) return {};
  return Utf8(std::wstring_view(buf, size));
}

TDateTime TWin32Platform::Now() const {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  TDecodedDateTime d;
  d.Year = t.wYear;
  d.Month = t.wMonth;
  d.Day = t.wDay;
  d.Hour = t.wHour;
  d.Minute = t.wMinute;
  d.Second = t.wSecond;
  d.MilliSecond = t.wMilliseconds;
  return EncodeDateTime(d);
}

TFormatSettings TWin32Platform::FormatSettings() const {
  TFormatSettings s;
  std::string separator = s.DateSeparator;
  if (const std::string p = LocaleText(LOCALE_SSHORTDATE); !p.empty()) {
    s.ShortDateFormat = WindowsPictureToPattern(p, '/', separator);
    s.DateSeparator = separator;
  }
  if (const std::string p = LocaleText(LOCALE_SLONGDATE); !p.empty()) {
    std::string unused;
    s.LongDateFormat = WindowsPictureToPattern(p, '\0', unused);
  }
  separator = s.TimeSeparator;
  if (const std::string p = LocaleText(LOCALE_STIMEFORMAT); !p.empty()) {
    s.LongTimeFormat = WindowsPictureToPattern(p, ':', separator);
    s.TimeSeparator = separator;
  }
  if (const std::string p = LocaleText(LOCALE_SSHORTTIME); !p.empty()) {
    std::string unused;
    s.ShortTimeFormat = WindowsPictureToPattern(p, '\0', unused);
  }
  // A 24-hour locale has no day-half texts, and the patterns then show none.
  s.TimeAMString = LocaleText(LOCALE_S1159);
  s.TimePMString = LocaleText(LOCALE_S2359);
  for (int k = 0; k < 12; ++k) {
    const auto m = static_cast<std::size_t>(k);
    if (auto name = LocaleText(LOCALE_SMONTHNAME1 + k); !name.empty()) s.LongMonthNames[m] = name;
    if (auto name = LocaleText(LOCALE_SABBREVMONTHNAME1 + k); !name.empty())
      s.ShortMonthNames[m] = name;
  }
  // Windows counts the days from Monday; the settings from Sunday.
  for (int k = 0; k < 7; ++k) {
    const auto d = static_cast<std::size_t>((k + 1) % 7);
    if (auto name = LocaleText(LOCALE_SDAYNAME1 + k); !name.empty()) s.LongDayNames[d] = name;
    if (auto name = LocaleText(LOCALE_SABBREVDAYNAME1 + k); !name.empty())
      s.ShortDayNames[d] = name;
  }
  return s;
}

unsigned TWin32Platform::AnsiCodePage() const {
  return ::GetACP();
}

std::string TWin32Platform::DecodeFileText(std::string_view ABytes) const {
  const unsigned cp = AnsiCodePage();
  // UTF-8 keeps its fallback to Windows-1252 for files written on other workstations.
  if (cp == CP_UTF8 || ABytes.empty() || HasByteOrderMark(ABytes))
    return TPlatform::DecodeFileText(ABytes);
  // Without MB_ERR_INVALID_CHARS a byte the code page leaves undefined still becomes one
  // character, so nothing of the file is dropped.
  const auto size = static_cast<int>(ABytes.size());
  const int n = ::MultiByteToWideChar(cp, 0, ABytes.data(), size, nullptr, 0);
  if (n <= 0) return TPlatform::DecodeFileText(ABytes);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, 0, ABytes.data(), size, wide.data(), n);
  return Utf8(wide);
}

std::string TWin32Platform::EncodeAnsiText(std::string_view AText) const {
  const unsigned cp = AnsiCodePage();
  if (cp == CP_UTF8 || AText.empty()) return TPlatform::EncodeAnsiText(AText);
  const std::wstring wide = Wide(AText);
  const auto size = static_cast<int>(wide.size());
  // No best-fit: a character the code page lacks is written as "?", never as a look-alike
  // (a with macron as "a") that would read back as different text. The few code pages that
  // refuse these arguments get the system's plain conversion.
  const auto convert = [&](char* AOut, int ACapacity) {
    const int n = ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.data(), size, AOut,
                                        ACapacity, "?", nullptr);
    if (n > 0 || ::GetLastError() != ERROR_INVALID_PARAMETER) return n;
    return ::WideCharToMultiByte(cp, 0, wide.data(), size, AOut, ACapacity, nullptr, nullptr);
  };
  const int n = convert(nullptr, 0);
  if (n <= 0) return TPlatform::EncodeAnsiText(AText);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  convert(bytes.data(), n);
  return bytes;
}

std::string TWin32Platform::FileNotFoundReason() const {
  return Win32ErrorText(ERROR_FILE_NOT_FOUND);
}

std::optional<std::string> TWin32Platform::ReadFileIfExists(const std::string& APath) const {
  if (APath.empty()) return std::nullopt;
  const auto fail = [&](DWORD AError) {
    return EFileError("Cannot open file \"" + FullPathName(APath) + "\". " +
                      Win32ErrorText(AError));
  };
  THandle file(::CreateFileW(Wide(APath).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw fail(e);
  }
  std::string bytes;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.Get(), &size)) bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.Get(), chunk, sizeof chunk, &n, nullptr)) throw fail(::GetLastError());
    if (n == 0) break;
    bytes.append(chunk, n);
  }
  return bytes;
}

void TWin32Platform::WriteFileBytes(const std::string& APath, const std::string& ABytes) const {
  const std::string full = FullPathName(APath);
  const auto fail = [&](DWORD AError) {
    return EFileError("Cannot create file \"" + full + "\". " + Win32ErrorText(AError));
  };
  if (full.empty() || full.back() == '\\' || full.back() == '/' || DirectoryExists(full))
    throw fail(ERROR_ACCESS_DENIED);
  // Written beside the target and moved over it, so a failed write leaves the old file.
  const std::size_t slash = full.find_last_of("\\/");
  const std::string stem = full.substr(0, slash + 1) + "~" + full.substr(slash + 1) + "." +
                           std::to_string(::GetCurrentProcessId()) + ".";
  std::wstring temp;
  HANDLE tempHandle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100 && tempHandle == INVALID_HANDLE_VALUE; ++attempt) {
    temp = Wide(stem + std::to_string(attempt) + ".tmp");
    tempHandle = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    error = tempHandle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (error != ERROR_FILE_EXISTS && error != ERROR_SUCCESS) break;
  }
  if (tempHandle == INVALID_HANDLE_VALUE) {
    // A folder where new files cannot be made may still hold a file that may be rewritten.
    if (error == ERROR_ACCESS_DENIED && FileExists(full)) {
      THandle file(::CreateFileW(Wide(full).c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.Valid() || !WriteAll(file.Get(), ABytes)) throw fail(::GetLastError());
      if (!file.Close()) throw fail(::GetLastError());
      return;
    }
    throw fail(error);
  }
  THandle file(tempHandle);
  const auto abandon = [&](DWORD AError) {
    ::DeleteFileW(temp.c_str());
    return fail(AError);
  };
  if (!WriteAll(file.Get(), ABytes)) {
    const DWORD e = ::GetLastError();
    file.Close();
    throw abandon(e);
  }
  if (!file.Close()) throw abandon(::GetLastError());
  if (!::MoveFileExW(temp.c_str(), Wide(full).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw abandon(::GetLastError());
}

namespace {

// "~NAME.PID.N.tmp" beside the target, as WriteFileBytes names its temporary files.
HANDLE CreateTempBeside(const std::string& AFullPath, std::wstring& ATemp, DWORD& AError) {
  const std::size_t slash = AFullPath.find_last_of("\\/");
  const std::string stem = AFullPath.substr(0, slash + 1) + "~" + AFullPath.substr(slash + 1) +
                           "." + std::to_string(::GetCurrentProcessId()) + ".";
  HANDLE handle = INVALID_HANDLE_VALUE;
  AError = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    ATemp = Wide(stem + std::to_string(attempt) + ".tmp");
    handle = ::CreateFileW(ATemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    AError = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (AError != ERROR_FILE_EXISTS && AError != ERROR_SUCCESS) break;
  }
  return handle;
}

}  // namespace

TPlatform::TPathKind TWin32Platform::PathKind(const std::string& APath) const {
  if (APath.empty()) return TPathKind::None;
  const std::string full = FullPathName(APath);
  // "\\.\COM1", "\\.\pipe\x", and the reserved names ("NUL", "CON") that resolve to them.
  if (full.starts_with("\\\\.\\") || full.starts_with("\\\\?\\")) return TPathKind::Other;
  const DWORD a = ::GetFileAttributesW(Wide(full).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = ::GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? TPathKind::None
                                                                  : TPathKind::Other;
  }
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return TPathKind::Link;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return TPathKind::Folder;
  if (a & FILE_ATTRIBUTE_DEVICE) return TPathKind::Other;
  return TPathKind::File;
}

std::string TWin32Platform::ReadFileHead(const std::string& APath, std::size_t AMaxBytes) const {
  const std::string full = FullPathName(APath);
  const auto fail = [&](DWORD AError) {
    return EFileError("Cannot open file \"" + full + "\". " + Win32ErrorText(AError));
  };
  const TPathKind kind = PathKind(full);
  if (kind == TPathKind::None) throw fail(ERROR_FILE_NOT_FOUND);
  if (kind != TPathKind::File) throw fail(ERROR_INVALID_NAME);
  THandle file(::CreateFileW(Wide(full).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) throw fail(::GetLastError());
  // Checked again on what was opened: the name can be swapped between the two looks.
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    throw fail(ERROR_INVALID_NAME);
  std::string bytes;
  char chunk[65536];
  while (bytes.size() < AMaxBytes) {
    DWORD n = 0;
    const auto want = static_cast<DWORD>(std::min(sizeof chunk, AMaxBytes - bytes.size()));
    if (!::ReadFile(file.Get(), chunk, want, &n, nullptr)) throw fail(::GetLastError());
    if (n == 0) break;
    bytes.append(chunk, n);
  }
  return bytes;
}

bool TWin32Platform::CreateNewFile(const std::string& APath, const std::string& ABytes) const {
  const std::string full = FullPathName(APath);
  const auto fail = [&](DWORD AError) {
    return EFileError("Cannot create file \"" + full + "\". " + Win32ErrorText(AError));
  };
  if (full.empty() || full.back() == '\\' || full.back() == '/') throw fail(ERROR_ACCESS_DENIED);
  if (PathKind(full) != TPathKind::None) return false;
  // Written in full under a temporary name, then moved to the new name without
  // MOVEFILE_REPLACE_EXISTING: the move fails rather than replace what another process made.
  std::wstring temp;
  DWORD error = ERROR_SUCCESS;
  THandle file(CreateTempBeside(full, temp, error));
  if (!file.Valid()) throw fail(error);
  const auto abandon = [&](DWORD AError) {
    ::DeleteFileW(temp.c_str());
    return fail(AError);
  };
  if (!WriteAll(file.Get(), ABytes)) {
    const DWORD e = ::GetLastError();
    file.Close();
    throw abandon(e);
  }
  if (!file.Close()) throw abandon(::GetLastError());
  if (::MoveFileExW(temp.c_str(), Wide(full).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD e = ::GetLastError();
  if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) {
    ::DeleteFileW(temp.c_str());
    return false;
  }
  throw abandon(e);
}

std::vector<TPlatform::TLeftTempFile> TWin32Platform::TempFilesIn(
    const std::string& AFolder) const {
  std::vector<TLeftTempFile> found;
  std::string folder = FullPathName(AFolder);
  if (folder.empty()) return found;
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW(Wide(folder + "~*.tmp").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    const std::string name = Utf8(entry.cFileName);
    auto left = ParseTempName(std::string_view(name).substr(1));
    if (!left) continue;
    left->Path = folder + name;
    found.push_back(std::move(*left));
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return found;
}

bool TWin32Platform::ProcessAlive(unsigned long APid) const {
  if (APid == 0) return false;
  THandle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(APid)));
  if (!process.Valid()) return ::GetLastError() == ERROR_ACCESS_DENIED;
  return ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

bool TWin32Platform::RemoveFile(const std::string& APath) const {
  return !APath.empty() && ::DeleteFileW(Wide(APath).c_str()) != FALSE;
}

}  // namespace bunkmere
