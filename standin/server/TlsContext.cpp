#include "standin/server/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstring>
#include <stdexcept>

namespace standin {
namespace {

std::string OpenSslReason() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "unknown reason";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

const unsigned char kAlpnTds8[] = {'t', 'd', 's', '/', '8', '.', '0'};

// A TDS 8.0 client names "tds/8.0"; one that names other protocols only is refused, as SQL
// Server refuses it.
int SelectTds8(SSL*, const unsigned char** out, unsigned char* outLen, const unsigned char* in,
               unsigned int inLen, void*) {
  for (unsigned int i = 0; i < inLen;) {
    unsigned int len = in[i];
    if (i + 1 + len > inLen) break;
    if (len == sizeof kAlpnTds8 && std::memcmp(in + i + 1, kAlpnTds8, len) == 0) {
      *out = in + i + 1;
      *outLen = static_cast<unsigned char>(len);
      return SSL_TLSEXT_ERR_OK;
    }
    i += 1 + len;
  }
  return SSL_TLSEXT_ERR_ALERT_FATAL;
}

SSL_CTX* MakeContext(const std::string& certFile, const std::string& keyFile, int minVersion,
                     int maxVersion) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) throw std::runtime_error("TLS: " + OpenSslReason());
  SSL_CTX_set_min_proto_version(ctx, minVersion);
  SSL_CTX_set_max_proto_version(ctx, maxVersion);
  // A session ticket sent after the handshake would arrive where a TDS 7.x client expects the
  // end of PRELOGIN; nothing here resumes sessions anyway.
  SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
  SSL_CTX_set_num_tickets(ctx, 0);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
    std::string why = OpenSslReason();
    SSL_CTX_free(ctx);
    throw std::runtime_error("cannot load the certificate " + certFile + ": " + why);
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    std::string why = OpenSslReason();
    SSL_CTX_free(ctx);
    throw std::runtime_error("cannot use the key " + keyFile + ": " + why);
  }
  return ctx;
}

}  // namespace

TlsContext::TlsContext(const std::string& certFile, const std::string& keyFile) {
  // TDS 7.x inside PRELOGIN: TLS 1.2, the newest SQL Server speaks there.
  tds7_ = MakeContext(certFile, keyFile, TLS1_2_VERSION, TLS1_2_VERSION);
  try {
    strict_ = MakeContext(certFile, keyFile, TLS1_2_VERSION, TLS1_3_VERSION);
  } catch (...) {
    SSL_CTX_free(tds7_);
    throw;
  }
  SSL_CTX_set_alpn_select_cb(strict_, SelectTds8, nullptr);
}

TlsContext::~TlsContext() {
  SSL_CTX_free(tds7_);
  SSL_CTX_free(strict_);
}

}  // namespace standin
