#include "dataaccess/MSDataSet.h"

#include <algorithm>

#include "core/SqlText.h"
#include "core/StrUtils.h"
#include "dataaccess/GeneratedSql.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/odbc/OdbcBlockReader.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/odbc/OdbcStatement.h"

namespace bunkmere {

// ---- options and parameters ----

void TMSDataSetOptions::Assign(const TMSDataSetOptions& s) {
  FQuoteNames = s.FQuoteNames;
  FTrimVarChar = s.FTrimVarChar;
  FTrimFixedChar = s.FTrimFixedChar;
  FStrictUpdate = s.FStrictUpdate;
  FUpdateAllFields = s.FUpdateAllFields;
  FQueryRecCount = s.FQueryRecCount;
  FLocalMasterDetail = s.FLocalMasterDetail;
  FMasterFieldsNullable = s.FMasterFieldsNullable;
  FUniqueRecords = s.FUniqueRecords;
  FFullRefresh = s.FFullRefresh;
  FDMLRefresh = s.FDMLRefresh;
  FRemoveOnRefresh = s.FRemoveOnRefresh;
  FDetailDelay = s.FDetailDelay;
}

TParam* TParams::FindParam(std::string_view AName) {
  for (TParam& p : FItems)
    if (SameText(p.Name, AName)) return &p;
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view AName) {
  if (TParam* p = FindParam(AName)) return *p;
  throw EDatabaseError("Parameter '" + std::string(AName) + "' not found");
}

void TParams::Rebuild(const std::vector<std::string>& ANames) {
  std::vector<TParam> next;
  for (const std::string& name : ANames) {
    if (std::any_of(next.begin(), next.end(),
                    [&](const TParam& p) { return SameText(p.Name, name); }))
      continue;
    TParam* old = FindParam(name);
    next.push_back(old ? *old : TParam{name, TDbValue::Null(), false});
    next.back().Name = name;
  }
  FItems = std::move(next);
}

// ---- construction ----

TCustomMSDataSet::TCustomMSDataSet(TComponent* AOwner) : TCustomMSDataSet(AOwner, nullptr) {}

TCustomMSDataSet::TCustomMSDataSet(TComponent* AOwner, std::unique_ptr<TMSDataSetOptions> AOptions)
    : TComponent(AOwner),
      FOptions(AOptions ? std::move(AOptions) : std::make_unique<TMSDataSetOptions>()) {
  FSQL.OnChange = [this] {
    if (FQuietSQL) return;
    if (Active()) Close();
    UnPrepare();
    StatementChanged();
  };
}

TCustomMSDataSet::~TCustomMSDataSet() {
  Destroying();
  try {
    Close();
  } catch (const Exception&) {
    // Closing never needs the server; a failing close step must not escape a destructor.
  }
  SetMasterSource(nullptr);
  for (TDataSource* ds : FDataSources) ds->FDataSet = nullptr;
  FDataSources.clear();
  if (FConnection) FConnection->UnregisterDataSet(this);
}

void TCustomMSDataSet::SetConnection(TMSConnection* AValue) {
  if (AValue == FConnection) return;
  if (Active()) Close();
  if (FConnection) FConnection->UnregisterDataSet(this);
  FConnection = AValue;
  FPrepared = false;
  if (FConnection) FConnection->RegisterDataSet(this);
}

void TCustomMSDataSet::SetFetchRows(int AValue) {
  if (AValue < 1) throw EDatabaseError("FetchRows must be at least 1");
  FFetchRows = AValue;
}

void TCustomMSDataSet::SetMasterSource(TDataSource* AValue) {
  if (AValue == FMasterSource) return;
  if (FMasterSource) {
    auto& d = FMasterSource->FDetails;
    d.erase(std::remove(d.begin(), d.end(), this), d.end());
  }
  FMasterSource = AValue;
  if (FMasterSource) FMasterSource->FDetails.push_back(this);
  FHasMasterValues = false;
  StatementChanged();
}

void TCustomMSDataSet::SetMasterFields(const std::string& AValue) {
  FMasterFields = AValue;
  FHasMasterValues = false;
  StatementChanged();
}

void TCustomMSDataSet::SetDetailFields(const std::string& AValue) {
  FDetailFields = AValue;
  StatementChanged();
}

void TCustomMSDataSet::StatementChanged() {
  FWireReady = false;
  FKeyCache.reset();
}

void TCustomMSDataSet::SetSQLQuietly(const std::string& AText) {
  FQuietSQL = true;
  try {
    FSQL.SetText(AText);
  } catch (...) {
    FQuietSQL = false;
    throw;
  }
  FQuietSQL = false;
  FWireReady = false;
}

std::string TCustomMSDataSet::StatementText() {
  return FSQL.Text();
}

std::string TCustomMSDataSet::ReportedTableName() const {
  return FirstFromTable(FSQL.Text());
}

// ---- checks ----

void TCustomMSDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TCustomMSDataSet::CheckCanModify() const {
  if (FReadOnly) throw EDatabaseError("Cannot modify a read-only dataset");
}

void TCustomMSDataSet::CheckOperation(const std::function<void()>& AOperation,
                                      const TDataSetErrorEvent& AHandler) {
  for (;;) {
    try {
      AOperation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = TDataAction::daFail;
      if (AHandler) AHandler(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) throw EAbort("Operation aborted");
      // daRetry: run the step again
    }
  }
}

// ---- statement ----

bool TCustomMSDataSet::IsDetail() const {
  return FMasterSource != nullptr && !FMasterFields.empty() && !FDetailFields.empty() &&
         !FOptions->LocalMasterDetail();
}

void TCustomMSDataSet::PrepareWire() {
  if (FWireReady) return;
  std::string text = StatementText();
  if (IsDetail())
    text = MergeCondition(
        text, MasterDetailCondition(FDetailFields, FMasterFields, FOptions->QuoteNames()));
  TWireStatement wire = ReplaceParamMarkers(text);
  FWireText = std::move(wire.Text);
  FWireParams = std::move(wire.ParamNames);
  FParams.Rebuild(FWireParams);
  FWireReady = true;
}

void TCustomMSDataSet::BindMasterParams(bool& AChanged) {
  AChanged = false;
  if (!IsDetail()) return;
  TCustomMSDataSet* master = FMasterSource->DataSet();
  if (master == nullptr || !master->Active()) {
    // Without a master row the link parameters stay without a value, typed as text: the
    // detail comes back empty.
    for (const std::string& name : SplitFieldList(FMasterFields)) {
      TParam* p = FParams.FindParam(name);
      if (p == nullptr) p = FParams.FindParam(QuoteName(name));
      if (p == nullptr) continue;
      if (p->Bound || !p->Value.IsNull()) AChanged = true;
      p->Value = TDbValue::Null(TDbValue::Kind::Text);
      p->Bound = false;
    }
    FHasMasterValues = false;
    return;
  }
  for (int k = 0; k < FParams.Count(); ++k) {
    TParam& p = FParams[k];
    TField* f = master->FindField(UnquoteName(p.Name));
    if (f == nullptr) continue;
    TDbValue v = f->Value();
    if (!p.Bound || !(v == p.Value)) AChanged = true;
    p.Value = std::move(v);
    p.Bound = true;
  }
  if (!FHasMasterValues) AChanged = true;
  FHasMasterValues = true;
}

std::vector<TDbValue> TCustomMSDataSet::WireParamValues() const {
  std::vector<TDbValue> values;
  values.reserve(FWireParams.size());
  auto& params = const_cast<TParams&>(FParams);
  for (const std::string& name : FWireParams) {
    TParam* p = params.FindParam(name);
    values.push_back(p ? p->Value : TDbValue::Null());
  }
  return values;
}

void TCustomMSDataSet::Execute() {
  if (FConnection == nullptr) throw EDatabaseError("Connection is not defined");
  PrepareWire();
  odbc::TOdbcStatement& stmt = FConnection->ServerConnection().Statement();
  std::vector<TDbValue> values = WireParamValues();
  stmt.Execute(FWireText, values);
  try {
    std::vector<TColumnDesc> cols = stmt.Describe();
    if (cols.empty()) throw EDatabaseError("The statement returns no rows");
    bool sameLayout = cols.size() == FColumns.size() && !FFields.empty();
    for (std::size_t c = 0; sameLayout && c < cols.size(); ++c)
      sameLayout = cols[c].Name == FColumns[c].Name && cols[c].SqlType == FColumns[c].SqlType &&
                   cols[c].Size == FColumns[c].Size;
    // The key is worked out from column positions and flags: a table re-created with other
    // columns (same statement, so nothing cleared it) must not be keyed by the old ones.
    bool sameKeyLayout = sameLayout;
    for (std::size_t c = 0; sameKeyLayout && c < cols.size(); ++c)
      sameKeyLayout = cols[c].Identity == FColumns[c].Identity &&
                      cols[c].Updatable == FColumns[c].Updatable &&
                      cols[c].BaseTableName == FColumns[c].BaseTableName;
    if (!sameKeyLayout) FKeyCache.reset();
    FColumns = std::move(cols);
    if (!sameLayout) {
      FFields.clear();
      for (std::size_t c = 0; c < FColumns.size(); ++c)
        FFields.push_back(std::make_unique<TField>(*this, static_cast<int>(c), FColumns[c]));
    }
    FRows.Reset(FColumns, {FOptions->TrimFixedChar(), FOptions->TrimVarChar()});
    odbc::TOdbcBlockReader reader(
        stmt, FColumns,
        odbc::TOdbcBlockReader::BlockRows(FColumns, static_cast<std::size_t>(FFetchRows)));
    while (std::size_t n = reader.Fetch()) FRows.AppendBlock(reader, n);
    FRows.ReleaseUnused();
  } catch (...) {
    FRows.Clear();
    try {
      stmt.Drain();
    } catch (const Exception&) {
      // The first failure is the one to report.
    }
    throw;
  }
  stmt.Drain();
  FRecNo = 0;
  FEof = FRows.RowCount() == 0;
}

void TCustomMSDataSet::Prepare() {
  if (FPrepared || Active()) return;
  if (FConnection == nullptr) throw EDatabaseError("Connection is not defined");
  FConnection->ServerConnection();
  PrepareWire();
  FPrepared = true;
}

void TCustomMSDataSet::UnPrepare() {
  FPrepared = false;
}

// ---- open, close, refresh ----

void TCustomMSDataSet::SetActive(bool AValue) {
  if (IsLoading()) {
    FStreamedActive = AValue;
    return;
  }
  if (AValue)
    Open();
  else
    Close();
}

void TCustomMSDataSet::Loaded() {
  TComponent::Loaded();
  if (FStreamedActive) Open();
}

void TCustomMSDataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen);
  bool changed;
  PrepareWire();
  BindMasterParams(changed);
  Execute();
  FState = TDataSetState::dsBrowse;
  Fire(AfterOpen);
  NotifyDetails();
  Fire(AfterScroll);
}

