// Datasets against a real server process: the statements that reach it, typed reads, the
// re-read before an edit, updates of the changed columns only, keys, and failures.

#include <gtest/gtest.h>

#include "MessageOf.h"

#include "JailScript.h"
#include "TestServer.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "tests/CannotRun.h"

namespace bunkmere::testing {
namespace {

class DataSetDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(kJailScript, kJailTables);
    if (!FServer->Usable())
      BUNKMERE_CANNOT_RUN("no sqlstandin built and BUNKMERE_TEST_MSSQL not set");
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
  // A table dataset as the family's lockable tables are set up: names quoted, varchar trimmed,
  // the row re-read before an edit.
  std::unique_ptr<TMSTable> Table(const std::string& AName) {
    auto t = std::make_unique<TMSTable>(nullptr);
    t->SetConnection(FConn.get());
    t->SetTableName(AName);
    t->Options().SetQuoteNames(true);
    t->Options().SetTrimVarChar(true);
    t->SetRefreshOptions({TRefreshOption::roBeforeEdit});
    return t;
  }
  // Moves to the row whose AField reads AValue as text.
  static void Locate(TCustomMSDataSet& ds, const char* AField, const std::string& AValue) {
    for (ds.First(); !ds.Eof(); ds.Next())
      if (ds.FieldByName(AField).AsString() == AValue) return;
    FAIL() << "no row with " << AField << " = " << AValue;
  }
  std::unique_ptr<TTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
};

TEST_F(DataSetDbTest, ATableSendsItsGeneratedStatementOncePerOpen) {
  auto cells = Table(" [CFGCELL] ");
  std::size_t mark = FServer->Mark();
  cells->Open();
  EXPECT_EQ(cells->RecordCount(), 4);
  cells->First();
  while (!cells->Eof()) cells->Next();
  EXPECT_FALSE(cells->IsEmpty());
  if (FServer->HasLog()) {
    auto sent = FServer->Since(mark);
    ASSERT_EQ(sent.size(), 1u);  // no counting statement, no fetch round trips
    EXPECT_EQ(sent[0].Sql, "SELECT * FROM [CFGCELL]\r\n");
    EXPECT_TRUE(sent[0].Batch);
  }
  cells->Options().SetQuoteNames(false);  // the generated statement is kept
  mark = FServer->Mark();
  cells->Refresh();
  cells->Close();
  cells->Open();
  if (FServer->HasLog()) {
    EXPECT_EQ(FServer->SqlSince(mark), (std::vector<std::string>{"SELECT * FROM [CFGCELL]\r\n",
                                                                 "SELECT * FROM [CFGCELL]\r\n"}));
  }
  cells->SetTableName("CFGCELL");  // a new name generates anew, now unquoted
  mark = FServer->Mark();
  cells->Open();
  if (FServer->HasLog()) {
    EXPECT_EQ(FServer->SqlSince(mark), std::vector<std::string>{"SELECT * FROM CFGCELL\r\n"});
  }
}

TEST_F(DataSetDbTest, FieldsReadTypedValuesAndNulls) {
  auto cells = Table("CFGCELL");
  cells->Open();
  Locate(*cells, "CELLKEY", "1");
  EXPECT_EQ(cells->FieldByName("facilityid").AsString(), "MAIN");  // char(10), trimmed
  EXPECT_EQ(cells->FieldByName("CELLKEY").AsInteger(), 1);
  EXPECT_FALSE(cells->FieldByName("ALLOWMANY").AsBoolean());
  EXPECT_EQ(cells->FieldByName("NOTE").AsString(), "it's [x] 100%");
  EXPECT_EQ(cells->FieldByName("CELLNO").AsInteger(), 101);  // text holding a number
  EXPECT_EQ(cells->Fields(4).FieldName(), "CELLNO");
  double checked = cells->FieldByName("CHECKED").AsDateTime();
  EXPECT_NEAR(checked, 45356.0 + 14.5 / 24, 1e-6);  // 2024-03-05 14:30

  Locate(*cells, "CELLKEY", "3");
  EXPECT_EQ(cells->FieldByName("ALLOW").AsInteger(), 0);
  EXPECT_FALSE(cells->FieldByName("ALLOWMANY").AsBoolean());
  EXPECT_EQ(cells->FieldByName("CHECKED").AsDateTime(), 0.0);
  EXPECT_TRUE(cells->FieldByName("ONCELL").IsNull());
  EXPECT_EQ(cells->FieldByName("NOTE").AsString(), "trail");
  EXPECT_EQ(cells->FieldByName("CHECKED").AsString(), "");

  EXPECT_EQ(MessageOf([&] { cells->FieldByName("CHECKED").AsInteger(); }),
            "Cannot access field 'CHECKED' as type Integer");
  EXPECT_EQ(MessageOf([&] { cells->FieldByName("ONCELL").AsDateTime(); }),
            "Cannot access field 'ONCELL' as type DateTime");
  EXPECT_EQ(MessageOf([&] { cells->FieldByName("NOPE"); }), "Field 'NOPE' not found");
  EXPECT_EQ(cells->FindField("NOPE"), nullptr);
  EXPECT_THROW(cells->FieldByName("NOTE").AsInteger(), EConvertError);

  // Trimming follows the options for rows read afterwards.
  cells->Options().SetTrimVarChar(false);
  cells->Refresh();
  Locate(*cells, "CELLKEY", "3");
  EXPECT_EQ(cells->FieldByName("NOTE").AsString(), "trail  ");
}

TEST_F(DataSetDbTest, LargeObjectsAndWideTextArriveWhole) {
  auto notes = Table("NOTES");
  notes->Open();
  EXPECT_EQ(notes->FieldByName("BODY").AsString(), "a long body");
  EXPECT_EQ(notes->FieldByName("TITLE").AsString(), "caf\xC3\xA9");
}

// Rows arrive in blocks sized to the row: a result of several blocks comes whole and in
// order, and so do large objects longer than one piece with bound columns after them.
TEST_F(DataSetDbTest, ManyBlocksAndLargeObjectsArriveWholeAndInOrder) {
  const int rows = 5000;
  FServer->Exec("CREATE TABLE MANY (N INT NOT NULL, T VARCHAR(30) NULL)");
  for (int from = 0; from < rows; from += 1000) {
    std::string sql = "INSERT INTO MANY (N, T) VALUES ";
    for (int n = from; n < from + 1000; ++n)
      sql += (n > from ? ", (" : "(") + std::to_string(n) + ", " +
             (n % 7 == 0 ? std::string("NULL") : "'row " + std::to_string(n) + "'") + ")";
    FServer->Exec(sql);
  }
  auto many = Table("MANY");
  many->Open();
  ASSERT_EQ(many->RecordCount(), rows);
  int n = 0;
  for (many->First(); !many->Eof(); many->Next(), ++n) {
    ASSERT_EQ(many->FieldByName("N").AsInteger(), n);
    if (n % 7 == 0)
      ASSERT_TRUE(many->FieldByName("T").IsNull()) << n;
    else
      ASSERT_EQ(many->FieldByName("T").AsString(), "row " + std::to_string(n));
  }
  EXPECT_EQ(n, rows);

  std::string body;
  for (int k = 0; body.size() < 70000; ++k) body += "line " + std::to_string(k) + "\n";
  FServer->Exec(
      "CREATE TABLE LOBS (ID INT NOT NULL, BODY TEXT NULL, AFTER VARCHAR(10) NULL, "
      "N INT NULL)");
  FServer->Exec("INSERT INTO LOBS VALUES (1, '" + body +
                "', 'after', 10), (2, NULL, NULL, NULL), " + "(3, '', 'z', 30)");
  auto lobs = Table("LOBS");
  lobs->Open();
  ASSERT_EQ(lobs->RecordCount(), 3);
  EXPECT_EQ(lobs->FieldByName("BODY").AsString(), body);
  EXPECT_EQ(lobs->FieldByName("AFTER").AsString(), "after");
  EXPECT_EQ(lobs->FieldByName("N").AsInteger(), 10);
  lobs->Next();
  EXPECT_TRUE(lobs->FieldByName("BODY").IsNull());
  EXPECT_TRUE(lobs->FieldByName("AFTER").IsNull());
  EXPECT_TRUE(lobs->FieldByName("N").IsNull());
  lobs->Next();
  EXPECT_FALSE(lobs->FieldByName("BODY").IsNull());
  EXPECT_EQ(lobs->FieldByName("BODY").AsString(), "");
  EXPECT_EQ(lobs->FieldByName("AFTER").AsString(), "z");
  EXPECT_EQ(lobs->FieldByName("N").AsInteger(), 30);
}

TEST_F(DataSetDbTest, EditReReadsTheRowAndPostUpdatesOnlyWhatChanged) {
  auto cells = Table("CFGCELL");
  cells->Open();
  Locate(*cells, "CELLKEY", "2");
  // Another workstation changes the row after it was fetched.
  FServer->Exec("UPDATE CFGCELL SET ALLOW = 9 WHERE CELLKEY = 2");
  std::size_t mark = FServer->Mark();
  cells->Edit();
  EXPECT_EQ(cells->State(), TDataSetState::dsEdit);
  EXPECT_EQ(cells->FieldByName("ALLOW").AsInteger(), 9);  // the edit starts from the re-read
  cells->FieldByName("ONCELL").SetAsInteger(7);
  cells->FieldByName("ALLOW").SetAsInteger(0);
  cells->FieldByName("CELLKEY").SetAsInteger(2);  // the value it holds: no change
  cells->Post();
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(cells->FieldByName("ONCELL").AsInteger(), 7);
  if (FServer->HasLog()) {
    auto sent = FServer->Since(mark);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].Sql,
              "SELECT [FACILITYID] AS _1, [DORMCODE] AS _2, [CELLKEY] AS _3, [CELLNO] AS _4, "
              "[ALLOW] AS _5, [ALLOWMANY] AS _6, [ONCELL] AS _7, [NOTE] AS _8, [CHECKED] AS _9 "
              "FROM [CFGCELL]\r\nWHERE\r\n  [UniqueKey] = ?");
    EXPECT_EQ(sent[0].Params, std::vector<std::string>{"2"});
    EXPECT_EQ(
        sent[1].Sql,
        "UPDATE [CFGCELL]\r\nSET\r\n  [ALLOW] = ?, [ONCELL] = ?\r\nWHERE\r\n  [UniqueKey] = ?");
    EXPECT_EQ(sent[1].Params, (std::vector<std::string>{"0", "7", "2"}));
  }
  // What the server holds now, read by another dataset.
  auto check = Table("CFGCELL");
  check->Open();
  Locate(*check, "CELLKEY", "2");
  EXPECT_EQ(check->FieldByName("ONCELL").AsInteger(), 7);
  EXPECT_EQ(check->FieldByName("ALLOW").AsInteger(), 0);
}

