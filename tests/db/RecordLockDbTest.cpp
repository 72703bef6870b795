// The record-lock routines against a server: the statements that reach it, refusals naming
// the holder, releases, probes, and hostile keys and failures that must leave no lock behind
// and never let two holders in.

#include <gtest/gtest.h>

#include "DbTestServer.h"
#include "core/Exceptions.h"
#include "core/SqlText.h"
#include "dataaccess/MSTable.h"
#include "db/VtMSAccess.h"

namespace bunkmere::testing {
namespace {

constexpr const char* kCell1 = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]";

class RecordLockDbTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped()) return;
    FServer = std::make_unique<TDbTestServer>(Faults());
    FConn = FServer->NewConnection();
    FConn->Connect();
  }
  virtual std::vector<std::string> Faults() const { return {}; }

  // A plain table (no lock steps of its own) on AConnection, open on its first row.
  std::unique_ptr<TMSTable> Table(TMSConnection& AConnection,
                                  const std::string& AName = "CFGCELL") {
    auto t = std::make_unique<TMSTable>(nullptr);
    t->SetConnection(&AConnection);
    t->SetTableName(AName);
    t->Open();
    return t;
  }
  // Whether a lock table of that name exists on the server, asked from another session.
  bool LockTableExists(const std::string& AName) {
    try {
      FServer->CountRows("SELECT * FROM " + AName);
      return true;
    } catch (const Exception&) {
      return false;
    }
  }

  // The server's object id of a table, asked from another session.
  std::int64_t ObjectIdOf(const std::string& AName) {
    auto other = FServer->NewConnection();
    std::optional<std::int64_t> id = other->SelectInteger("SELECT OBJECT_ID(N'" + AName + "')");
    EXPECT_TRUE(id.has_value()) << AName;
    return id.value_or(0);
  }
  static std::string GuardedDrop(const std::string& AName, std::int64_t AId) {
    return "IF OBJECT_ID(N'" + AName + "') = " + std::to_string(AId) + " DROP TABLE " + AName;
  }

  std::unique_ptr<TDbTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
};

TEST_F(RecordLockDbTest, AcquireCreatesTheTableAndWritesTheHolderRowThenReleaseDropsIt) {
  FPlatform.SetNow(EncodeDateTime({2026, 12, 10, 4, 43, 50, 0}));
  auto cells = Table(*FConn);
  std::string name;
  std::size_t mark = FServer->Mark();
  AcquireRecordLock(*cells, name, true);
  EXPECT_EQ(name, kCell1);
  EXPECT_EQ(FServer->SqlSince(mark),
            (std::vector<std::string>{
                LockTableCreateStatement(kCell1),
                "SELECT OBJECT_ID(N'[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]')",
                "INSERT INTO [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]  (DatabaseName, TableName, "
                "UniqueKey, ComputerName, UserName, ProgramName, TimeLocked) VALUES   ('JAIL', "
                "'CFGCELL', '1', 'WORKSTATION1', 'operator', 'Bunkmere.exe', "
                "'2026-12-10T04:43:50')"}));
  EXPECT_EQ(FServer->CountRows(std::string("SELECT * FROM ") + kCell1), 1);
  const std::int64_t id = ObjectIdOf(kCell1);

  mark = FServer->Mark();
  ReleaseRecordLock(*cells, name, true);
  EXPECT_EQ(name, "");
  EXPECT_EQ(FServer->SqlSince(mark), std::vector<std::string>{GuardedDrop(kCell1, id)});
  EXPECT_FALSE(LockTableExists(kCell1));
  // Nothing left to drop: a second release sends nothing.
  mark = FServer->Mark();
  ReleaseRecordLock(*cells, name, true);
  EXPECT_TRUE(FServer->SqlSince(mark).empty());
}

