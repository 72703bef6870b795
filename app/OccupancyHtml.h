#pragma once
// The occupancy of a pass as one self-contained HTML page for a supervisor to read or print:
// a bar per facility that opens onto its dorms, the totals, the conflicts with their booking
// numbers as the log lists them, and the rows changed. Every figure behind a bar is also in a
// table with headers, for a screen reader. The page fetches nothing and runs no script: its
// style and bars are inline, and every value from the database is escaped.

#include <string>
#include <string_view>

#include "app/Occupancy.h"

namespace bunkmere {

// UTF-8 with <meta charset="utf-8">: the program's text is UTF-8 inside whatever the
// workstation's code page, and malformed sequences from the database become U+FFFD.
std::string OccupancyHtml(const TOccupancyTally& ATally);

// AText with &, <, >, " and ' as character references, after SanitizeUtf8.
std::string HtmlEscape(std::string_view AText);

}  // namespace bunkmere