void TCustomMSDataSet::Close() {
  if (!Active()) return;
  if (FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert) Cancel();
  if (!IsDestroying()) Fire(BeforeClose);
  FState = TDataSetState::dsInactive;
  InternalClose();
  if (!IsDestroying()) Fire(AfterClose);
}

void TCustomMSDataSet::InternalClose() {
  FRows.Clear();
  FFields.clear();
  FColumns.clear();
  FBuffer.clear();
  FRecNo = 0;
  FEof = true;
}

void TCustomMSDataSet::Refresh() {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeRefresh);
  std::vector<int> keys;
  std::vector<TDbValue> current;
  if (!IsEmpty()) {
    keys = KeyColumns(false);
    current = KeyValues(keys, FRecNo);
  }
  try {
    Execute();
  } catch (...) {
    // A dataset whose rows could not be read again is closed, not left half-filled.
    FState = TDataSetState::dsInactive;
    InternalClose();
    throw;
  }
  if (!keys.empty()) {
    for (std::size_t r = 0; r < FRows.RowCount(); ++r)
      if (KeyValues(keys, r) == current) {
        FRecNo = r;
        break;
      }
  }
  Fire(AfterRefresh);
  NotifyDetails();
  Fire(AfterScroll);
}

// ---- navigation ----