TEST_F(RecordLockDbTest, ASecondDatasetIsRefusedWithTheHolderNamedOnEitherConnection) {
  FPlatform.SetNow(EncodeDateTime({2026, 12, 10, 14, 5, 9, 0}));
  auto holder = Table(*FConn);
  std::string held;
  AcquireRecordLock(*holder, held, true);

  auto other = FServer->NewConnection();
  for (TMSConnection* conn : {FConn.get(), other.get()}) {
    auto second = Table(*conn);
    std::string name;
    std::size_t mark = FServer->Mark();
    try {
      AcquireRecordLock(*second, name, true);
      ADD_FAILURE() << "the lock was granted twice";
    } catch (const EVtDBLockError& e) {
      EXPECT_EQ(e.Message(),
                "The requested lock could not be granted.\r\n\r\n"
                "The record is already being edited.\r\n"
                "     User Name: operator\r\n"
                "     Computer Name: WORKSTATION1\r\n"
                "     Program Name: Bunkmere.exe\r\n"
                "     Time Locked: 12/10/2026 2:05:09 PM\r\n"
                "     Table Name: CFGCELL");
      EXPECT_EQ(e.DatabaseName(), "JAIL");
      EXPECT_EQ(e.TableName(), "CFGCELL");
      EXPECT_EQ(e.UniqueKey(), "1");
      EXPECT_EQ(e.ComputerName(), kComputer);
      EXPECT_EQ(e.UserName(), kUser);
      EXPECT_EQ(e.ProgramName(), kProgram);
      EXPECT_EQ(e.TimeLocked(), EncodeDateTime({2026, 12, 10, 14, 5, 9, 0}));
    }
    EXPECT_EQ(name, "");
    // The holder's table is read, never dropped, by the refused dataset.
    const std::vector<std::string> sent = FServer->SqlSince(mark);
    ASSERT_EQ(sent.size(), 2u) << ::testing::PrintToString(sent);
    EXPECT_EQ(sent[0].rfind("CREATE TABLE ", 0), 0u);
    EXPECT_EQ(sent[1], std::string("SELECT * FROM ") + kCell1 + "\r\n");
    EXPECT_TRUE(LockTableExists(kCell1));
  }
  // Another row is free.
  auto third = Table(*other);
  third->Next();
  std::string name;
  AcquireRecordLock(*third, name, true);
  EXPECT_EQ(name, "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.2]");
}

TEST_F(RecordLockDbTest, AWorkstationWithAnotherRegionalFormatLocksAndIsNamedInItsFormat) {
  // Day-first dates that the server, reading them as month-first, could not convert.
  TFormatSettings german;
  german.ShortDateFormat = "dd.mm.yyyy";
  german.DateSeparator = ".";
  german.LongTimeFormat = "hh:nn:ss";
  FPlatform.SetFormatSettings(german);
  FPlatform.SetNow(EncodeDateTime({2026, 12, 25, 18, 30, 0, 0}));
  auto cells = Table(*FConn);
  std::string held;
  AcquireRecordLock(*cells, held, true);
  ASSERT_EQ(held, kCell1);

  auto other = FServer->NewConnection();
  auto theirs = Table(*other);
  std::string name;
  try {
    AcquireRecordLock(*theirs, name, true);
    FAIL() << "granted twice";
  } catch (const EVtDBLockError& e) {
    EXPECT_EQ(e.TimeLocked(), EncodeDateTime({2026, 12, 25, 18, 30, 0, 0}));
    EXPECT_NE(e.Message().find("     Time Locked: 25.12.2026 18:30:00\r\n"), std::string::npos)
        << e.Message();
  }
}

