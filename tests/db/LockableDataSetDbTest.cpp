// The family's table and query: which operation takes and releases the row's lock, in which
// state, and what reaches the server around the edit itself.

#include <gtest/gtest.h>

#include "DbTestServer.h"
#include "core/Exceptions.h"
#include "db/VtMSAccess.h"

namespace bunkmere::testing {
namespace {

const std::string kCell1 = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]";
const std::string kCreate1 = LockTableCreateStatement(kCell1);

// The release names the object id the lock table got at its creation.
bool IsDrop1(const std::string& ASql) {
  const std::string head = "IF OBJECT_ID(N'" + kCell1 + "') = -";
  const std::string tail = " DROP TABLE " + kCell1;
  if (ASql.size() <= head.size() + tail.size() || ASql.rfind(head, 0) != 0 ||
      ASql.compare(ASql.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  const std::string id = ASql.substr(head.size(), ASql.size() - head.size() - tail.size());
  return id.find_first_not_of("0123456789") == std::string::npos;
}
bool OnlyDrop1(const std::vector<std::string>& ASent) {
  return ASent.size() == 1 && IsDrop1(ASent[0]);
}
const std::string kReRead1 =
    "SELECT [CELLNO] AS _1, [ONCELL] AS _2 FROM [CFGCELL]\r\nWHERE\r\n  [UniqueKey] = @P1";

bool IsHolderInsert(const std::string& ASql) {
  return ASql.rfind("INSERT INTO " + kCell1, 0) == 0;
}

// What the statements were, by kind, so the order of lock steps reads at a glance.
std::vector<std::string> Kinds(const std::vector<std::string>& ASent) {
  std::vector<std::string> out;
  for (const std::string& s : ASent) {
    if (s.rfind("CREATE TABLE [tempdb]", 0) == 0)
      out.push_back("lock");
    else if (s.rfind("INSERT INTO [tempdb]", 0) == 0)
      out.push_back("holder");
    else if (s.rfind("SELECT OBJECT_ID(N'[tempdb]", 0) == 0)
      out.push_back("lock id");
    else if (s.rfind("IF OBJECT_ID(N'[tempdb]", 0) == 0 &&
             s.find(" DROP TABLE [tempdb]") != std::string::npos)
      out.push_back("release");
    else if (s.rfind("SELECT * FROM [tempdb]", 0) == 0)
      out.push_back("read holder");
    else if (s.find(" AS _") != std::string::npos)
      out.push_back("re-read");
    else if (s.rfind("UPDATE", 0) == 0)
      out.push_back("update");
    else if (s.rfind("DELETE", 0) == 0)
      out.push_back("delete");
    else if (s.rfind("INSERT", 0) == 0)
      out.push_back("insert");
    else
      out.push_back(s);
  }
  return out;
}
using Steps = std::vector<std::string>;

class LockableDataSetDbTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped()) return;
    FServer = std::make_unique<TDbTestServer>(Faults());
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
  virtual std::vector<std::string> Faults() const { return {}; }

  std::unique_ptr<TVtMSTable> Cells(TMSConnection* AConnection = nullptr) {
    auto t = std::make_unique<TVtMSTable>(nullptr);
    t->SetConnection(AConnection != nullptr ? AConnection : FConn.get());
    t->SetTableName("CFGCELL");
    t->Open();
    return t;
  }
  Steps StepsSince(std::size_t AMark) const { return Kinds(FServer->SqlSince(AMark)); }
  // Holds the lock of cell 1 from another connection until the returned table goes.
  std::unique_ptr<TVtMSTable> HoldCell1Elsewhere() {
    FOther = FServer->NewConnection();
    auto t = Cells(FOther.get());
    t->Edit();
    return t;
  }

  std::unique_ptr<TDbTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
  std::unique_ptr<TMSConnection> FOther;
};

TEST_F(LockableDataSetDbTest, FamilyDefaultsAndTheSwitchsTwoNames) {
  TVtMSTable table(nullptr);
  TVtMSQuery query(nullptr);
  for (TCustomMSDataSet* ds :
       {static_cast<TCustomMSDataSet*>(&table), static_cast<TCustomMSDataSet*>(&query)}) {
    EXPECT_EQ(ds->RefreshOptions(), TRefreshOptions{TRefreshOption::roBeforeEdit});
    EXPECT_TRUE(ds->Options().QuoteNames());
    EXPECT_TRUE(ds->Options().TrimVarChar());
    EXPECT_TRUE(ds->Options().TrimFixedChar());  // the others keep the layer's defaults
    EXPECT_FALSE(ds->Options().UpdateAllFields());
  }
  EXPECT_TRUE(table.RecordLocksMake());
  table.SetRecordLocksCheck(false);
  EXPECT_FALSE(table.RecordLocksMake());
  table.SetRecordLocksMake(true);
  EXPECT_TRUE(table.RecordLocksCheck());
  EXPECT_EQ(table.VtVersion(), "2.1");
  EXPECT_EQ(query.VtVersion(), "2.1");
  EXPECT_EQ(table.LockTableName(), "");
}

TEST_F(LockableDataSetDbTest, EditTakesTheLockBeforeTheReReadAndPostOrCancelReleaseIt) {
  auto cells = Cells();
  std::size_t mark = FServer->Mark();
  cells->Edit();
  EXPECT_EQ(cells->LockTableName(), kCell1);
  const std::vector<std::string> sent = FServer->SqlSince(mark);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0], kCreate1);
  EXPECT_EQ(sent[1], "SELECT OBJECT_ID(N'" + kCell1 + "')");
  EXPECT_TRUE(IsHolderInsert(sent[2]));
  EXPECT_EQ(sent[3], kReRead1);

  cells->FieldByName("ONCELL").SetAsInteger(7);
  mark = FServer->Mark();
  cells->Post();
  EXPECT_EQ(StepsSince(mark), (Steps{"update", "release"}));
  EXPECT_EQ(cells->LockTableName(), "");

  mark = FServer->Mark();
  cells->Edit();
  cells->Cancel();
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "lock id", "holder", "re-read", "release"}));

  // A post that changed nothing writes nothing but still releases.
  mark = FServer->Mark();
  cells->Edit();
  cells->Post();
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "lock id", "holder", "re-read", "release"}));

  // Edit while editing changes nothing.
  cells->Edit();
  mark = FServer->Mark();
  cells->Edit();
  EXPECT_TRUE(FServer->SqlSince(mark).empty());
  cells->Cancel();
}

