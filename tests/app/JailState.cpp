#include "tests/app/JailState.h"

#include <gtest/gtest.h>

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
  const auto statements = AServer.Statements();
  return statements.empty() ? 0 : statements.back().seq;
}

std::string SampleJailScript() {
  std::ifstream in(std::string(BUNKMERE_SAMPLE_DIR) + "/jail.sql", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TCleanPass RunCleanPass(const std::string& AScript) {
  TCleanPass clean;
  {
    auto before = JailFixture::FromScript(AScript);
    clean.Before = ReadHousing(before->Server());
  }
  auto jail = JailFixture::FromScript(AScript);
  clean.FirstSeq = LastStatementNumber(jail->Server()) + 1;
  jail->PressStart();
  EXPECT_EQ(jail->Boxes().Texts(), std::vector<std::string>{"Cell Synchronization Completed"});
  for (const auto& s : jail->Server().Statements()) {
    if (s.seq < clean.FirstSeq) continue;
    clean.LastSeq = s.seq;
    if (s.sql.starts_with("IF OBJECT_ID(N'[tempdb]") &&
        s.sql.find(" DROP TABLE [tempdb]") != std::string::npos)
      clean.Releases.push_back(s.seq);
    for (const char* table : kHousingTables)
      if (s.sql.starts_with(std::string("UPDATE [") + table + "]") && !s.params.empty())
        clean.Writes.emplace_back(std::string(table) + "." + s.params.back().value.value_or(""),
                                  s.seq);
  }
  clean.After = ReadHousing(jail->Server());
  std::erase_if(clean.Writes,
                [&](const auto& w) { return clean.Before[w.first] == clean.After[w.first]; });
  return clean;
}

}  // namespace bunkmere::testing
