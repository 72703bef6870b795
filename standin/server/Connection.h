#pragma once
// One client session: the state machine PRELOGIN -> LOGIN7 -> logged in, then requests until
// the client leaves. Any malformed input ends this session only; the engine session (and with
// it the ## tables it created) is destroyed whenever the connection ends.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "standin/Engine.h"
#include "standin/server/SessionLog.h"
#include "standin/server/Transport.h"
#include "standin/tds/Packet.h"
#include "standin/tds/Request.h"
#include "standin/tds/Tokens.h"

namespace standin {

class ServerContext;
class TokenSink;

class Connection {
 public:
  // `fd` stays owned by the caller, which closes it after Run returns.
  Connection(int fd, int spid, ServerContext& context, const std::atomic<bool>& stopping);
  ~Connection();
  void Run();

 private:
  enum class State { PreLogin, Login, LoggedIn, Closed };
  struct Prepared {
    std::string sql;
    std::string declaration;
  };

  bool ReadMessage(tds::PacketType& type, tds::Bytes& payload);
  bool ReadExact(std::uint8_t* to, std::size_t n, int timeoutMs);
  bool PollAttention();
  void SendPacket(std::span<const std::uint8_t> header, std::span<const std::uint8_t> body);
  void SendMessage(tds::PacketType type, const tds::Bytes& payload);
  void Close();

  void HandlePrelogin(const tds::Bytes& payload);
  void HandleLogin(const tds::Bytes& payload);
  void HandleBatch(const tds::Bytes& payload);
  void HandleRpc(const tds::Bytes& payload);
  void HandleTransactionManager(const tds::Bytes& payload);
  // Sleeps ms milliseconds, or until the client sends ATTENTION.
  void DelayUnlessCancelled(int ms);
  void HandleStrayAttention();
  // TLS first, for a TDS 8.0 client; false when the session cannot go on.
  bool StartStrict();
  void RecordSession(const std::string& user, const std::string& outcome);

  // Statement bookkeeping shared by batches and RPCs: numbering, log, faults. Returns false
  // when the session was dropped by a fault.
  bool BeginStatement(std::string_view kind, std::string_view proc, std::string_view sql,
                      std::span<const Param> params, std::int64_t& seq, TokenSink& sink,
                      bool& failed);
  void EndStatement(std::int64_t seq);
  // Before each statement of request `seq` runs: gives it the next step number, logs it and
  // applies the step faults.
  StepVerdict Step(std::int64_t seq, std::span<const Param> params, const StatementStart& start);
  void RunRpc(const tds::RpcRequest& request, TokenSink& sink, tds::Bytes& trailer);
  void SendLoginError(const std::vector<ServerMessage>& messages);
  tds::Dialect Dialect() const { return {tdsVersion_ >= 0x72000000}; }

  int fd_;
  int spid_;
  ServerContext& context_;
  const std::atomic<bool>& stopping_;
  State state_ = State::PreLogin;
  std::uint32_t tdsVersion_ = tds::kTds74;
  std::uint32_t packetSize_ = tds::kDefaultPacketSize;
  tds::MessageAssembler assembler_;
  tds::PacketWriter writer_;
  std::unique_ptr<Session> session_;
  std::map<std::int32_t, Prepared> prepared_;
  std::int32_t nextHandle_ = 1;
  Transport transport_;
  // What PRELOGIN settled: the client's ENCRYPTION value (-1: none sent), the server's answer,
  // and whether the login must arrive encrypted.
  int clientEncrypt_ = -1;
  int serverEncrypt_ = -1;
  bool loginMustBeEncrypted_ = false;
  bool loginOnly_ = false;
  bool strict_ = false;
  bool loginEncrypted_ = false;
  bool attention_ = false;  // ATTENTION seen while a request ran
  bool broken_ = false;     // the socket failed; stop writing
};

}  // namespace standin
