#pragma once
// What a failure of the server or the driver was, for code above the ODBC module that must
// tell failures apart (a lock table's name already taken, a lock wait run out, a query
// time-out) without seeing the driver's headers.

#include <exception>

namespace bunkmere {

// The server's error number of AError; 0 when it is no server or driver error.
long ServerErrorNumber(const std::exception& AError) noexcept;

// Whether AError is the driver's query time-out (SQLSTATE HYT00): the server did not answer in
// time and the driver cancelled the statement.
bool IsQueryTimeout(const std::exception& AError) noexcept;

}  // namespace bunkmere
