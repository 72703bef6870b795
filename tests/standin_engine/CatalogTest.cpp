// Databases, the catalog procedures drivers call, and the catalog kept across restarts.

#include "RecordingSink.h"

namespace standin::test {

TEST_F(EngineTest, UseSwitchesDatabasesByNameWithoutRegardToCase) {
  Ok("CREATE TABLE OnlyInJail (A INT)");
  auto sink = Run("USE master");
  ASSERT_EQ(sink.Error(), 0);
  EXPECT_EQ(sink.changes, (std::vector<std::pair<std::string, std::string>>{{"JAIL", "master"}}));
  EXPECT_EQ(sink.messages.at(0).number, 5701);
  EXPECT_EQ(session_->Database(), "master");
  EXPECT_EQ(Run("SELECT * FROM OnlyInJail").Error(), 208);
  EXPECT_EQ(Run("SELECT * FROM jail.dbo.OnlyInJail").Error(), 0);
  Ok("use [jail]");
  EXPECT_EQ(session_->Database(), "JAIL");  // the name as the database spells it
  EXPECT_EQ(Rows("SELECT DB_NAME()"), (Rowset{{"'JAIL'"}}));
}

TEST_F(EngineTest, DatabaseNamesNeverLeaveTheDataFolder) {
  for (const char* name : {"[../JAIL]", "[a/b]", "[..]", "[.hidden]"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(Run(std::string("CREATE DATABASE ") + name).Error(), 0);
    EXPECT_EQ(Run(std::string("USE ") + name).Error(), 911);
  }
  EXPECT_EQ(Run("CREATE DATABASE jail").Error(), 1801);
}

TEST_F(EngineTest, CatalogSurvivesARestart) {
  Ok("CREATE TABLE CFGCELL (UniqueKey INT IDENTITY(1,1) NOT NULL, CELLKEY INT NOT NULL, "
     "FACILITYID CHAR(4), PRIMARY KEY (CELLKEY)); INSERT INTO CFGCELL (CELLKEY, FACILITYID) VALUES "
     "(17, 'F')");
  session_.reset();
  engine_ = Engine::Create({dir_.string()});
  session_ = engine_->OpenSession(51, "jail");
  Ok("INSERT INTO CFGCELL (CELLKEY) VALUES (18)");
  EXPECT_EQ(Rows("SELECT UniqueKey, CELLKEY, FACILITYID FROM CFGCELL ORDER BY CELLKEY"),
            (Rowset{{"1", "17", "'F   '"}, {"2", "18", "NULL"}}));
  EXPECT_EQ(Run("INSERT INTO CFGCELL (CELLKEY) VALUES (18)").Error(), 2627);
  // tempdb starts empty at every start.
  Ok("CREATE TABLE ##t (A INT)");
  session_.reset();
  engine_ = Engine::Create({dir_.string()});
  session_ = engine_->OpenSession(51, "JAIL");
  EXPECT_EQ(Run("CREATE TABLE ##t (A INT)").Error(), 0);
}

TEST_F(EngineTest, ScriptsRunBatchesSeparatedByGoAndStopAtTheFirstError) {
  engine_->RunScript(
      "CREATE DATABASE Other\nGO\nUSE Other\ngo  \nCREATE TABLE S (A INT)\n"
      "INSERT INTO S VALUES (1)\nGO\n");
  EXPECT_EQ(Rows("SELECT A FROM Other.dbo.S"), (Rowset{{"1"}}));
  try {
    engine_->RunScript(
        "USE Other\nGO\nINSERT INTO S VALUES (2)\nINSERT INTO S VALUES ('x')\nGO\nINSERT INTO S "
        "VALUES (3)");
    FAIL() << "no error";
  } catch (const ServerError& e) {
    EXPECT_EQ(e.message.number, 245);
  }
  EXPECT_EQ(Rows("SELECT A FROM Other.dbo.S ORDER BY A"), (Rowset{{"1"}, {"2"}}));
}

class ProceduresTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Ok("CREATE TABLE CFGBED (UniqueKey INT IDENTITY(1,1) NOT NULL, CELLKEY INT NOT NULL, "
       "BEDNO INT NOT NULL, BED VARCHAR(3) DEFAULT '1', STAMP DATETIME, "
       "CONSTRAINT PK_CFGBED PRIMARY KEY (CELLKEY, BEDNO))");
  }
  RecordingSink Proc(std::string_view name, std::vector<Param> params) {
    RecordingSink sink;
    EXPECT_TRUE(session_->ExecuteProcedure(name, params, sink));
    return sink;
  }
};

