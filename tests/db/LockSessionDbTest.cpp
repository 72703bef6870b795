// A record lock belongs to the server session that created it. After the connection is
// opened again, the old session's locks are gone: a dataset that still names one must neither
// drop a table of that name (it may be another holder's now) nor edit or write as if it held
// it.

#include <gtest/gtest.h>

#include "DbTestServer.h"
#include "core/Exceptions.h"
#include "db/VtMSAccess.h"

namespace bunkmere::testing {
namespace {

const std::string kCell1 = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]";

class LockSessionDbTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped()) return;
    FServer = std::make_unique<TDbTestServer>();
    FConn = FServer->NewConnection();
    FConn->Connect();
    FOther = FServer->NewConnection();
    FOther->Connect();
  }
  // The cells table open on AConnection (the fixture's own by default).
  std::unique_ptr<TVtMSTable> Cells(TMSConnection* AConnection = nullptr) {
    auto t = std::make_unique<TVtMSTable>(nullptr);
    t->SetConnection(AConnection != nullptr ? AConnection : FConn.get());
    t->SetTableName("CFGCELL");
    t->Open();
    return t;
  }
  // Another program takes cell 1's lock, as the family's programs do.
  void OtherTakesCell1() { FOther->ExecSQL(LockTableCreateStatement(kCell1)); }
  bool OtherStillHoldsCell1() {
    try {
      FOther->ExecSQL("SELECT * FROM " + kCell1);
      return true;
    } catch (const EDatabaseError&) {
      return false;
    }
  }
  std::string OnCellOnServer() {
    std::unique_ptr<TCustomMSDataSet> q(FOther->CreateDataSet(nullptr));
    q->SQL().SetText("SELECT ONCELL FROM CFGCELL WHERE UniqueKey = 1");
    q->Open();
    return q->Fields(0).AsString();
  }

  std::unique_ptr<TDbTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn, FOther;
};

// A lock name kept over a reconnect (the switch was off when the edit ended) guards nothing:
// releasing it must not drop the other holder's table, and editing the row again must ask
// the server, which refuses.
TEST_F(LockSessionDbTest, ANameFromAnEarlierSessionIsForgottenNotDroppedNorTrusted) {
  auto cells = Cells();
  cells->Edit();
  ASSERT_EQ(cells->LockTableName(), kCell1);
  cells->SetRecordLocksMake(false);
  cells->Cancel();  // with the switch off, the name stays
  FConn->Disconnect();
  FConn->Connect();
  ASSERT_EQ(cells->LockTableName(), kCell1);
  OtherTakesCell1();

  cells->SetRecordLocksMake(true);
  cells->Open();
  EXPECT_THROW(cells->Edit(), EVtDBLockError);
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(OtherStillHoldsCell1());
  cells->Close();  // the close step releases whatever the dataset names
  EXPECT_TRUE(OtherStillHoldsCell1());
  EXPECT_EQ(cells->LockTableName(), "");
}

