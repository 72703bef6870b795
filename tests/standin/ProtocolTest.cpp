// The protocol side against an in-process server with the fake engine: login, results, RPC
// calls, cancellation, faults, the statement log, and hostile peers.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "standin/tds/Prelogin.h"
#include "standin/testing/StatementLogReader.h"
#include "tests/standin/RecordedLogin.h"
#include "tests/standin/TdsTestClient.h"

namespace standin::test {
namespace {

using namespace tds;

// Waits for a condition the server reaches on its own thread, without a fixed sleep.
template <typename F>
bool Eventually(F condition) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

Bytes Raw(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
  return out;
}

TypeInfo NText() {
  TypeInfo t{TypeCode::NText, 0x7FFFFFFE};
  std::copy(std::begin(kCollationLatin1CiAs), std::end(kCollationLatin1CiAs), t.collation.begin());
  return t;
}
RpcParam TextParam(std::string value, std::string name = "") {
  return {std::move(name), 0, NText(), {false, 0, 0, std::move(value), {}}};
}
RpcParam IntParam(std::int64_t v, std::uint8_t status = 0) {
  return {"", status, {TypeCode::IntN, 4}, {false, v, 0, {}, {}}};
}

void ExpectServesNewClients(InProcessServer& server) {
  TdsTestClient other(server.Port());
  auto tokens = other.Login();
  EXPECT_EQ(TokensOf<LoginAck>(tokens).size(), 1u);
}

TEST(StandinLogin, AnswersAsSqlServerDoesForEachTdsVersion) {
  InProcessServer server;
  struct Case {
    std::uint32_t asked, answered;
  } cases[] = {{kTds74, kTds74},
               {kTds73B, kTds73B},
               {kTds72, kTds72},
               {kTds71, kTds71},
               {0x75000000, kTds74}};
  for (const auto& c : cases) {
    TdsTestClient client(server.Port());
    auto login = TdsTestClient::DefaultLogin("sa", "Standin#1", "JAIL");
    login.tdsVersion = c.asked;
    auto tokens = client.Login(login);
    ASSERT_EQ(TokensOf<LoginAck>(tokens).size(), 1u) << std::hex << c.asked;
    EXPECT_EQ(TokensOf<LoginAck>(tokens)[0].tdsVersion, c.answered);
    auto envs = TokensOf<EnvChange>(tokens);
    ASSERT_EQ(envs.size(), 4u);
    EXPECT_EQ(envs[0], TextEnvChange(kEnvDatabase, "JAIL", "master"));
    EXPECT_EQ(envs[1].type, kEnvCollation);
    EXPECT_EQ(envs[1].newValue,
              Bytes(std::begin(kCollationLatin1CiAs), std::end(kCollationLatin1CiAs)));
    EXPECT_EQ(envs[2], TextEnvChange(kEnvLanguage, "us_english", ""));
    EXPECT_EQ(envs[3], TextEnvChange(kEnvPacketSize, "4096", "4096"));
    auto done = TokensOf<Done>(tokens);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, kDoneFinal);
    // The session works in the dialect it logged in with (row counts are 4 bytes before 7.2).
    auto result = client.Batch("SELECT MANY 2");
    EXPECT_EQ(TokensOf<RowData>(result).size(), 2u);
  }
}

TEST(StandinLogin, LoginAckCarriesTheVersionBytesFreeTdsExpects) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Send(PacketType::PreLogin, EncodePrelogin(ServerPrelogin()));
  Bytes payload;
  ASSERT_TRUE(client.ReadMessage(payload));
  EXPECT_EQ(DecodePrelogin(payload), ServerPrelogin());
  client.Send(PacketType::Login7, EncodeLogin7(TdsTestClient::DefaultLogin()));
  ASSERT_TRUE(client.ReadMessage(payload));
  Bytes expected = Raw({0xAD});
  auto at = std::search(payload.begin(), payload.end(), expected.begin(), expected.end());
  ASSERT_NE(at, payload.end());
  EXPECT_EQ(Bytes(at + 4, at + 8), Raw({0x74, 0x00, 0x00, 0x04}));
}

