#include "app/Console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
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

#else

void UseStartersConsole() {}

bool IsTerminal(std::FILE* AStream) {
  return isatty(fileno(AStream)) == 1;
}

#endif

}  // namespace bunkmere
