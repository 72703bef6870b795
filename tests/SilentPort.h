#pragma once
// A loopback port that takes connections and never answers them: what a hung server, or a
// network that swallows the login, looks like to a client, which then waits out its login
// time-out. POSIX sockets; the port closes with the object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace bunkmere::testing {

class TSilentPort {
 public:
  TSilentPort() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FSocket < 0 ||
        ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FSocket, 8) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (FSocket >= 0) ::close(FSocket);
      throw std::runtime_error("cannot open a listening loopback port");
    }
    FPort = ntohs(address.sin_port);
  }
  ~TSilentPort() { ::close(FSocket); }
  TSilentPort(const TSilentPort&) = delete;
  TSilentPort& operator=(const TSilentPort&) = delete;

  int Port() const noexcept { return FPort; }
  // "127.0.0.1,PORT", as a connection string names it.
  std::string Server() const { return "127.0.0.1," + std::to_string(FPort); }

 private:
  int FSocket = -1;
  int FPort = 0;
};

}  // namespace bunkmere::testing