TEST_F(DataSetDbTest, PostWithoutAChangeSendsNothing) {
  auto beds = Table("CFGBED");
  beds->SetRefreshOptions({});
  beds->Open();
  std::size_t mark = FServer->Mark();
  beds->Edit();
  beds->FieldByName("AVAILABLE").SetAsBoolean(beds->FieldByName("AVAILABLE").AsBoolean());
  beds->Post();
  EXPECT_EQ(beds->State(), TDataSetState::dsBrowse);
  if (FServer->HasLog()) {
    EXPECT_TRUE(FServer->SqlSince(mark).empty());
  }
}

TEST_F(DataSetDbTest, ValuesRoundTripUnchanged) {
  const std::string tricky[] = {"it's", "[a]]b", "100%", "caf\xC3\xA9 \xE2\x82\xAC", ""};
  auto cells = Table("CFGCELL");
  cells->Open();
  for (const std::string& v : tricky) {
    SCOPED_TRACE(v);
    Locate(*cells, "CELLKEY", "4");
    cells->Edit();
    cells->FieldByName("NOTE").SetAsString(v);
    cells->Post();
    cells->Refresh();
    Locate(*cells, "CELLKEY", "4");
    EXPECT_EQ(cells->FieldByName("NOTE").AsString(), v);
  }
  cells->Edit();
  cells->FieldByName("NOTE").Clear();
  cells->FieldByName("CHECKED").SetAsDateTime(45000.25);
  cells->Post();
  cells->Refresh();
  Locate(*cells, "CELLKEY", "4");
  EXPECT_TRUE(cells->FieldByName("NOTE").IsNull());
  EXPECT_NEAR(cells->FieldByName("CHECKED").AsDateTime(), 45000.25, 1e-7);
}

