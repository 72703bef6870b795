#include "standin/server/Connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "standin/server/Server.h"
#include "standin/server/TokenSink.h"
#include "standin/tds/Login7.h"
#include "standin/tds/Prelogin.h"
#include "standin/tds/Text.h"
#include "standin/tds/Wire.h"

namespace standin {
namespace {

// Packets are never larger than 32767 bytes by negotiation; a header announcing more, whatever
// the state, is hostile.
constexpr std::size_t kMaxPacketBytes = tds::kMaxPacketSize + 1;

// The stand-in's program version in LOGINACK: 15.0.2000.
constexpr std::uint32_t kProgVersion = 0x0F0007D0;

}  // namespace

Connection::Connection(int fd, int spid, ServerContext& context, const std::atomic<bool>& stopping)
    : fd_(fd),
      spid_(spid),
      context_(context),
      stopping_(stopping),
      assembler_(context.Options().maxMessageBytes),
      writer_(tds::kDefaultPacketSize,
              [this](auto header, auto body) { SendPacket(header, body); }),
      transport_(fd) {}

Connection::~Connection() {
  session_.reset();
}

void Connection::Run() {
  if (!StartStrict()) return Close();
  while (state_ != State::Closed && !broken_ && !stopping_) {
    tds::PacketType type;
    tds::Bytes payload;
    if (!ReadMessage(type, payload)) break;
    try {
      switch (state_) {
        case State::PreLogin:
          if (type == tds::PacketType::PreLogin) {
            HandlePrelogin(payload);
            break;
          }
          [[fallthrough]];  // a client may skip PRELOGIN
        case State::Login:
          if (type != tds::PacketType::Login7) {
            Close();
            break;
          }
          HandleLogin(payload);
          break;
        case State::LoggedIn:
          if (type == tds::PacketType::SqlBatch)
            HandleBatch(payload);
          else if (type == tds::PacketType::Rpc)
            HandleRpc(payload);
          else if (type == tds::PacketType::Attention)
            HandleStrayAttention();
          else if (type == tds::PacketType::TransactionManager)
            HandleTransactionManager(payload);
          else
            Close();
          break;
        case State::Closed:
          break;
      }
    } catch (const tds::DecodeError&) {
      Close();  // malformed login-phase input: nothing sensible to answer
    }
  }
  Close();
}

bool Connection::ReadExact(std::uint8_t* to, std::size_t n, int timeoutMs) {
  return transport_.Read(to, n, timeoutMs);
}

bool Connection::ReadMessage(tds::PacketType& type, tds::Bytes& payload) {
  std::uint8_t raw[tds::kHeaderSize];
  std::vector<std::uint8_t> body;
  const int midTimeout = context_.Options().midMessageTimeoutMs;
  for (;;) {
    if (!ReadExact(raw, 1, assembler_.InProgress() ? midTimeout : -1)) return false;
    if (!ReadExact(raw + 1, tds::kHeaderSize - 1, midTimeout)) return false;
    if (!tds::IsKnownPacketType(raw[0])) return false;
    tds::PacketHeader h;
    try {
      h = tds::DecodeHeader(std::span<const std::uint8_t, tds::kHeaderSize>(raw, tds::kHeaderSize));
    } catch (const tds::DecodeError&) {
      return false;
    }
    if (h.length > kMaxPacketBytes) return false;
    body.resize(h.length - tds::kHeaderSize);
    if (!body.empty() && !ReadExact(body.data(), body.size(), midTimeout)) return false;
    try {
      if (assembler_.Add(h, body)) {
        type = assembler_.Type();
        payload = assembler_.Take();
        return true;
      }
    } catch (const tds::DecodeError&) {
      return false;
    }
  }
}

void Connection::DelayUnlessCancelled(int ms) {
  // A slow server still hears a cancel at once: the client's query time-out sends ATTENTION
  // and then waits for its acknowledgement, not for the statement.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!PollAttention()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) return;
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
}

bool Connection::PollAttention() {
  if (attention_ || broken_) return true;
  if (!transport_.InputWaiting()) return false;
  // Something arrived while we answer: only ATTENTION is allowed now. Anything else (or the peer
  // going away) ends the session once the current request stops.
  std::uint8_t raw[tds::kHeaderSize];
  if (!ReadExact(raw, tds::kHeaderSize, context_.Options().midMessageTimeoutMs) ||
      raw[0] != static_cast<std::uint8_t>(tds::PacketType::Attention)) {
    broken_ = true;
    return true;
  }
  std::size_t len = static_cast<std::size_t>(raw[2] << 8 | raw[3]);
  if (len > tds::kHeaderSize) {
    std::vector<std::uint8_t> rest(len - tds::kHeaderSize);
    if (len > kMaxPacketBytes ||
        !ReadExact(rest.data(), rest.size(), context_.Options().midMessageTimeoutMs)) {
      broken_ = true;
      return true;
    }
  }
  attention_ = true;
  return true;
}

void Connection::SendPacket(std::span<const std::uint8_t> header,
                            std::span<const std::uint8_t> body) {
  if (broken_) return;
  if (!transport_.Write(header, body)) broken_ = true;
}

void Connection::SendMessage(tds::PacketType type, const tds::Bytes& payload) {
  auto framed = tds::FrameMessage(type, payload, packetSize_, static_cast<std::uint16_t>(spid_));
  SendPacket({}, framed);
}

void Connection::Close() {
  // The engine session goes first, so a client that sees the socket close finds the session's
  // ## tables already dropped.
  session_.reset();
  ::shutdown(fd_, SHUT_RDWR);
  state_ = State::Closed;
}

bool Connection::StartStrict() {
  const TlsContext* tls = context_.Tls();
  if (tls == nullptr) return true;
  const bool strictOnly = context_.Options().encryption == tds::EncryptionMode::Strict;
  int first = transport_.PeekFirstByte(-1);
  if (first < 0) return false;
  if (first != tds::kTlsHandshakeRecord) {
    if (!strictOnly) return true;
    RecordSession("", "refused: the server accepts TDS 8.0 (strict) only");
    return false;
  }
  if (!transport_.HandshakeStrict(tls->Strict(), context_.Options().midMessageTimeoutMs)) {
    RecordSession("", "refused: " + transport_.Failure());
    return false;
  }
  strict_ = true;
  loginMustBeEncrypted_ = true;
  return true;
}

void Connection::HandlePrelogin(const tds::Bytes& payload) {
  tds::Prelogin client = tds::DecodePrelogin(payload);
  const auto* option = client.Find(tds::kPreloginEncryption);
  std::uint8_t asked =
      option != nullptr && !option->data.empty() ? option->data[0] : tds::kEncryptNotSup;
  clientEncrypt_ = option != nullptr && !option->data.empty() ? asked : -1;
  // Inside TDS 8.0's TLS the option means nothing more: everything is encrypted already.
  std::uint8_t answer =
      strict_ ? tds::kEncryptNotSup : tds::AnswerEncryption(context_.Options().encryption, asked);
  serverEncrypt_ = answer;
  SendMessage(tds::PacketType::TabularResult, tds::EncodePrelogin(tds::ServerPrelogin(answer)));
  state_ = State::Login;
  if (strict_) return;
  loginMustBeEncrypted_ = answer != tds::kEncryptNotSup;
  auto protection = tds::NegotiatedProtection(asked, answer);
  if (protection == tds::Protection::None) return;
  loginOnly_ = protection == tds::Protection::LoginOnly;
  if (!transport_.HandshakeInPrelogin(context_.Tls()->Tds7(),
                                      context_.Options().midMessageTimeoutMs)) {
    RecordSession("", "refused: " + transport_.Failure());
    Close();
  }
}

void Connection::RecordSession(const std::string& user, const std::string& outcome) {
  SessionRecord r;
  r.spid = spid_;
  r.user = user;
  r.clientEncrypt = clientEncrypt_ < 0 ? "" : EncryptionName(clientEncrypt_);
  r.serverEncrypt = serverEncrypt_ < 0 ? "" : EncryptionName(serverEncrypt_);
  r.tls = transport_.TlsVersion();
  r.strict = strict_;
  r.loginEncrypted = loginEncrypted_;
  r.dataEncrypted = transport_.Encrypted();
  r.outcome = outcome;
  context_.RecordSession(r);
}

void Connection::SendLoginError(const std::vector<ServerMessage>& messages) {
  tds::Bytes out;
  for (const auto& m : messages)
    tds::AppendMessage(out, {true, m, context_.Options().serverName}, Dialect());
  tds::AppendDone(out, {tds::Token::Done, tds::kDoneError, 0, 0}, Dialect());
  SendMessage(tds::PacketType::TabularResult, out);
  Close();
}

void Connection::HandleLogin(const tds::Bytes& payload) {
  loginEncrypted_ = transport_.Encrypted();
  tds::Login7 login = tds::DecodeLogin7(payload);
  // A client that skipped PRELOGIN has negotiated nothing: a server that forces encryption
  // takes no login from it.
  const auto mode = context_.Options().encryption;
  if (serverEncrypt_ < 0 && !strict_ &&
      (mode == tds::EncryptionMode::On || mode == tds::EncryptionMode::Required))
    loginMustBeEncrypted_ = true;
  if (loginMustBeEncrypted_ && !loginEncrypted_) {
    // The password has crossed in the clear already; at least nobody gets in that way.
    RecordSession(login.userName, "refused: the login arrived in the clear");
    Close();
    return;
  }
  // "Login only": the answer and everything after it travel in the clear again.
  if (loginOnly_) transport_.DropTls();
  if (login.tdsVersion < 0x70000000) {  // TDS 4.2/5.0 and garbage: not a SQL Server client
    Close();
    return;
  }
  tdsVersion_ = login.tdsVersion > tds::kTds74 ? tds::kTds74 : login.tdsVersion;
  std::uint32_t requested = login.packetSize == 0 ? tds::kDefaultPacketSize : login.packetSize;
  packetSize_ = std::clamp(requested, tds::kMinPacketSize, tds::kMaxPacketSize);
  writer_.SetPacketSize(packetSize_);

  ServerMessage loginFailed{18456, 1, 14, "Login failed for user '" + login.userName + "'.", 1, ""};
  if (!context_.CheckLogin(login.userName, login.password)) {
    RecordSession(login.userName, "login failed");
    return SendLoginError({loginFailed});
  }
  try {
    session_ = context_.GetEngine().OpenSession(spid_, login.database);
  } catch (const ServerError& e) {
    RecordSession(login.userName, "login failed");
    return SendLoginError({e.message, loginFailed});
  }
  RecordSession(login.userName, "logged in");

  tds::Bytes out;
  const auto d = Dialect();
  const std::string& db = session_->Database();
  tds::AppendEnvChange(out, tds::TextEnvChange(tds::kEnvDatabase, db, "master"));
  tds::AppendMessage(out,
                     {false,
                      {5701, 2, 0, "Changed database context to '" + db + "'.", 1, ""},
                      context_.Options().serverName},
                     d);
  tds::EnvChange collation{tds::kEnvCollation, {}, {}};
  collation.newValue.assign(std::begin(tds::kCollationLatin1CiAs),
                            std::end(tds::kCollationLatin1CiAs));
  tds::AppendEnvChange(out, collation);
  tds::AppendEnvChange(out, tds::TextEnvChange(tds::kEnvLanguage, "us_english", ""));
  tds::AppendMessage(out,
                     {false,
                      {5703, 1, 0, "Changed language setting to us_english.", 1, ""},
                      context_.Options().serverName},
                     d);
  tds::AppendLoginAck(out, {1, tdsVersion_, "Microsoft SQL Server", kProgVersion});
  auto size = std::to_string(packetSize_);
  tds::AppendEnvChange(out, tds::TextEnvChange(tds::kEnvPacketSize, size, size));
  tds::AppendDone(out, {tds::Token::Done, 0, 0, 0}, d);
  SendMessage(tds::PacketType::TabularResult, out);
  state_ = State::LoggedIn;
}

bool Connection::BeginStatement(std::string_view kind, std::string_view proc, std::string_view sql,
                                std::span<const Param> params, std::int64_t& seq, TokenSink& sink,
                                bool& failed) {
  seq = context_.NextStatement();
  if (auto* log = context_.Log()) log->Write(seq, spid_, kind, proc, sql, params);
  const auto& faults = context_.Options().faults;
  std::string_view matchText = sql.empty() ? proc : sql;
  if (faults.ShouldDrop(seq, matchText)) {
    Close();
    return false;
  }
  if (session_) context_.RunFaultsBefore(matchText, session_->Database());
  if (const int ms = faults.DelayFor(matchText); ms > 0) DelayUnlessCancelled(ms);
  failed = false;
  sink.SetLongValues(faults.LongValueBytesFor(matchText));
  if (const auto* f = faults.FailureFor(seq, matchText)) {
    sink.Error(f->number, 1, 16, f->text);
    sink.StatementDone(false, 0, true);
    failed = true;
  } else if (const auto* c = faults.ExtraCountFor(matchText)) {
    sink.StatementDone(true, c->rows, false);
  }
  sink.SetStepHook(
      [this, seq, params](const StatementStart& start) { return Step(seq, params, start); });
  return true;
}

StepVerdict Connection::Step(std::int64_t seq, std::span<const Param> params,
                             const StatementStart& start) {
  const std::int64_t step = context_.NextStep();
  if (auto* log = context_.Log(); log && context_.Options().stepLog)
    log->WriteStep(step, seq, spid_, start.line, start.text, params);
  const auto& faults = context_.Options().faults;
  StepVerdict verdict;
  if (faults.dropAtStep == step) {
    verdict.kind = StepVerdict::Kind::Drop;
  } else if (const auto* f = faults.FailureAtStep(step)) {
    verdict.kind = StepVerdict::Kind::Fail;
    verdict.number = f->number;
    verdict.text = f->text;
  }
  return verdict;
}

void Connection::EndStatement(std::int64_t seq) {
  if (session_) context_.RunDueFaults(seq, session_->Database());
}

void Connection::HandleBatch(const tds::Bytes& payload) {
  attention_ = false;
  TokenSink sink(writer_, {Dialect(), Dialect().tds72, false, context_.Options().serverName},
                 [this] { return PollAttention(); });
  tds::SqlBatch batch;
  try {
    batch = tds::DecodeSqlBatch(payload, Dialect().tds72);
  } catch (const tds::DecodeError& e) {
    sink.Error(
        4002, 1, 16,
        std::string("The incoming tabular data stream (TDS) protocol stream is incorrect: ") +
            e.what() + ".");
    sink.Finish();
    writer_.Finish();
    return;
  }
  std::int64_t seq;
  bool failed;
  if (!BeginStatement("batch", "", batch.text, {}, seq, sink, failed)) return;
  if (!failed) {
    try {
      session_->Execute(batch.text, {}, sink);
    } catch (const ServerError& e) {
      sink.Message(e.message);
      sink.StatementDone(false, 0, true);
    } catch (const std::exception& e) {
      sink.Error(50000, 1, 16, std::string("The stand-in failed internally: ") + e.what());
      sink.StatementDone(false, 0, true);
    }
  }
  // Dropped: what already left stays sent, the rest of the answer is lost with the session.
  if (sink.Dropped()) return Close();
  sink.Finish();
  writer_.Finish();
  if (broken_) return Close();
  EndStatement(seq);
}

void Connection::HandleStrayAttention() {
  // The request it meant to cancel had already been answered: acknowledge all the same.
  tds::AppendDone(writer_.Payload(), {tds::Token::Done, tds::kDoneAttn, 0, 0}, Dialect());
  writer_.Finish();
}

namespace {

// Drops what it is given: the isolation level a transaction-manager request sets is answered by
// the request's own ENVCHANGE and DONE, not by the SET's.
class DiscardSink final : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>&) override {}
  void Row(std::span<const Value>) override {}
  void StatementDone(bool, std::int64_t, bool) override {}
  void Message(const ServerMessage&) override {}
  void DatabaseChanged(const std::string&, const std::string&) override {}
};

