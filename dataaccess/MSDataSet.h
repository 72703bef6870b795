#pragma once
// TCustomMSDataSet: the dataset model over one statement on a TMSConnection.
//
// Opening runs the statement and fetches every row, in blocks of at least FetchRows rows sized
// to the row's width, into a compact client copy; moves and field reads never go back to the
// server. Edit re-reads the current row when RefreshOptions holds roBeforeEdit; Post writes one
// UPDATE of the changed columns keyed by the row's key; nothing is sent when nothing changed.
//
// Subclasses change behaviour at fixed points through the protected steps InternalEdit,
// InternalPost, InternalCancel, InternalDelete and InternalClose, and supply their own options
// object through the protected constructor.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Component.h"
#include "core/Exceptions.h"
#include "core/Persistent.h"
#include "dataaccess/Fields.h"
#include "dataaccess/GeneratedSql.h"
#include "dataaccess/RowCache.h"
#include "dataaccess/SqlLines.h"
#include "dataaccess/odbc/DbValue.h"

namespace bunkmere {

namespace odbc {
class TOdbcStatement;
}

class TMSConnection;
class TDataSource;

// An operation an error handler abandoned (daAbort): callers that must tell it from a failure
// catch it; it carries no message worth showing.
BUNKMERE_EXCEPTION(EAbort, Exception);

enum class TDataSetState : std::uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert };
enum class TDataAction : std::uint8_t { daFail, daAbort, daRetry };
enum class TRefreshOption : std::uint8_t { roAfterInsert, roAfterUpdate, roBeforeEdit };

class TRefreshOptions {
 public:
  constexpr TRefreshOptions() = default;
  constexpr TRefreshOptions(std::initializer_list<TRefreshOption> AItems) {
    for (TRefreshOption o : AItems) Include(o);
  }
  constexpr bool Contains(TRefreshOption o) const { return (FBits >> static_cast<int>(o)) & 1; }
  constexpr void Include(TRefreshOption o) {
    FBits = static_cast<std::uint8_t>(FBits | (1 << static_cast<int>(o)));
  }
  constexpr void Exclude(TRefreshOption o) {
    FBits = static_cast<std::uint8_t>(FBits & ~(1 << static_cast<int>(o)));
  }
  constexpr bool operator==(const TRefreshOptions&) const = default;
  // Bit N stands for the option of ordinal N (the stored form of the set).
  constexpr std::uint8_t Mask() const { return FBits; }
  static constexpr TRefreshOptions FromMask(std::int64_t AMask) {
    TRefreshOptions r;
    r.FBits = static_cast<std::uint8_t>(AMask & 7);
    return r;
  }

 private:
  std::uint8_t FBits = 0;
};

class TMSDataSetOptions : public TPersistent {
 public:
  TMSDataSetOptions() = default;
  const char* ClassName() const noexcept override { return "TMSDataSetOptions"; }
  virtual void Assign(const TMSDataSetOptions& ASource);

  bool QuoteNames() const { return FQuoteNames; }
  void SetQuoteNames(bool v) { FQuoteNames = v; }
  bool TrimVarChar() const { return FTrimVarChar; }
  void SetTrimVarChar(bool v) { FTrimVarChar = v; }
  bool TrimFixedChar() const { return FTrimFixedChar; }
  void SetTrimFixedChar(bool v) { FTrimFixedChar = v; }
  bool StrictUpdate() const { return FStrictUpdate; }
  void SetStrictUpdate(bool v) { FStrictUpdate = v; }
  bool UpdateAllFields() const { return FUpdateAllFields; }
  void SetUpdateAllFields(bool v) { FUpdateAllFields = v; }
  bool QueryRecCount() const { return FQueryRecCount; }
  void SetQueryRecCount(bool v) { FQueryRecCount = v; }
  bool LocalMasterDetail() const { return FLocalMasterDetail; }
  void SetLocalMasterDetail(bool v) { FLocalMasterDetail = v; }
  bool MasterFieldsNullable() const { return FMasterFieldsNullable; }
  void SetMasterFieldsNullable(bool v) { FMasterFieldsNullable = v; }
  bool UniqueRecords() const { return FUniqueRecords; }
  void SetUniqueRecords(bool v) { FUniqueRecords = v; }
  bool FullRefresh() const { return FFullRefresh; }
  void SetFullRefresh(bool v) { FFullRefresh = v; }
  bool DMLRefresh() const { return FDMLRefresh; }
  void SetDMLRefresh(bool v) { FDMLRefresh = v; }
  bool RemoveOnRefresh() const { return FRemoveOnRefresh; }
  void SetRemoveOnRefresh(bool v) { FRemoveOnRefresh = v; }
  int DetailDelay() const { return FDetailDelay; }
  void SetDetailDelay(int v) { FDetailDelay = v; }