TEST_F(LockableDataSetDbTest, ARefusedEditReachesTheEditErrorHandlerAndStaysInBrowse) {
  FPlatform.SetUserName("jdoe");
  auto held = HoldCell1Elsewhere();
  FPlatform.SetUserName(kUser);
  auto cells = Cells();
  int afterEdit = 0, handled = 0;
  std::string holderSeen;
  cells->AfterEdit = [&](TCustomMSDataSet&) { ++afterEdit; };
  cells->OnEditError = [&](TCustomMSDataSet&, EDatabaseError& e, TDataAction& action) {
    ++handled;
    if (auto* lock = dynamic_cast<EVtDBLockError*>(&e)) holderSeen = lock->UserName();
    action = TDataAction::daFail;
  };
  std::size_t mark = FServer->Mark();
  EXPECT_THROW(cells->Edit(), EVtDBLockError);
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(holderSeen, "jdoe");
  EXPECT_EQ(afterEdit, 0);
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(cells->LockTableName(), "");
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "read holder"}));

  // Asking for a retry runs the lock attempt again; here the holder lets go in between.
  cells->OnEditError = [&](TCustomMSDataSet&, EDatabaseError&, TDataAction& action) {
    held->Cancel();
    action = TDataAction::daRetry;
  };
  cells->Edit();
  EXPECT_EQ(cells->State(), TDataSetState::dsEdit);
  EXPECT_EQ(cells->LockTableName(), kCell1);
}

TEST_F(LockableDataSetDbTest, AReReadThatFailsGivesTheLockBackAtOnce) {
  auto cells = Cells();
  FServer->Exec("DELETE FROM CFGCELL WHERE UniqueKey = 1");
  std::size_t mark = FServer->Mark();
  try {
    cells->Edit();
    ADD_FAILURE() << "edited a vanished row";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Refresh failed. Found 0 records");
  }
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "lock id", "holder", "re-read", "release"}));
  EXPECT_EQ(cells->LockTableName(), "");
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
}