int TCustomMSDataSet::RecordCount() const {
  CheckActive();
  return static_cast<int>(FRows.RowCount());
}

bool TCustomMSDataSet::IsEmpty() const {
  return !Active() || (FRows.RowCount() == 0 && FState != TDataSetState::dsInsert);
}

void TCustomMSDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  FRecNo = 0;
  FEof = FRows.RowCount() == 0;
  NotifyDetails();
  Fire(AfterScroll);
}

void TCustomMSDataSet::Next() {
  CheckActive();
  CheckBrowseMode();
  if (FRecNo + 1 < FRows.RowCount()) {
    ++FRecNo;
    FEof = false;
    NotifyDetails();
    Fire(AfterScroll);
  } else {
    FEof = true;
  }
}

// ---- fields ----

TField& TCustomMSDataSet::Fields(int AIndex) const {
  CheckActive();
  if (AIndex < 0 || AIndex >= FieldCount())
    throw EDatabaseError("Field index out of range: " + std::to_string(AIndex));
  return *FFields[static_cast<std::size_t>(AIndex)];
}

TField* TCustomMSDataSet::FindField(std::string_view AName) const {
  for (const auto& f : FFields)
    if (SameText(f->FieldName(), AName)) return f.get();
  return nullptr;
}

TField& TCustomMSDataSet::FieldByName(std::string_view AName) const {
  if (TField* f = FindField(AName)) return *f;
  throw EDatabaseError("Field '" + std::string(AName) + "' not found");
}

