// Two processes and one row: the server, not the client, decides who holds a lock, and a lock
// ends with the process that held it. The second process is a forked child with its own
// connection; the two talk through pipes, so every step happens in a known order.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "DbTestServer.h"
#include "core/Exceptions.h"
#include "db/VtMSAccess.h"

namespace bunkmere::testing {
namespace {

// One byte each way between the test and its child.
class TChannel {
 public:
  TChannel() {
    if (pipe(FToChild) != 0 || pipe(FToParent) != 0) throw std::runtime_error("pipe failed");
  }
  ~TChannel() {
    for (int fd : {FToChild[0], FToChild[1], FToParent[0], FToParent[1]})
      if (fd >= 0) close(fd);
  }
  void SendToChild(char c) { Write(FToChild[1], c); }
  void SendToParent(char c) { Write(FToParent[1], c); }
  // 0 when the other side is gone.
  char ReadInChild() { return Read(FToChild[0]); }
  char ReadInParent() { return Read(FToParent[0]); }

 private:
  static void Write(int fd, char c) {
    if (write(fd, &c, 1) != 1) throw std::runtime_error("pipe write failed");
  }
  static char Read(int fd) {
    char c = 0;
    return read(fd, &c, 1) == 1 ? c : 0;
  }
  int FToChild[2] = {-1, -1};
  int FToParent[2] = {-1, -1};
};

class ProcessLockDbTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (IsSkipped()) return;
    FServer = std::make_unique<TDbTestServer>();
  }
  void TearDown() override {
    if (FChild > 0) {
      kill(FChild, SIGKILL);
      waitpid(FChild, nullptr, 0);
    }
  }
  std::unique_ptr<TVtMSTable> OpenCells(TMSConnection& AConnection) {
    auto t = std::make_unique<TVtMSTable>(nullptr);
    t->SetConnection(&AConnection);
    t->SetTableName("CFGCELL");
    t->Open();
    return t;
  }
  // Runs ABody in a child process; the child ends when ABody returns (or throws).
  template <class F>
  void Spawn(F&& ABody) {
    FChild = fork();
    ASSERT_GE(FChild, 0);
    if (FChild == 0) {
      int code = 0;
      try {
        ABody();
      } catch (...) {
        code = 1;
      }
      _exit(code);
    }
  }

  std::unique_ptr<TDbTestServer> FServer;
  pid_t FChild = -1;
  TChannel FChannel;
};

TEST_F(ProcessLockDbTest, TwoProcessesAskingForOneRowAtOnceGetItOnce) {
  // Nobody is connected before the fork, so the child shares no client state.
  Spawn([&] {
    auto conn = FServer->NewConnection();
    auto cells = OpenCells(*conn);
    FChannel.SendToParent('r');
    if (FChannel.ReadInChild() != 'g') return;
    char outcome = 'y';
    try {
      cells->Edit();
    } catch (const EVtDBLockError&) {
      outcome = 'n';
    }
    FChannel.SendToParent(outcome);
    FChannel.ReadInChild();  // keep whatever was taken until the parent has looked
  });
  auto conn = FServer->NewConnection();
  auto cells = OpenCells(*conn);
  ASSERT_EQ(FChannel.ReadInParent(), 'r');
  FChannel.SendToChild('g');
  bool parentGranted = true;
  try {
    cells->Edit();
  } catch (const EVtDBLockError&) {
    parentGranted = false;
  }
  const char child = FChannel.ReadInParent();
  ASSERT_TRUE(child == 'y' || child == 'n') << "child failed";
  EXPECT_NE(parentGranted, child == 'y') << "both or neither were granted the row";
  FChannel.SendToChild('q');
}

TEST_F(ProcessLockDbTest, AKilledHoldersLockEndsWithItsProcess) {
  FPlatform.SetUserName("nightshift");
  Spawn([&] {
    auto conn = FServer->NewConnection();
    auto cells = OpenCells(*conn);
    cells->Edit();
    FChannel.SendToParent('l');
    FChannel.ReadInChild();  // until killed
  });
  FPlatform.SetUserName(kUser);
  ASSERT_EQ(FChannel.ReadInParent(), 'l');
  auto conn = FServer->NewConnection();
  auto cells = OpenCells(*conn);
  try {
    cells->Edit();
    FAIL() << "the row was granted while the child held it";
  } catch (const EVtDBLockError& e) {
    EXPECT_EQ(e.UserName(), "nightshift");
  }

  kill(FChild, SIGKILL);
  waitpid(FChild, nullptr, 0);
  FChild = -1;
  // The server notices the lost session on its own time; ask until it has (each attempt is a
  // round trip, so this ends as soon as the server has dropped the table). A busy machine can
  // take a while to let the server run: the bound is time, not a number of attempts.
  bool granted = false;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!granted && std::chrono::steady_clock::now() < giveUp) {
    try {
      cells->Edit();
      granted = true;
    } catch (const EVtDBLockError&) {
    }
  }
  ASSERT_TRUE(granted);
  EXPECT_EQ(cells->LockTableName(), "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.1]");
  cells->Cancel();
}

}  // namespace
}  // namespace bunkmere::testing