const char* IsolationLevelName(std::uint8_t level) {
  static const char* const kNames[] = {nullptr,           "READ UNCOMMITTED", "READ COMMITTED",
                                       "REPEATABLE READ", "SERIALIZABLE",     "SNAPSHOT"};
  return level < std::size(kNames) ? kNames[level] : nullptr;
}

// The transaction-manager request (BEGIN, COMMIT, ROLLBACK sent without T-SQL) as the T-SQL
// that does the same; the isolation level it sets, if any, in `isolation`. Empty for requests
// the stand-in does not take (distributed transactions, savepoints).
std::string TransactionRequestSql(const tds::Bytes& payload, bool allHeaders,
                                  std::string& isolation) {
  tds::ByteReader r(payload);
  if (allHeaders) {
    std::uint32_t total = r.U32();
    if (total < 4) throw tds::DecodeError("ALL_HEADERS length out of range");
    r.Skip(total - 4);
  }
  auto name = [&r] { r.Skip(std::size_t{r.U8()} * 2); };
  auto level = [&r, &isolation] {
    std::uint8_t l = r.U8();
    const char* n = IsolationLevelName(l);
    if (l != 0 && !n) throw tds::DecodeError("unknown isolation level");
    if (n) isolation = n;
  };
  const std::uint16_t type = r.U16();
  switch (type) {
    case tds::kTmBeginXact:
      level();
      name();
      return "BEGIN TRANSACTION";
    case tds::kTmCommitXact:
    case tds::kTmRollbackXact: {
      std::string sql = type == tds::kTmCommitXact ? "COMMIT TRANSACTION" : "ROLLBACK TRANSACTION";
      name();
      // fBeginXact: a new transaction begins as this one ends.
      if (!r.AtEnd() && (r.U8() & 0x01) != 0) {
        level();
        name();
        sql += "; BEGIN TRANSACTION";
      }
      return sql;
    }
    default:
      return "";
  }
}

}  // namespace

