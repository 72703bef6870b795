#include "app/UnattendedReport.h"

#include <cstdio>
#include <functional>

#include "app/CommandLine.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/Win32EventLog.h"
#endif

namespace bunkmere {
namespace {

// The error stream is kept from its start (the first box is the reason), the output stream
// for its end (the last line counts the run); each within what an event's text can hold.
constexpr std::size_t kErrKept = 16 * 1024;
constexpr std::size_t kOutKept = 4 * 1024;

// A line as a console showed it: a progress line rewritten in place shows what followed its
// last carriage return, and the sequence that cleared its rest shows nothing.
std::string AsShown(std::string_view ALine) {
  if (const auto cr = ALine.find_last_of('\r'); cr != std::string_view::npos)
    ALine.remove_prefix(cr + 1);
  std::string shown(ALine);
  for (std::size_t at; (at = shown.find("\x1b[K")) != std::string::npos;) shown.erase(at, 3);
  return shown;
}

std::string LastLine(std::string_view AText) {
  while (!AText.empty() && (AText.back() == '\n' || AText.back() == '\r')) AText.remove_suffix(1);
  const auto start = AText.find_last_of('\n');
  return AsShown(start == std::string_view::npos ? AText : AText.substr(start + 1));
}

std::string WithoutCarriageReturns(std::string_view AText) {
  std::string text;
  for (char c : AText)
    if (c != '\r') text += c;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

TRunReport UnattendedRunReport(int AStatus, std::string_view AOut, std::string_view AErr) {
  TRunReport report;
  report.Level = AStatus == kExitCompleted                           ? TReportLevel::Information
                 : AStatus == kExitConflicts || AStatus == kExitHeld ? TReportLevel::Warning
                                                                     : TReportLevel::Error;
  const char* ended = AStatus == kExitCompleted   ? "completed"
                      : AStatus == kExitConflicts ? "completed with conflicts"
                      : AStatus == kExitHeld      ? "stopped at a held row"
                      : AStatus == kExitUsage     ? "was not started: bad arguments"
                                                  : "failed";
  report.Text = "Bunkmere's unattended run " + std::string(ended) + " (exit status " +
                std::to_string(AStatus) + ").";
  if (const std::string last = LastLine(AOut); !last.empty()) report.Text += "\n\n" + last;
  if (const std::string err = WithoutCarriageReturns(AErr); !err.empty())
    report.Text += "\n\n" + err;
  return report;
}

#ifdef _WIN32

namespace {

// Passes captured bytes on to where the stream led: a console as UTF-16 (a UTF-8 sequence
// split between two reads waits for its end), anything else as they are.
class TForwarder {
 public:
  explicit TForwarder(int ASaved)
      : FHandle(ASaved >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(ASaved))
                            : INVALID_HANDLE_VALUE) {
    DWORD mode = 0;
    FConsole = FHandle != INVALID_HANDLE_VALUE && GetConsoleMode(FHandle, &mode) != 0;
  }
  void Write(std::string_view ABytes) {
    if (FHandle == INVALID_HANDLE_VALUE || FHandle == nullptr) return;
    DWORD written = 0;
    if (!FConsole) {
      WriteFile(FHandle, ABytes.data(), static_cast<DWORD>(ABytes.size()), &written, nullptr);
      return;
    }
    FCarry.append(ABytes);
    std::size_t complete = FCarry.size();
    // Back to the start of the last sequence; it waits if its continuation bytes are missing.
    for (std::size_t back = 1; back <= 3 && back <= FCarry.size(); ++back) {
      const auto c = static_cast<unsigned char>(FCarry[FCarry.size() - back]);
      if ((c & 0xC0) == 0x80) continue;
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (length > back) complete = FCarry.size() - back;
      break;
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, FCarry.data(), static_cast<int>(complete), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, FCarry.data(), static_cast<int>(complete), wide.data(), n);
    WriteConsoleW(FHandle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    FCarry.erase(0, complete);
  }

 private:
  HANDLE FHandle;
  bool FConsole = false;
  std::string FCarry;
};

}  // namespace

TStreamCapture::TStreamCapture() {
  std::fflush(stdout);
  std::fflush(stderr);
  // A window program started with no handles has streams without a descriptor: they are given
  // one that leads nowhere, so that what they write can still be kept.
  if (_fileno(stdout) < 0) std::freopen("NUL", "w", stdout);
  if (_fileno(stderr) < 0) std::freopen("NUL", "w", stderr);
  FOut.KeepTail = true;
  Start(FOut, _fileno(stdout));
  Start(FErr, _fileno(stderr));
  FActive = true;
}

TStreamCapture::~TStreamCapture() {
  Finish();
}

void TStreamCapture::Start(TStream& AStream, int AFd) {
  AStream.Fd = AFd;
  if (AFd < 0) return;
  AStream.Saved = _dup(AFd);
  // The stream keeps its translation of line ends, so what reaches a file is what it was.
  const int mode = _setmode(AFd, _O_BINARY);
  int ends[2];
  if (_pipe(ends, 64 * 1024, _O_BINARY | _O_NOINHERIT) != 0) {
    if (mode != -1) _setmode(AFd, mode);
    AStream.Fd = -1;
    return;
  }
  _dup2(ends[1], AFd);
  _close(ends[1]);
  _setmode(AFd, mode != -1 ? mode : _O_TEXT);
  AStream.ReadEnd = ends[0];
  AStream.Pump = std::thread(&TStreamCapture::Pump, std::ref(AStream));
}

void TStreamCapture::Pump(TStream& AStream) {
  TForwarder forward(AStream.Saved);
  const bool keepTail = AStream.KeepTail;
  char buffer[4096];
  for (;;) {
    const int n = _read(AStream.ReadEnd, buffer, sizeof buffer);
    if (n <= 0) break;
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    forward.Write(bytes);
    if (keepTail) {
      AStream.Kept.append(bytes);
      if (AStream.Kept.size() > 2 * kOutKept) AStream.Kept.erase(0, AStream.Kept.size() - kOutKept);
    } else if (AStream.Kept.size() < kErrKept) {
      AStream.Kept.append(bytes.substr(0, kErrKept - AStream.Kept.size()));
    }
  }
}

void TStreamCapture::Finish() {
  if (!FActive) return;
  FActive = false;
  std::fflush(stdout);
  std::fflush(stderr);
  for (TStream* s : {&FOut, &FErr}) {
    if (s->ReadEnd < 0) continue;
    // Putting the stream back closes the pipe's writing end: its pump reads to the end.
    if (s->Saved >= 0) {
      _dup2(s->Saved, s->Fd);
    } else {
      _close(s->Fd);
    }
    if (s->Pump.joinable()) s->Pump.join();
    _close(s->ReadEnd);
    if (s->Saved >= 0) _close(s->Saved);
  }
}

void ReportUnattendedRun(int AStatus, const TStreamCapture& ACapture) {
  const TRunReport report = UnattendedRunReport(AStatus, ACapture.Out(), ACapture.Err());
  const TEventLevel level = report.Level == TReportLevel::Information ? TEventLevel::Information
                            : report.Level == TReportLevel::Warning   ? TEventLevel::Warning
                                                                      : TEventLevel::Error;
  if (!WriteEventLog(level, report.Text)) {
    const std::string line =
        "Bunkmere: the run could not be written to the event log (system error " +
        std::to_string(GetLastError()) + ")\n";
    std::fputs(line.c_str(), stderr);
  }
}

#else

TStreamCapture::TStreamCapture() = default;
TStreamCapture::~TStreamCapture() = default;
void TStreamCapture::Finish() {}
void TStreamCapture::Start(TStream&, int) {}
void TStreamCapture::Pump(TStream&) {}

void ReportUnattendedRun(int /*AStatus*/, const TStreamCapture& /*ACapture*/) {}

#endif

}  // namespace bunkmere
