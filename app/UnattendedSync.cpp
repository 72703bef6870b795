#include "app/UnattendedSync.h"

#include <chrono>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "app/LogFile.h"
#include "app/OccupancyHtml.h"
#include "app/OccupancyJson.h"
#include "app/StopRequest.h"
#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "db/VtMSAccess.h"
#include "platform/Platform.h"
#include "ui/Application.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

// The boxes a pass shows, each a line on the error stream.
class TStreamMessageBoxes final : public TMessageBoxes {
 public:
  explicit TStreamMessageBoxes(std::FILE* AErr) : FErr(AErr), FOverride(*this) {}
  void Show(const std::string&, const std::string& AText, TMsgDlgType) override {
    const std::string line = OneLine(AText) + "\n";
    std::fputs(line.c_str(), FErr);
    std::fflush(FErr);
  }

 private:
  std::FILE* FErr;
  TMessageBoxesOverride FOverride;
};

// Facility n of m and the rows written so far, told as the pass moves.
class TProgress {
 public:
  TProgress(const TSyncStreams& AStreams, bool APreview)
      : FStreams(AStreams), FWritten(APreview ? " beds to write" : " beds written") {}

  void FacilityEntered(int ARecNo, int ACount) {
    FCount = ACount;
    if (FCurrent >= 0 && ARecNo > FCurrent) FacilityDone();
    FCurrent = ARecNo;
    Show();
  }
  void RowChanged(const std::string& ATable) {
    if (ATable == "CFGBED")
      ++Beds;
    else
      ++Cells;
    Show();
  }
  // The pass went through the last facility.
  void Finished() {
    if (FCurrent >= 0) FacilityDone();
    FCurrent = -1;
  }
  // Ends the line rewritten in place, before anything else is written after it.
  void EndLine() {
    if (FStreams.OutIsTerminal && FShown) std::fputs("\n", FStreams.Out);
    FShown = false;
  }

  int Cells = 0;
  int Beds = 0;

 private:
  std::string Where() const {
    return "Facility " + std::to_string(FCurrent + 1) + " of " + std::to_string(FCount);
  }
  void Show() {
    if (!FStreams.OutIsTerminal || FCurrent < 0) return;
    const std::string line = "\r" + Where() + ": " + std::to_string(Cells) + " cells, " +
                             std::to_string(Beds) + FWritten + "\x1b[K";
    std::fputs(line.c_str(), FStreams.Out);
    std::fflush(FStreams.Out);
    FShown = true;
  }
  void FacilityDone() {
    if (FStreams.OutIsTerminal) return;
    const std::string line = Where() + " done: " + std::to_string(Cells) + " cells, " +
                             std::to_string(Beds) + FWritten + "\n";
    std::fputs(line.c_str(), FStreams.Out);
    std::fflush(FStreams.Out);
  }

  const TSyncStreams& FStreams;
  const std::string FWritten;
  int FCurrent = -1;
  int FCount = 0;
  bool FShown = false;
};

// "CFGCELL 17 ONCELL: 2 -> 3": table, the row's UniqueKey, column, the value now and the value
// a press would write.
std::string PreviewLine(const TRowChange& AChange, const TRowChange::TColumn& AColumn) {
  return OneLine(AChange.Table) + " " + OneLine(AChange.Key) + " " + AColumn.Name + ": " +
         OneLine(AColumn.Now) + " -> " + OneLine(AColumn.Would);
}

int ConflictCount(const std::vector<std::string>& ALog) {
  int n = 0;
  for (const auto& line : ALog)
    if (line.starts_with("Facility :")) ++n;
  return n;
}

void SaveLog(TfrmSynchCellsMain& AWindow, const TCommandLine& ALine) {
  if (ALine.LogFile.empty()) {
    // Exactly what the Save Log button writes, under the name it chooses.
    AWindow.btnSaveClick(AWindow.btnSave);
    return;
  }
  // In the workstation's code page, as Save Log writes it.
  WriteNamedLog(ALine.LogFile, CurrentPlatform().EncodeAnsiText(AWindow.Memo1->LinesText()));
}