TEST(StandinLogin, ReplayedFreeTdsLoginSucceeds) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.SendRaw(Bytes(std::begin(kFreeTdsPrelogin), std::end(kFreeTdsPrelogin)));
  Bytes payload;
  ASSERT_TRUE(client.ReadMessage(payload));
  ASSERT_NE(DecodePrelogin(payload).Find(kPreloginMars), nullptr);
  client.SendRaw(Bytes(std::begin(kFreeTdsLogin7), std::end(kFreeTdsLogin7)));
  ASSERT_TRUE(client.ReadMessage(payload));
  auto tokens = DecodeTokens(payload, {true});
  EXPECT_EQ(TokensOf<LoginAck>(tokens).size(), 1u);
  EXPECT_TRUE(ErrorNumbers(tokens).empty());
  EXPECT_TRUE(server.Engine().Saw("open JAIL"));
}

TEST(StandinLogin, RefusedLoginsGetSqlServersErrorsAndAreClosed) {
  ServerOptions options;
  options.logins = {{"sa", "Standin#1"}, {"jail", "pw"}};
  InProcessServer server(options);
  struct Case {
    const char* user;
    const char* password;
    const char* database;
    std::vector<int> errors;
    const char* lastText;
  } cases[] = {
      {"sa", "wrong", "", {18456}, "Login failed for user 'sa'."},
      {"nobody", "Standin#1", "", {18456}, "Login failed for user 'nobody'."},
      {"jail", "PW", "", {18456}, "Login failed for user 'jail'."},  // passwords are case-sensitive
      {"sa", "Standin#1", "nosuch", {4060, 18456}, "Login failed for user 'sa'."},
  };
  for (const auto& c : cases) {
    TdsTestClient client(server.Port());
    auto tokens = client.Login(TdsTestClient::DefaultLogin(c.user, c.password, c.database));
    EXPECT_EQ(ErrorNumbers(tokens), c.errors) << c.user << "/" << c.password;
    EXPECT_EQ(TokensOf<Message>(tokens).back().message.text, c.lastText);
    EXPECT_TRUE(TokensOf<LoginAck>(tokens).empty());
    ASSERT_FALSE(TokensOf<Done>(tokens).empty());
    EXPECT_EQ(TokensOf<Done>(tokens).back().status & kDoneError, kDoneError);
    EXPECT_TRUE(client.ClosedByServer());
  }
  TdsTestClient upper(server.Port());  // user names compare without case, as SQL Server's logins do
  EXPECT_EQ(TokensOf<LoginAck>(upper.Login(TdsTestClient::DefaultLogin("JAIL", "pw"))).size(), 1u);
}

TEST(StandinResults, ColumnsCarryTypesFlagsAndValues) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  auto tokens = client.Batch("SELECT TYPED");
  auto meta = TokensOf<ColMetadata>(tokens);
  ASSERT_EQ(meta.size(), 1u);
  const auto& cols = meta[0].columns;
  ASSERT_EQ(cols.size(), 12u);
  struct Expect {
    TypeCode code;
    std::uint32_t length;
  } expected[] = {{TypeCode::IntN, 4},          {TypeCode::BitN, 1},
                  {TypeCode::BigChar, 5},       {TypeCode::BigVarChar, 10},
                  {TypeCode::NVarChar, 20},     {TypeCode::DateTimeN, 8},
                  {TypeCode::FltN, 8},          {TypeCode::DecimalN, 9},
                  {TypeCode::Text, 0x7FFFFFFF}, {TypeCode::BigVarChar, 0xFFFF},
                  {TypeCode::IntN, 2},          {TypeCode::IntN, 8}};
  for (std::size_t k = 0; k < cols.size(); ++k) {
    EXPECT_EQ(cols[k].type.code, expected[k].code) << cols[k].name;
    EXPECT_EQ(cols[k].type.maxLength, expected[k].length) << cols[k].name;
  }
  EXPECT_EQ(cols[0].flags, kColIdentity);
  EXPECT_EQ(cols[1].flags, kColNullable | kColUpdatable);
  EXPECT_EQ(cols[2].type.collation, (std::array<std::uint8_t, 5>{0x09, 0x04, 0xD0, 0x00, 0x00}));
  EXPECT_EQ(cols[7].type.precision, 10);
  EXPECT_EQ(cols[7].type.scale, 2);
  auto rows = TokensOf<RowData>(tokens);
  ASSERT_EQ(rows.size(), 2u);
  const auto& v = rows[0].values;
  EXPECT_EQ(v[0].i, 42);
  EXPECT_EQ(v[2].text, "ab   ");
  EXPECT_EQ(v[3].text, "caf\xC3\xA9");
  EXPECT_EQ(v[4].text,
            "\xE2\x82\xAC"
            "uro");
  EXPECT_EQ(v[5].text, "2024-02-29 13:45:10.997");
  EXPECT_EQ(v[7].text, "-1234.50");
  EXPECT_EQ(v[11].i, 1LL << 40);
  for (std::size_t k = 1; k < rows[1].values.size(); ++k)
    EXPECT_TRUE(rows[1].values[k].isNull) << k;
  auto done = TokensOf<Done>(tokens);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].status, kDoneCount);
  EXPECT_EQ(done[0].rowCount, 2u);
}

