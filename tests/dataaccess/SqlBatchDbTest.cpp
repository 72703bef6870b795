// Several statements in one request: the reader hands out the row sets in order, passes row
// counts over, and when a statement fails it reports which one, with none after it run and no
// error raised for what the request's CATCH answered. What the CATCH cannot answer raises.

#include <gtest/gtest.h>

#include "TestServer.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/ServerError.h"
#include "dataaccess/SqlBatch.h"
#include "dataaccess/odbc/OdbcConnection.h"

namespace bunkmere::testing {
namespace {

const char* kScript = R"sql(
CREATE TABLE T (K INT NOT NULL PRIMARY KEY, V VARCHAR(20) NULL)
GO
INSERT INTO T (K, V) VALUES (1, 'one')
)sql";

class SqlBatchDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(kScript, std::vector<std::string>{"T"});
    if (!FServer->Usable()) GTEST_SKIP() << "no sqlstandin built and BUNKMERE_TEST_MSSQL not set";
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
  odbc::TOdbcStatement& Statement() { return FConn->ServerConnection().Statement(); }
  std::vector<std::string> Keys() {
    std::unique_ptr<TCustomMSDataSet> q(FConn->CreateDataSet(nullptr));
    q->SQL().SetText("SELECT K FROM T ORDER BY K");
    q->Open();
    std::vector<std::string> keys;
    for (q->First(); !q->Eof(); q->Next()) keys.push_back(q->Fields(0).AsString());
    return keys;
  }
  std::unique_ptr<TTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
};

TEST_F(SqlBatchDbTest, RowSetsComeInOrderAndRowCountsArePassedOver) {
  TSqlBatch batch;
  batch.Add("INSERT INTO T (K, V) VALUES (2, 'two')");
  batch.Add("SELECT COUNT(*) FROM T");
  batch.Add("UPDATE T SET V = 'x' WHERE K IN (1, 2)");
  batch.Add("SELECT MAX(K) FROM T WHERE V = ?", std::vector<TDbValue>{TDbValue::Text("x")});
  TSqlBatchReader reader(Statement(), batch);
  ASSERT_TRUE(reader.NextRowSet());
  EXPECT_EQ(reader.ReadInteger(), 2);
  ASSERT_TRUE(reader.NextRowSet());
  EXPECT_EQ(reader.ReadInteger(), 2);
  EXPECT_FALSE(reader.NextRowSet());
  EXPECT_FALSE(reader.Error());
}

// The statement that fails is named by its index, also after statements spread over several
// lines; what ran before it stays done, nothing after it runs, and the client sees no error
// until it asks for one.
TEST_F(SqlBatchDbTest, AFailingStatementIsNamedAndNothingAfterItRuns) {
  struct Case {
    const char* What;
    std::vector<std::string> Statements;
    std::size_t Failing;
    long Number;
    std::vector<std::string> Keys;  // in T afterwards
  } cases[] = {
      {"a duplicate key in the middle",
       {"INSERT INTO T (K) VALUES (5)", "INSERT INTO T (K) VALUES (1)",
        "INSERT INTO T (K) VALUES (6)"},
       1,
       2627,
       {"1", "5"}},
      {"a table name already taken, after a statement of three lines",
       {"INSERT INTO T\n(K)\nVALUES (7)", "CREATE TABLE T (A INT)", "INSERT INTO T (K) VALUES (8)"},
       1,
       2714,
       {"1", "7"}},
      {"an error raised on purpose, first",
       {"RAISERROR(N'stop here', 16, 1)", "INSERT INTO T (K) VALUES (9)"},
       0,
       50000,
       {"1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    FConn.reset();
    SetUp();
    TSqlBatch batch;
    for (const std::string& s : c.Statements) batch.Add(s);
    {
      TSqlBatchReader reader(Statement(), batch);
      EXPECT_FALSE(reader.NextRowSet());
      ASSERT_TRUE(reader.Error());
      EXPECT_EQ(reader.Error()->Statement, c.Failing);
      EXPECT_EQ(reader.Error()->Number, c.Number);
      try {
        reader.RaiseError();
        ADD_FAILURE() << "RaiseError returned";
      } catch (const EDatabaseError& e) {
        EXPECT_EQ(ServerErrorNumber(e), c.Number);
        EXPECT_FALSE(std::string(e.what()).empty());
      }
    }
    EXPECT_EQ(Keys(), c.Keys);
  }
}

// A batch the server will not run at all is no statement's failure: it raises.
TEST_F(SqlBatchDbTest, ABatchThatDoesNotCompileRaises) {
  TSqlBatch batch;
  batch.Add("INSERT INTO T (K) VALUES (3)");
  batch.Add("SELEC nonsense FROM");
  EXPECT_THROW(
      {
        TSqlBatchReader reader(Statement(), batch);
        while (reader.NextRowSet()) {
        }
      },
      EDatabaseError);
  EXPECT_EQ(Keys(), std::vector<std::string>{"1"});
}

TEST(SqlBatch, EachLineOfTheRequestBelongsToItsStatement) {
  TSqlBatch batch;
  batch.Add("SELECT 1");           // line 2
  batch.Add("SELECT\n2\nFROM T");  // lines 3-5
  batch.Add("SELECT 3");           // line 6
  EXPECT_TRUE(
      batch.Text().starts_with("BEGIN TRY\nSELECT 1\nSELECT\n2\nFROM T\nSELECT 3\nEND TRY\n"));
  const struct {
    long Line;
    std::size_t Statement;
  } lines[] = {{1, 3}, {2, 0}, {3, 1}, {5, 1}, {6, 2}, {7, 3}, {0, 3}};
  for (const auto& l : lines) EXPECT_EQ(batch.StatementAt(l.Line), l.Statement) << l.Line;
}

}  // namespace
}  // namespace bunkmere::testing