 private:
  bool FQuoteNames = false;
  bool FTrimVarChar = false;
  bool FTrimFixedChar = true;
  bool FStrictUpdate = true;
  bool FUpdateAllFields = false;
  bool FQueryRecCount = false;
  bool FLocalMasterDetail = false;
  bool FMasterFieldsNullable = false;
  bool FUniqueRecords = true;
  bool FFullRefresh = false;
  bool FDMLRefresh = false;
  bool FRemoveOnRefresh = true;
  int FDetailDelay = 0;
};

// A statement parameter, by name; bound to every marker of that name.
struct TParam {
  std::string Name;
  TDbValue Value;
  bool Bound = false;  // a value was given (a master's NULL counts as given)
};

class TParams {
 public:
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  TParam& operator[](int AIndex) { return FItems.at(static_cast<std::size_t>(AIndex)); }
  TParam* FindParam(std::string_view AName);
  TParam& ParamByName(std::string_view AName);  // raises "Parameter '%s' not found"
  // Keeps the values of parameters whose names stay.
  void Rebuild(const std::vector<std::string>& ANames);

 private:
  std::vector<TParam> FItems;
};

class TCustomMSDataSet;
using TDataSetNotifyEvent = std::function<void(TCustomMSDataSet&)>;
using TDataSetErrorEvent = std::function<void(TCustomMSDataSet&, EDatabaseError&, TDataAction&)>;

class TCustomMSDataSet : public TComponent {
 public:
  explicit TCustomMSDataSet(TComponent* AOwner);
  ~TCustomMSDataSet() override;
  const char* ClassName() const noexcept override { return "TCustomMSDataSet"; }

  TMSConnection* Connection() const noexcept { return FConnection; }
  void SetConnection(TMSConnection* AValue);

  TSqlLines& SQL() noexcept { return FSQL; }
  const TSqlLines& SQL() const noexcept { return FSQL; }
  TParams& Params() noexcept { return FParams; }
  TMSDataSetOptions& Options() const noexcept { return *FOptions; }

  // ---- state and navigation ----
  bool Active() const noexcept { return FState != TDataSetState::dsInactive; }
  // While a stored description is read, true is only recorded; Loaded opens the dataset.
  void SetActive(bool AValue);
  void Loaded() override;
  void Open();
  void Close();
  TDataSetState State() const noexcept { return FState; }
  void Refresh();
  void First();
  void Next();
  bool Eof() const noexcept { return FEof; }
  int RecNo() const noexcept { return static_cast<int>(FRecNo); }  // 0-based
  int RecordCount() const;
  bool IsEmpty() const;

  // ---- fields ----
  int FieldCount() const noexcept { return static_cast<int>(FFields.size()); }
  TField& Fields(int AIndex) const;
  TField& FieldByName(std::string_view AName) const;  // "Field '%s' not found"
  TField* FindField(std::string_view AName) const;

  // ---- editing ----
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void Insert();
  void Append();
  // Posts a pending edit that changed a value, cancels one that did not.
  void CheckBrowseMode();
  bool Modified() const;