TDbValue TCustomMSDataSet::CurrentValue(int AIndex) const {
  CheckActive();
  auto c = static_cast<std::size_t>(AIndex);
  if (FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert) return FBuffer[c];
  if (FRows.RowCount() == 0) return TDbValue::Null();
  return FRows.Value(FRecNo, c);
}

void TCustomMSDataSet::SetFieldValue(int AIndex, TDbValue AValue) {
  CheckActive();
  if (FState != TDataSetState::dsEdit && FState != TDataSetState::dsInsert)
    throw EDatabaseError("Dataset not in edit or insert mode");
  auto c = static_cast<std::size_t>(AIndex);
  FBuffer[c] = std::move(AValue);
  FWritten[c] = true;
  NotifyDetails();
}

// ---- master/detail ----

void TCustomMSDataSet::NotifyDetails() {
  // A description may link datasets in a circle; each passes a change on once.
  if (IsDestroying() || FNotifying) return;
  struct TGuard {
    bool& Flag;
    explicit TGuard(bool& AFlag) : Flag(AFlag) { Flag = true; }
    ~TGuard() { Flag = false; }
  } guard(FNotifying);
  // Copy: a detail's re-run may not change the lists, but a handler it fires could.
  std::vector<TCustomMSDataSet*> details;
  for (TDataSource* ds : FDataSources)
    details.insert(details.end(), ds->FDetails.begin(), ds->FDetails.end());
  for (TCustomMSDataSet* d : details) d->MasterChanged();
}

void TCustomMSDataSet::MasterChanged() {
  if (!Active() || FState == TDataSetState::dsEdit || FState == TDataSetState::dsInsert) return;
  if (!IsDetail()) return;
  PrepareWire();
  bool changed;
  BindMasterParams(changed);
  if (!changed) return;
  try {
    Execute();
  } catch (...) {
    FState = TDataSetState::dsInactive;
    InternalClose();
    throw;
  }
  NotifyDetails();
  Fire(AfterScroll);
}

// ---- data source ----

TDataSource::~TDataSource() {
  Destroying();
  for (TCustomMSDataSet* d : FDetails) d->FMasterSource = nullptr;
  FDetails.clear();
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TCustomMSDataSet* AValue) {
  if (AValue == FDataSet) return;
  if (FDataSet) {
    auto& s = FDataSet->FDataSources;
    s.erase(std::remove(s.begin(), s.end(), this), s.end());
  }
  FDataSet = AValue;
  if (FDataSet) FDataSet->FDataSources.push_back(this);
}

}  // namespace bunkmere
