#include "tests/app/ReceivedStatements.h"

namespace bunkmere::testing {

namespace {

std::vector<std::string> Normalised(const standin::testing::StandinServer& AServer,
                                    bool AWithoutHolderValues) {
  std::vector<std::string> out;
  for (const auto& s : AServer.Statements()) {
    std::string text = s.sql;
    if (text.ends_with("\r\n")) text.resize(text.size() - 2);
    if (text.starts_with("IF OBJECT_ID(N'")) {
      const std::size_t at = text.find("') = ");
      const std::size_t drop = text.find(" DROP TABLE ");
      if (at != std::string::npos && drop != std::string::npos && at < drop)
        text.replace(at + 5, drop - at - 5, "<id>");
    }
    if (AWithoutHolderValues && text.starts_with("INSERT INTO [tempdb]")) {
      const std::size_t values = text.find(" VALUES ");
      if (values != std::string::npos) text.resize(values + 8);
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
