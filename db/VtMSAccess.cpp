#include "db/VtMSAccess.h"

#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"

namespace bunkmere {

TVtMSDataSetOptions::TVtMSDataSetOptions() {
  SetTrimVarChar(true);
  SetQuoteNames(true);
}

// ---- lockable datasets ----

template <class TBase>
TVtLockableDataSet<TBase>::TVtLockableDataSet(TComponent* AOwner)
    : TBase(AOwner, std::make_unique<TVtMSDataSetOptions>()) {
  FRecordLocksMake = true;
  this->SetRefreshOptions({TRefreshOption::roBeforeEdit});
}

template <class TBase>
TVtLockableDataSet<TBase>::~TVtLockableDataSet() {
  this->Destroying();
  try {
    this->Close();
  } catch (const Exception&) {
    // a destructor must not throw; releasing swallows its own failures anyway
  }
}

template <class TBase>
void TVtLockableDataSet<TBase>::SetRecordLocksMake(bool AValue) {
  FRecordLocksMake = AValue;
}

template <class TBase>
bool TVtLockableDataSet<TBase>::IsLocked() {
  if (!FRecordLocksMake) return false;
  return ProbeRecordLock(*this);
}

template <class TBase>
void TVtLockableDataSet<TBase>::InternalEdit() {
  AcquireRecordLock(*this, FLockTableName, FRecordLocksMake);
  try {
    TBase::InternalEdit();
  } catch (...) {
    // The row changed or vanished under the re-read: the edit does not happen, so neither
    // does the lock.
    ReleaseRecordLock(*this, FLockTableName, FRecordLocksMake);
    throw;
  }
}

template <class TBase>
void TVtLockableDataSet<TBase>::InternalPost() {
  // An edit whose lock went with a lost server session takes it again before anything is
  // written, or fails with the refusal and stays in edit; one still holding it sends nothing.
  if (this->State() == TDataSetState::dsEdit) {
    TMSConnection* connection = this->Connection();
    const bool held = connection != nullptr && !FLockTableName.empty() &&
                      connection->HoldsLock(FLockTableName, this);
    AcquireRecordLock(*this, FLockTableName, FRecordLocksMake);
    // While the lock was away another program may have locked and changed the row: what this
    // edit read is then no longer true, and writing it would undo their change.
    if (!held && FRecordLocksMake && !FLockTableName.empty()) this->CheckRowUnchangedOnServer();
  }
  // A failed write raises out of here and keeps the lock: the edit goes on.
  TBase::InternalPost();
  if (this->State() == TDataSetState::dsEdit)
    ReleaseRecordLock(*this, FLockTableName, FRecordLocksMake);
}

template <class TBase>
void TVtLockableDataSet<TBase>::InternalCancel() {
  TBase::InternalCancel();
  if (this->State() == TDataSetState::dsEdit)
    ReleaseRecordLock(*this, FLockTableName, FRecordLocksMake);
}

template <class TBase>
void TVtLockableDataSet<TBase>::InternalDelete() {
  AcquireRecordLock(*this, FLockTableName, FRecordLocksMake);
  try {
    TBase::InternalDelete();
  } catch (...) {
    ReleaseRecordLock(*this, FLockTableName, FRecordLocksMake);
    throw;
  }
  ReleaseRecordLock(*this, FLockTableName, FRecordLocksMake);
}

template <class TBase>
void TVtLockableDataSet<TBase>::InternalClose() {
  TBase::InternalClose();
  ReleaseRecordLock(*this, FLockTableName, FRecordLocksMake);
}

template class TVtLockableDataSet<TMSTable>;
template class TVtLockableDataSet<TMSQuery>;

// ---- the query ----

TVtMSQuery::TVtMSQuery(TComponent* AOwner)
    : TVtCustomMSQuery(AOwner), FIndexDefs(std::make_unique<TIndexDefs>()) {
  FAutoLoadIndexDefs = true;
}

TVtMSQuery::~TVtMSQuery() {
  FIndexDefs.reset();
}

void TVtMSQuery::Loaded() {
  TVtCustomMSQuery::Loaded();
  if (IsDesigning()) return;
  if (FIndexDefs->Count() > 0 || !FAutoLoadIndexDefs || !FIndexName.empty() || !FTableName.empty())
    throw Exception("TVtMSQuery '" + Name() + "' must be converted to TVtMSSearchQuery");
}

}  // namespace bunkmere