// The occupancy report and summary the line asks for; a failure is told on the error stream
// and fails the run, since a site's monitoring would otherwise read yesterday's file.
bool WriteOccupancy(const TfrmSynchCellsMain& AWindow, const TCommandLine& ALine, std::FILE* AErr) {
  bool ok = true;
  for (const auto& [file, what] :
       {std::pair{&ALine.ReportFile, "report"}, std::pair{&ALine.SummaryFile, "summary"}}) {
    if (file->empty()) continue;
    try {
      const std::string bytes = file == &ALine.ReportFile ? OccupancyHtml(AWindow.Occupancy())
                                                          : OccupancyJson(AWindow.Occupancy());
      CurrentPlatform().WriteFileBytes(*file, bytes);
    } catch (const std::exception& e) {
      const std::string line =
          std::string("The ") + what + " could not be written: " + OneLine(e.what()) + "\n";
      std::fputs(line.c_str(), AErr);
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int RunUnattendedSync(TfrmSynchCellsMain& AWindow, const TCommandLine& ALine,
                      const TSyncStreams& AStreams) {
  const auto start = std::chrono::steady_clock::now();
  TStreamMessageBoxes boxes(AStreams.Err);
  TProgress progress(AStreams, ALine.Preview);
  AWindow.tblFacility->AfterScroll = [&progress](TCustomMSDataSet& d) {
    progress.FacilityEntered(d.RecNo(), d.RecordCount());
  };
  AWindow.SetPreview(ALine.Preview);
  // A stop asked for while the pass runs ends it between two statements; the log found so far
  // is still saved, and a second request meanwhile ends the process at once.
  TStopGuard stopGuard;
  AWindow.OnRowChange = [&](const TRowChange& AChange) {
    progress.RowChanged(AChange.Table);
    if (!ALine.Preview) return;
    progress.EndLine();
    std::string lines;
    for (const TRowChange::TColumn& c : AChange.Columns) lines += PreviewLine(AChange, c) + "\n";
    std::fputs(lines.c_str(), AStreams.Out);
    std::fflush(AStreams.Out);
  };

  // A person's press: the button's own handler, failures shown as the window shows them.
  AWindow.btConvertTavrichWeekenders->Click();
  const char* stopCause = StopCause();

  AWindow.tblFacility->AfterScroll = nullptr;
  AWindow.OnRowChange = nullptr;

  const TPassOutcome outcome = AWindow.Outcome();
  const bool completed = outcome == TPassOutcome::Completed;
  const bool held = outcome == TPassOutcome::Held;
  const bool stopped = outcome == TPassOutcome::Stopped;
  if (completed) progress.Finished();
  progress.EndLine();
  if (stopped) {
    const std::string line = std::string("Stopped by ") + (stopCause ? stopCause : "request") +
                             " after " + std::to_string(AWindow.CellsDone()) +
                             (AWindow.CellsDone() == 1 ? " cell\n" : " cells\n");
    std::fputs(line.c_str(), AStreams.Err);
    std::fflush(AStreams.Err);
  }

  const std::vector<std::string> log = AWindow.Memo1->Lines();
  int status = completed ? (log.empty() ? kExitCompleted : kExitConflicts)
               : held    ? kExitHeld
               : stopped ? kExitStopped
                         : kExitFailed;
  try {
    SaveLog(AWindow, ALine);
  } catch (const std::exception& e) {
    const std::string line = "The log could not be saved: " + OneLine(e.what()) + "\n";
    std::fputs(line.c_str(), AStreams.Err);
    status = kExitFailed;
  }
  if (!WriteOccupancy(AWindow, ALine, AStreams.Err)) status = kExitFailed;

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%.1f", seconds);
  const char* outcomeText = completed ? (ALine.Preview ? "Preview completed" : "Completed")
                            : held    ? "Stopped at a held row"
                            : stopped ? "Stopped on request"
                                      : "Failed";
  const std::string written = ALine.Preview ? " beds would be written, " : " beds written, ";
  const std::string summary = std::string(outcomeText) + ": " + std::to_string(progress.Cells) +
                              " cells and " + std::to_string(progress.Beds) + written +
                              std::to_string(ConflictCount(log)) + " conflicts, " + secondsText +
                              " seconds\n";
  std::fputs(summary.c_str(), AStreams.Out);
  std::fflush(AStreams.Out);
  StopHonoured();
  return status;
}

}  // namespace bunkmere
