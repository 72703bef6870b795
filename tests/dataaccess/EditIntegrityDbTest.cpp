// What a post writes, against a real server: nothing the caller set is dropped while the post
// reports success, decimal columns behave as numbers, the key follows KeyFields, and closing
// the connection closes everything even when one dataset fails to close.

#include <gtest/gtest.h>

#include "MessageOf.h"

#include "TestServer.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"
#include "tests/CannotRun.h"

namespace bunkmere::testing {
namespace {

const char* kScript = R"sql(
CREATE TABLE CELLS (UniqueKey INT IDENTITY(1,1) NOT NULL, CELLKEY INT NULL, ALLOW INT NULL,
  NOTE VARCHAR(20) NULL)
GO
CREATE TABLE PRICES (UniqueKey INT IDENTITY(1,1) NOT NULL, AMOUNT DECIMAL(10,2) NULL,
  FEE MONEY NULL, QTY NUMERIC(5,0) NULL)
GO
INSERT INTO CELLS (CELLKEY, ALLOW, NOTE) VALUES (10, 1, 'a')
INSERT INTO CELLS (CELLKEY, ALLOW, NOTE) VALUES (20, 2, 'b')
GO
INSERT INTO PRICES (AMOUNT, FEE, QTY) VALUES (5.00, 12.5, 3)
INSERT INTO PRICES (AMOUNT, FEE, QTY) VALUES (-0.25, NULL, 100)
GO
CREATE TABLE LOOSE (K VARCHAR(10) NULL, V INT NULL)
GO
INSERT INTO LOOSE (K, V) VALUES (NULL, NULL)
INSERT INTO LOOSE (K, V) VALUES ('k', NULL)
GO
CREATE TABLE HOSTILE (UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY, ONCELL INT NULL,
  [CFGCELL.ONCELL] INT NULL,
  [[a]] AS z FROM [CFGCELL]] WHERE 1=0; DELETE FROM LOOSE; SELECT 1 AS [q]], [UniqueKey]]] INT NULL)
GO
INSERT INTO HOSTILE (ONCELL) VALUES (1)
GO
CREATE TABLE REBUILT (UniqueKey INT IDENTITY(1,1) NOT NULL, A INT NULL, B INT NULL)
GO
INSERT INTO REBUILT (A, B) VALUES (1, 1)
INSERT INTO REBUILT (A, B) VALUES (1, 2)
)sql";

class EditIntegrityDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(
        kScript, std::vector<std::string>{"CELLS", "PRICES", "LOOSE", "HOSTILE", "REBUILT"});
    if (!FServer->Usable())
      BUNKMERE_CANNOT_RUN("no sqlstandin built and BUNKMERE_TEST_MSSQL not set");
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
  std::unique_ptr<TMSTable> Table(const std::string& AName) {
    auto t = std::make_unique<TMSTable>(nullptr);
    t->SetConnection(FConn.get());
    t->SetTableName(AName);
    t->Options().SetQuoteNames(true);
    t->Open();
    return t;
  }
  std::unique_ptr<TCustomMSDataSet> Query(const std::string& ASql) {
    std::unique_ptr<TCustomMSDataSet> q(FConn->CreateDataSet(nullptr));
    q->SQL().SetText(ASql);
    q->Open();
    return q;
  }
  std::string ServerValue(const std::string& ASql) { return Query(ASql)->Fields(0).AsString(); }
  std::vector<std::string> Updates(std::size_t AMark) const {
    std::vector<std::string> out;
    for (const std::string& s : FServer->SqlSince(AMark))
      if (s.rfind("UPDATE", 0) == 0) out.push_back(s);
    return out;
  }
  std::unique_ptr<TTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
};

