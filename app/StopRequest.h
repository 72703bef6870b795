#pragma once
// A request from outside to stop an unattended pass: SIGTERM or SIGINT (a service manager's
// stop or time-out, Ctrl+C), and on Windows a console's Ctrl+C, Ctrl+Break, close, log-off or
// shut-down. The request is only noted; the pass looks at it between its statements, so that
// it stops with no row in edit, no lock of ours left and its log saved. A second request
// while the first is being honoured ends the process at once with kExitStopped.

namespace bunkmere {

// Installs the handlers for its lifetime and puts the previous ones back after. One at a
// time; a request noted before it is forgotten.
class TStopGuard {
 public:
  TStopGuard();
  ~TStopGuard();
  TStopGuard(const TStopGuard&) = delete;
  TStopGuard& operator=(const TStopGuard&) = delete;
};

// Whether a stop has been asked for, and by what ("SIGTERM", "Ctrl+C", ...); null when not.
bool StopRequested() noexcept;
const char* StopCause() noexcept;

// Notes a request as a handler does (tests, and the Windows console handler's thread).
void RequestStop(const char* ACause) noexcept;

// Tells a waiting Windows console handler that the clean-up is done, so the system may end
// the process; nothing elsewhere.
void StopHonoured() noexcept;

}  // namespace bunkmere
