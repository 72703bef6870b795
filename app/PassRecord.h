#pragma once
// What a synchronisation pass tells those who watch it: the changes it makes to a row and how
// it ended. Kept apart from the window so that what records a pass needs no window.

#include <string>
#include <vector>

namespace bunkmere {

// What the pass changes in one row: the values it sets that differ from the row as it read
// it, each as text (NULL as "NULL").
struct TRowChange {
  struct TColumn {
    std::string Name, Now, Would;
  };
  std::string Table, Key;
  std::vector<TColumn> Columns;
};

// How the last pass ended. Held: a row (or the pass itself) was held by another program, or
// the server kept a row locked past the lock wait; worth running again later. Stopped: asked
// to stop from outside (StopRequest.h).
enum class TPassOutcome { None, Running, Completed, Held, Failed, Stopped };

}  // namespace bunkmere
