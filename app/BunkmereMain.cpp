#include "app/BunkmereMain.h"

#include "app/FormDescription.h"
#include "config/VtConfigInfo.h"
#include "core/ClassRegistry.h"
#include "core/Convert.h"
#include "core/DateTime.h"
#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "core/Reader.h"
#include "core/SqlText.h"
#include "dataaccess/MSDataSet.h"
#include "db/DbClasses.h"
#include "db/VtMSAccess.h"
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
void OpenFirstTable(TVtMSTable& ATable, const TVtSQLDatabase& ADb) {
  const bool wasConnected = ADb.Connected();
  try {
    OpenOrRefresh(ATable);
  } catch (const Exception&) {
    if (!wasConnected || ADb.Connected()) throw;
    OpenOrRefresh(ATable);
  }
}

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
  std::string folder = platform.LogFolder();
  if (!folder.empty() && folder.back() != platform.PathDelimiter())
    folder += platform.PathDelimiter();
  // The name has no month: a log of the same day and time a month ago, or another window's,
  // must not be overwritten.
  std::string path = folder + stem + ".log";
  for (int n = 2; path != FLastSavedLog && platform.FileExists(path); ++n)
    path = folder + stem + "_" + IntToStr(n) + ".log";
  platform.WriteFileBytes(path, platform.EncodeAnsiText(Memo1->LinesText()));
  FLastSavedLog = path;
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

int TfrmSynchCellsMain::CountOf(const std::string& ASql) {
  RunStatement(ASql);
  const int n = qryGeneric->Fields(0).AsInteger();
  qryGeneric->Close();
  return n;
}

void TfrmSynchCellsMain::AppendListing(const std::string& ASql, const std::string& AHeader,
                                       const std::string& ANote) {
  RunStatement(ASql);
  if (qryGeneric->IsEmpty()) {
    Memo1->Add(AHeader);
    Memo1->Add(ANote);
  } else {
    Memo1->Add(AHeader);
    qryGeneric->First();
    while (!qryGeneric->Eof()) {
      Memo1->Add(" " + qryGeneric->Fields(0).AsString());
      qryGeneric->Next();
    }
  }
  Memo1->Add("----End----");
  qryGeneric->Close();
}

void TfrmSynchCellsMain::GoSynchCells() {
  try {
    CancelOpenEdits();
    OpenFirstTable(*tblDetentia, *dbJail);
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

      tblDorms->First();
      while (!tblDorms->Eof()) {
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
          int N = CountOf(cellCount);
          const TCellFigures cached = CellFigures(*tblCFGCells);
          TCellAction action = DecideCell(N, cached, *tblCFGCells);
          TCellFigures current = cached;
          if (action != TCellAction::Report) {
            // Edit takes the row's lock and re-reads it: from here on the row cannot change
            // under us, so the rule is decided again from the row as it now stands. Another
            // workstation may have changed the allowance, or another pass written a newer
            // count, since the count above: count again under the lock before writing.
            tblCFGCells->Edit();
            current = CellFigures(*tblCFGCells);
            if (current != cached) {
              N = CountOf(cellCount);
              action = DecideCell(N, current, *tblCFGCells);
            }
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
            Memo1->Add(where + " Allow " + IntToStr(current.Allow) + " but " + IntToStr(N) +
                       " are assign to it");
            AppendListing("SELECT BOOKNO FROM DETENTIA WHERE NAMERELEAS = 0 and facicode = " +
                              QuotedStr(I) + " and cellkey = " + IntToStr(K),
                          "----Inmates On Cell----", "NOTE: No Inmates Currently Assign To Cell");
          }

          tblCFGBeds->First();
          while (!tblCFGBeds->Eof()) {
            const int B = tblCFGBeds->FieldByName("BEDNO").AsInteger();
            const std::string E = tblCFGBeds->FieldByName("BEDDESC").AsString();
            SetStatus(*lblWhatHappen, "Synching " + where + " Bed : " + E);
            const std::string bedCondition = "NAMERELEAS = 0 and facicode = " + QuotedStr(I) +
                                             " and cellkey = " + IntToStr(K) +
                                             " and bed = " + QuotedStr(IntToStr(B));
            const std::string bedCount = "SELECT Count(bed) FROM DETENTIA WHERE " + bedCondition;
            int M = CountOf(bedCount);
            if (M >= 2) {
              Memo1->Add(where + " Bed : " + E + " had more than one inmate assign to it");
              AppendListing("SELECT BOOKNO FROM DETENTIA WHERE " + bedCondition,
                            "----Inmates On Bed----", "NOTE: No Inmate Currently Assign To Bed");
            }
            const std::string available = tblCFGBeds->FieldByName("AVAILABLE").AsString();
            tblCFGBeds->Edit();
            // As for the cell: a flag changed since the count means another pass wrote a newer
            // count; the count under the lock is the one written.
            if (tblCFGBeds->FieldByName("AVAILABLE").AsString() != available) M = CountOf(bedCount);
            ChangeFlag(*tblCFGBeds, "AVAILABLE", M == 0);
            FinishRow(*tblCFGBeds);

            tblCFGBeds->Next();
            ProgressBar1->StepIt();
            Repaint();
          }
          tblCFGCells->Next();
          ProgressBar1->StepIt();
        }
        tblDorms->Next();
        ProgressBar1->StepIt();
      }
      tblFacility->Next();
      --R;
      SetStatus(*lblPasses, IntToStr(R) + " Facilities To Process Remaining");
      ProgressBar1->StepIt();
    }
    qryGeneric->Close();
    ProgressBar1->SetPosition(0);
    Application().ShowMessage("Cell Synchronization Completed");
  } catch (const Exception& e) {
    AbandonPass();
    Application().ShowMessage(e.Message() + " On: TfrmSynchCellsMain.GoSynchCells");
    Application().ShowMessage("Process Aborted");
  } catch (...) {
    // Not ours to report (out of memory, a fault of the program): it goes on to the
    // unhandled-failure path, but not before the rows it leaves behind are let go.
    AbandonPass();
    throw;
  }
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
  if (!change.Columns.empty() && OnRowChange) OnRowChange(change);
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
  ProgressBar1->SetPosition(0);
}

}  // namespace bunkmere
