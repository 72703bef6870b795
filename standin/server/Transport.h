#pragma once
// A session's byte stream: the socket, in the clear or through TLS. TDS 7.x clients do the TLS
// handshake inside PRELOGIN packets and then send TLS records directly; for "login only" the
// TLS layer is dropped once the LOGIN7 message has arrived. TDS 8.0 clients start with TLS.

#include <cstdint>
#include <span>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

namespace standin {

class Transport {
 public:
  // `fd` stays owned by the caller.
  explicit Transport(int fd) : fd_(fd) {}
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Reads exactly n bytes; false when the peer leaves, fails, or sends nothing for timeoutMs
  // (-1: wait for ever).
  bool Read(std::uint8_t* to, std::size_t n, int timeoutMs);
  // Sends both parts whole; false when the peer is gone.
  bool Write(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
  // True when a Read would find data at once.
  bool InputWaiting();
  // The first byte the client sends, left unread; -1 when none comes.
  int PeekFirstByte(int timeoutMs);

  // TLS inside PRELOGIN packets (2.2.6.5 and 3.3.5.1 of TDS 7.x). Returns false, with the reason
  // in Failure(), when the handshake fails.
  bool HandshakeInPrelogin(ssl_ctx_st* context, int timeoutMs);
  // TLS first (TDS 8.0).
  bool HandshakeStrict(ssl_ctx_st* context, int timeoutMs);
  // Back to the clear, after the LOGIN7 of a "login only" session.
  void DropTls();

  bool Encrypted() const { return ssl_ != nullptr; }
  // "TLSv1.2" and the like while encrypted; the version used last after DropTls.
  const std::string& TlsVersion() const { return tlsVersion_; }
  const std::string& Failure() const { return failure_; }

 private:
  bool RawRead(std::uint8_t* to, std::size_t n, int timeoutMs);
  bool RawWrite(std::span<const std::uint8_t> data);
  bool WaitReadable(int timeoutMs);
  bool Fail(const std::string& why);

  int fd_;
  ssl_st* ssl_ = nullptr;
  std::string tlsVersion_;
  std::string failure_;
};

}  // namespace standin