TEST(StandinResults, StatementsOfABatchEndWithMoreThenAFinalDone) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  auto done = TokensOf<Done>(client.Batch("TWO"));
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].status, kDoneMore | kDoneCount);
  EXPECT_EQ(done[0].rowCount, 3u);
  EXPECT_EQ(done[1].status, kDoneCount);
  EXPECT_EQ(done[1].rowCount, 1u);
  auto failed = client.Batch("FAIL");
  EXPECT_EQ(ErrorNumbers(failed), std::vector<int>{208});
  EXPECT_EQ(TokensOf<Done>(failed).back().status, kDoneError);
  auto use = client.Batch("USE JAIL");
  EXPECT_EQ(TokensOf<EnvChange>(use).at(0), TextEnvChange(kEnvDatabase, "JAIL", "master"));
  EXPECT_EQ(TokensOf<Message>(use).at(0).message.number, 5701);
}

TEST(StandinResults, AnswersAreSplitIntoPacketsOfTheNegotiatedSize) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  auto login = TdsTestClient::DefaultLogin();
  login.packetSize = 512;
  auto tokens = client.Login(login);
  EXPECT_EQ(TokensOf<EnvChange>(tokens).back(), TextEnvChange(kEnvPacketSize, "512", "512"));
  SqlBatch batch;
  batch.text = "SELECT MANY 500";
  client.Send(PacketType::SqlBatch, EncodeSqlBatch(batch, true), 512);
  Bytes payload;
  std::vector<PacketHeader> headers;
  ASSERT_TRUE(client.ReadMessage(payload, &headers));
  EXPECT_GT(headers.size(), 10u);
  for (const auto& h : headers) EXPECT_LE(h.length, 512);
  EXPECT_EQ(TokensOf<RowData>(DecodeTokens(payload, {true})).size(), 500u);
}

TEST(StandinAttention, CancelsARunningRequestAndTheSessionGoesOn) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  SqlBatch batch;
  batch.text = "SELECT MANY 100000000";
  client.Send(PacketType::SqlBatch, EncodeSqlBatch(batch, true));
  client.Send(PacketType::Attention, {});
  // The cancelled response ends as a message; the DONE that acknowledges the ATTENTION comes
  // alone in the next one (tedious looks for it only there).
  Bytes payload;
  ASSERT_TRUE(client.ReadMessage(payload));
  ASSERT_GE(payload.size(), 13u);
  Bytes tail(payload.end() - 13, payload.end());
  EXPECT_EQ(std::get<Done>(DecodeTokens(tail, {true}).at(0)).status & kDoneAttn, 0);
  auto ack = client.Response();
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(std::get<Done>(ack[0]).status, kDoneAttn);
  EXPECT_EQ(TokensOf<RowData>(client.Batch("SELECT MANY 3")).size(), 3u);
}

