#include "dataaccess/GeneratedSql.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

TEST(ParamMarkersTest, BecomeQuestionMarksOnlyInCode) {
  struct TCase {
    const char* Sql;
    const char* Wire;
    std::vector<std::string> Names;
  };
  const TCase cases[] = {
      {"SELECT * FROM T WHERE A = :A AND B = :[B C]",
       "SELECT * FROM T WHERE A = ? AND B = ?",
       {"A", "[B C]"}},
      {"WHERE [FACILITYID] = :[FACILITYID] AND [DORMCODE] = :[DORMCODE]",
       "WHERE [FACILITYID] = ? AND [DORMCODE] = ?",
       {"[FACILITYID]", "[DORMCODE]"}},
      {"SELECT ':x', N':y', [a:b], \":c\" FROM T", "SELECT ':x', N':y', [a:b], \":c\" FROM T", {}},
      {"SELECT 1 -- :x\r\nFROM T /* :y /* :z */ :w */ WHERE a=:p",
       "SELECT 1 -- :x\r\nFROM T /* :y /* :z */ :w */ WHERE a=?",
       {"p"}},
      {"SELECT 'it''s :not' + :yes", "SELECT 'it''s :not' + ?", {"yes"}},
      {"SELECT a::b, :x, :", "SELECT a::b, ?, :", {"x"}},
      {"WHERE a = :p OR b = :p", "WHERE a = ? OR b = ?", {"p", "p"}},
      {"SELECT 'unterminated :x", "SELECT 'unterminated :x", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    TWireStatement w = ReplaceParamMarkers(c.Sql);
    EXPECT_EQ(w.Text, c.Wire);
    EXPECT_EQ(w.ParamNames, c.Names);
  }
}

TEST(TableStatementTest, QuotesTheNameAsTheOptionSays) {
  EXPECT_EQ(TableStatement("CFGCELL", "", true), "SELECT * FROM [CFGCELL]\r\n");
  EXPECT_EQ(TableStatement("CFGCELL", "", false), "SELECT * FROM CFGCELL\r\n");
  EXPECT_EQ(TableStatement("1TABLE", "", false), "SELECT * FROM [1TABLE]\r\n");
  EXPECT_EQ(TableStatement("dbo.My Table", "", false), "SELECT * FROM dbo.[My Table]\r\n");
  EXPECT_EQ(TableStatement("dbo.T", "  A, B DESC ", true),
            "SELECT * FROM [dbo].[T]\r\nORDER BY A, B DESC\r\n");
}

TEST(MasterDetailTest, ConditionPairsTheListsUpToTheShorter) {
  EXPECT_EQ(MasterDetailCondition("FACILITYID;DORMCODE", "FACILITYID;DORMCODE", true),
            "[FACILITYID] = :[FACILITYID] AND [DORMCODE] = :[DORMCODE]");
  EXPECT_EQ(MasterDetailCondition("CELLKEY", "CELLKEY; EXTRA", false), "CELLKEY = :CELLKEY");
  EXPECT_EQ(MasterDetailCondition("A B", "X", false), "[A B] = :X");
  EXPECT_EQ(MasterDetailCondition("", "X", true), "");
}

TEST(MasterDetailTest, MergeGoesIntoTheWhereClause) {
  struct TCase {
    const char* Sql;
    const char* Merged;
  };
  const TCase cases[] = {
      {"SELECT * FROM [CFGCELL]\r\n", "SELECT * FROM [CFGCELL]\r\nWHERE c = :c \r\n"},
      {"SELECT * FROM T\r\nORDER BY X\r\n", "SELECT * FROM T\r\nWHERE c = :c \r\nORDER BY X\r\n"},
      {"SELECT * FROM T WHERE a = 1 OR b = 2 ORDER BY X",
       "SELECT * FROM T WHERE (a = 1 OR b = 2) AND c = :c ORDER BY X"},
      {"SELECT * FROM T WHERE a IN (SELECT x FROM U WHERE y = 1)",
       "SELECT * FROM T WHERE (a IN (SELECT x FROM U WHERE y = 1)) AND c = :c"},
      {"SELECT (SELECT 1 FROM U WHERE z = 2) FROM T GROUP BY k",
       "SELECT (SELECT 1 FROM U WHERE z = 2) FROM T\r\nWHERE c = :c  GROUP BY k"},
      {"SELECT * FROM T -- WHERE nothing\r\n",
       "SELECT * FROM T\r\nWHERE c = :c  -- WHERE nothing\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(MergeCondition(c.Sql, "c = :c"), c.Merged);
  }
}

TEST(FirstFromTableTest, FindsTheUnquotedTableName) {
  struct TCase {
    const char* Sql;
    const char* Table;
  };
  const TCase cases[] = {
      {"SELECT * FROM [CFGCELL]\r\n", "CFGCELL"},
      {"SELECT ProgramID FROM ConnectLib (readuncommitted) ORDER BY ProgramID", "ConnectLib"},
      {"select a from [dbo].\"My T\" t join U on 1=1", "dbo.My T"},
      {"SELECT (SELECT 1 FROM Inner1) FROM Outer1", "Outer1"},
      {"SELECT 'FROM X' FROM /* FROM Y */ Z", "Z"},
      {"SELECT 1", ""},
      {"SELECT * FROM (SELECT 1 AS A) d", ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(FirstFromTable(c.Sql), c.Table) << c.Sql;
}

TEST(RowStatementsTest, ReReadUpdateAndKeyCondition) {
  std::string key = KeyCondition({{"UniqueKey", false}, {"DORMCODE", true}}, true);
  EXPECT_EQ(key, "[UniqueKey] = ? AND [DORMCODE] IS NULL");
  EXPECT_EQ(RefreshRecordStatement("CFGCELL", {{"CELLKEY", 1}, {"ONCELL", 4}}, key, true),
            "SELECT [CELLKEY] AS _1, [ONCELL] AS _4 FROM [CFGCELL]\r\nWHERE\r\n  "
            "[UniqueKey] = ? AND [DORMCODE] IS NULL");
  EXPECT_EQ(UpdateStatement("CFGCELL", {"ONCELL", "ALLOW"}, "[UniqueKey] = ?", true),
            "UPDATE [CFGCELL]\r\nSET\r\n  [ONCELL] = ?, [ALLOW] = ?\r\nWHERE\r\n  [UniqueKey] = ?");
  EXPECT_EQ(UpdateStatement("T", {"A", "B C"}, "K = ?", false),
            "UPDATE T\r\nSET\r\n  A = ?, [B C] = ?\r\nWHERE\r\n  K = ?");
}

}  // namespace
}  // namespace bunkmere