// Text outside ASCII and outside any one code page, in varchar and nvarchar columns filled
// to their declared size, written as parameters and as statement text and read back: on a
// workstation whose driver speaks the ANSI code page, a narrow path would garble all of it.
TEST_F(DataSetDbTest, TextOfAnyScriptRoundTripsThroughVarcharAndNvarchar) {
  FServer->Exec(
      "CREATE TABLE WORDS (K INT NOT NULL PRIMARY KEY, V VARCHAR(6) NULL, "
      "N NVARCHAR(6) NULL, L NVARCHAR(MAX) NULL)");
  // InVarchar: the server's code page (Windows-1252) holds the text, so a varchar keeps it;
  // otherwise the server itself puts "?" there and only the nvarchar columns are compared.
  struct TCase {
    const char* Name;
    std::string Text;
    bool InVarchar;
    int Chars;  // as the server counts them; -1: servers count a surrogate pair differently
  };
  const TCase cases[] = {
      {"Windows-1252 punctuation", "\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x82\xAC", true, 5},
      {"Latin letters", "\xC3\xA9t\xC3\xA9 \xC3\xBF", true, 5},
      {"Cyrillic", "\xD0\x9A\xD0\xBE\xD1\x80\xD0\xBF\xD1\x83\xD1\x81", false, 6},
      {"Japanese", "\xE3\x82\xBB\xE3\x83\xAB\xE6\xA3\x9F 1A", false, 6},
      {"outside the BMP", "\xF0\x9F\x94\x92 A", false, -1},
  };
  const std::string longText = std::string(40000, 'x') + "\xD0\x96\xF0\x9F\x94\x92";
  int key = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ++key;
    const std::size_t mark = FServer->Mark();
    FConn->ExecSQL("INSERT INTO WORDS (K, V, N, L) VALUES (:k, :v, :n, :l)",
                   {TDbValue::Integer(key), TDbValue::Text(c.Text), TDbValue::Text(c.Text),
                    TDbValue::Text(c.Text + longText)});
    // The same text inside the statement itself.
    const std::string literal = "UPDATE WORDS SET V = N'" + c.Text + "', N = N'" + c.Text +
                                "' WHERE K = " + std::to_string(key);
    FConn->ExecSQL(literal);
    if (FServer->HasLog()) {
      const auto sent = FServer->Since(mark);
      ASSERT_EQ(sent.size(), 2u);
      ASSERT_EQ(sent[0].Params.size(), 4u);
      EXPECT_EQ(sent[0].Params[1], c.Text);
      EXPECT_EQ(sent[0].Params[2], c.Text);
      EXPECT_EQ(sent[1].Sql, literal);
    }
  }
  auto words = Table("WORDS");
  words->Open();
  key = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Locate(*words, "K", std::to_string(++key));
    if (c.InVarchar) {
      EXPECT_EQ(words->FieldByName("V").AsString(), c.Text);
    }
    EXPECT_EQ(words->FieldByName("N").AsString(), c.Text);
    EXPECT_EQ(words->FieldByName("L").AsString(), c.Text + longText);
  }
  // Text garbled on its way in can read back unchanged through the same garbling path; the
  // server's own count of what it stored cannot.
  TMSQuery counts(nullptr);
  counts.SetConnection(FConn.get());
  counts.SQL().Add("SELECT K, LEN(N) AS NCHARS FROM WORDS ORDER BY K");
  counts.Open();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_FALSE(counts.Eof());
    if (c.Chars >= 0) {
      EXPECT_EQ(counts.FieldByName("NCHARS").AsInteger(), c.Chars);
    }
    counts.Next();
  }
}

