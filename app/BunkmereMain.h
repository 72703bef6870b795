#pragma once
// TfrmSynchCellsMain: the program's one window. It is built from its stored description
// (BunkmereMain.form, compiled in), owns the controls and the data components the
// synchronisation pass works on, and holds the pass itself, GoSynchCells.
//
// Building it reads the site file (VtConfigInfo) and looks up the connection string of
// program "JAIL" in the program library (dbJail, on receiving its link); either failing ends
// the constructor. The connection itself opens only when the first pass opens the tables.

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Occupancy.h"
#include "app/PassLock.h"
#include "app/PassRecord.h"
#include "ui/Form.h"

namespace bunkmere {

class TLabel;
class TButton;
class TMemo;
class TProgressBar;
class TVtMSTable;
class TVtMSQuery;
class TDataSource;
class TVtConfigInfo;
class TVtSQLDatabase;
class TVtRowBatch;
struct TBatchRow;
class Exception;

class TfrmSynchCellsMain : public TForm {
 public:
  // Creates the window from its stored description; a failure there passes to the caller
  // with nothing of the window left alive.
  explicit TfrmSynchCellsMain(TComponent* AOwner);
  ~TfrmSynchCellsMain() override;
  const char* ClassName() const noexcept override { return "TfrmSynchCellsMain"; }

  // Controls, by their stored names.
  TLabel* lblPasses = nullptr;
  TLabel* lblWhatHappen = nullptr;
  TLabel* Label1 = nullptr;
  TButton* btConvertTavrichWeekenders = nullptr;
  TProgressBar* ProgressBar1 = nullptr;
  TMemo* Memo1 = nullptr;
  TButton* btnSave = nullptr;
  // Data components, by their stored names.
  TVtMSTable* tblDetentia = nullptr;
  TVtMSTable* tblCFGCells = nullptr;
  TVtMSQuery* qryGeneric = nullptr;
  TVtMSTable* tblCFGBeds = nullptr;
  TVtMSTable* tblFacility = nullptr;
  TVtMSTable* tblDorms = nullptr;
  TDataSource* DataSource1 = nullptr;
  TDataSource* DataSource2 = nullptr;
  TDataSource* DataSource3 = nullptr;
  TDataSource* DataSource4 = nullptr;
  TDataSource* DataSource5 = nullptr;
  TVtConfigInfo* VtConfigInfo = nullptr;
  TVtSQLDatabase* dbJail = nullptr;

  // Start button: clears the log, resets the progress bar and runs the pass.
  void btConvertTavrichWeekendersClick(TComponent* Sender);
  // Save Log button: writes the log to "ddhhnnss.log" in the current directory, or to
  // "ddhhnnss_2.log" (_3, ...) when a file of that name, not this window's last save, exists.
  void btnSaveClick(TComponent* Sender);

  // The synchronisation pass. Returns normally after a complete pass and after a failure of
  // class Exception (told by message boxes); other failures pass to the caller once every
  // row left in edit is cancelled.
  void GoSynchCells();

  // A preview runs the pass as it is, reading, counting and re-reading every row it would
  // edit, but takes no record lock and cancels each edit instead of posting it: nothing is
  // written. Off by default.
  bool Preview() const noexcept { return FPreview; }
  void SetPreview(bool AValue);
  // Told of every row whose values the pass changes: after its post, or in a preview where
  // the post would have been.
  std::function<void(const TRowChange&)> OnRowChange;

  TPassOutcome Outcome() const noexcept { return FOutcome; }
  // The occupancy the last pass found, as far as it got.
  const TOccupancyTally& Occupancy() const noexcept { return FTally; }
  // Cells whose beds were all done by the last pass.
  int CellsDone() const noexcept { return FCellsDone; }

  // How long a statement of the pass waits for a row that another session holds in an open
  // transaction before the pass stops there as at a held row, and how long it waits for any
  // answer of the server before the pass fails. Without them one blocked row would hang the
  // pass, and with it the operator or the nightly run, for ever.
  static constexpr int kLockWaitMilliseconds = 60000;
  static constexpr int kQueryTimeoutSeconds = 120;
  void SetTimeouts(int ALockWaitMilliseconds, int AQueryTimeoutSeconds);

  // The stored description the window is built from.
  static const std::string& StoredDescription();

 private:
  void BindComponents();
  // One cell of facility AFacilityId (described AFacility) and its beds: locked, re-read and
  // counted in one request, decided here, and written with the next request.
  void SynchCell(const std::string& AFacilityId, const std::string& AFacility);
  // Decides a row the batch has taken: edits it as re-read, lets ADecide set its values, and
  // leaves the UPDATE (a press) and the change record for the batch to send and tell.
  void DecideRow(TBatchRow& ARow, TOccupancyTally::TPlace APlace,
                 const std::function<void()>& ADecide);
  // Adds a conflict's lines to the log and to the occupancy: its line, then what listing
  // AListing of ARow found, framed by the header and "----End----", or the note for nobody.
  void LogConflict(TOccupancyTally::TPlace APlace, const std::string& ALine, const TBatchRow& ARow,
                   std::size_t AListing, const std::string& AHeader, const std::string& ANote);
  // Writes the rows decided so far and raises what stopped their taking.
  [[noreturn]] void FinishStoppedTake(const std::exception_ptr& AError, const std::string& ADoing);
  void SetStatus(TLabel& ALabel, const std::string& ACaption);
  // The one place the pass changes a value of the row in edit.
  void ChangeValue(TVtMSTable& ARow, const char* AColumn, int AValue);
  void ChangeFlag(TVtMSTable& ARow, const char* AColumn, bool AValue);
  void NoteChange(TVtMSTable& ARow, const char* AColumn, std::string ANow, std::string AWould);
  // Lets go of every row left in edit, and so of its record lock, swallowing failures.
  void CancelOpenEdits();
  // Sends the writes of the rows already decided, swallowing failures.
  void WriteDecidedRows() noexcept;
  // What a stopped pass leaves: the query closed, no row in edit, no lock of the pass, the
  // progress bar at 0.
  void AbandonPass();
  // Raises EPassStopped when a stop has been asked for: called only where the pass holds no
  // half-done work that a cancel cannot undo.
  void CheckStop() const;
  static std::string RowName(const TVtMSTable& ARow, const std::string& AWhere);
  // The message a failure is shown with, and the outcome it makes.
  std::string FailureText(const Exception& AFailure);
  // The file the last Save Log of this window wrote, so that saving again in the same second
  // replaces it, while a file left by another window or an earlier month is kept.
  std::string FLastSavedLog;
  bool FPreview = false;
  TRowChange FPending;
  TPassLock FPassLock;
  // The rows of the cell under way, and those of the one before until they are written.
  std::unique_ptr<TVtRowBatch> FRows;
  TPassOutcome FOutcome = TPassOutcome::None;
  TOccupancyTally FTally;
  int FCellsDone = 0;
  // What the pass is doing, for the message of a time-out.
  std::string FDoing;
  int FLockWaitMilliseconds = kLockWaitMilliseconds;
  int FQueryTimeoutSeconds = kQueryTimeoutSeconds;
};

// The program's main window, while it exists.
extern TfrmSynchCellsMain* frmSynchCellsMain;

}  // namespace bunkmere
