// How statements behave: comparisons under SQL Server's collation and conversions, identity,
// keys, rows affected, names and hints.

#include "RecordingSink.h"

namespace standin::test {

class SemanticsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Ok("CREATE TABLE DETENTIA (BOOKNO VARCHAR(10) NOT NULL, NAMERELEAS INT NULL, "
       "FACICODE VARCHAR(4) NULL, CELLKEY INT NULL, BED VARCHAR(3) NULL, FIXED CHAR(5) NULL, "
       "BEDNO INT NULL)");
    Ok("INSERT INTO DETENTIA VALUES ('B1', 0, 'MAIN', 17, '1', 'ab', 1), "
       "('B2', 0, 'main', 17, '2', 'AB ', 2), ('B3', 1, 'MAIN', 17, '1', 'x', 1), "
       "('B4', 0, 'MAIN ', 18, '1', NULL, 1), ('B5', 0, 'EAST', 17, 'x', NULL, NULL)");
  }
};

TEST_F(SemanticsTest, ComparisonsFollowSqlServersCollationAndConversions) {
  struct Case {
    const char* where;
    const char* count;
    int error;
  };
  const Case cases[] = {
      // text: case and trailing blanks do not count
      {"FACICODE = 'main'", "4", 0},
      {"FACICODE = 'MAIN   '", "4", 0},
      {"FIXED = 'AB'", "2", 0},
      {"FACICODE <> 'MAIN'", "1", 0},
      {"FACICODE > 'east'", "4", 0},
      // an INT column against a string literal reads the literal as an int
      {"CELLKEY = '17'", "4", 0},
      {"CELLKEY = ' 18 '", "1", 0},
      {"CELLKEY = 'x'", "", 245},
      // a text column against a number converts the column: 'x' then fails
      {"BED = 2", "", 245},
      {"BED = 1", "", 245},
      {"BEDNO = '1'", "3", 0},
      {"NAMERELEAS = 0 and FACICODE = 'MAIN' and CELLKEY = 17", "2", 0},
      {"FIXED IS NULL", "2", 0},
      {"FIXED IS NOT NULL", "3", 0},
      {"NOT (CELLKEY = 17)", "1", 0},
      {"CELLKEY = 17 OR CELLKEY = 18", "5", 0},
      {"BOOKNO LIKE 'b%'", "5", 0},
      {"BOOKNO LIKE 'B[1-3]'", "3", 0},
      {"BOOKNO LIKE 'B[^1-3]'", "2", 0},
      {"BOOKNO NOT LIKE '_1'", "4", 0},
      {"FIXED LIKE 'ab'", "2", 0},  // trailing blanks of the value are ignored
      {"BOOKNO IN ('b1', 'B4')", "2", 0},
      {"CELLKEY IN ('18', 19)", "1", 0},
      {"CELLKEY BETWEEN 17 AND '17'", "4", 0},
      {"NULL = NULL", "0", 0},
      {"CELLKEY = NULL", "0", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    auto sink = Run(std::string("SELECT Count(*) FROM DETENTIA WHERE ") + c.where);
    EXPECT_EQ(sink.Error(), c.error) << sink.ErrorText();
    if (!c.error) {
      EXPECT_EQ(sink.rows, (Rowset{{c.count}}));
    }
  }
}

TEST_F(SemanticsTest, ConversionErrorsNameTheValue) {
  auto sink = Run("SELECT Count(*) FROM DETENTIA WHERE CELLKEY = 'abc'");
  EXPECT_EQ(sink.ErrorText(),
            "Conversion failed when converting the varchar value 'abc' to data type int.");
  sink = Run("SELECT Count(*) FROM DETENTIA WHERE BED = 1");
  EXPECT_EQ(sink.ErrorText(),
            "Conversion failed when converting the varchar value 'x' to data type int.");
}

TEST_F(SemanticsTest, RowsAffectedAreCountedAsSqlServerCountsThem) {
  struct Case {
    const char* sql;
    std::int64_t count;
  };
  const Case cases[] = {
      {"UPDATE DETENTIA SET CELLKEY = 17 WHERE CELLKEY = 17", 4},  // unchanged values count
      {"UPDATE DETENTIA SET BED = BED WHERE BOOKNO = 'none'", 0},
      {"INSERT INTO DETENTIA (BOOKNO) VALUES ('B6'), ('B7')", 2},
      {"DELETE DETENTIA WHERE BOOKNO IN ('B6', 'B7')", 2},
      {"DELETE FROM DETENTIA WHERE 1 = 0", 0},
      {"SELECT * FROM DETENTIA WHERE CELLKEY = 17", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    auto sink = Run(c.sql);
    ASSERT_EQ(sink.Error(), 0) << sink.ErrorText();
    ASSERT_EQ(sink.done.size(), 1u);
    EXPECT_TRUE(sink.done[0].hasCount);
    EXPECT_EQ(sink.done[0].count, c.count);
  }
  auto sink = Run("SET NOCOUNT ON UPDATE DETENTIA SET BED = BED");
  ASSERT_EQ(sink.done.size(), 2u);
  EXPECT_FALSE(sink.done[1].hasCount);
}

TEST_F(SemanticsTest, StatementsWithoutCountsReportNone) {
  auto sink = Run("CREATE TABLE X (A INT); SET ANSI_NULLS ON; DROP TABLE X; USE master");
  ASSERT_EQ(sink.Error(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.done.size(), 4u);
  for (const auto& d : sink.done) EXPECT_FALSE(d.hasCount);
}

TEST_F(SemanticsTest, IdentityColumnsNumberRowsAndRefuseExplicitValues) {
  Ok("CREATE TABLE CFGBED (UniqueKey INT IDENTITY(10,5) NOT NULL, BEDNO INT, AVAILABLE BIT)");
  Ok("INSERT INTO CFGBED (BEDNO) VALUES (1), (2)");
  Ok("INSERT INTO CFGBED VALUES (3, 0)");
  EXPECT_EQ(Rows("SELECT UniqueKey, BEDNO FROM CFGBED ORDER BY BEDNO"),
            (Rowset{{"10", "1"}, {"15", "2"}, {"20", "3"}}));
  EXPECT_EQ(Rows("SELECT @@IDENTITY, SCOPE_IDENTITY()"), (Rowset{{"'20'", "'20'"}}));
  auto sink = Run("INSERT INTO CFGBED (UniqueKey, BEDNO) VALUES (99, 4)");
  EXPECT_EQ(sink.Error(), 544);
  EXPECT_EQ(sink.ErrorText(),
            "Cannot insert explicit value for identity column in table 'CFGBED' "
            "when IDENTITY_INSERT is set to OFF.");
  EXPECT_EQ(Run("UPDATE CFGBED SET UniqueKey = 1").Error(), 8102);
  // IDENTITY_INSERT lets a script load keys; numbering then continues after them.
  Ok("SET IDENTITY_INSERT CFGBED ON; INSERT INTO CFGBED (UniqueKey, BEDNO) VALUES (100, 4); "
     "SET IDENTITY_INSERT CFGBED OFF; INSERT INTO CFGBED (BEDNO) VALUES (5)");
  EXPECT_EQ(Rows("SELECT UniqueKey FROM CFGBED WHERE BEDNO = 5"), (Rowset{{"105"}}));
  auto cols = Run("SELECT UniqueKey, BEDNO FROM CFGBED").LastColumns();
  EXPECT_TRUE(cols[0].identity);
  EXPECT_FALSE(cols[0].updatable);
  EXPECT_FALSE(cols[0].nullable);
  EXPECT_FALSE(cols[1].identity);
  EXPECT_TRUE(cols[1].updatable);
}

TEST_F(SemanticsTest, PrimaryKeysRefuseDuplicatesUnderTheCollation) {
  Ok("CREATE TABLE K (CODE VARCHAR(5) NOT NULL, N INT NOT NULL, CONSTRAINT PK_K PRIMARY KEY (CODE, "
     "N))");
  Ok("INSERT INTO K VALUES ('ab', 1)");
  auto sink = Run("INSERT INTO K VALUES ('AB ', 1)");
  EXPECT_EQ(sink.Error(), 2627);
  EXPECT_EQ(sink.ErrorText(),
            "Violation of PRIMARY KEY constraint 'PK_K'. Cannot insert duplicate "
            "key in object 'dbo.K'. The duplicate key value is (AB , 1).");
  EXPECT_EQ(sink.messages.back().number, 3621);
  // The failing statement wrote nothing, also of the rows before the duplicate.
  auto second = Run("INSERT INTO K VALUES ('cd', 1), ('ab', 1), ('ef', 1)");
  EXPECT_EQ(second.Error(), 2627);
  EXPECT_NE(second.ErrorText().find("The duplicate key value is (ab, 1)."), std::string::npos)
      << second.ErrorText();
  EXPECT_EQ(Rows("SELECT Count(*) FROM K"), (Rowset{{"1"}}));
  EXPECT_EQ(Run("INSERT INTO K (CODE) VALUES ('zz')").Error(), 515);
  EXPECT_EQ(Run("INSERT INTO K (N) VALUES (3)").ErrorText(),
            "Cannot insert the value NULL into column 'CODE', table 'JAIL.dbo.K'; column does not "
            "allow nulls. INSERT fails.");
  EXPECT_EQ(Run("UPDATE K SET N = NULL").ErrorText(),
            "Cannot insert the value NULL into column 'N', table 'JAIL.dbo.K'; column does not "
            "allow nulls. UPDATE fails.");
}

TEST_F(SemanticsTest, DefaultsFillOmittedColumns) {
  Ok("CREATE TABLE D (A INT NOT NULL DEFAULT 7, B VARCHAR(5) DEFAULT ('x'), C DATETIME DEFAULT "
     "GETDATE(), E INT)");
  Ok("INSERT INTO D (E) VALUES (1)");
  Ok("INSERT INTO D DEFAULT VALUES");
  Ok("INSERT INTO D (A, E) VALUES (DEFAULT, 2)");
  auto rows = Rows("SELECT A, B, E, C FROM D ORDER BY E");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], "7");
  EXPECT_EQ(rows[0][1], "'x'");
  EXPECT_EQ(rows[1][2], "1");
  EXPECT_EQ(rows[2][0], "7");
  EXPECT_EQ(rows[0][3].size(), 25u);  // a date-time was stored
}

TEST_F(SemanticsTest, NamesHintsAndAliases) {
  Ok("CREATE TABLE ConnectLib (ProgramID VARCHAR(20), ConnString VARCHAR(200), UseInitial BIT)");
  Ok("INSERT INTO ConnectLib VALUES ('JAIL', 'Server=x', 0), ('O''Brien', NULL, 1)");
  struct Case {
    const char* sql;
    Rowset rows;
  };
  const Case cases[] = {
      {"SELECT ConnString, UseInitial FROM ConnectLib (readuncommitted) WHERE ProgramID = 'JAIL'",
       {{"'Server=x'", "0"}}},
      {"SELECT ConnString FROM dbo.ConnectLib WITH (NOLOCK) WHERE ProgramID = 'o''brien'",
       {{"NULL"}}},
      {"SELECT c.ConnString FROM JAIL.dbo.ConnectLib AS c WITH (NOLOCK, READUNCOMMITTED) WHERE "
       "c.ProgramID = 'jail'",
       {{"'Server=x'"}}},
      {"SELECT [ConnString] AS _0, \"UseInitial\" AS _1 FROM [JAIL]..[ConnectLib]\r\nWHERE\r\n  "
       "[ProgramID] = 'JAIL'",
       {{"'Server=x'", "0"}}},
      {"SELECT ProgramID FROM ConnectLib (readuncommitted) ORDER BY ProgramID",
       {{"'JAIL'"}, {"'O'Brien'"}}},
      {"SELECT TOP 1 ProgramID FROM ConnectLib ORDER BY ProgramID DESC", {{"'O'Brien'"}}},
      {"SELECT n = Count(ProgramID), Count(ConnString) FROM ConnectLib", {{"2", "1"}}},
      {"select programid p from connectlib where useinitial = 1", {{"'O'Brien'"}}},
      {"SELECT UPPER(ProgramID) + '-' + LOWER(ProgramID), LEN('ab  ') FROM ConnectLib WHERE "
       "UseInitial = 0",
       {{"'JAIL-jail'", "2"}}},
      {"SELECT 1 + 2 * 3, 7 / 2, 7 % 4, -5, N'x', 1.50, NULL",
       {{"7", "3", "3", "-5", "'x'", "'1.50'", "NULL"}}},
      {"SELECT CAST('12' AS INT) + 1, CONVERT(VARCHAR(3), 'abcdef'), ISNULL(NULL, 'd')",
       {{"13", "'abc'", "'d'"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Rows(c.sql), c.rows);
  }
  auto cols =
      Run("SELECT [ConnString] AS _0, Count(*) FROM ConnectLib GROUP BY ConnString").LastColumns();
  EXPECT_EQ(cols[0].name, "_0");
  EXPECT_EQ(cols[0].baseTable, "ConnectLib");
  EXPECT_EQ(cols[1].name, "");
  EXPECT_EQ(cols[1].baseTable, "");
  EXPECT_FALSE(cols[1].updatable);
}

TEST_F(SemanticsTest, ParametersBindByName) {
  Ok("CREATE TABLE CFGCELL (UniqueKey INT IDENTITY(1,1) PRIMARY KEY, FACILITYID CHAR(4), "
     "DORMCODE VARCHAR(4), ONCELL INT)");
  Ok("INSERT INTO CFGCELL (FACILITYID, DORMCODE, ONCELL) VALUES ('F1', 'A', 0), ('F1', 'B', 0)");
  Param select[] = {TextParam("@P1", "f1"), TextParam("@P2", "A")};
  EXPECT_EQ(
      Rows("SELECT * FROM [CFGCELL]\r\nWHERE [FACILITYID] = @P1 AND [DORMCODE] = @P2", select),
      (Rowset{{"1", "'F1  '", "'A'", "0"}}));
  Param update[] = {IntParam("@P1", 3), IntParam("@P2", 2)};
  auto sink =
      Run("UPDATE [CFGCELL]\r\nSET\r\n  [ONCELL] = @P1\r\nWHERE\r\n  [UniqueKey] = @P2", update);
  ASSERT_EQ(sink.Error(), 0) << sink.ErrorText();
  EXPECT_EQ(sink.done[0].count, 1);
  // The same text again with other values reuses its translation.
  Param again[] = {IntParam("@P1", 4), IntParam("@P2", 1)};
  EXPECT_EQ(
      Run("UPDATE [CFGCELL]\r\nSET\r\n  [ONCELL] = @P1\r\nWHERE\r\n  [UniqueKey] = @P2", again)
          .done[0]
          .count,
      1);
  EXPECT_EQ(Rows("SELECT ONCELL FROM CFGCELL ORDER BY UniqueKey"), (Rowset{{"4"}, {"3"}}));
  // A text parameter compared with an INT column is converted.
  Param text[] = {TextParam("@P1", "2")};
  EXPECT_EQ(Rows("SELECT ONCELL FROM CFGCELL WHERE UniqueKey = @P1", text), (Rowset{{"3"}}));
  Param bad[] = {TextParam("@P1", "two")};
  EXPECT_EQ(Run("SELECT ONCELL FROM CFGCELL WHERE UniqueKey = @P1", bad).Error(), 245);
  Param null[] = {Param{}};
  null[0].name = "@P1";
  EXPECT_EQ(Rows("SELECT Count(*) FROM CFGCELL WHERE ONCELL = @P1", null), (Rowset{{"0"}}));
  EXPECT_EQ(Run("SELECT @P9").Error(), 137);
}

TEST_F(SemanticsTest, SessionFunctionsAnswer) {
  auto rows = Rows("select @@spid, DB_NAME(), @@TRANCOUNT, @@LANGUAGE");
  EXPECT_EQ(rows, (Rowset{{"51", "'JAIL'", "0", "'us_english'"}}));
  rows = Rows("SELECT GETDATE()");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].size(), 25u);
  EXPECT_EQ(Rows("SELECT Count(*) FROM DETENTIA; SELECT @@ROWCOUNT").back(),
            (std::vector<std::string>{"1"}));
}

TEST_F(SemanticsTest, ConditionalStatementsAndTransactionEnds) {
  struct Case {
    const char* batch;
    int error;
    Rowset rows;
  };
  const Case cases[] = {
      {"IF OBJECT_ID('DETENTIA') IS NOT NULL SELECT 1 ELSE SELECT 2", 0, {{"1"}}},
      {"IF OBJECT_ID('dbo.Nope') IS NOT NULL SELECT 1 ELSE SELECT 2", 0, {{"2"}}},
      {"IF OBJECT_ID('tempdb..##none') IS NULL SELECT 3", 0, {{"3"}}},
      {"IF 1 = 0 SELECT 1", 0, {}},
      {"IF @@TRANCOUNT > 0 COMMIT TRAN", 0, {}},
      {"IF @@TRANCOUNT = 0 ROLLBACK", 3903, {}},
      {"COMMIT", 3902, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.batch);
    auto sink = Run(c.batch);
    EXPECT_EQ(sink.Error(), c.error) << sink.ErrorText();
    EXPECT_EQ(sink.rows, c.rows);
    EXPECT_EQ(sink.done.size(), 1u);
  }
  Ok("IF OBJECT_ID('DETENTIA') IS NOT NULL DROP TABLE DETENTIA");
  EXPECT_EQ(Rows("IF OBJECT_ID('DETENTIA') IS NULL SELECT 'gone'"), (Rowset{{"'gone'"}}));
}

}  // namespace standin::test