TEST_F(RecordLockDbTest, NothingIsSentWithTheSwitchOffOrWithoutAKeyField) {
  auto cells = Table(*FConn);
  auto nokey = Table(*FConn, "NOKEY");
  std::size_t mark = FServer->Mark();

  std::string name = "kept";
  AcquireRecordLock(*cells, name, false);
  ReleaseRecordLock(*cells, name, false);
  EXPECT_EQ(name, "kept");  // a lock held when the switch went off stays named

  name = "";
  AcquireRecordLock(*nokey, name, true);
  EXPECT_EQ(name, "");
  EXPECT_TRUE(FServer->SqlSince(mark).empty());

  TMSTable unbound(nullptr);
  name = "";
  AcquireRecordLock(unbound, name, true);
  EXPECT_EQ(name, "");
}

TEST_F(RecordLockDbTest, HostileKeysLockTheirOwnRowAndLeaveNothingBehind) {
  const std::string key22 = "1234567890123456789012";
  const std::vector<std::string> keys = {
      "it's",       "a]b", "]; DROP TABLE CFGCELL; --", "100%",
      "  padded  ", "Zoë", key22 + "overflow",          ":param"};
  for (const std::string& key : keys)
    FServer->Exec("INSERT INTO KEYS (UniqueKey, V) VALUES (" + QuotedStr(key) + ", 1)");
  FServer->Exec("INSERT INTO KEYS (UniqueKey, V) VALUES (NULL, 2)");
  auto other = FServer->NewConnection();

  auto mine = Table(*FConn, "KEYS");
  auto theirs = Table(*other, "KEYS");
  ASSERT_GE(mine->RecordCount(), 2);
  for (mine->First(), theirs->First(); !mine->Eof(); mine->Next(), theirs->Next()) {
    const std::string key = mine->FieldByName("UniqueKey").AsString();
    SCOPED_TRACE("key <" + key + ">");
    std::string held;
    AcquireRecordLock(*mine, held, true);
    ASSERT_EQ(held, RecordLockName("JAIL", "KEYS", key));
    // The holder row carries the key's first 22 characters.
    auto row = FServer->NewConnection();
    std::unique_ptr<TCustomMSDataSet> read(row->CreateDataSet(nullptr));
    read->SQL().SetText("SELECT * FROM " + held);
    read->Open();
    EXPECT_EQ(read->FieldByName("UniqueKey").AsString(), key.substr(0, 22));
    std::string refused;
    EXPECT_THROW(AcquireRecordLock(*theirs, refused, true), EVtDBLockError);
    ReleaseRecordLock(*mine, held, true);
    EXPECT_FALSE(LockTableExists(RecordLockName("JAIL", "KEYS", key)));
    EXPECT_EQ(FServer->CountRows("SELECT * FROM CFGCELL"), 3);
  }
}

// Only a name already taken (2714) is another holder: any other failure of the CREATE is the
// server's error, never reported as a hold that a scheduler would retry for ever.
TEST_F(RecordLockDbTest, ANameTheServerCannotTakeIsTheServersErrorNotAHold) {
  const std::string longKey(150, 'k');
  FServer->Exec("INSERT INTO KEYS (UniqueKey, V) VALUES ('" + longKey + "', 1)");
  auto keys = Table(*FConn, "KEYS");
  std::string name;
  try {
    AcquireRecordLock(*keys, name, true);
    ADD_FAILURE() << "an overlong lock name was granted";
  } catch (const EVtDBLockError& e) {
    ADD_FAILURE() << "reported as a hold: " << e.Message();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("is too long. Maximum length is 128."), std::string::npos)
        << e.Message();
  }
  EXPECT_EQ(name, "");
}

