#include "app/Console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>
#else
#include <unistd.h>
#endif

namespace bunkmere {

#ifdef _WIN32

namespace {

bool Usable(HANDLE AHandle) {
  return AHandle != nullptr && AHandle != INVALID_HANDLE_VALUE;
}

}  // namespace

void UseStartersConsole() {
  // Handles inherited from the starter (a redirection to a file or a pipe) are kept as they
  // are; only a stream with none is sent to the starter's console.
  const bool outGiven = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
  const bool errGiven = Usable(GetStdHandle(STD_ERROR_HANDLE));
  if (outGiven && errGiven) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!outGiven && std::freopen("CONOUT$", "w", stdout) != nullptr)
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
  // There is no console name of its own for the error stream.
  if (!errGiven && std::freopen("CONOUT$", "w", stderr) != nullptr)
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))));
}

bool IsTerminal(std::FILE* AStream) {
  const int fd = _fileno(AStream);
  if (fd < 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  // A console answers GetConsoleMode; the NUL device, which _isatty takes for one, does not.
  return Usable(handle) && GetConsoleMode(handle, &mode) != 0;
}

bool TerminalRewritesLines(std::FILE* AStream) {
  if (!IsTerminal(AStream)) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(AStream)));
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> ProgramArguments(int /*AArgc*/, char** /*AArgv*/) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(
      CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
  std::vector<std::string> arguments;
  for (int i = 1; wide && i < count; ++i) {
    const std::wstring_view w = wide.get()[i];
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    arguments.push_back(std::move(s));
  }
  return arguments;
}

void WriteText(std::FILE* AStream, std::string_view AText) {
  if (AText.empty()) return;
  if (!IsTerminal(AStream)) {
    std::fwrite(AText.data(), 1, AText.size(), AStream);
    std::fflush(AStream);
    return;
  }
  std::fflush(AStream);
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), w.data(), n);
  DWORD written = 0;
  WriteConsoleW(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(AStream))), w.data(),
                static_cast<DWORD>(w.size()), &written, nullptr);
}

#else

void UseStartersConsole() {}

bool TerminalRewritesLines(std::FILE* AStream) {
  return IsTerminal(AStream);
}

std::vector<std::string> ProgramArguments(int AArgc, char** AArgv) {
  return std::vector<std::string>(AArgv + 1, AArgv + AArgc);
}

void WriteText(std::FILE* AStream, std::string_view AText) {
  std::fwrite(AText.data(), 1, AText.size(), AStream);
  std::fflush(AStream);
}

bool IsTerminal(std::FILE* AStream) {
  return isatty(fileno(AStream)) == 1;
}

#endif

}  // namespace bunkmere
