#pragma once
// A bare TDS client for the protocol tests (built on the stand-in's codecs, so the tests that
// matter most use FreeTDS and pytds instead), and an in-process server with the fake engine.

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "standin/server/Server.h"
#include "standin/tds/Login7.h"
#include "standin/tds/Packet.h"
#include "standin/tds/Request.h"
#include "standin/tds/Tokens.h"
#include "tests/standin/FakeEngine.h"

namespace standin::test {

class InProcessServer {
 public:
  explicit InProcessServer(ServerOptions options = {}, const std::string& logPath = "");
  ~InProcessServer();
  int Port() const { return port_; }
  FakeEngine& Engine() { return engine_; }
  Server& GetServer() { return *server_; }

 private:
  FakeEngine engine_;
  StatementLog log_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
  int port_ = 0;
};

class TdsTestClient {
 public:
  explicit TdsTestClient(int port);
  ~TdsTestClient();
  TdsTestClient(const TdsTestClient&) = delete;
  TdsTestClient& operator=(const TdsTestClient&) = delete;

  void SendRaw(const tds::Bytes& bytes);
  void Send(tds::PacketType type, const tds::Bytes& payload, std::uint32_t packetSize = 4096);
  // One whole response; false when the server closed the connection (or timed out).
  bool ReadMessage(tds::Bytes& payload, std::vector<tds::PacketHeader>* headers = nullptr,
                   int timeoutMs = 10000);
  // True when the server closes the connection within the time, reading anything it sends.
  bool ClosedByServer(int timeoutMs = 10000);

  static tds::Login7 DefaultLogin(const std::string& user = "sa",
                                  const std::string& password = "Standin#1",
                                  const std::string& database = "");
  std::vector<tds::AnyToken> Login(const tds::Login7& login);
  std::vector<tds::AnyToken> Login() { return Login(DefaultLogin()); }
  std::vector<tds::AnyToken> Batch(const std::string& sql);
  std::vector<tds::AnyToken> Rpc(const tds::RpcRequest& request);
  std::vector<tds::AnyToken> Response();
  tds::Dialect Dialect() const { return dialect_; }

 private:
  int fd_ = -1;
  tds::Dialect dialect_;
  std::uint32_t packetSize_ = 4096;
};

// Helpers to pick tokens out of a response.
template <typename T>
std::vector<T> TokensOf(const std::vector<tds::AnyToken>& tokens) {
  std::vector<T> out;
  for (const auto& t : tokens)
    if (auto* p = std::get_if<T>(&t)) out.push_back(*p);
  return out;
}
std::vector<int> ErrorNumbers(const std::vector<tds::AnyToken>& tokens);

}  // namespace standin::test
