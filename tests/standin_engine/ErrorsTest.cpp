// SQL Server's error numbers, texts and batch behaviour, and text the parser must survive.

#include <random>

#include "RecordingSink.h"

namespace standin::test {

class ErrorsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Ok("CREATE TABLE T (A INT PRIMARY KEY, B VARCHAR(3))");
  }
};

TEST_F(ErrorsTest, EachErrorCarriesSqlServersNumberAndText) {
  struct Case {
    const char* sql;
    int number;
    int severity;
    const char* text;
  };
  const Case cases[] = {
      {"SELECT * FROM Missing", 208, 16, "Invalid object name 'Missing'."},
      {"SELECT * FROM JAIL.dbo.Missing", 208, 16, "Invalid object name 'JAIL.dbo.Missing'."},
      {"SELECT * FROM other.T", 208, 16, "Invalid object name 'other.T'."},
      {"SELECT Nope FROM T", 207, 16, "Invalid column name 'Nope'."},
      {"UPDATE T SET Nope = 1", 207, 16, "Invalid column name 'Nope'."},
      {"SELEC * FROM T", 102, 15, "Incorrect syntax near '*'."},  // SELEC is taken for a procedure
      {"SELECT * FROM T WHERE", 102, 15, "Incorrect syntax near 'WHERE'."},
      {"SELECT * FROM T WHERE A = = 1", 102, 15, "Incorrect syntax near '='."},
      {"SELECT 'open", 105, 16, "Unclosed quotation mark after the character string 'open'."},
      {"CREATE TABLE T (X INT)", 2714, 16, "There is already an object named 'T' in the database."},
      {"DROP TABLE Nope", 3701, 11,
       "Cannot drop the table 'Nope', because it does not exist or you do not have permission."},
      {"USE NoSuchDb", 911, 16,
       "Database 'NoSuchDb' does not exist. Make sure that the name is entered correctly."},
      {"INSERT INTO T VALUES (1)", 213, 16,
       "Column name or number of supplied values does not match table definition."},
      {"INSERT INTO T (A) VALUES (1, 2)", 110, 16, nullptr},
      {"INSERT INTO T (A, B) VALUES (1)", 109, 16, nullptr},
      {"SELECT NOSUCHFUNC(1)", 195, 15, "'NOSUCHFUNC' is not a recognized built-in function name."},
      {"SAVE TRANSACTION here", 40517, 16,
       "Keyword or statement option 'SAVE' is not supported in this version of SQL Server."},
      {"ALTER TABLE T ADD C INT", 40517, 16, nullptr},
      {"SELECT * FROM T a JOIN T b ON a.A = b.A", 40517, 16, nullptr},
      {"SELECT * FROM T WITH (FASTFIRSTROW)", 321, 16, nullptr},
      {"EXEC sp_nothing", 2812, 16, "Could not find stored procedure 'sp_nothing'."},
      {"SET NOSUCHOPTION ON", 102, 15, "Incorrect syntax near 'NOSUCHOPTION'."},
      {"CREATE TABLE Y (A INT, A INT)", 2705, 16, nullptr},
      {"CREATE TABLE Y (A VARCHAR(10) IDENTITY)", 2749, 16, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    auto sink = Run(c.sql);
    ASSERT_FALSE(sink.messages.empty());
    EXPECT_EQ(sink.messages[0].number, c.number) << sink.messages[0].text;
    EXPECT_EQ(sink.messages[0].severity, c.severity);
    if (c.text) {
      EXPECT_EQ(sink.messages[0].text, c.text);
    }
    ASSERT_FALSE(sink.done.empty());
    EXPECT_TRUE(sink.done.back().error);
  }
}

// A many-row VALUES list is one statement: a row that fails leaves none of the rows behind
// and the message is that row's, also deep into the list.
TEST_F(ErrorsTest, AManyRowInsertFailsWholeWithTheFailingRowsMessage) {
  struct Case {
    const char* sql;
    int number;
    const char* textPart;
  };
  const Case cases[] = {
      {"INSERT INTO T VALUES (1, 'a'), (2, 'b'), (3, 'c'), (2, 'd')", 2627,
       "The duplicate key value is (2)."},
      {"INSERT INTO T VALUES (1, 'a'), (2, 'abcd'), (3, 'c')", 8152, nullptr},
      {"INSERT INTO T VALUES (1, 'a'), ('x', 'b')", 245, "'x'"},
      {"INSERT INTO T VALUES (1, 'a'), (NULL, 'b')", 515, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    auto sink = Run(c.sql);
    EXPECT_EQ(sink.Error(), c.number) << sink.ErrorText();
    if (c.textPart) {
      EXPECT_NE(sink.ErrorText().find(c.textPart), std::string::npos) << sink.ErrorText();
    }
    EXPECT_EQ(Rows("SELECT Count(*) FROM T"), (Rowset{{"0"}}));
  }
}

TEST_F(ErrorsTest, AManyRowInsertKeepsRowOrderValuesAndIdentities) {
  Ok("CREATE TABLE I (ID INT IDENTITY(1,1) NOT NULL, V VARCHAR(5) NULL, D DATETIME NULL, "
     "N INT NOT NULL DEFAULT 7)");
  // The second statement mixes a typed date-time with date text in one column.
  auto sink =
      Run("INSERT INTO I (V, D) VALUES ('a', '2024-01-02'), (NULL, NULL), ('c', '2024-03-04 "
          "05:06:07')\n"
          "INSERT INTO I (V, D, N) VALUES ('d', GETDATE(), 1), ('e', '2025-01-01', DEFAULT)");
  ASSERT_EQ(sink.Error(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.done.size(), 2u);
  EXPECT_EQ(sink.done[0].count, 3);
  EXPECT_EQ(sink.done[1].count, 2);
  EXPECT_EQ(Rows("SELECT ID, V, CONVERT(VARCHAR(19), D, 120), N FROM I WHERE ID <> 4"),
            (Rowset{{"1", "'a'", "'2024-01-02 00:00:00'", "7"},
                    {"2", "NULL", "NULL", "7"},
                    {"3", "'c'", "'2024-03-04 05:06:07'", "7"},
                    {"5", "'e'", "'2025-01-01 00:00:00'", "7"}}));
  EXPECT_EQ(Rows("SELECT ID, V, N FROM I WHERE ID = 4 AND D IS NOT NULL"),
            (Rowset{{"4", "'d'", "1"}}));
}

TEST_F(ErrorsTest, CompileErrorsEndTheBatchOthersOnlyTheirStatement) {
  struct Case {
    const char* batch;
    const char* rows;  // value of Count(*) FROM T afterwards
    std::size_t statementsDone;
  };
  const Case cases[] = {
      // a syntax error anywhere runs nothing
      {"INSERT INTO T VALUES (1, 'a') INSERT INTO T VALUES (2, 'b') SELEC", "0", 1},
      // a missing table ends the batch at that statement
      {"INSERT INTO T VALUES (1, 'a'); SELECT * FROM Missing; INSERT INTO T VALUES (2, 'b')", "1",
       2},
      // a duplicate key or an overlong value ends only its statement
      {"INSERT INTO T VALUES (1, 'a'); INSERT INTO T VALUES (1, 'b'); INSERT INTO T VALUES (2, "
       "'b')",
       "2", 3},
      {"INSERT INTO T VALUES (1, 'abcd')\nINSERT INTO T VALUES (2, 'b')", "1", 2},
      // a conversion failure ends the batch
      {"INSERT INTO T VALUES ('x', 'a'); INSERT INTO T VALUES (2, 'b')", "0", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.batch);
    Ok("DELETE FROM T");
    auto sink = Run(c.batch);
    EXPECT_NE(sink.Error(), 0);
    EXPECT_EQ(sink.done.size(), c.statementsDone);
    EXPECT_EQ(Rows("SELECT Count(*) FROM T"), (Rowset{{c.rows}}));
  }
}

TEST_F(ErrorsTest, MessagesGiveTheLineOfTheirStatement) {
  auto sink = Run("SELECT 1\nSELECT 2\n\nSELECT * FROM Missing");
  ASSERT_EQ(sink.Error(), 208);
  EXPECT_EQ(sink.messages[0].line, 4);
  sink = Run("SELECT 1\nSELECT 2 FROM\nWHERE");
  ASSERT_EQ(sink.Error(), 102);
  EXPECT_EQ(sink.messages[0].line, 3);
}

TEST_F(ErrorsTest, OpeningAMissingDatabaseFailsTheLogin) {
  try {
    engine_->OpenSession(70, "Nowhere");
    FAIL() << "no error";
  } catch (const ServerError& e) {
    EXPECT_EQ(e.message.number, 4060);
    EXPECT_EQ(e.message.text,
              "Cannot open database \"Nowhere\" requested by the login. The login failed.");
  }
}

TEST_F(ErrorsTest, DeepNestingIsRefusedNotOverflowed) {
  const std::string deep[] = {
      "SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')'),
      [] {
        std::string s = "SELECT ";
        for (int i = 0; i < 50000; ++i) s += "- ";  // "--" would start a comment
        return s + "1";
      }(),
      "SELECT Count(*) FROM T WHERE " +
          [] {
            std::string s = "A = 1";
            for (int i = 0; i < 50000; ++i) s += " AND A = 1";
            return s;
          }(),
      [] {
        std::string s;
        for (int i = 0; i < 50000; ++i) s += "IF 1 = 1 ";
        return s + "SELECT 1";
      }(),
  };
  for (const auto& sql : deep) {
    auto sink = Run(sql);
    EXPECT_EQ(sink.Error(), 191);
  }
  // Depth that real statements have is fine.
  EXPECT_EQ(Rows("SELECT ((((1 + 2)))) WHERE NOT (NOT (1 = 1 AND 2 = 2 OR 3 = 4))"),
            (Rowset{{"3"}}));
}

TEST_F(ErrorsTest, MalformedTextNeverCrashes) {
  // Every prefix and a run of random mutations of statements the system sends: each must
  // end in rows or in an error, and the session must still work afterwards.
  const std::string seeds[] = {
      "SELECT Count(CELLKEY) FROM T WHERE A = 0 and B = 'x''y' and A = 17",
      "UPDATE [T]\r\nSET\r\n  [B] = @P1\r\nWHERE\r\n  [A] = @P2 AND [B] IS NULL",
      "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.T.1](  DatabaseName VARCHAR(30),  TimeLocked "
      "DateTime)",
      "INSERT INTO T (A, B) VALUES (1, N'a'), (2, DEFAULT); SET ANSI_NULLS, QUOTED_IDENTIFIER ON",
      "SELECT TOP (3) [A] AS _0, \"B\" FROM JAIL..T (nolock) WHERE B LIKE '[a-c]%' ORDER BY 1 DESC "
      "/* c */ -- x",
  };
  Param params[] = {TextParam("@P1", "v"), IntParam("@P2", 1)};
  std::mt19937 random(1234);
  const std::string alphabet = "()[]'\",.;=<>@#*%-/ \n\tNSELECTINTO0123456789\x80\xff";
  for (const auto& seed : seeds) {
    for (std::size_t n = 0; n <= seed.size(); ++n) Run(seed.substr(0, n), params);
    for (int i = 0; i < 300; ++i) {
      std::string text = seed;
      int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits; ++e) {
        std::size_t at = random() % (text.size() + 1);
        switch (random() % 3) {
          case 0:
            text.insert(at, 1, alphabet[random() % alphabet.size()]);
            break;
          case 1:
            if (at < text.size()) text.erase(at, 1);
            break;
          default:
            if (at < text.size()) text[at] = alphabet[random() % alphabet.size()];
        }
      }
      auto sink = Run(text, params);
      // Every statement that ran was closed exactly once; an error came with a message.
      for (const auto& d : sink.done) {
        if (d.error) {
          EXPECT_NE(sink.Error(), 0) << text;
        }
      }
    }
  }
  Ok("DROP TABLE T");
  EXPECT_EQ(Rows("SELECT 1"), (Rowset{{"1"}}));
}

}  // namespace standin::test