// Transaction-manager requests the stand-in cannot read or does not take are refused with an
// error, and the session goes on.
TEST(StandinTransactionManager, RefusesMalformedAndDistributedRequests) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  struct Case {
    Bytes payload;
    int error;
  };
  const Case cases[] = {
      {{0x64, 0, 0, 0, 5, 0}, 4002},      // ALL_HEADERS past the end
      {{4, 0, 0, 0, 5, 0}, 4002},         // TM_BEGIN_XACT cut short
      {{4, 0, 0, 0, 5, 0, 9, 0}, 4002},   // unknown isolation level
      {{4, 0, 0, 0, 1, 0, 0, 0}, 50000},  // TM_PROPAGATE_XACT
      {{4, 0, 0, 0, 9, 0, 0}, 50000},     // TM_SAVE_XACT
  };
  for (const Case& c : cases) {
    client.Send(PacketType::TransactionManager, c.payload);
    auto messages = TokensOf<Message>(client.Response());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message.number, c.error);
  }
  EXPECT_EQ(TokensOf<RowData>(client.Batch("SELECT MANY 2")).size(), 2u);
}

TEST(StandinAttention, AnAttentionAfterTheAnswerIsStillAcknowledged) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  client.Batch("SELECT MANY 1");
  client.Send(PacketType::Attention, {});
  auto tokens = client.Response();
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(std::get<Done>(tokens[0]).status, kDoneAttn);
}

TEST(StandinRpc, PreparedStatementsLiveByHandle) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  RpcRequest prepexec;
  prepexec.procId = kSpPrepExec;
  prepexec.params = {
      {"", kParamByRef, {TypeCode::IntN, 4}, {}},
      TextParam("@P1 INT,@P2 VARCHAR(20)"),
      TextParam("ECHO @P1, @P2"),
      IntParam(5),
      {"", 0, {TypeCode::BigVarChar, 20, 0, 0, {9, 4, 0xD0, 0, 0}}, {false, 0, 0, "abc", {}}}};
  auto tokens = client.Rpc(prepexec);
  auto rows = TokensOf<RowData>(tokens);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].values[0].text, "@P1");  // unnamed values take their names from the declaration
  EXPECT_EQ(rows[0].values[2].text, "5");
  EXPECT_EQ(rows[1].values[0].text, "@P2");
  auto handles = TokensOf<ReturnValue>(tokens);
  ASSERT_EQ(handles.size(), 1u);
  EXPECT_EQ(handles[0].status, 1);
  const std::int64_t handle = handles[0].value.i;
  EXPECT_EQ(TokensOf<ReturnStatus>(tokens).at(0).value, 0);
  auto done = TokensOf<Done>(tokens);
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].token, Token::DoneInProc);
  EXPECT_EQ(done[0].status, kDoneMore | kDoneCount);
  EXPECT_EQ(done[1].token, Token::DoneProc);
  EXPECT_EQ(done[1].status, kDoneFinal);

  RpcRequest execute;
  execute.procName = "sp_execute";  // FreeTDS calls it by name
  execute.params = {
      IntParam(handle), IntParam(6), {"", 0, {TypeCode::BigVarChar, 20, 0, 0, {}}, {}}};
  rows = TokensOf<RowData>(client.Rpc(execute));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].values[2].text, "6");
  EXPECT_TRUE(rows[1].values[2].isNull);

  RpcRequest unprepare;
  unprepare.procId = kSpUnprepare;
  unprepare.params = {IntParam(handle)};
  EXPECT_TRUE(ErrorNumbers(client.Rpc(unprepare)).empty());
  auto gone = client.Rpc(execute);
  EXPECT_EQ(ErrorNumbers(gone), std::vector<int>{8179});
  EXPECT_EQ(TokensOf<Done>(gone).back().status & kDoneError, kDoneError);
}

TEST(StandinRpc, ExecuteSqlAndCatalogCallsReachTheEngine) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  RpcRequest sql;
  sql.procId = kSpExecuteSql;
  sql.params = {TextParam("ECHO @P1"), TextParam("@P1 INT"), IntParam(11)};
  auto rows = TokensOf<RowData>(client.Rpc(sql));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values[0].text, "@P1");
  EXPECT_EQ(rows[0].values[1].text, "int");
  EXPECT_EQ(rows[0].values[2].text, "11");

  RpcRequest pkeys;
  pkeys.procName = "sp_pkeys";
  pkeys.params = {TextParam("CFGCELL", "@table_name")};
  EXPECT_EQ(TokensOf<RowData>(client.Rpc(pkeys)).at(0).values[0].text, "UniqueKey");
}