void Connection::HandleTransactionManager(const tds::Bytes& payload) {
  attention_ = false;
  TokenSink sink(writer_, {Dialect(), Dialect().tds72, false, context_.Options().serverName},
                 [this] { return PollAttention(); });
  std::string isolation, sql;
  try {
    sql = TransactionRequestSql(payload, Dialect().tds72, isolation);
  } catch (const tds::DecodeError& e) {
    sink.Error(
        4002, 1, 16,
        std::string("The incoming tabular data stream (TDS) protocol stream is incorrect: ") +
            e.what() + ".");
    sink.Finish();
    writer_.Finish();
    return;
  }
  if (sql.empty()) {
    sink.Error(50000, 1, 16,
               "The stand-in supports only local transactions: begin, commit and rollback.");
    sink.StatementDone(false, 0, true);
    sink.Finish();
    writer_.Finish();
    return;
  }
  std::int64_t seq;
  bool failed;
  if (!BeginStatement("tm", "", sql, {}, seq, sink, failed)) return;
  if (!failed) {
    try {
      if (!isolation.empty()) {
        DiscardSink quiet;
        session_->Execute("SET TRANSACTION ISOLATION LEVEL " + isolation, {}, quiet);
      }
      session_->Execute(sql, {}, sink);
    } catch (const ServerError& e) {
      sink.Message(e.message);
      sink.StatementDone(false, 0, true);
    } catch (const std::exception& e) {
      sink.Error(50000, 1, 16, std::string("The stand-in failed internally: ") + e.what());
      sink.StatementDone(false, 0, true);
    }
  }
  if (sink.Dropped()) return Close();
  sink.Finish();
  writer_.Finish();
  if (broken_) return Close();
  EndStatement(seq);
}