TEST_F(DataSetDbTest, KeysArePickedInOrderOfPreference) {
  struct TCase {
    const char* Table;
    const char* KeyFields;
    const char* Where;  // the WHERE lines of the UPDATE
  };
  const TCase cases[] = {
      {"CFGBED", "", "[UniqueKey] = ?"},                             // identity
      {"CFGBED", "CELLKEY;BEDNO", "[CELLKEY] = ? AND [BEDNO] = ?"},  // named
      {"PKONLY", "", "[A] = ?"},                                     // primary key from the driver
      {"NOKEY", "", "[K] = ? AND [V] = ?"},                          // every column
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Table);
    auto t = Table(c.Table);
    t->SetRefreshOptions({});
    t->SetKeyFields(c.KeyFields);
    t->Open();
    t->Edit();
    TField& last = t->Fields(t->FieldCount() - 1);
    if (last.DataType() == TFieldType::ftBoolean)
      last.SetAsBoolean(!last.AsBoolean());
    else if (last.DataType() == TFieldType::ftInteger)
      last.SetAsInteger(last.AsInteger() + 100);
    else
      last.SetAsString(last.AsString() + "!");
    std::size_t mark = FServer->Mark();
    t->Post();
    if (FServer->HasLog()) {
      auto sent = FServer->SqlSince(mark);
      ASSERT_FALSE(sent.empty());
      std::string where = sent.back().substr(sent.back().find("WHERE\r\n  ") + 9);
      EXPECT_EQ(where, c.Where);
    }
  }
  auto bad = Table("CFGBED");
  bad->SetKeyFields("NOPE");
  bad->Open();
  EXPECT_EQ(MessageOf([&] { bad->Edit(); }), "Field NOPE not found");
  EXPECT_EQ(bad->State(), TDataSetState::dsBrowse);
}