TEST(StandinRpc, UnknownCallsFailWithAnErrorNamingThem) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  struct Case {
    std::uint16_t id;
    const char* name;
    int error;
    const char* text;
  } cases[] = {
      {0, "sp_nosuch", 2812, "Could not find stored procedure 'sp_nosuch'."},
      {2, "", 2812, "Could not find stored procedure 'sp_cursoropen'."},
      {kSpExecuteSql, "", 214,
       "Procedure expects parameter '@statement' of type 'ntext/nchar/nvarchar'."},
  };
  for (const auto& c : cases) {
    RpcRequest req;
    req.procId = c.id;
    req.procName = c.name;
    auto tokens = client.Rpc(req);
    ASSERT_EQ(ErrorNumbers(tokens), std::vector<int>{c.error}) << c.name << c.id;
    EXPECT_EQ(TokensOf<Message>(tokens)[0].message.text, c.text);
    EXPECT_EQ(TokensOf<Done>(tokens).back().status & kDoneError, kDoneError);
  }
}

TEST(StandinRpc, ParametersOfTypesTheEngineLacksAreRefused) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  RpcRequest sql;
  sql.procId = kSpExecuteSql;
  sql.params = {TextParam("ECHO @P1"),
                TextParam("@P1 VARBINARY(4)"),
                {"", 0, {TypeCode::BigVarBinary, 4}, {false, 0, 0, {}, {1, 2}}}};
  auto tokens = client.Rpc(sql);
  ASSERT_EQ(ErrorNumbers(tokens), std::vector<int>{8016});
  EXPECT_EQ(TokensOf<Message>(tokens)[0].message.text,
            "The stand-in does not support the data type of parameter #3 (TDS type 0xA5).");
  EXPECT_FALSE(server.Engine().Saw("exec ECHO @P1"));
}

// Each hostile opening must end that connection (or be answered with an error) and leave the
// server serving others.
TEST(StandinHostile, MalformedInputClosesOnlyThatSession) {
  ServerOptions options;
  options.maxMessageBytes = 64 * 1024;
  options.midMessageTimeoutMs = 200;
  InProcessServer server(options);
  Bytes login = EncodeLogin7(TdsTestClient::DefaultLogin());
  Bytes badOffsets = login;
  badOffsets[48] = 0xFF;  // password offset far outside the packet
  badOffsets[49] = 0x7F;
  Bytes badUtf16 = login;
  badUtf16[login.size() - 1] = 0xDC;  // the last name character becomes a lone surrogate
  Bytes bigBatch(100 * 1024, 'x');
  struct Case {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"truncated header", Raw({0x12, 0x01, 0x00})},
      {"unknown packet type", Raw({0x02, 0x01, 0x00, 0x08, 0, 0, 1, 0})},
      {"length below the header size", Raw({0x12, 0x01, 0x00, 0x04, 0, 0, 1, 0})},
      {"huge length", Raw({0x12, 0x01, 0xFF, 0xFF, 0, 0, 1, 0, 1, 2, 3})},
      {"request before login", FrameMessage(PacketType::SqlBatch, Bytes{'S', 0}, 4096)},
      {"LOGIN7 offsets outside the packet", FrameMessage(PacketType::Login7, badOffsets, 4096)},
      {"LOGIN7 with bad UTF-16", FrameMessage(PacketType::Login7, badUtf16, 4096)},
      {"PRELOGIN pointing outside",
       FrameMessage(PacketType::PreLogin, Raw({0x00, 0x00, 0x40, 0x00, 0x06, 0xFF}), 4096)},
      {"message over the size limit", FrameMessage(PacketType::PreLogin, bigBatch, 4096)},
      {"packet cut short and stalled", Raw({0x12, 0x01, 0x00, 0x40, 0, 0, 1, 0, 1, 2, 3})},
      {"garbage", Bytes(300, 0xA5)},
  };
  for (const auto& c : cases) {
    TdsTestClient client(server.Port());
    client.SendRaw(c.bytes);
    if (std::string(c.what) == "truncated header") {
      continue;  // the client walks away; the next cases prove the server did not hang
    }
    EXPECT_TRUE(client.ClosedByServer(5000)) << c.what;
  }
  ExpectServesNewClients(server);
}