// A value set on a column the UPDATE leaves out fails the post by name, before anything is
// sent; the row stays in edit with the value, and the server keeps its row.
TEST_F(EditIntegrityDbTest, AValueTheUpdateWouldLeaveOutFailsThePostByName) {
  struct TCase {
    const char* Sql;
    const char* Column;
    const char* Why;
  };
  const TCase cases[] = {
      {"SELECT * FROM CELLS", "UniqueKey", "it is an identity column"},
      {"SELECT UniqueKey, ALLOW, ALLOW + 1 AS NEXTALLOW FROM CELLS", "NEXTALLOW", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    auto q = Query(c.Sql);
    q->Edit();
    q->FieldByName("ALLOW").SetAsInteger(7);
    q->FieldByName(c.Column).SetAsInteger(99);
    const std::size_t mark = FServer->Mark();
    const std::string message = MessageOf([&] { q->Post(); });
    EXPECT_NE(message.find(std::string("Field '") + c.Column + "' cannot be modified"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(c.Why), std::string::npos) << message;
    EXPECT_EQ(q->State(), TDataSetState::dsEdit);
    EXPECT_EQ(q->FieldByName(c.Column).AsInteger(), 99);
    EXPECT_TRUE(Updates(mark).empty());
    EXPECT_EQ(ServerValue("SELECT ALLOW FROM CELLS WHERE UniqueKey = 1"), "1");
    // Setting it back to the value read lets the rest be written.
    q->Cancel();
    q->Edit();
    q->FieldByName(c.Column).SetAsInteger(q->FieldByName(c.Column).AsInteger());
    q->FieldByName("ALLOW").SetAsInteger(7);
    q->Post();
    EXPECT_EQ(ServerValue("SELECT ALLOW FROM CELLS WHERE UniqueKey = 1"), "7");
    FConn->ExecSQL("UPDATE CELLS SET ALLOW = 1 WHERE UniqueKey = 1");
  }
}

TEST_F(EditIntegrityDbTest, DecimalNumericAndMoneyColumnsReadAsNumbers) {
  TFakeWindowsPlatform platform;
  TPlatformOverride use(platform);
  auto prices = Table("PRICES");
  TField& amount = prices->FieldByName("AMOUNT");
  TField& fee = prices->FieldByName("FEE");
  TField& qty = prices->FieldByName("QTY");
  EXPECT_EQ(amount.DataType(), TFieldType::ftBCD);
  EXPECT_EQ(amount.AsInteger(), 5);
  EXPECT_EQ(amount.AsFloat(), 5.0);
  EXPECT_EQ(amount.AsString(), "5");
  EXPECT_EQ(fee.AsFloat(), 12.5);
  EXPECT_EQ(fee.AsInteger(), 13);  // rounded, as a float field reads
  EXPECT_EQ(qty.AsInteger(), 3);
  prices->Next();
  EXPECT_EQ(amount.AsString(), "-0.25");
  EXPECT_EQ(amount.AsInteger(), 0);
  EXPECT_TRUE(fee.IsNull());
  EXPECT_EQ(fee.AsInteger(), 0);
  EXPECT_EQ(fee.AsString(), "");

  TFormatSettings comma;
  comma.DecimalSeparator = ",";
  platform.SetFormatSettings(comma);
  EXPECT_EQ(amount.AsString(), "-0,25");
  prices->First();
  EXPECT_EQ(fee.AsString(), "12,5");
}

// Writing the value a decimal column already holds is no change: nothing is sent. Other
// values are written and read back as the server keeps them.
TEST_F(EditIntegrityDbTest, DecimalColumnsCompareByValue) {
  TFakeWindowsPlatform platform;
  TPlatformOverride use(platform);
  auto prices = Table("PRICES");
  std::size_t mark = FServer->Mark();
  prices->Edit();
  prices->FieldByName("AMOUNT").SetAsInteger(5);
  prices->FieldByName("FEE").SetAsFloat(12.5);
  prices->FieldByName("QTY").SetAsString("3");
  EXPECT_FALSE(prices->Modified());
  prices->Post();
  EXPECT_TRUE(Updates(mark).empty());

  TFormatSettings comma;
  comma.DecimalSeparator = ",";
  platform.SetFormatSettings(comma);
  mark = FServer->Mark();
  prices->Edit();
  prices->FieldByName("AMOUNT").SetAsString("6,5");
  prices->FieldByName("FEE").SetAsFloat(0.125);
  EXPECT_THROW(prices->FieldByName("QTY").SetAsString("x"), EConvertError);
  prices->Post();
  EXPECT_EQ(Updates(mark).size(), 1u);
  EXPECT_EQ(ServerValue("SELECT AMOUNT FROM PRICES WHERE UniqueKey = 1"), "6,5");
  EXPECT_NEAR(Query("SELECT FEE FROM PRICES WHERE UniqueKey = 1")->Fields(0).AsFloat(), 0.125,
              1e-9);
}

// A new KeyFields keys the next UPDATE on the new columns, not the ones found before.
TEST_F(EditIntegrityDbTest, ChangingKeyFieldsChangesTheKeyOfTheNextUpdate) {
  auto q = Query("SELECT CELLKEY, ALLOW, NOTE FROM CELLS");
  q->SetKeyFields("CELLKEY");
  q->Edit();
  q->FieldByName("ALLOW").SetAsInteger(5);
  q->Post();
  q->SetKeyFields("NOTE");
  std::size_t mark = FServer->Mark();
  q->Edit();
  q->FieldByName("ALLOW").SetAsInteger(6);
  q->Post();
  const std::vector<std::string> sent = Updates(mark);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].find("WHERE\r\n  NOTE = "), std::string::npos) << sent[0];
  EXPECT_EQ(sent[0].find("CELLKEY"), std::string::npos) << sent[0];
  EXPECT_EQ(ServerValue("SELECT ALLOW FROM CELLS WHERE CELLKEY = 10"), "6");
}