  // ---- an edit whose statements travel in a caller's batch ----
  // (for work that edits many rows and pays a round trip per statement otherwise)
  struct TRowStatement {
    std::string Sql;
    std::vector<TDbValue> Params;
  };
  // The re-read of row ARecNo (0-based) that Edit sends under roBeforeEdit; nullopt when the
  // row has no column to re-read.
  std::optional<TRowStatement> RefreshStatement(std::size_t ARecNo);
  // Reads AStatement's current row set as the answer to RefreshStatement(ARecNo): that row
  // with the values re-read. Raises as Edit's re-read does when not exactly one row came.
  std::vector<TDbValue> ReadRefreshedRow(odbc::TOdbcStatement& AStatement, std::size_t ARecNo);
  // Edits the current row as AValues (its re-read, taken by the caller) hold it. Nothing is
  // sent and no edit step runs: the caller has re-read the row and guards it itself.
  void EditAsRead(std::vector<TDbValue> AValues);
  // The UPDATE that posting the current edit would send; nullopt when it would send nothing.
  // Raises, as Post does, when a value set cannot be written.
  std::optional<TRowStatement> PostStatement();

  // ---- properties ----
  TDataSource* MasterSource() const noexcept { return FMasterSource; }
  void SetMasterSource(TDataSource* AValue);
  const std::string& MasterFields() const noexcept { return FMasterFields; }
  void SetMasterFields(const std::string& AValue);
  const std::string& DetailFields() const noexcept { return FDetailFields; }
  void SetDetailFields(const std::string& AValue);
  const std::string& KeyFields() const noexcept { return FKeyFields; }
  // The key columns are found again for the next statement that needs them.
  void SetKeyFields(const std::string& AValue) {
    FKeyFields = AValue;
    FKeyCache.reset();
  }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool AValue) { FReadOnly = AValue; }
  bool FetchAll() const noexcept { return FFetchAll; }
  void SetFetchAll(bool AValue) { FFetchAll = AValue; }
  int FetchRows() const noexcept { return FFetchRows; }
  void SetFetchRows(int AValue);
  TRefreshOptions RefreshOptions() const noexcept { return FRefreshOptions; }
  void SetRefreshOptions(TRefreshOptions AValue) { FRefreshOptions = AValue; }
  bool CachedUpdates() const noexcept { return FCachedUpdates; }
  void SetCachedUpdates(bool AValue) { FCachedUpdates = AValue; }

  // ---- preparation ----
  // Connects when needed and readies the statement; no round trip. Nothing happens on a
  // prepared or open dataset.
  void Prepare();
  void UnPrepare();
  bool Prepared() const noexcept { return FPrepared; }

  // The table that edits of this dataset are written to: the first table of the statement's
  // FROM clause, without brackets or quotes (a table dataset reports its TableName).
  virtual std::string ReportedTableName() const;

  // Bytes held by the client copy of the rows.
  std::size_t CachedBytes() const noexcept { return FRows.AllocatedBytes(); }

  // ---- events ----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeInsert, AfterInsert, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

 protected:
  TCustomMSDataSet(TComponent* AOwner, std::unique_ptr<TMSDataSetOptions> AOptions);

  // The edit step: runs after the checks and BeforeEdit, under OnEditError, before the state
  // becomes dsEdit. The base step re-reads the current row when roBeforeEdit is set.
  virtual void InternalEdit();
  // The post step: runs after BeforePost, under OnPostError, while the state is still dsEdit or
  // dsInsert. The base step writes the row to the server.
  virtual void InternalPost();
  // The cancel step: runs after BeforeCancel while the state is still dsEdit or dsInsert.
  virtual void InternalCancel();
  // The delete step: runs after BeforeDelete, under OnDeleteError; deletes the current row.
  virtual void InternalDelete();
  // The close step: runs once any edit was cancelled and the state is dsInactive.
  virtual void InternalClose();

  // The statement text this dataset runs (a table dataset generates its own).
  virtual std::string StatementText();
  // Drops what was derived from the statement text (marker positions, key columns).
  void StatementChanged();
  // Lets a subclass change SQL without the change notification closing the dataset.
  void SetSQLQuietly(const std::string& AText);
  // Re-reads the row being edited and raises "The record was changed by another user; edit it
  // again" when any column differs from what the edit started from; the edit goes on either
  // way, its own values kept. For a writer that lost the guard it edited under.
  void CheckRowUnchangedOnServer();

 private:
  friend class TField;
  friend class TDataSource;
  friend class TMSConnection;

  void CheckActive() const;
  void CheckCanModify() const;
  void CheckOperation(const std::function<void()>& AOperation, const TDataSetErrorEvent& AHandler);
  void Fire(const TDataSetNotifyEvent& AEvent) {
    if (AEvent) AEvent(*this);
  }
  bool IsDetail() const;
  void PrepareWire();
  void BindMasterParams(bool& AChanged);
  std::vector<TDbValue> WireParamValues() const;
  void Execute();  // runs the statement and fills the row cache
  void RefreshRecord();
  std::vector<TSelectColumn> RefreshColumns() const;
  std::vector<TDbValue> ReadRefresh(odbc::TOdbcStatement& AStatement, std::size_t ARecNo,
                                    std::size_t& AFound);
  std::vector<int> KeyColumns(bool ARaise);
  std::vector<TDbValue> KeyValues(const std::vector<int>& AKeys, std::size_t ARow) const;
  std::string KeyConditionFor(const std::vector<int>& AKeys, const std::vector<TDbValue>& AValues,
                              std::vector<TDbValue>& AParams) const;
  bool BelongsToTable(const TColumnDesc& AColumn, const std::string& ATable) const;
  void MasterChanged();
  void NotifyDetails();
  TDbValue CurrentValue(int AIndex) const;
  void SetFieldValue(int AIndex, TDbValue AValue);
  std::size_t ExecuteDml(const std::string& ASql, const std::vector<TDbValue>& AParams);

  TMSConnection* FConnection = nullptr;
  std::unique_ptr<TMSDataSetOptions> FOptions;
  TSqlLines FSQL;
  bool FQuietSQL = false;
  TParams FParams;

  TDataSetState FState = TDataSetState::dsInactive;
  std::vector<TColumnDesc> FColumns;
  std::vector<std::unique_ptr<TField>> FFields;
  TRowCache FRows;
  std::size_t FRecNo = 0;
  bool FEof = true;
  std::vector<TDbValue> FBuffer;  // the row being edited or inserted
  std::vector<bool> FWritten;
  std::size_t FInsertAt = 0;

  // Derived from the statement text once and kept until it changes.
  bool FWireReady = false;
  std::string FWireText;
  std::vector<std::string> FWireParams;
  bool FPrepared = false;
  std::optional<std::vector<int>> FKeyCache;
  std::string FKeyCacheTable;

  TDataSource* FMasterSource = nullptr;
  std::string FMasterFields, FDetailFields, FKeyFields;
  bool FHasMasterValues = false;
  std::vector<TDataSource*> FDataSources;  // sources whose DataSet is this dataset

  bool FReadOnly = false;
  bool FFetchAll = true;
  int FFetchRows = 25;
  TRefreshOptions FRefreshOptions;
  bool FCachedUpdates = false;
  bool FStreamedActive = false;
  bool FNotifying = false;
};

// Links a detail dataset to its master: a detail's MasterSource names a data source whose
// DataSet is the master.
class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* AOwner) : TComponent(AOwner) {}
  ~TDataSource() override;
  const char* ClassName() const noexcept override { return "TDataSource"; }

  TCustomMSDataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(TCustomMSDataSet* AValue);

 private:
  friend class TCustomMSDataSet;
  TCustomMSDataSet* FDataSet = nullptr;
  std::vector<TCustomMSDataSet*> FDetails;  // datasets whose MasterSource is this source
};

}  // namespace bunkmere