TEST_F(DataSetDbTest, ANullKeyIsMatchedWithIsNull) {
  auto t = Table("NOKEY");
  t->Open();
  Locate(*t, "V", "2");
  std::size_t mark = FServer->Mark();
  t->Edit();
  t->FieldByName("V").SetAsInteger(3);
  t->Post();
  if (FServer->HasLog()) {
    // Without an identity column the driver is asked for the primary key first (once).
    auto sent = FServer->Since(mark);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].Proc, "sp_pkeys");
    EXPECT_EQ(sent[1].Sql,
              "SELECT [K] AS _0, [V] AS _1 FROM [NOKEY]\r\nWHERE\r\n  [K] IS NULL AND [V] = ?");
    EXPECT_EQ(sent[2].Sql,
              "UPDATE [NOKEY]\r\nSET\r\n  [V] = ?\r\nWHERE\r\n  [K] IS NULL AND [V] = ?");
    EXPECT_EQ(sent[2].Params, (std::vector<std::string>{"3", "2"}));
  }
}

TEST_F(DataSetDbTest, ARowGoneFromTheServerFailsTheEditOrThePost) {
  auto beds = Table("CFGBED");
  beds->Open();
  Locate(*beds, "BEDDESC", "Upper");
  beds->Edit();
  beds->FieldByName("AVAILABLE").SetAsBoolean(false);
  FServer->Exec("DELETE FROM CFGBED WHERE BEDDESC = 'Upper'");
  EXPECT_EQ(MessageOf([&] { beds->Post(); }), "Update failed. Found 0 records");
  EXPECT_EQ(beds->State(), TDataSetState::dsEdit);
  EXPECT_FALSE(beds->FieldByName("AVAILABLE").AsBoolean());  // the caller's value stays
  beds->Cancel();

  // The re-read finds no row: the edit fails and the row leaves the client copy.
  int before = beds->RecordCount();
  EXPECT_EQ(MessageOf([&] { beds->Edit(); }), "Refresh failed. Found 0 records");
  EXPECT_EQ(beds->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(beds->RecordCount(), before - 1);
}

TEST_F(DataSetDbTest, ErrorHandlersFailAbortOrRetry) {
  auto beds = Table("CFGBED");
  beds->Options().SetRemoveOnRefresh(false);
  beds->Open();
  Locate(*beds, "BEDDESC", "Single");
  FServer->Exec("DELETE FROM CFGBED WHERE BEDDESC = 'Single'");
  int calls = 0;
  beds->OnEditError = [&](TCustomMSDataSet&, EDatabaseError& e, TDataAction& action) {
    EXPECT_EQ(e.Message(), "Refresh failed. Found 0 records");
    action = ++calls < 3 ? TDataAction::daRetry : TDataAction::daFail;
  };
  EXPECT_THROW(beds->Edit(), EDatabaseError);
  EXPECT_EQ(calls, 3);
  beds->OnEditError = [](TCustomMSDataSet&, EDatabaseError&, TDataAction& action) {
    action = TDataAction::daAbort;
  };
  EXPECT_THROW(beds->Edit(), EAbort);
  EXPECT_EQ(beds->State(), TDataSetState::dsBrowse);
}

// Records the state at each overridable step, as the lockable datasets see it.
class TStepTable : public TMSTable {
 public:
  using TMSTable::TMSTable;
  std::vector<std::string> Log;

 protected:
  void InternalEdit() override {
    Log.push_back("edit:" + StateName());
    TMSTable::InternalEdit();
  }
  void InternalPost() override {
    Log.push_back("post:" + StateName());
    TMSTable::InternalPost();
  }
  void InternalCancel() override {
    Log.push_back("cancel:" + StateName());
    TMSTable::InternalCancel();
  }
  void InternalClose() override {
    Log.push_back("close:" + StateName());
    TMSTable::InternalClose();
  }

 private:
  std::string StateName() const {
    switch (State()) {
      case TDataSetState::dsInactive:
        return "inactive";
      case TDataSetState::dsBrowse:
        return "browse";
      case TDataSetState::dsEdit:
        return "edit";
      case TDataSetState::dsInsert:
        return "insert";
    }
    return "?";
  }
};

TEST_F(DataSetDbTest, StepsRunAtTheirFixedPointsBetweenTheEvents) {
  TStepTable t(nullptr);
  t.SetConnection(FConn.get());
  t.SetTableName("CFGBED");
  auto note = [&t](const char* AName) {
    return [&t, AName](TCustomMSDataSet&) { t.Log.push_back(AName); };
  };
  t.BeforeEdit = note("BeforeEdit");
  t.AfterEdit = note("AfterEdit");
  t.BeforePost = note("BeforePost");
  t.AfterPost = note("AfterPost");
  t.BeforeCancel = note("BeforeCancel");
  t.AfterCancel = note("AfterCancel");
  t.BeforeClose = note("BeforeClose");
  t.AfterClose = note("AfterClose");
  t.Open();
  t.Edit();
  t.Edit();  // already editing: nothing happens
  t.FieldByName("BEDNO").SetAsInteger(9);
  t.Post();
  t.Edit();
  t.Close();  // an edit in progress is cancelled first
  EXPECT_EQ(t.Log,
            (std::vector<std::string>{"BeforeEdit", "edit:browse", "AfterEdit", "BeforePost",
                                      "post:edit", "AfterPost", "BeforeEdit", "edit:browse",
                                      "AfterEdit", "BeforeCancel", "cancel:edit", "AfterCancel",
                                      "BeforeClose", "close:inactive", "AfterClose"}));
}

TEST_F(DataSetDbTest, ReadOnlyAndStateRules) {
  auto beds = Table("CFGBED");
  beds->SetReadOnly(true);
  beds->Open();
  EXPECT_EQ(MessageOf([&] { beds->Edit(); }), "Cannot modify a read-only dataset");
  beds->SetReadOnly(false);
  EXPECT_EQ(MessageOf([&] { beds->FieldByName("BEDNO").SetAsInteger(1); }),
            "Dataset not in edit or insert mode");
  EXPECT_EQ(MessageOf([&] { beds->Post(); }), "Dataset not in edit or insert mode");
  beds->Edit();
  beds->SetReadOnly(true);
  EXPECT_EQ(MessageOf([&] { beds->Post(); }), "Cannot modify a read-only dataset");
}

TEST_F(DataSetDbTest, RefreshStandsOnTheSameRowOrTheFirst) {
  auto beds = Table("CFGBED");
  beds->Open();
  Locate(*beds, "BEDDESC", "Upper");
  FServer->Exec("UPDATE CFGBED SET BEDDESC = 'Top' WHERE BEDDESC = 'Upper'");
  beds->Refresh();
  EXPECT_EQ(beds->FieldByName("BEDDESC").AsString(), "Top");
  FServer->Exec("DELETE FROM CFGBED WHERE BEDDESC = 'Top'");
  beds->Refresh();
  EXPECT_EQ(beds->RecNo(), 0);
  EXPECT_EQ(beds->RecordCount(), 2);

  // A pending edit with a change is posted first.
  beds->Edit();
  beds->FieldByName("BEDNO").SetAsInteger(42);
  beds->Refresh();
  EXPECT_EQ(beds->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(beds->FieldByName("BEDNO").AsInteger(), 42);
}

TEST_F(DataSetDbTest, ThePassStatementPatternCostsOneBatchEach) {
  TMSQuery q(nullptr);
  std::size_t mark = FServer->Mark();
  for (int cell = 1; cell <= 3; ++cell) {
    q.Close();
    q.SetConnection(FConn.get());
    q.UnPrepare();
    q.SQL().Clear();
    q.SQL().Add("SELECT Count(CELLKEY) FROM CFGBED WHERE CELLKEY = " + std::to_string(cell));
    q.Prepare();
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), cell == 1 ? 2 : cell == 2 ? 1 : 0);
    q.Close();
  }
  if (FServer->HasLog()) {
    auto sent = FServer->Since(mark);
    ASSERT_EQ(sent.size(), 3u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(sent[static_cast<std::size_t>(k)].Batch)
          << sent[static_cast<std::size_t>(k)].Proc;
      EXPECT_EQ(
          sent[static_cast<std::size_t>(k)].Sql,
          "SELECT Count(CELLKEY) FROM CFGBED WHERE CELLKEY = " + std::to_string(k + 1) + "\r\n");
    }
  }
}