TEST(StandinHostile, MalformedRequestsAfterLoginAreAnsweredWithAnError) {
  InProcessServer server;
  TdsTestClient client(server.Port());
  client.Login();
  Bytes oddUtf16 = EncodeSqlBatch({{}, "SELECT MANY 1"}, true);
  oddUtf16.push_back('x');
  client.Send(PacketType::SqlBatch, oddUtf16);
  EXPECT_EQ(ErrorNumbers(client.Response()), std::vector<int>{4002});
  client.Send(PacketType::Rpc, Raw({22, 0, 0, 0, 18, 0, 0, 0, 2, 0, 0,    0,
                                    0,  0, 0, 0, 0,  0, 1, 0, 0, 0, 0xFF, 0xFF}));
  EXPECT_EQ(ErrorNumbers(client.Response()), std::vector<int>{8009});
  EXPECT_EQ(TokensOf<RowData>(client.Batch("SELECT MANY 2")).size(), 2u);
}

TEST(StandinSession, EndingTheConnectionDestroysTheEngineSession) {
  InProcessServer server;
  {
    TdsTestClient client(server.Port());
    client.Login();
  }
  EXPECT_TRUE(Eventually([&] { return server.Engine().Saw("close"); }));
  EXPECT_TRUE(Eventually([&] { return server.GetServer().SessionCount() == 0; }));
}

TEST(StandinSession, StoppingTheServerEndsSessionsThatAreStillOpen) {
  for (int round = 0; round < 20; ++round) {  // the stop races the accept loop; give it chances
    auto server = std::make_unique<InProcessServer>();
    TdsTestClient client(server->Port());
    client.Login();
    server.reset();  // returns only once every session thread has ended
    EXPECT_TRUE(client.ClosedByServer(1000));
  }
}

class StandinFaults : public ::testing::Test {
 protected:
  std::string LogPath() {
    return (std::filesystem::temp_directory_path() /
            ("standin-faults-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log"))
        .string();
  }
  std::vector<testing::LoggedStatement> ReadLog(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return testing::ParseStatementLog(s.str());
  }
};

TEST_F(StandinFaults, FailMatchingStatementsWithTheGivenError) {
  ServerOptions options;
  ASSERT_EQ(options.faults.Add("fail:1205:select many|Transaction (Process ID 51) was deadlocked"),
            "");
  InProcessServer server(options);
  TdsTestClient client(server.Port());
  client.Login();
  auto tokens = client.Batch("SELECT MANY 3");
  EXPECT_EQ(ErrorNumbers(tokens), std::vector<int>{1205});
  EXPECT_EQ(TokensOf<Message>(tokens)[0].message.text,
            "Transaction (Process ID 51) was deadlocked");
  EXPECT_TRUE(TokensOf<RowData>(tokens).empty());
  EXPECT_FALSE(server.Engine().Saw("exec SELECT MANY 3"));
  EXPECT_TRUE(ErrorNumbers(client.Batch("TWO")).empty());
}

TEST_F(StandinFaults, FailAtFailsOnlyTheStatementOfThatNumber) {
  ServerOptions options;
  ASSERT_EQ(options.faults.Add("fail-at:2:1205|Chosen as deadlock victim"), "");
  EXPECT_NE(options.faults.Add("fail-at:2"), "");
  EXPECT_NE(options.faults.Add("fail-at:x:1205"), "");
  InProcessServer server(options);
  TdsTestClient client(server.Port());
  client.Login();
  EXPECT_TRUE(ErrorNumbers(client.Batch("TWO")).empty());
  auto tokens = client.Batch("TWO");
  EXPECT_EQ(ErrorNumbers(tokens), std::vector<int>{1205});
  EXPECT_EQ(TokensOf<Message>(tokens)[0].message.text, "Chosen as deadlock victim");
  EXPECT_TRUE(ErrorNumbers(client.Batch("TWO")).empty());
}

