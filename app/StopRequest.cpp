#include "app/StopRequest.h"

#include <atomic>
#include <csignal>

#include "app/CommandLine.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace bunkmere {
namespace {

// Written by a signal handler or the console handler's thread, read by the pass: lock-free
// atomics are safe in both.
std::atomic<const char*> gCause{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void NoteOrEnd(const char* ACause) noexcept {
  const char* expected = nullptr;
  // The first request is honoured cleanly; a second one means "now".
  if (!gCause.compare_exchange_strong(expected, ACause)) {
#ifdef _WIN32
    ExitProcess(kExitStopped);
#else
    _exit(kExitStopped);
#endif
  }
}

#ifdef _WIN32

HANDLE gHonoured = nullptr;

BOOL WINAPI OnConsoleControl(DWORD AEvent) {
  switch (AEvent) {
    case CTRL_C_EVENT:
      NoteOrEnd("Ctrl+C");
      return TRUE;
    case CTRL_BREAK_EVENT:
      NoteOrEnd("Ctrl+Break");
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process as soon as this returns (and at the latest some seconds
      // after a close): wait here for the pass to let its rows go and save its log.
      NoteOrEnd(AEvent == CTRL_CLOSE_EVENT ? "the console's close" : "the session's end");
      if (gHonoured != nullptr) WaitForSingleObject(gHonoured, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

#else

struct sigaction gOldTerm {};
struct sigaction gOldInt {};

void OnSignal(int ASignal) {
  NoteOrEnd(ASignal == SIGINT ? "SIGINT" : "SIGTERM");
}

#endif

}  // namespace

TStopGuard::TStopGuard() {
  gCause = nullptr;
#ifdef _WIN32
  gHonoured = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Restarted: a statement under way finishes (or runs into its time-out) before the pass
  // looks at the request, so the server never sees a half-sent batch.
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, &gOldTerm);
  sigaction(SIGINT, &action, &gOldInt);
#endif
}

TStopGuard::~TStopGuard() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  StopHonoured();
  CloseHandle(gHonoured);
  gHonoured = nullptr;
#else
  sigaction(SIGTERM, &gOldTerm, nullptr);
  sigaction(SIGINT, &gOldInt, nullptr);
#endif
}

bool StopRequested() noexcept {
  return gCause.load() != nullptr;
}

const char* StopCause() noexcept {
  return gCause.load();
}

void RequestStop(const char* ACause) noexcept {
  NoteOrEnd(ACause);
}

void StopHonoured() noexcept {
#ifdef _WIN32
  if (gHonoured != nullptr) SetEvent(gHonoured);
#endif
}

}  // namespace bunkmere
