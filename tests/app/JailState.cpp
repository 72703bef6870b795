#include "tests/app/JailState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "core/SqlText.h"
#include "dataaccess/Fields.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "tests/app/JailFixture.h"

namespace bunkmere::testing {

namespace {

const char* const kHousingTables[] = {"CFGCELL", "CFGBED"};

std::vector<std::string> KeysOf(const standin::testing::StandinServer& AServer,
                                const std::string& ATable) {
  return QueryJail(AServer, "SELECT UniqueKey FROM " + ATable + " ORDER BY UniqueKey");
}

}  // namespace

THousing ReadHousing(const standin::testing::StandinServer& AServer) {
  THousing rows;
  for (const char* table : kHousingTables)
    for (const std::string& row :
         QueryJail(AServer, std::string("SELECT * FROM ") + table + " ORDER BY UniqueKey"))
      rows[std::string(table) + "." + row.substr(0, row.find('|'))] = row;
  return rows;
}

std::vector<std::string> LockTablesLeft(const standin::testing::StandinServer& AServer) {
  std::vector<std::string> names;
  for (const char* table : kHousingTables)
    for (const std::string& key : KeysOf(AServer, table))
      names.push_back("[tempdb].[dbo].[##LOCK-JAIL." + std::string(table) + "." + key + "]");
  // The pass's own lock too.
  names.push_back("[tempdb].[dbo].[##LOCK-JAIL.Bunkmere.SynchCells]");
  // One round trip for all of them: a missing table's id is NULL.
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < names.size(); ++i)
    sql += (i > 0 ? ", " : "") + std::string("OBJECT_ID(") + QuotedStr(names[i]) + ")";
  const std::vector<std::string> ids = QueryJail(AServer, sql);
  std::vector<std::string> left;
  std::size_t from = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::size_t bar = ids.at(0).find('|', from);
    if (ids.at(0).substr(from, bar - from) != "NULL") left.push_back(names[i]);
    from = bar + 1;
  }
  return left;
}

std::int64_t LastStatementNumber(const standin::testing::StandinServer& AServer) {
  std::int64_t last = 0;
  for (const auto& s : AServer.Statements())
    if (s.kind != "step") last = std::max(last, s.seq);
  return last;
}

std::int64_t LastStepNumber(const standin::testing::StandinServer& AServer) {
  std::int64_t last = 0;
  for (const auto& s : AServer.Statements()) last = std::max(last, s.step);
  return last;
}

std::string SampleJailScript() {
  std::ifstream in(std::string(BUNKMERE_SAMPLE_DIR) + "/jail.sql", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {

// The value bound to the last "@Pn" marker of a step's text: the key an UPDATE is keyed by.
std::string LastMarkerValue(const standin::testing::LoggedStatement& AStep) {
  const std::size_t at = AStep.sql.rfind("@P");
  if (at == std::string::npos) return "";
  std::size_t end = at + 2;
  while (end < AStep.sql.size() && std::isdigit(static_cast<unsigned char>(AStep.sql[end]))) ++end;
  const std::string name = AStep.sql.substr(at, end - at);
  for (const auto& p : AStep.params)
    if (p.name == name) return p.value.value_or("");
  return "";
}

}  // namespace

TCleanPass RunCleanPass(const std::string& AScript) {
  TCleanPass clean;
  {
    auto before = JailFixture::FromScript(AScript);
    clean.Before = ReadHousing(before->Server());
  }
  auto jail = JailFixture::FromScript(AScript);
  clean.FirstStep = LastStepNumber(jail->Server()) + 1;
  jail->PressStart();
  EXPECT_EQ(jail->Boxes().Texts(), std::vector<std::string>{"Cell Synchronization Completed"});
  for (const auto& s : jail->Server().Statements()) {
    if (s.kind != "step" || s.step < clean.FirstStep) continue;
    clean.LastStep = std::max(clean.LastStep, s.step);
    clean.Texts[s.step] = s.sql.substr(0, 160);
    const bool guard = s.sql.starts_with("IF OBJECT_ID(N'[tempdb]") &&
                       s.sql.find(" DROP TABLE [tempdb]") != std::string::npos;
    if (guard || s.sql.starts_with("DROP TABLE [tempdb]")) {
      clean.Releases.push_back(s.step);
      if (s.sql.find(".Bunkmere.SynchCells]") != std::string::npos)
        clean.PassLockReleases.push_back(s.step);
    }
    for (const char* table : kHousingTables) {
      if (s.sql.starts_with(std::string("UPDATE [") + table + "]"))
        clean.Writes.emplace_back(std::string(table) + "." + LastMarkerValue(s), s.step);
      const std::string lock =
          std::string("CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.") + table + ".";
      if (s.sql.starts_with(lock)) {
        const std::string key =
            s.sql.substr(lock.size(), s.sql.find(']', lock.size()) - lock.size());
        clean.Locked.emplace(std::string(table) + "." + key, s.step);
      }
    }
  }
  clean.After = ReadHousing(jail->Server());
  std::erase_if(clean.Writes,
                [&](const auto& w) { return clean.Before[w.first] == clean.After[w.first]; });
  return clean;
}

}  // namespace bunkmere::testing
