#pragma once
// Another program of the family holding a row's record lock on a stand-in's JAIL database, as
// those programs take it: the row's global temporary table, made by their own connection, with
// one holder row naming who holds it. The lock goes with Release, or with the object.

#include <memory>
#include <string>

#include "dataaccess/MSConnection.h"
#include "standin/testing/StandinServer.h"

namespace bunkmere::testing {

// Who a holder row names.
struct THolderRow {
  std::string Computer = "FRONTDESK";
  std::string User = "clerk";
  std::string Program = "Intake.exe";
  std::string TimeLocked = "2026-12-10 03:15:00";
};

class TLockHolder {
 public:
  explicit TLockHolder(const standin::testing::StandinServer& AServer, THolderRow AWho = {});
  ~TLockHolder();
  TLockHolder(const TLockHolder&) = delete;
  TLockHolder& operator=(const TLockHolder&) = delete;

  // The lock table of row AKey of ATable in the JAIL database.
  static std::string LockName(const std::string& ATable, const std::string& AKey);

  // Takes the lock of row AKey of ATable (the pass's own: "Bunkmere", "SynchCells"); false when
  // the server refuses the table because someone else holds it. One lock at a time: a lock
  // still held is let go first.
  bool Take(const std::string& ATable, const std::string& AKey);
  void Release();
  const std::string& Held() const { return FHeld; }

 private:
  std::unique_ptr<TMSConnection> FDb;
  THolderRow FWho;
  std::string FHeld;
};

}  // namespace bunkmere::testing
