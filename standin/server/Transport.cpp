#include "standin/server/Transport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <vector>

#include "standin/tds/Packet.h"
#include "standin/tds/Wire.h"

namespace standin {
namespace {

std::string OpenSslReason() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "the peer closed the connection";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

// A blocked SSL_read must not outlive a peer that stalls inside a record. Writes keep no
// limit, as in the clear: a client may take its time between blocks of a long result.
void SetReceiveTimeout(int fd, int timeoutMs) {
  if (timeoutMs < 0) return;
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace

Transport::~Transport() {
  if (ssl_ != nullptr) SSL_free(ssl_);
}

bool Transport::Fail(const std::string& why) {
  failure_ = why;
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  return false;
}

bool Transport::WaitReadable(int timeoutMs) {
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, timeoutMs);
    if (r > 0) return true;
    if (r == 0) return false;  // the peer stalled
    if (errno != EINTR) return false;
  }
}

bool Transport::RawRead(std::uint8_t* to, std::size_t n, int timeoutMs) {
  while (n > 0) {
    if (!WaitReadable(timeoutMs)) return false;
    ssize_t got = ::recv(fd_, to, n, 0);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool Transport::RawWrite(std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Transport::Read(std::uint8_t* to, std::size_t n, int timeoutMs) {
  if (ssl_ == nullptr) return RawRead(to, n, timeoutMs);
  while (n > 0) {
    if (SSL_pending(ssl_) == 0 && !WaitReadable(timeoutMs)) return false;
    int got = SSL_read(ssl_, to, static_cast<int>(std::min<std::size_t>(n, 1 << 20)));
    if (got <= 0) {
      int err = SSL_get_error(ssl_, got);
      if (err == SSL_ERROR_WANT_READ) continue;  // a record that carried no data
      ERR_clear_error();
      return false;
    }
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool Transport::Write(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  if (ssl_ == nullptr) {
    if (b.empty()) return RawWrite(a);
    if (a.empty()) return RawWrite(b);
  }
  // One buffer, so that a packet travels as one TLS record rather than a header record and a
  // body record.
  std::vector<std::uint8_t> whole;
  whole.reserve(a.size() + b.size());
  whole.insert(whole.end(), a.begin(), a.end());
  whole.insert(whole.end(), b.begin(), b.end());
  if (ssl_ == nullptr) return RawWrite(whole);
  if (whole.empty()) return true;
  int n = SSL_write(ssl_, whole.data(), static_cast<int>(whole.size()));
  if (n <= 0) {
    ERR_clear_error();
    return false;
  }
  return true;
}

bool Transport::InputWaiting() {
  if (ssl_ != nullptr && SSL_pending(ssl_) > 0) return true;
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

int Transport::PeekFirstByte(int timeoutMs) {
  if (!WaitReadable(timeoutMs)) return -1;
  std::uint8_t b;
  ssize_t got;
  do {
    got = ::recv(fd_, &b, 1, MSG_PEEK);
  } while (got < 0 && errno == EINTR);
  return got == 1 ? b : -1;
}

bool Transport::HandshakeInPrelogin(ssl_ctx_st* context, int timeoutMs) {
  ssl_ = SSL_new(context);
  if (ssl_ == nullptr) return Fail("TLS: " + OpenSslReason());
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(ssl_, in, out);
  SSL_set_accept_state(ssl_);
  for (;;) {
    // Each PRELOGIN packet carries handshake records; the packet boundaries mean nothing to TLS.
    std::uint8_t raw[tds::kHeaderSize];
    if (!RawRead(raw, sizeof raw, timeoutMs))
      return Fail("the client left during the TLS handshake");
    tds::PacketHeader h;
    try {
      h = tds::DecodeHeader(std::span<const std::uint8_t, tds::kHeaderSize>(raw, sizeof raw));
    } catch (const tds::DecodeError&) {
      return Fail("a malformed packet during the TLS handshake");
    }
    if (h.type != tds::PacketType::PreLogin)
      return Fail("a packet other than PRELOGIN during the TLS handshake");
    std::vector<std::uint8_t> body(h.length - tds::kHeaderSize);
    if (!body.empty() && !RawRead(body.data(), body.size(), timeoutMs))
      return Fail("the client left during the TLS handshake");
    BIO_write(in, body.data(), static_cast<int>(body.size()));
    int r = SSL_do_handshake(ssl_);
    if (r != 1 && SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ)
      return Fail("TLS handshake failed: " + OpenSslReason());
    if (BIO_ctrl_pending(out) > 0) {
      std::vector<std::uint8_t> flight(BIO_ctrl_pending(out));
      BIO_read(out, flight.data(), static_cast<int>(flight.size()));
      auto framed = tds::FrameMessage(tds::PacketType::PreLogin, flight, tds::kDefaultPacketSize);
      if (!RawWrite(framed)) return Fail("the client left during the TLS handshake");
    }
    if (r == 1) break;
  }
  if (BIO_ctrl_pending(in) > 0) return Fail("data after the TLS handshake inside PRELOGIN");
  // From here TLS records travel on the socket itself.
  BIO* socket = BIO_new_socket(fd_, BIO_NOCLOSE);
  SSL_set_bio(ssl_, socket, socket);
  SetReceiveTimeout(fd_, timeoutMs);
  tlsVersion_ = SSL_get_version(ssl_);
  return true;
}

bool Transport::HandshakeStrict(ssl_ctx_st* context, int timeoutMs) {
  ssl_ = SSL_new(context);
  if (ssl_ == nullptr) return Fail("TLS: " + OpenSslReason());
  SSL_set_fd(ssl_, fd_);
  SetReceiveTimeout(fd_, timeoutMs);
  if (SSL_accept(ssl_) != 1) return Fail("TLS handshake failed: " + OpenSslReason());
  tlsVersion_ = SSL_get_version(ssl_);
  return true;
}

void Transport::DropTls() {
  if (ssl_ == nullptr) return;
  // The client drops its side without a close_notify: nothing more goes through TLS.
  SSL_free(ssl_);
  ssl_ = nullptr;
}

}  // namespace standin