TEST_F(StandinFaults, StepFaultsAreCheckedWhenGiven) {
  struct Case {
    const char* spec;
    bool accepted;
  };
  const Case cases[] = {
      {"drop-at-step:7", true},
      {"drop-at-step:0", false},
      {"drop-at-step:-1", false},
      {"drop-at-step:x", false},
      {"drop-at-step:", false},
      {"fail-at-step:3:1222", true},
      {"fail-at-step:3:1222|Lock request time out period exceeded.", true},
      {"fail-at-step:3", false},
      {"fail-at-step:x:1222", false},
      {"fail-at-step:3:99999999999", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    FaultConfig faults;
    EXPECT_EQ(faults.Add(c.spec).empty(), c.accepted);
  }
  // A step failure is no statement failure: statement 3 runs whatever its text.
  FaultConfig faults;
  ASSERT_EQ(faults.Add("fail-at-step:3:1222"), "");
  EXPECT_EQ(faults.FailureFor(3, "SELECT 1"), nullptr);
  ASSERT_NE(faults.FailureAtStep(3), nullptr);
  EXPECT_EQ(faults.FailureAtStep(3)->number, 1222);
  EXPECT_EQ(faults.FailureAtStep(4), nullptr);
}

TEST_F(StandinFaults, DropAfterClosesTheSessionOfTheNextStatement) {
  ServerOptions options;
  ASSERT_EQ(options.faults.Add("drop-after:2"), "");
  InProcessServer server(options);
  TdsTestClient client(server.Port());
  client.Login();
  client.Batch("TWO");
  client.Batch("TWO");
  SqlBatch third;
  third.text = "TWO";
  client.Send(PacketType::SqlBatch, EncodeSqlBatch(third, true));
  // The engine session is gone before the client can see the connection close.
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_TRUE(server.Engine().Saw("close"));
  TdsTestClient next(server.Port());  // only once
  next.Login();
  EXPECT_TRUE(ErrorNumbers(next.Batch("TWO")).empty());
}

TEST_F(StandinFaults, ExecAfterRunsBetweenTwoStatementsAndDelayHoldsAnswers) {
  ServerOptions options;
  ASSERT_EQ(options.faults.Add("exec-after:1:UPDATE T SET x = 1"), "");
  ASSERT_EQ(options.faults.Add("delay:60"), "");
  EXPECT_NE(options.faults.Add("delay:x"), "");
  EXPECT_NE(options.faults.Add("fail:12"), "");
  EXPECT_NE(options.faults.Add("explode:1"), "");
  std::string log = LogPath();
  {
    InProcessServer server(options, log);
    TdsTestClient client(server.Port());
    client.Login(TdsTestClient::DefaultLogin("sa", "Standin#1", "JAIL"));
    auto start = std::chrono::steady_clock::now();
    client.Batch("TWO");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    client.Batch("SELECT MANY 1");
    auto records = server.Engine().Records();
    std::vector<std::string> execs;
    for (const auto& r : records)
      if (r.what.starts_with("exec ") || r.what.starts_with("open ")) execs.push_back(r.what);
    EXPECT_EQ(execs, (std::vector<std::string>{"open JAIL", "exec TWO", "open JAIL",
                                               "exec UPDATE T SET x = 1", "exec SELECT MANY 1"}));
  }
  auto statements = ReadLog(log);
  std::filesystem::remove(log);
  ASSERT_EQ(statements.size(), 2u);  // the fault's own statement is not the client's
  EXPECT_EQ(statements[0].sql, "TWO");
  EXPECT_EQ(statements[0].kind, "batch");
  EXPECT_EQ(statements[1].seq, 2);
}

TEST_F(StandinFaults, StatementLogRecordsRpcTextAndParameters) {
  std::string log = LogPath();
  {
    InProcessServer server({}, log);
    TdsTestClient client(server.Port());
    client.Login();
    RpcRequest sql;
    sql.procId = kSpExecuteSql;
    sql.params = {TextParam("ECHO @P1, @P2"),
                  TextParam("@P1 INT,@P2 INT"),
                  IntParam(11),
                  {"", 0, {TypeCode::IntN, 4}, {}}};
    client.Rpc(sql);
  }
  auto statements = ReadLog(log);
  std::filesystem::remove(log);
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].kind, "rpc");
  EXPECT_EQ(statements[0].proc, "sp_executesql");
  EXPECT_EQ(statements[0].sql, "ECHO @P1, @P2");
  EXPECT_EQ(statements[0].spid, 51);
  EXPECT_EQ(statements[0].params, (std::vector<testing::LoggedParam>{
                                      {"@P1", "int", "11"}, {"@P2", "int", std::nullopt}}));
}

}  // namespace
}  // namespace standin::test