TEST_F(LockableDataSetDbTest, DeleteLocksAroundTheDeletionAndIsRefusedWhileAnotherHolds) {
  auto cells = Cells();
  std::size_t mark = FServer->Mark();
  cells->Delete();
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "lock id", "holder", "delete", "release"}));
  EXPECT_EQ(cells->LockTableName(), "");
  EXPECT_EQ(FServer->CountRows("SELECT * FROM CFGCELL"), 2);

  // Cell 2 is now current; another program holds it.
  FOther = FServer->NewConnection();
  auto theirs = Cells(FOther.get());
  ASSERT_EQ(theirs->FieldByName("UniqueKey").AsInteger(), 2);
  theirs->Edit();
  mark = FServer->Mark();
  EXPECT_THROW(cells->Delete(), EVtDBLockError);
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "read holder"}));
  EXPECT_EQ(FServer->CountRows("SELECT * FROM CFGCELL"), 2);
}

TEST_F(LockableDataSetDbTest, DeleteWhileEditingTheRowDeletesItUnderOneLockAtATime) {
  auto cells = Cells();
  cells->Edit();
  std::size_t mark = FServer->Mark();
  cells->Delete();
  // The pending edit ends (nothing changed: cancelled), its lock goes, and the deletion takes
  // the row's lock afresh instead of meeting its own lock table.
  EXPECT_EQ(StepsSince(mark), (Steps{"release", "lock", "lock id", "holder", "delete", "release"}));
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(cells->LockTableName(), "");
  EXPECT_EQ(FServer->CountRows("SELECT * FROM CFGCELL WHERE UniqueKey = 1"), 0);
}

TEST_F(LockableDataSetDbTest, InsertsTakeNoLock) {
  auto cells = Cells();
  std::size_t mark = FServer->Mark();
  cells->Insert();
  cells->FieldByName("CELLNO").SetAsString("104");
  cells->Post();
  cells->Append();
  cells->Cancel();
  EXPECT_EQ(StepsSince(mark), (Steps{"insert"}));

  // Edit on an empty dataset is an insert too.
  auto keys = std::make_unique<TVtMSTable>(nullptr);
  keys->SetConnection(FConn.get());
  keys->SetTableName("KEYS");
  keys->Open();
  mark = FServer->Mark();
  keys->Edit();
  EXPECT_EQ(keys->State(), TDataSetState::dsInsert);
  keys->Cancel();
  EXPECT_TRUE(FServer->SqlSince(mark).empty());
}

TEST_F(LockableDataSetDbTest, ClosingOrFreeingAnEditingDatasetReleasesTheLockOnce) {
  auto cells = Cells();
  cells->Edit();
  std::size_t mark = FServer->Mark();
  cells->Close();
  EXPECT_TRUE(OnlyDrop1(FServer->SqlSince(mark)));

  cells->Open();
  cells->Edit();
  mark = FServer->Mark();
  cells.reset();
  EXPECT_TRUE(OnlyDrop1(FServer->SqlSince(mark)));

  // Freeing the connection first closes its datasets while the session is still there.
  auto owned = Cells();
  owned->Edit();
  mark = FServer->Mark();
  FConn.reset();
  EXPECT_TRUE(OnlyDrop1(FServer->SqlSince(mark)));
  EXPECT_EQ(owned->Connection(), nullptr);
}

TEST_F(LockableDataSetDbTest, WithTheSwitchOffNothingIsLockedAndIsLockedIsFalse) {
  auto held = HoldCell1Elsewhere();
  auto cells = Cells();
  cells->SetRecordLocksMake(false);
  std::size_t mark = FServer->Mark();
  EXPECT_FALSE(cells->IsLocked());
  cells->Edit();  // the other program's lock is not even asked about
  EXPECT_FALSE(cells->IsLocked());
  cells->Cancel();
  cells->Close();
  EXPECT_EQ(StepsSince(mark), (Steps{"re-read"}));
}

