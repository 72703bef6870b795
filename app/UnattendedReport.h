#pragma once
// What an unattended run leaves for the administrator besides its exit status. A scheduled
// task's standard streams often lead nowhere (Task Scheduler gives none), so on Windows
// every run's outcome also goes to the Application event log: information for a completed
// run, a warning for conflicts or a held row, an error for a failure, with what the run
// wrote (the reason of a failure, the last line's counts).

#include <string>
#include <string_view>
#include <thread>

namespace bunkmere {

enum class TReportLevel { Information, Warning, Error };

struct TRunReport {
  TReportLevel Level = TReportLevel::Error;
  std::string Text;
};

// The entry for a run that ended with AStatus after writing AOut and AErr.
TRunReport UnattendedRunReport(int AStatus, std::string_view AOut, std::string_view AErr);

// Keeps a copy of everything written to the standard output and error streams from its
// construction to Finish, while passing it on to where those streams led (a console gets
// it as UTF-16). Nothing is kept on systems without an event log.
class TStreamCapture {
 public:
  TStreamCapture();
  ~TStreamCapture();
  TStreamCapture(const TStreamCapture&) = delete;
  TStreamCapture& operator=(const TStreamCapture&) = delete;

  // Puts the streams back; everything written has reached its destination on return.
  void Finish();
  const std::string& Out() const noexcept { return FOut.Kept; }
  const std::string& Err() const noexcept { return FErr.Kept; }

 private:
  struct TStream {
    int Fd = -1;       // the stream's descriptor, 1 or 2
    int Saved = -1;    // where it led before, or -1 for nowhere
    int ReadEnd = -1;  // the capturing pipe's
    bool KeepTail = false;
    std::string Kept;
    std::thread Pump;
  };
  void Start(TStream& AStream, int AFd);
  static void Pump(TStream& AStream);
  TStream FOut, FErr;
  bool FActive = false;
};

// Writes the report of a run that ended with AStatus to the system's event log, where it has
// one; a failure to write it is written to the error stream.
void ReportUnattendedRun(int AStatus, const TStreamCapture& ACapture);

}  // namespace bunkmere
