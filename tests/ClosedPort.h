#pragma once
// A loopback port that refuses connections: taken from the system and held bound, without
// listening, for the object's lifetime. A connection to it is refused at once, and no other
// program can be given the port meanwhile (a port merely assumed closed, or one given back
// before use, may be listened on by then). POSIX sockets.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace bunkmere::testing {

class TClosedPort {
 public:
  TClosedPort() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FSocket < 0 ||
        ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (FSocket >= 0) ::close(FSocket);
      throw std::runtime_error("cannot take a loopback port from the system");
    }
    FPort = ntohs(address.sin_port);
  }
  ~TClosedPort() { ::close(FSocket); }
  TClosedPort(const TClosedPort&) = delete;
  TClosedPort& operator=(const TClosedPort&) = delete;

  int Port() const noexcept { return FPort; }
  // "127.0.0.1,PORT", as a connection string names it.
  std::string Server() const { return "127.0.0.1," + std::to_string(FPort); }

 private:
  int FSocket = -1;
  int FPort = 0;
};

}  // namespace bunkmere::testing
