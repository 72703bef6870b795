#pragma once
// One synchronisation pass at a time on a database, whichever workstation or scheduler starts
// it. Two passes walk the rows in the same order: the second would meet every row the first
// holds and stop there, so it is refused before it touches any.
//
// The guard is a lock of the family's own kind, visible to every program of the family:
// "[tempdb].[dbo].[##LOCK-<database>.Bunkmere.SynchCells]" with the usual holder row, taken and
// dropped as record locks are, and gone with the session that took it. No program locks such
// a row ("SynchCells" is no row's key), so no other program is kept out of anything.

#include <string>
#include <string_view>

namespace bunkmere {

class TMSConnection;

// The refusal's first line.
inline constexpr const char* kPassRunningText =
    "Another cell synchronization is already running on this database.";

class TPassLock {
 public:
  static std::string Name(std::string_view ADatabase);

  // Takes the lock on AConnection's session. Raises EVtDBLockError, its message beginning
  // with kPassRunningText and naming the holder, when another pass has it; any other failure
  // as the server gave it.
  void Take(TMSConnection& AConnection);
  // Drops the lock when this session still holds it; never raises.
  void Release() noexcept;
  bool Taken() const noexcept { return FConnection != nullptr; }

 private:
  TMSConnection* FConnection = nullptr;
  std::string FName;
};

}  // namespace bunkmere
