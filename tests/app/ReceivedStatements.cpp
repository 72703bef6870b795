#include "tests/app/ReceivedStatements.h"

namespace bunkmere::testing {

namespace {

// One line of a request: a request of several statements holds each from a line of its own.
std::string NormalisedLine(std::string ALine, bool AWithoutHolderValues) {
  for (std::size_t from = ALine.find("IF OBJECT_ID(N'"); from != std::string::npos;
       from = ALine.find("IF OBJECT_ID(N'", from + 1)) {
    const std::size_t at = ALine.find("') = ", from);
    const std::size_t drop = ALine.find(" DROP TABLE ", from);
    if (at != std::string::npos && drop != std::string::npos && at < drop)
      ALine.replace(at + 5, drop - at - 5, "<id>");
  }
  if (AWithoutHolderValues && ALine.starts_with("INSERT INTO [tempdb]")) {
    const std::size_t values = ALine.find(" VALUES ");
    if (values != std::string::npos) ALine.resize(values + 8);
  }
  return ALine;
}

std::vector<std::string> Normalised(const standin::testing::StandinServer& AServer,
                                    bool AWithoutHolderValues) {
  std::vector<std::string> out;
  for (const auto& s : AServer.Statements()) {
    if (s.kind == "step") continue;  // the statements within a request, when logged
    std::string sql = s.sql;
    if (sql.ends_with("\r\n")) sql.resize(sql.size() - 2);
    std::string text;
    std::size_t from = 0;
    while (from <= sql.size()) {
      std::size_t end = sql.find('\n', from);
      if (end == std::string::npos) end = sql.size();
      if (from > 0) text += '\n';
      text += NormalisedLine(sql.substr(from, end - from), AWithoutHolderValues);
      from = end + 1;
    }
    if (!s.params.empty()) {
      text += " <-";
      for (const auto& p : s.params) text += " " + p.value.value_or("NULL");
    }
    out.push_back(text);
  }
  return out;
}

}  // namespace

std::vector<std::string> ReceivedStatements(const standin::testing::StandinServer& AServer) {
  return Normalised(AServer, false);
}

std::vector<std::string> ComparableStatements(const standin::testing::StandinServer& AServer) {
  return Normalised(AServer, true);
}

}  // namespace bunkmere::testing