void Connection::HandleRpc(const tds::Bytes& payload) {
  attention_ = false;
  tds::RpcBatch batch;
  try {
    batch = tds::DecodeRpc(payload, Dialect().tds72);
  } catch (const tds::DecodeError& e) {
    TokenSink sink(writer_, {Dialect(), Dialect().tds72, false, context_.Options().serverName},
                   nullptr);
    sink.Error(
        8009, 1, 16,
        std::string("The incoming tabular data stream (TDS) remote procedure call (RPC) protocol "
                    "stream is incorrect: ") +
            e.what() + ".");
    sink.Finish();
    writer_.Finish();
    return;
  }
  for (std::size_t k = 0; k < batch.requests.size(); ++k) {
    TokenSink sink(writer_, {Dialect(), Dialect().tds72, true, context_.Options().serverName},
                   [this] { return PollAttention(); });
    tds::Bytes trailer;
    RunRpc(batch.requests[k], sink, trailer);
    if (state_ == State::Closed) return;
    sink.Finish();
    if (sink.Attention()) break;
    auto& out = writer_.Payload();
    out.insert(out.end(), trailer.begin(), trailer.end());
    bool last = k + 1 == batch.requests.size();
    tds::AppendDone(out,
                    {tds::Token::DoneProc,
                     static_cast<std::uint16_t>((sink.HadError() ? tds::kDoneError : 0) |
                                                (last ? 0 : tds::kDoneMore)),
                     0, 0},
                    Dialect());
    writer_.FlushFull();
  }
  writer_.Finish();
  if (broken_) Close();
}

}  // namespace standin
