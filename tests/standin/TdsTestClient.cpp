#include "tests/standin/TdsTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "standin/tds/Prelogin.h"

namespace standin::test {

InProcessServer::InProcessServer(ServerOptions options, const std::string& logPath) {
  if (!logPath.empty()) log_.Open(logPath);
  server_ =
      std::make_unique<Server>(engine_, std::move(options), logPath.empty() ? nullptr : &log_);
  port_ = server_->Listen();
  thread_ = std::thread([this] { server_->Serve(); });
}

InProcessServer::~InProcessServer() {
  server_->Stop();
  thread_.join();
  server_.reset();
}

TdsTestClient::TdsTestClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot connect to the stand-in");
}

TdsTestClient::~TdsTestClient() {
  ::close(fd_);
}

void TdsTestClient::SendRaw(const tds::Bytes& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;  // the server may already have closed: the test reads that next
    off += static_cast<std::size_t>(n);
  }
}

void TdsTestClient::Send(tds::PacketType type, const tds::Bytes& payload,
                         std::uint32_t packetSize) {
  SendRaw(tds::FrameMessage(type, payload, packetSize));
}

static bool ReadAll(int fd, std::uint8_t* to, std::size_t n, int timeoutMs) {
  while (n > 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    ssize_t got = ::recv(fd, to, n, 0);
    if (got <= 0) return false;
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool TdsTestClient::ReadMessage(tds::Bytes& payload, std::vector<tds::PacketHeader>* headers,
                                int timeoutMs) {
  payload.clear();
  for (;;) {
    std::uint8_t raw[tds::kHeaderSize];
    if (!ReadAll(fd_, raw, sizeof raw, timeoutMs)) return false;
    auto h =
        tds::DecodeHeader(std::span<const std::uint8_t, tds::kHeaderSize>(raw, tds::kHeaderSize));
    if (headers) headers->push_back(h);
    std::size_t at = payload.size();
    payload.resize(at + h.length - tds::kHeaderSize);
    if (!ReadAll(fd_, payload.data() + at, h.length - tds::kHeaderSize, timeoutMs)) return false;
    if (h.status & tds::kStatusEom) return true;
  }
}

bool TdsTestClient::ClosedByServer(int timeoutMs) {
  std::uint8_t buf[4096];
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
    if (got <= 0) return true;
  }
}

tds::Login7 TdsTestClient::DefaultLogin(const std::string& user, const std::string& password,
                                        const std::string& database) {
  tds::Login7 l;
  l.tdsVersion = tds::kTds74;
  l.packetSize = 4096;
  l.clientPid = 1234;
  l.optionFlags1 = 0xE0;
  l.optionFlags2 = 0x03;
  l.hostName = "testhost";
  l.userName = user;
  l.password = password;
  l.appName = "protocol-test";
  l.serverName = "127.0.0.1";
  l.libraryName = "test";
  l.database = database;
  return l;
}

std::vector<tds::AnyToken> TdsTestClient::Response() {
  tds::Bytes payload;
  if (!ReadMessage(payload)) throw std::runtime_error("the stand-in closed the connection");
  return tds::DecodeTokens(payload, dialect_);
}

std::vector<tds::AnyToken> TdsTestClient::Login(const tds::Login7& login) {
  Send(tds::PacketType::PreLogin, tds::EncodePrelogin(tds::ServerPrelogin()));
  tds::Bytes payload;
  if (!ReadMessage(payload)) throw std::runtime_error("no PRELOGIN answer");
  tds::DecodePrelogin(payload);
  dialect_.tds72 = login.tdsVersion >= 0x72000000;
  Send(tds::PacketType::Login7, tds::EncodeLogin7(login));
  auto tokens = Response();
  packetSize_ = login.packetSize;
  return tokens;
}

std::vector<tds::AnyToken> TdsTestClient::Batch(const std::string& sql) {
  tds::SqlBatch b;
  b.text = sql;
  Send(tds::PacketType::SqlBatch, tds::EncodeSqlBatch(b, dialect_.tds72), packetSize_);
  return Response();
}

std::vector<tds::AnyToken> TdsTestClient::Rpc(const tds::RpcRequest& request) {
  tds::RpcBatch b;
  b.requests.push_back(request);
  Send(tds::PacketType::Rpc, tds::EncodeRpc(b, dialect_.tds72), packetSize_);
  return Response();
}

std::vector<int> ErrorNumbers(const std::vector<tds::AnyToken>& tokens) {
  std::vector<int> out;
  for (const auto& m : TokensOf<tds::Message>(tokens))
    if (m.isError) out.push_back(m.message.number);
  return out;
}

}  // namespace standin::test
