#include "app/PassLock.h"

#include <cstring>

#include "dataaccess/MSConnection.h"
#include "db/VtRecordLock.h"

namespace bunkmere {

namespace {
constexpr std::string_view kLockTable = "Bunkmere";
constexpr std::string_view kLockKey = "SynchCells";
}  // namespace

std::string TPassLock::Name(std::string_view ADatabase) {
  return RecordLockName(ADatabase, kLockTable, kLockKey);
}

void TPassLock::Take(TMSConnection& AConnection) {
  Release();
  const std::string name = Name(AConnection.Database());
  try {
    TakeLockTable(AConnection, name, kLockTable, kLockKey, nullptr);
  } catch (EVtDBLockError& e) {
    // The holder's lines stay; what they hold is a pass, not a record being edited.
    std::string rest = e.Message().substr(std::strlen(kLockRefusedText));
    const std::string editing = "The record is already being edited.\r\n";
    if (const std::size_t at = rest.find(editing); at != std::string::npos)
      rest.erase(at, editing.size());
    if (const std::size_t at = rest.rfind("\r\n     Table Name: "); at != std::string::npos)
      rest.erase(at);
    const std::string locked = "The record is locked, but ";
    if (const std::size_t at = rest.find(locked); at != std::string::npos)
      rest.replace(at, locked.size(), "It runs, but ");
    e.SetMessage(kPassRunningText + rest);
    throw;
  }
  FConnection = &AConnection;
  FName = name;
}

void TPassLock::Release() noexcept {
  if (FConnection == nullptr) return;
  DropTakenLockTable(*FConnection, FName, nullptr);
  FConnection = nullptr;
  FName.clear();
}

}  // namespace bunkmere