TEST_F(DataSetDbTest, APlainDataSetReportsTheTableOfItsStatement) {
  std::unique_ptr<TCustomMSDataSet> ds(FConn->CreateDataSet(nullptr));
  ds->SetReadOnly(true);
  ds->SQL().SetText("SELECT BEDDESC FROM CFGBED (readuncommitted) WHERE CELLKEY = 1");
  ds->Open();
  EXPECT_EQ(ds->ReportedTableName(), "CFGBED");
  EXPECT_EQ(ds->FieldByName("BEDDESC").AsString(), "Lower");
  ds->Next();
  EXPECT_EQ(ds->FieldByName("BEDDESC").AsString(), "Upper");
  ds->Next();
  EXPECT_TRUE(ds->Eof());
}

TEST(DataSetFaultTest, AServerThatGoesAwayMidStatementLeavesTheDataSetClosed) {
  // The session is dropped at its third statement: the lock time-out, then one good open.
  TTestServer server(kJailScript, kJailTables, {"drop-after:2"});
  if (!server.HasLog()) GTEST_SKIP() << "needs the stand-in's faults";
  auto conn = server.NewConnection();
  TMSTable t(nullptr);
  t.SetConnection(conn.get());
  t.SetTableName("CFGCELL");
  t.Open();
  t.Close();
  EXPECT_THROW(t.Open(), EDatabaseError);
  EXPECT_FALSE(t.Active());
}

}  // namespace
}  // namespace bunkmere::testing
