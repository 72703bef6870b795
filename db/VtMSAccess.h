#pragma once
// The family's datasets: the data access layer's table and query with the record lock of
// db/VtRecordLock.h around every edit and delete, and the family's defaults (names quoted,
// variable-length text trimmed, the row re-read from the server once its lock is taken).
//
// Lock steps, for a dataset with locking on and a "UniqueKey" field:
//   Edit    takes the row's lock, then re-reads the row; a failed re-read releases it again.
//   Post    writes the row, then releases the lock of an edit; a failed write keeps it.
//   Cancel  releases the lock of an edit.
//   Delete  takes the lock around the deletion and releases it whether or not that worked.
//           Called while the dataset edits the row, the pending edit is ended first (posted
//           when a value changed, cancelled otherwise), which releases its lock, and the
//           deletion takes the lock afresh; a dataset that still holds the row's lock when
//           the deletion runs uses that lock rather than being refused by its own table.
//   Close   (also on destruction) cancels any edit and releases whatever lock is left.
// Inserts take no lock: a new row has nothing to guard.

#include <memory>
#include <string>

#include "core/Collection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/MSTable.h"
#include "db/VtRecordLock.h"

namespace bunkmere {

inline constexpr const char* kVtVersion = "2.1";

// The family's dataset options: TrimVarChar and QuoteNames on.
class TVtMSDataSetOptions : public TMSDataSetOptions {
 public:
  TVtMSDataSetOptions();
  const char* ClassName() const noexcept override { return "TVtMSDataSetOptions"; }
};

// The lock fields, steps and properties that the family's table and query each carry.
template <class TBase>
class TVtLockableDataSet : public TBase {
 public:
  explicit TVtLockableDataSet(TComponent* AOwner);
  // Closes first, while the overridden close step still runs, so the lock is released.
  ~TVtLockableDataSet() override;

  bool RecordLocksMake() const noexcept { return FRecordLocksMake; }
  virtual void SetRecordLocksMake(bool AValue);
  // A second name for the same switch, kept for stored descriptions that use it.
  bool RecordLocksCheck() const noexcept { return FRecordLocksMake; }
  void SetRecordLocksCheck(bool AValue) { SetRecordLocksMake(AValue); }
  // Whether the current row is locked (by anyone, this dataset included); always false with
  // locking off. In browse state it tries an Edit and a Cancel, with their events.
  bool IsLocked();
  // The lock table this dataset holds; empty when none.
  const std::string& LockTableName() const noexcept { return FLockTableName; }
  std::string VtVersion() const { return kVtVersion; }

 protected:
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalClose() override;

 private:
  std::string FLockTableName;
  bool FRecordLocksMake = true;
};

class TVtMSTable : public TVtLockableDataSet<TMSTable> {
 public:
  explicit TVtMSTable(TComponent* AOwner) : TVtLockableDataSet<TMSTable>(AOwner) {}
  const char* ClassName() const noexcept override { return "TVtMSTable"; }
};

class TVtCustomMSQuery : public TVtLockableDataSet<TMSQuery> {
 public:
  explicit TVtCustomMSQuery(TComponent* AOwner) : TVtLockableDataSet<TMSQuery>(AOwner) {}
  const char* ClassName() const noexcept override { return "TVtCustomMSQuery"; }
};

// An index definition as old stored descriptions of query components carry them.
class TIndexDef : public TCollectionItem {
 public:
  const char* ClassName() const noexcept override { return "TIndexDef"; }
  const std::string& Name() const noexcept { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }
  const std::string& Fields() const noexcept { return FFields; }
  void SetFields(const std::string& AValue) { FFields = AValue; }
  const std::string& DescFields() const noexcept { return FDescFields; }
  void SetDescFields(const std::string& AValue) { FDescFields = AValue; }
  // Bit N: member N of ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression,
  // ixNonMaintained.
  std::int64_t Options() const noexcept { return FOptions; }
  void SetOptions(std::int64_t AValue) { FOptions = AValue; }

 private:
  std::string FName, FFields, FDescFields;
  std::int64_t FOptions = 0;
};

class TIndexDefs : public TTypedCollection<TIndexDef> {
 public:
  const char* ClassName() const noexcept override { return "TIndexDefs"; }
};

// The family's query. Its four placeholder properties exist only so that stored window
// descriptions setting them can be read; a query read at run time with any of them away
// from its default is refused (such a query has to become a search query).
class TVtMSQuery : public TVtCustomMSQuery {
 public:
  explicit TVtMSQuery(TComponent* AOwner);
  ~TVtMSQuery() override;
  const char* ClassName() const noexcept override { return "TVtMSQuery"; }

  const std::string& IndexName() const noexcept { return FIndexName; }
  void SetIndexName(const std::string& AValue) { FIndexName = AValue; }
  TIndexDefs& IndexDefs() const noexcept { return *FIndexDefs; }
  const std::string& TableName() const noexcept { return FTableName; }
  void SetTableName(const std::string& AValue) { FTableName = AValue; }
  bool AutoLoadIndexDefs() const noexcept { return FAutoLoadIndexDefs; }
  void SetAutoLoadIndexDefs(bool AValue) { FAutoLoadIndexDefs = AValue; }

  // After the inherited completion (which may open the query), raises Exception
  // "TVtMSQuery '<Name>' must be converted to TVtMSSearchQuery" when a placeholder is set;
  // not in the form designer.
  void Loaded() override;

 private:
  std::string FIndexName;
  std::unique_ptr<TIndexDefs> FIndexDefs;
  std::string FTableName;
  bool FAutoLoadIndexDefs = true;
};

extern template class TVtLockableDataSet<TMSTable>;
extern template class TVtLockableDataSet<TMSQuery>;

}  // namespace bunkmere
