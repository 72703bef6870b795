#include "app/BunkmereMain.h"

#include "app/FormDescription.h"
#include "app/LogFile.h"
#include "app/OccupancyHtml.h"
#include "app/StopRequest.h"
#include "config/VtConfigInfo.h"
#include "core/ClassRegistry.h"
#include "core/Convert.h"
#include "core/DateTime.h"
#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "core/Reader.h"
#include "core/SqlText.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/ServerError.h"
#include "db/DbClasses.h"
#include "db/VtMSAccess.h"
#include "db/VtRecordLock.h"
#include "db/VtRowBatch.h"
#include "db/VtSQLDatabase.h"
#include "platform/Platform.h"
#include "ui/Application.h"
#include "ui/ProgressBar.h"
#include "ui/RegisterControls.h"
#include "ui/StdCtrls.h"

namespace bunkmere {

TfrmSynchCellsMain* frmSynchCellsMain = nullptr;

namespace {

template <class T>
T* Bind(TComponent& AOwner, const char* AName) {
  TComponent* c = AOwner.FindComponent(AName);
  if (c == nullptr) throw Exception(std::string("Component ") + AName + " not found");
  return ComponentCast<T>(c);
}

void OpenOrRefresh(TVtMSTable& ATable) {
  if (ATable.Active())
    ATable.Refresh();
  else
    ATable.Open();
}

// The server connection may have gone while the window sat idle (the server restarted), and
// nothing tells that before a statement fails. A pass holds nothing of an earlier session when
// it starts, so its first read, failing on a connection found lost, is tried once more on a
// new one.
template <class TStep>
void OnLiveConnection(const TVtSQLDatabase& ADb, TStep AStep) {
  const bool wasConnected = ADb.Connected();
  try {
    AStep();
  } catch (const Exception&) {
    if (!wasConnected || ADb.Connected()) throw;
    AStep();
  }
}

void OpenFirstTable(TVtMSTable& ATable, const TVtSQLDatabase& ADb) {
  OnLiveConnection(ADb, [&ATable] { OpenOrRefresh(ATable); });
}

// SQL Server's "Lock request time out period exceeded.": SET LOCK_TIMEOUT ran out while
// another session held what the statement needed.
constexpr long kLockTimeoutError = 1222;

std::string Seconds(int AValue) {
  return IntToStr(AValue) + (AValue == 1 ? " second" : " seconds");
}

// Thrown between statements once a stop is asked for; not an Exception, so that nothing
// reports it as a failure.
struct EPassStopped {};

// The figures of a cell row that decide what the pass writes to it, as text so that a NULL
// and a 0 differ: ONCELL is among them because another pass writing it is how a newer count
// shows.
struct TCellFigures {
  int Allow = 0;
  // ALLOWMANY is read only when a cell is over its allowance: a table without it fails there,
  // not at every cell.
  const TField* AllowMany = nullptr;
  std::string AllowText, AllowManyText, OnCellText;
  bool operator==(const TCellFigures& A) const {
    return AllowText == A.AllowText && AllowManyText == A.AllowManyText &&
           OnCellText == A.OnCellText;
  }
};

TCellFigures CellFigures(TVtMSTable& ACells) {
  TCellFigures f;
  TField& allow = ACells.FieldByName("ALLOW");
  f.Allow = allow.AsInteger();
  f.AllowText = allow.AsString();
  f.AllowMany = ACells.FindField("ALLOWMANY");
  if (f.AllowMany != nullptr) f.AllowManyText = f.AllowMany->AsString();
  f.OnCellText = ACells.FieldByName("ONCELL").AsString();
  return f;
}

// A column's text for the occupancy report, which must never be what fails a pass.
std::string TextOf(const TVtMSTable& ATable, const char* AColumn) {
  const TField* field = ATable.FindField(AColumn);
  return field != nullptr ? field->AsString() : std::string();
}

enum class TCellAction { WriteCount, WriteCountAllowNone, Report };

// The cell rule: N against 1, then against the allowance, then whether the cell may hold more.
TCellAction DecideCell(int N, const TCellFigures& AFigures, const TVtMSTable& ACells) {
  if (N < 1 || N <= AFigures.Allow) return TCellAction::WriteCount;
  const bool many = AFigures.AllowMany != nullptr
                        ? AFigures.AllowMany->AsBoolean()
                        : ACells.FieldByName("ALLOWMANY").AsBoolean();  // raises: not found
  return many ? TCellAction::WriteCountAllowNone : TCellAction::Report;
}

}  // namespace

TfrmSynchCellsMain::TfrmSynchCellsMain(TComponent* AOwner)
    : TForm(AOwner), FRows(std::make_unique<TVtRowBatch>()) {
  RegisterControlClasses();
  RegisterDbClasses();
  PublishMethod("btConvertTavrichWeekendersClick",
                [this](TComponent* s) { btConvertTavrichWeekendersClick(s); });
  PublishMethod("btnSaveClick", [this](TComponent* s) { btnSaveClick(s); });
  try {
    ReadComponentDescription(*this, StoredDescription());
    BindComponents();
    SetTimeouts(kLockWaitMilliseconds, kQueryTimeoutSeconds);
  } catch (...) {
    // The base destructor will not run for a constructor that fails: free what reading
    // created while the window still exists.
    DestroyComponents();
    throw;
  }
}

TfrmSynchCellsMain::~TfrmSynchCellsMain() {
  Destroying();
  DestroyComponents();
  if (frmSynchCellsMain == this) frmSynchCellsMain = nullptr;
}

const std::string& TfrmSynchCellsMain::StoredDescription() {
  static const std::string text(kBunkmereMainForm, sizeof(kBunkmereMainForm) - 1);
  return text;
}

void TfrmSynchCellsMain::BindComponents() {
  lblPasses = Bind<TLabel>(*this, "lblPasses");
  lblWhatHappen = Bind<TLabel>(*this, "lblWhatHappen");
  Label1 = Bind<TLabel>(*this, "Label1");
  btConvertTavrichWeekenders = Bind<TButton>(*this, "btConvertTavrichWeekenders");
  ProgressBar1 = Bind<TProgressBar>(*this, "ProgressBar1");
  Memo1 = Bind<TMemo>(*this, "Memo1");
  btnSave = Bind<TButton>(*this, "btnSave");
  tblDetentia = Bind<TVtMSTable>(*this, "tblDetentia");
  tblCFGCells = Bind<TVtMSTable>(*this, "tblCFGCells");
  qryGeneric = Bind<TVtMSQuery>(*this, "qryGeneric");
  tblCFGBeds = Bind<TVtMSTable>(*this, "tblCFGBeds");
  tblFacility = Bind<TVtMSTable>(*this, "tblFacility");
  tblDorms = Bind<TVtMSTable>(*this, "tblDorms");
  DataSource1 = Bind<TDataSource>(*this, "DataSource1");
  DataSource2 = Bind<TDataSource>(*this, "DataSource2");
  DataSource3 = Bind<TDataSource>(*this, "DataSource3");
  DataSource4 = Bind<TDataSource>(*this, "DataSource4");
  DataSource5 = Bind<TDataSource>(*this, "DataSource5");
  VtConfigInfo = Bind<TVtConfigInfo>(*this, "VtConfigInfo");
  dbJail = Bind<TVtSQLDatabase>(*this, "dbJail");
}

void TfrmSynchCellsMain::btConvertTavrichWeekendersClick(TComponent* /*Sender*/) {
  Memo1->Clear();
  ProgressBar1->SetPosition(0);
  GoSynchCells();
}

void TfrmSynchCellsMain::btnSaveClick(TComponent* /*Sender*/) {
  const TPlatform& platform = CurrentPlatform();
  const std::string stem = FormatDateTime("ddhhnnss", platform.Now(), platform.FormatSettings());
  // Where a person expects the log: the current folder, unless that is a system or program
  // folder nobody chose (see TPlatform::LogFolder).
  const std::string folder = platform.LogFolder();
  FLastSavedLog =
      SaveNewLog(folder, stem, platform.EncodeAnsiText(Memo1->LinesText()), FLastSavedLog);
  // The occupancy report of the pass beside it, under the log's own name, which Save Log has
  // just claimed; the page is UTF-8 whatever the workstation's code page.
  if (FTally.Started())
    platform.WriteFileBytes(FLastSavedLog.substr(0, FLastSavedLog.size() - 4) + ".html",
                            OccupancyHtml(FTally));
}

void TfrmSynchCellsMain::SetStatus(TLabel& ALabel, const std::string& ACaption) {
  ALabel.SetCaption(ACaption);
  ALabel.Repaint();
}

void TfrmSynchCellsMain::DecideRow(TBatchRow& ARow, TOccupancyTally::TPlace APlace,
                                   const std::function<void()>& ADecide) {
  TVtMSTable& table = *ARow.Table;
  if (static_cast<std::size_t>(table.RecNo()) != ARow.RecNo)
    throw EDatabaseError("The rows of " + ARow.Name + " changed while the pass worked on them");
  table.EditAsRead(ARow.Values);
  try {
    ADecide();
    if (!FPreview) ARow.Update = table.PostStatement();
  } catch (...) {
    FPending = {};
    table.Cancel();
    throw;
  }
  table.Cancel();
  TRowChange change = std::move(FPending);
  FPending = {};
  if (!change.Columns.empty())
    ARow.Written = [this, APlace, change = std::move(change), previous = ARow.Written] {
      if (previous) previous();
      FTally.RowChanged(APlace, change);
      if (OnRowChange) OnRowChange(change);
    };
}

void TfrmSynchCellsMain::FinishStoppedTake(const std::exception_ptr& AError,
                                           const std::string& ADoing) {
  // The rows before the one that stopped the taking are written as they would have been one
  // at a time; nothing from that row on is.
  FRows->Flush(*dbJail, FDoing);
  FDoing = ADoing;
  std::rethrow_exception(AError);
}

void TfrmSynchCellsMain::SynchCell(const std::string& I, const std::string& F) {
  const int K = tblCFGCells->FieldByName("CELLKEY").AsInteger();
  const std::string C = tblCFGCells->FieldByName("CELLNO").AsString();
  const std::string D = tblCFGCells->FieldByName("DORMCODE").AsString();
  const std::string where = "Facility :" + F + " DormCode : " + D + " CellNo : " + C;
  const TOccupancyTally::TPlace place = FTally.Here();
  SetStatus(*lblWhatHappen, "Synching " + where);

  const std::string cellCount =
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = " + QuotedStr(I) +
      " and CELLKEY = " + IntToStr(K);
  const std::string counting = "counting the bookings of " + where;
  struct TBed {
    std::string Name, Condition;
  };
  std::vector<TBed> beds;
  const auto addBeds = [&] {
    beds.clear();
    tblCFGBeds->First();
    while (!tblCFGBeds->Eof()) {
      const int B = tblCFGBeds->FieldByName("BEDNO").AsInteger();
      const std::string bed = where + " Bed : " + tblCFGBeds->FieldByName("BEDDESC").AsString();
      TBed b{bed, "NAMERELEAS = 0 and facicode = " + QuotedStr(I) +
                      " and cellkey = " + IntToStr(K) + " and bed = " + QuotedStr(IntToStr(B))};
      FRows->AddRow(*tblCFGBeds, "SELECT Count(bed) FROM DETENTIA WHERE " + b.Condition,
                    RowName(*tblCFGBeds, bed), "counting the bookings of " + bed);
      beds.push_back(std::move(b));
      tblCFGBeds->Next();
    }
  };

  // One request: the writes of the cell before, this cell's count as the table holds it, then
  // the cell and each bed locked, re-read and counted under the lock. A cell the rule reports
  // is never written, and its lock is let go with the next writes.
  CheckStop();
  const TCellFigures cached = CellFigures(*tblCFGCells);
  FRows->AddCount(cellCount, counting);
  FRows->AddRow(*tblCFGCells, cellCount, RowName(*tblCFGCells, where), counting);
  addBeds();
  TTakeResult taken = FRows->Take(*dbJail, FDoing);
  std::vector<TBatchRow>* rows = &FRows->Taken();
  if (taken.Reached == 0) FinishStoppedTake(taken.Error, taken.Doing);

  int N = (*rows)[0].Count;
  TCellFigures figures = cached;
  TCellAction action = DecideCell(N, figures, *tblCFGCells);
  std::size_t firstBed = 2;
  if (action != TCellAction::Report) {
    if (taken.Reached < 2) FinishStoppedTake(taken.Error, taken.Doing);
    TBatchRow& cell = (*rows)[1];
    // Only the count taken under the lock decides what is written: another pass or program
    // may have written since the first.
    DecideRow(cell, place, [&] {
      N = cell.Count;
      figures = CellFigures(*tblCFGCells);
      action = DecideCell(N, figures, *tblCFGCells);
      switch (action) {
        case TCellAction::WriteCount:
          ChangeValue(*tblCFGCells, "ONCELL", N < 1 ? 0 : N);
          break;
        case TCellAction::WriteCountAllowNone:
          ChangeValue(*tblCFGCells, "ONCELL", N);
          ChangeValue(*tblCFGCells, "ALLOW", 0);
          break;
        case TCellAction::Report:
          break;
      }
    });
  } else if (taken.Reached < 2 && taken.End == TTakeEnd::Refused) {
    // The lock of a cell that is only reported was never needed: another program holding it
    // keeps nothing from the beds, which are taken on their own, after the cell's count.
    FRows->AddCount(cellCount, counting);
    addBeds();
    taken = FRows->Take(*dbJail, FDoing);
    rows = &FRows->Taken();
    firstBed = 1;
    if (taken.Reached == 0) FinishStoppedTake(taken.Error, taken.Doing);
  } else if (taken.Reached < 2) {
    FinishStoppedTake(taken.Error, taken.Doing);
  }
  // What the cell's own row tells once it is let go: its lines in the log (its listing read
  // with its release), its figures in the occupancy. Without a row of its own (its lock was
  // another's) the first bed carries them.
  const bool reported = action == TCellAction::Report;
  const std::function<void()> cellWritten = [this, place, N, reported] {
    FTally.Cell(place, N, reported);
  };
  {
    // The cell's lines go with the first row of its request (its count, which has no table),
    // its figures with its own row, or with that count when its lock was another's.
    TBatchRow& first = (*rows)[0];
    if (reported) {
      const std::string line =
          where + " Allow " + IntToStr(figures.Allow) + " but " + IntToStr(N) + " are assign to it";
      first.Listings.push_back("SELECT BOOKNO FROM DETENTIA WHERE NAMERELEAS = 0 and facicode = " +
                               QuotedStr(I) + " and cellkey = " + IntToStr(K));
      first.Sent = [this, place, line](const TBatchRow& ARow) {
        LogConflict(place, line, ARow, 0, "----Inmates On Cell----",
                    "NOTE: No Inmates Currently Assign To Cell");
      };
    }
    TBatchRow& own = (*rows)[firstBed - 1];
    own.Written = [cellWritten, previous = own.Written] {
      cellWritten();
      if (previous) previous();
    };
  }

  tblCFGBeds->First();
  for (std::size_t b = 0; b < beds.size(); ++b) {
    const std::size_t at = firstBed + b;
    if (at >= taken.Reached) FinishStoppedTake(taken.Error, taken.Doing);
    TBatchRow& row = (*rows)[at];
    SetStatus(*lblWhatHappen, "Synching " + beds[b].Name);
    const int M = row.Count;
    if (M >= 2) {
      const std::string line = beds[b].Name + " had more than one inmate assign to it";
      const std::size_t listing = row.Listings.size();
      row.Listings.push_back("SELECT BOOKNO FROM DETENTIA WHERE " + beds[b].Condition);
      row.Sent = [this, place, line, listing, previous = row.Sent](const TBatchRow& ARow) {
        if (previous) previous(ARow);
        LogConflict(place, line, ARow, listing, "----Inmates On Bed----",
                    "NOTE: No Inmate Currently Assign To Bed");
      };
    }
    DecideRow(row, place, [&] { ChangeFlag(*tblCFGBeds, "AVAILABLE", M == 0); });
    row.Written = [this, place, M, previous = row.Written] {
      if (previous) previous();
      FTally.Bed(place, M);
    };
    tblCFGBeds->Next();
    ProgressBar1->StepIt();
    Repaint();
  }
  if (taken.End != TTakeEnd::Complete) FinishStoppedTake(taken.Error, taken.Doing);
  FDoing = "moving to the next cell after " + where;
  // The cell is done once its last row is written.
  if (rows->empty()) {
    ++FCellsDone;
    return;
  }
  TBatchRow& last = rows->back();
  last.Written = [this, previous = last.Written] {
    if (previous) previous();
    ++FCellsDone;
  };
}

void TfrmSynchCellsMain::LogConflict(TOccupancyTally::TPlace APlace, const std::string& ALine,
                                     const TBatchRow& ARow, std::size_t AListing,
                                     const std::string& AHeader, const std::string& ANote) {
  Memo1->Add(ALine);
  // A listing that failed stops the writes at its row: the line stands without it.
  if (AListing >= ARow.Listed.size()) return;
  const std::vector<std::string>& bookNos = ARow.Listed[AListing];
  Memo1->Add(AHeader);
  if (bookNos.empty()) Memo1->Add(ANote);
  for (const std::string& bookNo : bookNos) Memo1->Add(" " + bookNo);
  Memo1->Add("----End----");
  FTally.Conflict(APlace, ALine, bookNos);
}

void TfrmSynchCellsMain::GoSynchCells() {
  FOutcome = TPassOutcome::Running;
  FCellsDone = 0;
  FDoing = "opening the tables";
  FTally.Start(CurrentPlatform().Now(), CurrentPlatform().ComputerName(), FPreview);
  try {
    CancelOpenEdits();
    if (FPreview) {
      OpenFirstTable(*tblDetentia, *dbJail);
    } else {
      // Before any row is touched, and on the session every lock of this pass is taken on:
      // a session lost later takes this lock with it, and the pass fails rather than going
      // on unguarded.
      OnLiveConnection(*dbJail, [this] { FPassLock.Take(*dbJail); });
      OpenOrRefresh(*tblDetentia);
    }
    OpenOrRefresh(*tblFacility);
    OpenOrRefresh(*tblDorms);
    OpenOrRefresh(*tblCFGCells);
    OpenOrRefresh(*tblCFGBeds);

    ProgressBar1->SetPosition(0);
    int R = tblFacility->RecordCount();
    SetStatus(*lblPasses, IntToStr(R) + " Facilities To Process Remaining");
    tblFacility->First();
    while (!tblFacility->Eof()) {
      ProgressBar1->SetMax(R + tblDorms->RecordCount() + tblCFGCells->RecordCount() +
                           tblCFGBeds->RecordCount());
      ProgressBar1->SetStep(1);
      const std::string F = tblFacility->FieldByName("FACILITYdesc").AsString();
      const std::string I = tblFacility->FieldByName("FACILITYID").AsString();
      FTally.Facility(I, F);

      tblDorms->First();
      while (!tblDorms->Eof()) {
        FTally.Dorm(TextOf(*tblDorms, "DORMCODE"));
        tblCFGCells->First();
        while (!tblCFGCells->Eof()) {
          SynchCell(I, F);
          tblCFGCells->Next();
          ProgressBar1->StepIt();
        }
        FDoing = "moving to the next dorm of " + F;
        tblDorms->Next();
        ProgressBar1->StepIt();
      }
      FDoing = "moving to the facility after " + F;
      tblFacility->Next();
      --R;
      SetStatus(*lblPasses, IntToStr(R) + " Facilities To Process Remaining");
      ProgressBar1->StepIt();
    }
    FRows->Flush(*dbJail, FDoing);
    qryGeneric->Close();
    FPassLock.Release();
    ProgressBar1->SetPosition(0);
    FOutcome = TPassOutcome::Completed;
    FTally.Finish(FOutcome);
    Application().ShowMessage("Cell Synchronization Completed");
  } catch (const EPassStopped&) {
    // Asked to stop from outside: no box waits for a person, the caller says why. The rows
    // already decided are written first, so that the pass ends on a whole row as it would
    // have one row at a time.
    WriteDecidedRows();
    AbandonPass();
    FOutcome = TPassOutcome::Stopped;
    FTally.Finish(FOutcome);
  } catch (const Exception& e) {
    WriteDecidedRows();
    AbandonPass();
    const std::string text = FailureText(e);
    FTally.Finish(FOutcome);
    Application().ShowMessage(text + " On: TfrmSynchCellsMain.GoSynchCells");
    Application().ShowMessage("Process Aborted");
  } catch (...) {
    // Not ours to report (out of memory, a fault of the program): it goes on to the
    // unhandled-failure path, but not before the rows it leaves behind are let go.
    AbandonPass();
    FOutcome = TPassOutcome::Failed;
    FTally.Finish(FOutcome);
    throw;
  }
}

void TfrmSynchCellsMain::SetTimeouts(int ALockWaitMilliseconds, int AQueryTimeoutSeconds) {
  FLockWaitMilliseconds = ALockWaitMilliseconds;
  FQueryTimeoutSeconds = AQueryTimeoutSeconds;
  // The lock wait is a session setting, sent right after each connect: a connection already
  // open keeps its own until it is made again.
  if (!dbJail->Connected()) dbJail->Options().SetDefaultLockTimeout(ALockWaitMilliseconds);
  dbJail->SetQueryTimeout(AQueryTimeoutSeconds);
}

void TfrmSynchCellsMain::CheckStop() const {
  if (StopRequested()) throw EPassStopped();
}

std::string TfrmSynchCellsMain::RowName(const TVtMSTable& ARow, const std::string& AWhere) {
  const TField* key = ARow.FindField("UniqueKey");
  return ARow.TableName() + (key != nullptr ? " row " + key->AsString() : std::string()) + " (" +
         AWhere + ")";
}

std::string TfrmSynchCellsMain::FailureText(const Exception& AFailure) {
  FOutcome = dynamic_cast<const EVtDBLockError*>(&AFailure) != nullptr ? TPassOutcome::Held
                                                                       : TPassOutcome::Failed;
  if (ServerErrorNumber(AFailure) == kLockTimeoutError) {
    // Another program keeps the row in an open transaction: a hold like a record lock, to be
    // retried later, not a fault.
    FOutcome = TPassOutcome::Held;
    return "The server kept a row locked for " + Seconds(FLockWaitMilliseconds / 1000) + " while " +
           FDoing +
           ": another program holds it in an open transaction. The rows before it are "
           "written; nothing from it on was touched.";
  }
  if (IsQueryTimeout(AFailure))
    return "The server did not answer within " + Seconds(FQueryTimeoutSeconds) + " while " +
           FDoing + ".";
  return AFailure.Message();
}

void TfrmSynchCellsMain::SetPreview(bool AValue) {
  FPreview = AValue;
  // The only tables the pass edits. Their edit still re-reads the row, as a press does.
  tblCFGCells->SetRecordLocksMake(!AValue);
  tblCFGBeds->SetRecordLocksMake(!AValue);
}

namespace {
std::string ValueText(const TField& AField) {
  return AField.IsNull() ? "NULL" : AField.AsString();
}
}  // namespace

void TfrmSynchCellsMain::NoteChange(TVtMSTable& ARow, const char* AColumn, std::string ANow,
                                    std::string AWould) {
  if (ANow == AWould) return;
  if (FPending.Columns.empty()) {
    FPending.Table = ARow.TableName();
    const TField* key = ARow.FindField("UniqueKey");
    FPending.Key = key != nullptr ? ValueText(*key) : std::string("?");
  }
  FPending.Columns.push_back({AColumn, std::move(ANow), std::move(AWould)});
}

void TfrmSynchCellsMain::ChangeValue(TVtMSTable& ARow, const char* AColumn, int AValue) {
  TField& field = ARow.FieldByName(AColumn);
  std::string now = ValueText(field);
  field.SetAsInteger(AValue);
  NoteChange(ARow, AColumn, std::move(now), ValueText(field));
}

void TfrmSynchCellsMain::ChangeFlag(TVtMSTable& ARow, const char* AColumn, bool AValue) {
  TField& field = ARow.FieldByName(AColumn);
  std::string now = ValueText(field);
  field.SetAsBoolean(AValue);
  NoteChange(ARow, AColumn, std::move(now), ValueText(field));
}

void TfrmSynchCellsMain::CancelOpenEdits() {
  FPending = {};
  // A row whose post failed would keep its record lock, and every other workstation out of
  // it, for as long as the window stays open; and a row left in edit would be posted, stale,
  // by the next pass's refresh. The next pass works its value out again.
  for (TVtMSTable* table : {tblCFGBeds, tblCFGCells, tblDorms, tblFacility, tblDetentia}) {
    try {
      table->Cancel();
    } catch (const Exception&) {
    }
  }
}

void TfrmSynchCellsMain::WriteDecidedRows() noexcept {
  // Rows decided from counts under their locks are written as they would have been one at a
  // time, before whatever stopped the pass after them; a request that itself failed is not
  // sent again, and a failure here leaves the first one to be reported.
  std::string doing;
  try {
    if (dbJail->Connected()) FRows->Flush(*dbJail, doing);
  } catch (const std::exception&) {
  }
}

void TfrmSynchCellsMain::AbandonPass() {
  // The failure is what the user must see: a query that cannot even be closed (the server
  // went away) must not replace it, so that close's own failure is dropped.
  try {
    qryGeneric->Close();
  } catch (const Exception&) {
  }
  CancelOpenEdits();
  FRows->Abandon(*dbJail);
  FPassLock.Release();
  ProgressBar1->SetPosition(0);
}

}  // namespace bunkmere