TEST_F(LockableDataSetDbTest, ALockHeldWhenTheSwitchWentOffIsReleasedWhenItIsBackOn) {
  auto cells = Cells();
  cells->Edit();
  cells->SetRecordLocksMake(false);
  cells->Cancel();
  EXPECT_EQ(cells->LockTableName(), kCell1);  // still held
  cells->SetRecordLocksMake(true);
  cells->Next();
  std::size_t mark = FServer->Mark();
  cells->Edit();  // another row: the old lock goes first, so one dataset never holds two
  const std::vector<std::string> sent = FServer->SqlSince(mark);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_TRUE(IsDrop1(sent[0])) << sent[0];
  EXPECT_EQ(cells->LockTableName(), "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.2]");
  cells->Cancel();
}

TEST_F(LockableDataSetDbTest, AFailedPostKeepsTheLockUntilCancel) {
  auto cells = Cells();
  cells->Edit();
  // The row is gone by the time it is written.
  FServer->Exec("DELETE FROM CFGCELL WHERE UniqueKey = 1");
  cells->FieldByName("ONCELL").SetAsInteger(9);
  EXPECT_THROW(cells->Post(), EDatabaseError);
  EXPECT_EQ(cells->State(), TDataSetState::dsEdit);
  EXPECT_EQ(cells->LockTableName(), kCell1);
  std::size_t mark = FServer->Mark();
  cells->Cancel();
  EXPECT_TRUE(OnlyDrop1(FServer->SqlSince(mark)));
}

TEST_F(LockableDataSetDbTest, IsLockedProbesWithItsEventsAndLeavesBrowseState) {
  auto cells = Cells();
  std::vector<std::string> events;
  cells->BeforeEdit = [&](TCustomMSDataSet&) { events.push_back("BeforeEdit"); };
  cells->AfterEdit = [&](TCustomMSDataSet&) { events.push_back("AfterEdit"); };
  cells->BeforeCancel = [&](TCustomMSDataSet&) { events.push_back("BeforeCancel"); };
  cells->AfterCancel = [&](TCustomMSDataSet&) { events.push_back("AfterCancel"); };
  std::size_t mark = FServer->Mark();
  EXPECT_FALSE(cells->IsLocked());
  EXPECT_EQ(events,
            (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}));
  EXPECT_EQ(StepsSince(mark), (Steps{"lock", "lock id", "holder", "re-read", "release"}));
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);

  cells->Edit();
  EXPECT_TRUE(cells->IsLocked());  // its own edit
  cells->Cancel();

  auto held = HoldCell1Elsewhere();
  events.clear();
  EXPECT_TRUE(cells->IsLocked());
  EXPECT_EQ(events, std::vector<std::string>{"BeforeEdit"});
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(cells->LockTableName(), "");
}

TEST_F(LockableDataSetDbTest, TablesWithoutAUniqueKeyEditWithoutLocks) {
  TVtMSTable nokey(nullptr);
  nokey.SetConnection(FConn.get());
  nokey.SetTableName("NOKEY");
  nokey.Open();
  std::size_t mark = FServer->Mark();
  nokey.Edit();
  nokey.FieldByName("V").SetAsInteger(5);
  nokey.Post();
  for (const std::string& s : Kinds(FServer->SqlSince(mark))) {
    EXPECT_NE(s, "lock");
    EXPECT_NE(s, "release");
  }
  EXPECT_EQ(nokey.LockTableName(), "");
}

TEST_F(LockableDataSetDbTest, AQueryLocksUnderTheTableItsRowsAreWrittenTo) {
  auto held = HoldCell1Elsewhere();
  TVtMSQuery query(nullptr);
  query.SetConnection(FConn.get());
  query.SQL().SetText("SELECT * FROM CFGCELL ORDER BY UniqueKey");
  query.Open();
  EXPECT_TRUE(query.IsLocked());
  EXPECT_THROW(query.Edit(), EVtDBLockError);
  query.Next();
  query.Edit();
  EXPECT_EQ(query.LockTableName(), "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.2]");
  query.Cancel();
}

}  // namespace
}  // namespace bunkmere::testing
