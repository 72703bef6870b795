#include "standin/engine/SqlError.h"

namespace standin {

std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto arg = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && arg != args.end()) {
      out += *arg++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

void ReportError(ResultSink& sink, SqlError& e, int line) {
  e.message.line = line;
  sink.Message(e.message);
  if (e.statementTerminated) {
    ServerMessage info;
    info.number = 3621;
    info.state = 0;
    info.severity = 0;
    info.text = "The statement has been terminated.";
    info.line = line;
    sink.Message(info);
  }
  sink.StatementDone(false, 0, true);
}

SqlError MakeError(int number, std::string text, int state, int severity) {
  SqlError e;
  e.message.number = number;
  e.message.state = state;
  e.message.severity = severity;
  e.message.text = std::move(text);
  return e;
}

SqlError SyntaxError(std::string_view near) {
  auto e = MakeError(102, FormatMessage("Incorrect syntax near '%s'.", {near}), 1, 15);
  e.abortsBatch = true;
  return e;
}

SqlError InvalidObject(std::string_view name) {
  auto e = MakeError(208, FormatMessage("Invalid object name '%s'.", {name}));
  e.abortsBatch = true;
  return e;
}

SqlError InvalidColumn(std::string_view name) {
  auto e = MakeError(207, FormatMessage("Invalid column name '%s'.", {name}));
  e.abortsBatch = true;
  return e;
}

SqlError NotSupported(std::string_view what) {
  // SQL Server's own wording for a statement a server edition does not offer.
  auto e = MakeError(
      40517, FormatMessage("Keyword or statement option '%s' is not supported in this version of "
                           "SQL Server.",
                           {what}));
  e.abortsBatch = true;
  return e;
}

}  // namespace standin
