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

TfrmSynchCellsMain::TfrmSynchCellsMain(TComponent* AOwner) : TForm(AOwner) {
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

void TfrmSynchCellsMain::RunStatement(const std::string& ASql) {
  qryGeneric->Close();
  qryGeneric->SetConnection(dbJail);
  qryGeneric->UnPrepare();
  qryGeneric->SQL().Clear();
  qryGeneric->SQL().Add(ASql);
  qryGeneric->Prepare();
  qryGeneric->Open();
}

int TfrmSynchCellsMain::CountOf(const std::string& ASql, std::string ADoing) {
  CheckStop();
  FDoing = std::move(ADoing);
  RunStatement(ASql);
  const int n = qryGeneric->Fields(0).AsInteger();
  qryGeneric->Close();
  return n;
}

void TfrmSynchCellsMain::AppendListing(const std::string& ASql, const std::string& AHeader,
                                       const std::string& ANote) {
  RunStatement(ASql);
  // The conflict's line is the one the pass logged just before its listing.
  const std::vector<std::string> logged = Memo1->Lines();
  FListedFor = logged.empty() ? std::string() : logged.back();
  FListed.clear();
  if (qryGeneric->IsEmpty()) {
    Memo1->Add(AHeader);
    Memo1->Add(ANote);
  } else {
    Memo1->Add(AHeader);
    qryGeneric->First();
    while (!qryGeneric->Eof()) {
      FListed.push_back(qryGeneric->Fields(0).AsString());
      Memo1->Add(" " + FListed.back());
      qryGeneric->Next();
    }
  }
  Memo1->Add("----End----");
  qryGeneric->Close();
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
          const int K = tblCFGCells->FieldByName("CELLKEY").AsInteger();
          const std::string C = tblCFGCells->FieldByName("CELLNO").AsString();
          const std::string D = tblCFGCells->FieldByName("DORMCODE").AsString();
          const std::string where = "Facility :" + F + " DormCode : " + D + " CellNo : " + C;
          SetStatus(*lblWhatHappen, "Synching " + where);

          const std::string cellCount =
              "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = " +
              QuotedStr(I) + " and CELLKEY = " + IntToStr(K);
          int N = CountOf(cellCount, "counting the bookings of " + where);
          TCellFigures figures = CellFigures(*tblCFGCells);
          TCellAction action = DecideCell(N, figures, *tblCFGCells);
          if (action != TCellAction::Report) {
            // A count taken before the lock may be older than what another pass or program
            // wrote since: only a count taken once the row is ours decides what is written.
            LockRow(*tblCFGCells, where);
            N = CountOf(cellCount, "counting the bookings of " + where);
            figures = CellFigures(*tblCFGCells);
            action = DecideCell(N, figures, *tblCFGCells);
            FDoing = "writing " + RowName(*tblCFGCells, where);
            switch (action) {
              case TCellAction::WriteCount:
                ChangeValue(*tblCFGCells, "ONCELL", N < 1 ? 0 : N);
                FinishRow(*tblCFGCells);
                break;
              case TCellAction::WriteCountAllowNone:
                ChangeValue(*tblCFGCells, "ONCELL", N);
                ChangeValue(*tblCFGCells, "ALLOW", 0);
                FinishRow(*tblCFGCells);
                break;
              case TCellAction::Report:
                tblCFGCells->Cancel();
                break;
            }
          }
          if (action == TCellAction::Report) {
            CheckStop();
            Memo1->Add(where + " Allow " + IntToStr(figures.Allow) + " but " + IntToStr(N) +
                       " are assign to it");
            FDoing = "listing the bookings of " + where;
            AppendListing("SELECT BOOKNO FROM DETENTIA WHERE NAMERELEAS = 0 and facicode = " +
                              QuotedStr(I) + " and cellkey = " + IntToStr(K),
                          "----Inmates On Cell----", "NOTE: No Inmates Currently Assign To Cell");
            FTally.Conflict(FListedFor, FListed);
          }
          FTally.Cell(N, action == TCellAction::Report);

          tblCFGBeds->First();
          while (!tblCFGBeds->Eof()) {
            const int B = tblCFGBeds->FieldByName("BEDNO").AsInteger();
            const std::string E = tblCFGBeds->FieldByName("BEDDESC").AsString();
            const std::string bed = where + " Bed : " + E;
            SetStatus(*lblWhatHappen, "Synching " + bed);
            const std::string bedCondition = "NAMERELEAS = 0 and facicode = " + QuotedStr(I) +
                                             " and cellkey = " + IntToStr(K) +
                                             " and bed = " + QuotedStr(IntToStr(B));
            // Every bed is written, so its lock comes first and its count under it.
            LockRow(*tblCFGBeds, bed);
            const int M = CountOf("SELECT Count(bed) FROM DETENTIA WHERE " + bedCondition,
                                  "counting the bookings of " + bed);
            if (M >= 2) {
              CheckStop();
              Memo1->Add(bed + " had more than one inmate assign to it");
              FDoing = "listing the bookings of " + bed;
              AppendListing("SELECT BOOKNO FROM DETENTIA WHERE " + bedCondition,
                            "----Inmates On Bed----", "NOTE: No Inmate Currently Assign To Bed");
              FTally.Conflict(FListedFor, FListed);
            }
            FDoing = "writing " + RowName(*tblCFGBeds, bed);
            ChangeFlag(*tblCFGBeds, "AVAILABLE", M == 0);
            FinishRow(*tblCFGBeds);
            FTally.Bed(M);

            FDoing = "moving to the next bed of " + where;
            tblCFGBeds->Next();
            ProgressBar1->StepIt();
            Repaint();
          }
          ++FCellsDone;
          FDoing = "moving to the next cell after " + where;
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
    qryGeneric->Close();
    FPassLock.Release();
    ProgressBar1->SetPosition(0);
    FOutcome = TPassOutcome::Completed;
    FTally.Finish(FOutcome);
    Application().ShowMessage("Cell Synchronization Completed");
  } catch (const EPassStopped&) {
    // Asked to stop from outside: no box waits for a person, the caller says why.
    AbandonPass();
    FOutcome = TPassOutcome::Stopped;
    FTally.Finish(FOutcome);
  } catch (const Exception& e) {
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

void TfrmSynchCellsMain::LockRow(TVtMSTable& ARow, const std::string& AWhere) {
  CheckStop();
  FDoing = "locking and re-reading " + RowName(ARow, AWhere);
  ARow.Edit();
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

void TfrmSynchCellsMain::FinishRow(TVtMSTable& ARow) {
  TRowChange change = std::move(FPending);
  FPending = {};
  if (FPreview)
    ARow.Cancel();
  else
    ARow.Post();
  if (change.Columns.empty()) return;
  FTally.RowChanged(change);
  if (OnRowChange) OnRowChange(change);
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

void TfrmSynchCellsMain::AbandonPass() {
  // The failure is what the user must see: a query that cannot even be closed (the server
  // went away) must not replace it, so that close's own failure is dropped.
  try {
    qryGeneric->Close();
  } catch (const Exception&) {
  }
  CancelOpenEdits();
  FPassLock.Release();
  ProgressBar1->SetPosition(0);
}

}  // namespace bunkmere
