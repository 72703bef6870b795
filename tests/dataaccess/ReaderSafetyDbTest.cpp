// The block reader facing a hostile server and a failing driver: a value sent longer than
// its column declares is refused, whichever way the column is read, and a reader whose
// binding fails leaves the driver no pointer into its freed buffers (the asan preset shows it).

#include <gtest/gtest.h>

#include "MessageOf.h"

#include "TestServer.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/odbc/OdbcBlockReader.h"
#include "dataaccess/odbc/OdbcConnection.h"

namespace bunkmere::testing {
namespace {

const char* kScript = R"sql(
CREATE TABLE SHORTS (ID INT NOT NULL, CODE VARCHAR(10) NULL, WIDE NVARCHAR(10) NULL,
  FIXED CHAR(4) NULL, BODY TEXT NULL, AFTER VARCHAR(10) NULL, N INT NULL)
GO
INSERT INTO SHORTS VALUES (1, 'a', N'b', 'c', 'a body', 'd', 7)
)sql";

class ReaderSafetyDbTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> AFaults) {
    FServer = std::make_unique<TTestServer>(kScript, std::vector<std::string>{"SHORTS"},
                                            std::move(AFaults));
    if (!FServer->HasLog()) GTEST_SKIP() << "needs the stand-in's faults and its FreeTDS driver";
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
  std::unique_ptr<TCustomMSDataSet> Query(const std::string& ASql) {
    std::unique_ptr<TCustomMSDataSet> q(FConn->CreateDataSet(nullptr));
    q->SQL().SetText(ASql);
    q->Open();
    return q;
  }
  std::unique_ptr<TTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
};

// Values far longer than their columns declare, whichever way the column is read: refused
// with an EDatabaseError, never handed on. (FreeTDS refuses them itself, as a stream out of
// step; the reader's own check, naming the column, stands for drivers that do not.)
TEST_F(ReaderSafetyDbTest, AValueLongerThanItsColumnIsRefused) {
  Start({"long-value:FROM SHORTS:65000"});
  for (const char* sql : {
           "SELECT ID, CODE FROM SHORTS",            // bound, read in blocks
           "SELECT ID, WIDE FROM SHORTS",            // bound, wide text
           "SELECT ID, FIXED FROM SHORTS",           // bound, fixed length
           "SELECT ID, BODY, AFTER, N FROM SHORTS",  // read in pieces after a large object
       }) {
    SCOPED_TRACE(sql);
    EXPECT_THROW(Query(sql), EDatabaseError);
  }
  // The connection is left usable, and values of the declared size still read.
  EXPECT_EQ(Query("SELECT N FROM SHORTS")->Fields(0).AsInteger(), 7);
}

// The same statements without the fault read whole: the checks refuse only what overflows.
TEST_F(ReaderSafetyDbTest, ValuesOfTheirDeclaredSizeRead) {
  Start({});
  FServer->Exec("UPDATE SHORTS SET CODE = '0123456789', AFTER = 'abcdefghij'");
  auto q = Query("SELECT ID, CODE, WIDE, FIXED, BODY, AFTER, N FROM SHORTS");
  EXPECT_EQ(q->FieldByName("CODE").AsString(), "0123456789");
  EXPECT_EQ(q->FieldByName("AFTER").AsString(), "abcdefghij");
  EXPECT_EQ(q->FieldByName("N").AsInteger(), 7);
}

// FreeTDS binds at most 4,000 columns: the 4,001st fails after the driver has been given the
// reader's fetch counter, status array and 4,000 buffers. The next fetch on the statement
// must not write into them once the reader is gone.
TEST_F(ReaderSafetyDbTest, AReaderWhoseBindingFailsLeavesTheDriverNothingOfIt) {
  Start({});
  odbc::TOdbcStatement& stmt = FConn->ServerConnection().Statement();
  stmt.Execute("SELECT 1");
  TColumnDesc column;
  column.Name = "C";
  column.Kind = TColumnKind::Text;  // converted into the buffer with memcpy, which ASan watches
  column.SqlType = SQL_VARCHAR;
  column.Size = 10;
  const std::vector<TColumnDesc> columns(4001, column);
  EXPECT_THROW(std::make_unique<odbc::TOdbcBlockReader>(stmt, columns, 4), EDatabaseError);
  stmt.Drain();
  stmt.Execute("SELECT 42");
  EXPECT_EQ(stmt.DrainFirstInteger(), 42);
}

}  // namespace
}  // namespace bunkmere::testing
