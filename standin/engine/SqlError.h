#pragma once
// A failure carrying SQL Server's own message. `abortsBatch` marks the errors that SQL Server
// raises while compiling a statement (syntax, unknown objects and columns, conversions): they
// end the whole batch, while the others end only their statement.

#include <string>
#include <string_view>

#include "standin/Engine.h"

namespace standin {

struct SqlError {
  ServerMessage message;
  bool abortsBatch = false;
  bool statementTerminated =
      false;  // SQL Server follows it with 3621 "The statement has been terminated."
  // Raised by a running statement whatever its number says (a step fault's error): a TRY block
  // catches it even when its number is one SQL Server gives while compiling.
  bool runTime = false;
  // RAISERROR's: XACT_ABORT does not roll back or end anything for it, as SQL Server documents.
  bool raised = false;
};

// "%s" placeholders are replaced in order; the arguments are inserted verbatim.
std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

// Sends the error to the client with the line it happened on, SQL Server's 3621 after a
// statement-terminating one, and ends the statement.
void ReportError(ResultSink& sink, SqlError& e, int line);

SqlError MakeError(int number, std::string text, int state = 1, int severity = 16);
SqlError SyntaxError(std::string_view near);    // 102, aborts the batch
SqlError InvalidObject(std::string_view name);  // 208, aborts the batch
SqlError InvalidColumn(std::string_view name);  // 207, aborts the batch
SqlError NotSupported(std::string_view what);   // aborts the batch

}  // namespace standin