// An edit that outlived its session (its cancel failed while the connection was closed) takes
// the lock again before its post writes anything; refused, it stays in edit and writes nothing.
// Taken again, it re-reads the row: a row another program changed while the lock was away is
// not written over (the edit goes on, its values kept); an unchanged row is written.
TEST_F(LockSessionDbTest, APostWhoseLockWentWithTheSessionTakesItAgainFirst) {
  struct Case {
    const char* What;
    const char* OtherChange;  // run by the other program while it holds the lock; may be empty
    const char* Expected;     // ONCELL on the server after the post
  } cases[] = {
      {"nobody changed the row", "", "77"},
      {"the other program changed it", "UPDATE CFGCELL SET ONCELL = 5 WHERE UniqueKey = 1", "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    FOther->ExecSQL("UPDATE CFGCELL SET ONCELL = 3 WHERE UniqueKey = 1");
    auto cells = Cells();
    cells->Edit();
    cells->FieldByName("ONCELL").SetAsInteger(77);
    cells->BeforeCancel = [](TCustomMSDataSet&) { throw Exception("cancel refused"); };
    EXPECT_THROW(FConn->Disconnect(), Exception);
    ASSERT_EQ(cells->State(), TDataSetState::dsEdit);
    cells->BeforeCancel = nullptr;
    FConn->Connect();
    OtherTakesCell1();

    EXPECT_THROW(cells->Post(), EVtDBLockError);
    EXPECT_EQ(cells->State(), TDataSetState::dsEdit);
    EXPECT_EQ(OnCellOnServer(), "3");
    EXPECT_TRUE(OtherStillHoldsCell1());

    if (*c.OtherChange) FOther->ExecSQL(c.OtherChange);
    FOther->ExecSQL("DROP TABLE " + kCell1);
    if (*c.OtherChange) {
      try {
        cells->Post();
        ADD_FAILURE() << "the post wrote over the other program's change";
      } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "The record was changed by another user; edit it again");
      }
      EXPECT_EQ(cells->State(), TDataSetState::dsEdit);
      EXPECT_EQ(cells->FieldByName("ONCELL").AsInteger(), 77);
      cells->Cancel();
    } else {
      cells->Post();
    }
    EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(OnCellOnServer(), c.Expected);
    EXPECT_EQ(cells->LockTableName(), "");
    FOther->ExecSQL(LockTableCreateStatement(kCell1));  // released: free to take
    FOther->ExecSQL("DROP TABLE " + kCell1);
  }
}

// A lock whose DROP the server refuses twice on a live session must not keep every other
// program out of the row until Bunkmere ends: the session is ended (the server drops its lock
// tables with it), and the connection opens a new one at its next use.
TEST_F(LockSessionDbTest, ALockThatCannotBeDroppedGoesWithItsSession) {
  TDbTestServer server(
      {"fail:1222:DROP TABLE " + kCell1 + "|Lock request time out period exceeded."});
  auto conn = server.NewConnection();
  conn->Connect();
  auto table = Cells(conn.get());
  TVtMSTable& cells = *table;
  cells.Edit();
  ASSERT_EQ(cells.LockTableName(), kCell1);
  cells.Cancel();
  EXPECT_EQ(cells.LockTableName(), "");
  // Another program can take the row now (a CREATE of a name that exists fails), and this
  // connection still works, on a new session.
  auto other = server.NewConnection();
  other->Connect();
  EXPECT_NO_THROW(other->ExecSQL(LockTableCreateStatement(kCell1)));
  EXPECT_THROW(cells.Edit(), EVtDBLockError);
  cells.Refresh();
  EXPECT_FALSE(cells.IsEmpty());
}

// Someone dropped our lock table while we edited and another program took the row under the
// same name: our release, whether its DROP goes through or fails twice and ends the session,
// must leave that program's lock in place.
TEST_F(LockSessionDbTest, AReleaseNeverDropsALockAnotherProgramTookUnderTheSameName) {
  const struct {
    const char* Name;
    std::vector<std::string> Faults;
  } cases[] = {
      {"the DROP runs", {}},
      {"the DROP fails twice",
       {"fail:1222:IF OBJECT_ID(N'" + kCell1 + "')|Lock request time out period exceeded."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TDbTestServer server(c.Faults);
    auto conn = server.NewConnection();
    conn->Connect();
    auto table = Cells(conn.get());
    TVtMSTable& cells = *table;
    cells.Edit();
    ASSERT_EQ(cells.LockTableName(), kCell1);

    auto other = server.NewConnection();
    other->Connect();
    other->ExecSQL("DROP TABLE " + kCell1);
    other->ExecSQL(LockTableCreateStatement(kCell1));
    cells.Cancel();
    EXPECT_EQ(cells.LockTableName(), "");
    EXPECT_NO_THROW(other->ExecSQL("SELECT * FROM " + kCell1)) << "the other program's lock went";
    EXPECT_THROW(cells.Edit(), EVtDBLockError);
  }
}

}  // namespace
}  // namespace bunkmere::testing