TEST_F(ProceduresTest, PrimaryKeysInKeyOrder) {
  auto sink = Proc("sp_pkeys", {TextParam("@table_name", "cfgbed")});
  ASSERT_EQ(sink.Error(), 0);
  std::vector<std::string> names;
  for (const auto& c : sink.LastColumns()) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME",
                                             "COLUMN_NAME", "KEY_SEQ", "PK_NAME"}));
  EXPECT_EQ(sink.rows, (Rowset{{"'JAIL'", "'dbo'", "'CFGBED'", "'CELLKEY'", "1", "'PK_CFGBED'"},
                               {"'JAIL'", "'dbo'", "'CFGBED'", "'BEDNO'", "2", "'PK_CFGBED'"}}));
  EXPECT_EQ(Proc("sp_pkeys", {TextParam("@table_name", "Nope")}).rows.size(), 0u);
  EXPECT_EQ(
      Proc("sp_pkeys", {TextParam("@table_name", "CFGBED"), TextParam("@table_owner", "other")})
          .rows.size(),
      0u);
  EXPECT_EQ(Proc("sp_pkeys",
                 {TextParam("@table_name", "CFGBED"), TextParam("@table_qualifier", "master")})
                .Error(),
            15250);
  // Also reachable from a batch.
  EXPECT_EQ(Rows("EXEC sp_pkeys @table_name = 'CFGBED'").size(), 2u);
  EXPECT_EQ(Rows("sp_pkeys CFGBED").size(), 2u);
}

TEST_F(ProceduresTest, ColumnsDescribeTypesTheOdbcWay) {
  auto sink = Proc("sp_columns", {TextParam("@table_name", "CFGBED"), IntParam("@ODBCVer", 3)});
  ASSERT_EQ(sink.Error(), 0);
  ASSERT_EQ(sink.rows.size(), 5u);
  ASSERT_EQ(sink.LastColumns().size(), 19u);
  // COLUMN_NAME, DATA_TYPE, TYPE_NAME, PRECISION, LENGTH, NULLABLE, COLUMN_DEF, ORDINAL_POSITION
  auto pick = [](const std::vector<std::string>& r) {
    return std::vector<std::string>{r[3], r[4], r[5], r[6], r[7], r[10], r[12], r[16]};
  };
  EXPECT_EQ(pick(sink.rows[0]), (std::vector<std::string>{"'UniqueKey'", "4", "'int identity'",
                                                          "10", "4", "0", "NULL", "1"}));
  EXPECT_EQ(pick(sink.rows[3]),
            (std::vector<std::string>{"'BED'", "12", "'varchar'", "3", "3", "1", "'('1')'", "4"}));
  EXPECT_EQ(pick(sink.rows[4]), (std::vector<std::string>{"'STAMP'", "93", "'datetime'", "23", "16",
                                                          "1", "NULL", "5"}));
  auto one =
      Proc("sp_columns", {TextParam("@table_name", "CFG%"), TextParam("@column_name", "bed%")});
  EXPECT_EQ(one.rows.size(), 2u);
  RecordingSink unknown;
  EXPECT_FALSE(session_->ExecuteProcedure("sp_who", {}, unknown));
  EXPECT_TRUE(unknown.done.empty());
}

TEST_F(ProceduresTest, TablesListsTheDatabasesTables) {
  auto sink = Proc("sp_tables", {TextParam("@table_name", "CFG%")});
  EXPECT_EQ(sink.rows, (Rowset{{"'JAIL'", "'dbo'", "'CFGBED'", "'TABLE'", "NULL"}}));
}

}  // namespace standin::test
