#pragma once
// The rows each open transaction holds, and who waits for whom. A row is named by its table
// ("schema.stored name") and its key: the primary key's values, or the SQLite rowid for a table
// without one, so a row deleted in a transaction stays held against an INSERT of the same key.
// Guarded by the engine's mutex; waiters sleep on `released` with that mutex.

#include <condition_variable>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "standin/engine/UndoLog.h"

namespace standin {

class RowLocks {
 public:
  // The session other than `spid` holding the row, or 0.
  int Holder(const std::string& table, const std::string& key, int spid) const;
  // True when a session other than `spid` holds any row of `table`: only then need a statement
  // look at the rows it touches.
  bool OthersHold(const std::string& table, int spid) const;
  // `image`: the row's columns before this transaction changed it (null for a row it inserted).
  void Take(const std::string& table, const std::string& key, int spid,
            std::shared_ptr<const std::vector<ValuePtr>> image);

  // The committed images of rows other sessions changed or deleted: a reader or writer whose
  // condition matched the row as it was must wait for it too, as SQL Server's would.
  struct Image {
    int spid = 0;
    std::shared_ptr<const std::vector<ValuePtr>> values;
  };
  const std::vector<Image>* Images(const std::string& table) const {
    auto it = images_.find(table);
    return it == images_.end() ? nullptr : &it->second;
  }
  // Lets go of every row of `spid` and wakes the waiters.
  void ReleaseAll(int spid);

  // Records that `spid` waits for `holder`; false (recording nothing) when `holder` already
  // waits, directly or through others, for `spid`: a deadlock.
  bool StartWaiting(int spid, int holder);
  void StopWaiting(int spid);

  std::condition_variable released;

 private:
  static std::string Name(const std::string& table, const std::string& key) {
    return table + '\x1f' + key;
  }
  std::unordered_map<std::string, int> holders_;                            // row name -> spid
  std::map<int, std::vector<std::pair<std::string, std::string>>> rowsOf_;  // table, row name
  std::unordered_map<std::string, std::map<int, int>> tables_;  // table -> spid -> rows held
  std::unordered_map<std::string, std::vector<Image>> images_;  // table -> images
  std::map<int, int> waitsFor_;                                 // spid -> spid
};

}  // namespace standin