// Column names come from the server and are data: brackets and dots in them belong to the
// name. Put into the re-read or the UPDATE as they stand, one closes the bracket early and runs
// a statement of its own, the other reaches another column through a qualifier.
TEST_F(EditIntegrityDbTest, ColumnNamesFromTheServerAreOneQuotedPart) {
  const std::string injecting =
      "[a] AS z FROM [CFGCELL] WHERE 1=0; DELETE FROM LOOSE; SELECT 1 AS [q], [UniqueKey]";
  struct Case {
    const char* What;
    std::string Column;
  } cases[] = {{"a name that closes its own brackets", injecting},
               {"a dotted name", "CFGCELL.ONCELL"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    for (bool quote : {true, false}) {
      auto t = std::make_unique<TMSTable>(nullptr);
      t->SetConnection(FConn.get());
      t->SetTableName("HOSTILE");
      t->Options().SetQuoteNames(quote);
      t->SetRefreshOptions({TRefreshOption::roBeforeEdit});
      t->Open();
      ASSERT_NE(t->FindField(c.Column), nullptr);
      t->Edit();  // re-reads every column by name
      t->FieldByName(c.Column).SetAsInteger(quote ? 7 : 8);
      t->Post();
      EXPECT_EQ(ServerValue("SELECT COUNT(*) FROM LOOSE"), "2");
      EXPECT_EQ(ServerValue("SELECT ONCELL FROM HOSTILE"), "1");
      std::unique_ptr<TCustomMSDataSet> q(FConn->CreateDataSet(nullptr));
      q->SQL().SetText("SELECT * FROM HOSTILE");
      q->Open();
      EXPECT_EQ(q->FieldByName(c.Column).AsString(), quote ? "7" : "8");
    }
  }
}

// A table re-created with its columns in another order, opened again by the same statement:
// its writes are keyed by the identity where it now stands, not where it stood.
TEST_F(EditIntegrityDbTest, ReopeningOnAnotherColumnLayoutForgetsTheKey) {
  auto t = Table("REBUILT");
  t->Edit();
  t->FieldByName("B").SetAsInteger(10);
  t->Post();
  t->Close();
  FConn->ExecSQL("DROP TABLE REBUILT");
  FConn->ExecSQL(
      "CREATE TABLE REBUILT (A INT NULL, B INT NULL, UniqueKey INT IDENTITY(1,1) NOT NULL)");
  FConn->ExecSQL("INSERT INTO REBUILT (A, B) VALUES (1, 1)");
  FConn->ExecSQL("INSERT INTO REBUILT (A, B) VALUES (1, 2)");
  t->Open();
  std::size_t mark = FServer->Mark();
  t->Edit();
  t->FieldByName("B").SetAsInteger(20);
  t->Post();
  const std::vector<std::string> sent = Updates(mark);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].find("WHERE\r\n  [UniqueKey] = "), std::string::npos) << sent[0];
  EXPECT_EQ(ServerValue("SELECT B FROM REBUILT WHERE UniqueKey = 2"), "2");
}

// A dataset whose close fails keeps neither the others nor the server connection open.
TEST_F(EditIntegrityDbTest, DisconnectClosesEverythingAndReportsTheFirstFailure) {
  auto first = Table("CELLS");
  auto failing = Table("CELLS");
  auto last = Table("PRICES");
  failing->BeforeClose = [](TCustomMSDataSet&) { throw EDatabaseError("close refused"); };
  EXPECT_EQ(MessageOf([&] { FConn->Disconnect(); }), "close refused");
  EXPECT_FALSE(first->Active());
  EXPECT_FALSE(last->Active());
  EXPECT_FALSE(FConn->Connected());
  failing->BeforeClose = nullptr;
  FConn->Connect();
  last->Open();
  EXPECT_EQ(last->RecordCount(), 2);
}

// The server answers every DELETE from LOOSE with a trigger's count of 3 rows before the
// statement's own, as a table with a trigger without SET NOCOUNT ON does.
class TriggerCountDbTest : public EditIntegrityDbTest {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(
        kScript, std::vector<std::string>{"CELLS", "PRICES", "LOOSE", "HOSTILE", "REBUILT"},
        std::vector<std::string>{"count:3:DELETE FROM [LOOSE]"});
    if (!FServer->HasLog()) GTEST_SKIP() << "needs the stand-in's trigger-count fault";
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
};

// A row keyed only by NULLs is deleted by a statement without parameters, whose answer
// carries every count of the batch; the check must take the statement's own.
TEST_F(TriggerCountDbTest, TheRowsAffectedCheckTakesTheStatementsOwnCount) {
  auto loose = Table("LOOSE");
  ASSERT_EQ(loose->RecordCount(), 2);
  loose->First();
  ASSERT_TRUE(loose->FieldByName("K").IsNull());
  loose->Delete();
  EXPECT_EQ(loose->RecordCount(), 1);
  EXPECT_EQ(ServerValue("SELECT COUNT(*) FROM LOOSE"), "1");

  // A row gone from the server is still found out, whatever the trigger reports.
  FServer->Exec("DELETE FROM LOOSE");
  EXPECT_EQ(MessageOf([&] { loose->Delete(); }), "Delete failed. Found 0 records");
}

}  // namespace
}  // namespace bunkmere::testing