TEST_F(RecordLockDbTest, ProbeAnswersWithoutLeavingALockOrAnEdit) {
  auto cells = Table(*FConn);
  std::size_t mark = FServer->Mark();
  EXPECT_FALSE(ProbeRecordLock(*cells));  // a plain table edits without a lock step
  EXPECT_EQ(cells->State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(FServer->SqlSince(mark).empty());

  cells->Edit();
  mark = FServer->Mark();
  EXPECT_TRUE(ProbeRecordLock(*cells));  // editing: locked, nothing asked
  EXPECT_EQ(cells->State(), TDataSetState::dsEdit);
  EXPECT_TRUE(FServer->SqlSince(mark).empty());
  cells->Cancel();

  cells->SetReadOnly(true);  // Edit refused for another reason
  EXPECT_TRUE(ProbeRecordLock(*cells));
  cells->Close();
  EXPECT_FALSE(ProbeRecordLock(*cells));

  auto empty = Table(*FConn, "KEYS");
  EXPECT_FALSE(ProbeRecordLock(*empty));
  EXPECT_EQ(empty->State(), TDataSetState::dsBrowse);
}

// The server's error reaches the caller when the holder row cannot be written, and the new
// table is dropped again so the row is not left locked.
class HolderRowFailsTest : public RecordLockDbTest {
  std::vector<std::string> Faults() const override {
    return {"fail:8152:INSERT INTO [tempdb]|String or binary data would be truncated."};
  }
};

TEST_F(HolderRowFailsTest, TheServersErrorPassesAndTheTableIsDroppedAgain) {
  auto cells = Table(*FConn);
  std::string name;
  std::size_t mark = FServer->Mark();
  try {
    AcquireRecordLock(*cells, name, true);
    ADD_FAILURE() << "no error";
  } catch (const EVtDBLockError&) {
    ADD_FAILURE() << "a write failure reported as a refusal";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("String or binary data would be truncated."), std::string::npos);
  }
  EXPECT_EQ(name, "");
  const std::vector<std::string> sent = FServer->SqlSince(mark);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[1], std::string("SELECT OBJECT_ID(N'") + kCell1 + "')");
  EXPECT_EQ(sent[3].rfind(std::string("IF OBJECT_ID(N'") + kCell1 + "') = -", 0), 0u) << sent[3];
  EXPECT_FALSE(LockTableExists(kCell1));
}

// A refused CREATE whose holder is gone by the time its row is read (released meanwhile):
// the refusal stands, and says why no holder is named instead of showing empty fields.
class HolderVanishesTest : public RecordLockDbTest {
  std::vector<std::string> Faults() const override {
    return {
        "fail:2714:CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]|There is already an "
        "object named '##LOCK-JAIL.CFGCELL.1' in the database."};
  }
};

TEST_F(HolderVanishesTest, TheRefusalSaysTheHolderCouldNotBeRead) {
  auto cells = Table(*FConn);
  std::string name;
  try {
    AcquireRecordLock(*cells, name, true);
    ADD_FAILURE() << "granted";
  } catch (const EVtDBLockError& e) {
    EXPECT_EQ(e.Message(),
              "The requested lock could not be granted.\r\n\r\nThe record is locked, but who holds "
              "it could not be read: Invalid object name 'tempdb.dbo.##LOCK-JAIL.CFGCELL.1'.");
    EXPECT_EQ(e.TableName(), "");
  }
  EXPECT_EQ(name, "");
}

// The holder's connection ends while it holds a lock: the server drops the table, the
// holder's next release fails silently, and the row can be locked by others.
class ConnectionDropsTest : public RecordLockDbTest {
  std::vector<std::string> Faults() const override { return {"drop-on:SELECT 'drop me'"}; }
};

TEST_F(ConnectionDropsTest, TheLockEndsWithTheSessionAndTheReleaseStaysQuiet) {
  auto cells = Table(*FConn);
  std::string name;
  AcquireRecordLock(*cells, name, true);
  EXPECT_THROW(FConn->ExecSQL("SELECT 'drop me'"), EDatabaseError);
  ReleaseRecordLock(*cells, name, true);
  EXPECT_EQ(name, "");
  auto other = FServer->NewConnection();
  auto theirs = Table(*other);
  std::string taken;
  AcquireRecordLock(*theirs, taken, true);
  EXPECT_EQ(taken, kCell1);
}

}  // namespace
}  // namespace bunkmere::testing
