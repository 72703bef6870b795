#pragma once
// SQLite functions and the collation that give translated statements SQL Server's semantics.
//   collation SQLSRV: case-insensitive, trailing blanks ignored (SQL Server's default collation)
//   ss_conv(value, type, length, precision, scale, flags, keySlot, column, table), and
//   ss_store(...) with the same arguments for values written to a column
//   ss_ident(schema, table, keySlot): the next identity value of a table
//   ss_like(value, pattern [, escape]): T-SQL LIKE with [] classes
//   ss_getdate(), ss_session(which): GETDATE() and the session's @@ values

#include <sqlite3.h>

#include <string_view>

namespace standin {

class EngineCore;

enum ConvFlags : int {
  kConvNotNull = 1,  // NULL fails with 515
  kConvInsert = 2,   // messages say INSERT (else UPDATE)
  kConvCast = 4,     // CAST/CONVERT: overlong text is cut, no 8152
  kConvTyped = 8,    // the value already is a DATETIME in stored form (a typed parameter or
                     // column), not text to be read in the session's date order
};

enum SessionValue : int {
  kSpid = 0,
  kIdentity = 1,
  kRowCount = 2,
  kTextSize = 3,
  kTranCount = 4,
  kLockTimeout = 5,
  // ERROR_NUMBER() and its kin: NULL outside a CATCH block.
  kErrorNumber = 6,
  kErrorSeverity = 7,
  kErrorState = 8,
  kErrorLine = 9,
  kErrorMessage = 10,
};

void RegisterFunctions(sqlite3* db, EngineCore* core);

// Exposed for tests of the collation and LIKE.
int CompareNoCase(std::string_view a, std::string_view b);
bool LikeMatch(std::string_view value, std::string_view pattern, int escape);

}  // namespace standin
