#pragma once
// The server's certificate and key, loaded once, and the two TLS setups SQL Server offers:
// TLS carried inside PRELOGIN packets for TDS 7.x clients, and TLS before any TDS byte with
// ALPN "tds/8.0" for TDS 8.0 (strict) clients.

#include <memory>
#include <string>

struct ssl_ctx_st;

namespace standin {

class TlsContext {
 public:
  // Throws std::runtime_error naming the file (and OpenSSL's reason) when the certificate or the
  // key cannot be loaded, or when they do not belong together.
  TlsContext(const std::string& certFile, const std::string& keyFile);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  ssl_ctx_st* Tds7() const { return tds7_; }
  ssl_ctx_st* Strict() const { return strict_; }

 private:
  ssl_ctx_st* tds7_ = nullptr;
  ssl_ctx_st* strict_ = nullptr;
};

}  // namespace standin
