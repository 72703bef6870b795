#include "tests/app/LockHolder.h"

#include "core/Exceptions.h"
#include "core/SqlText.h"
#include "tests/app/JailQuery.h"

namespace bunkmere::testing {

TLockHolder::TLockHolder(const standin::testing::StandinServer& AServer, THolderRow AWho)
    : FDb(JailConnection(AServer)), FWho(std::move(AWho)) {}

TLockHolder::~TLockHolder() {
  try {
    Release();
  } catch (const Exception&) {
    // The server may be gone already; closing the connection lets the lock go anyway.
  }
}

std::string TLockHolder::LockName(const std::string& ATable, const std::string& AKey) {
  return "[tempdb].[dbo].[##LOCK-JAIL." + BracketEscape(ATable) + "." + BracketEscape(AKey) + "]";
}

bool TLockHolder::Take(const std::string& ATable, const std::string& AKey) {
  Release();
  const std::string name = LockName(ATable, AKey);
  try {
    FDb->ExecSQL("CREATE TABLE " + name +
                 " (DatabaseName VARCHAR(30), TableName VARCHAR(100), UniqueKey VARCHAR(22), "
                 "ComputerName VARCHAR(30), UserName VARCHAR(30), ProgramName VARCHAR(30), "
                 "TimeLocked DateTime)");
  } catch (const EDatabaseError&) {
    return false;
  }
  FHeld = name;
  FDb->ExecSQL("INSERT INTO " + name + " VALUES ('JAIL', " + QuotedStr(ATable) + ", " +
               QuotedStr(AKey) + ", " + QuotedStr(FWho.Computer) + ", " + QuotedStr(FWho.User) +
               ", " + QuotedStr(FWho.Program) + ", " + QuotedStr(FWho.TimeLocked) + ")");
  return true;
}

void TLockHolder::Release() {
  if (FHeld.empty()) return;
  const std::string name = std::move(FHeld);
  FHeld.clear();
  FDb->ExecSQL("DROP TABLE " + name);
}

}  // namespace bunkmere::testing
