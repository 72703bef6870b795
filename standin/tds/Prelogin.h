#pragma once
// PRELOGIN (2.2.6.5): a table of (token, offset, length) entries and their data.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "standin/tds/Bytes.h"
#include "standin/tds/Wire.h"

namespace standin::tds {

struct PreloginOption {
  std::uint8_t token = 0;
  Bytes data;
  bool operator==(const PreloginOption&) const = default;
};

struct Prelogin {
  std::vector<PreloginOption> options;  // in table order
  bool operator==(const Prelogin&) const = default;

  const PreloginOption* Find(std::uint8_t token) const;
};

// Throws DecodeError for an unterminated table or data outside the message.
Prelogin DecodePrelogin(std::span<const std::uint8_t> payload);
Bytes EncodePrelogin(const Prelogin& prelogin);

// The server's answer: its version, the given ENCRYPTION value, no instance, no MARS. The MARS
// entry must be there: FreeTDS drops to TDS 7.1 when it is missing.
Prelogin ServerPrelogin(std::uint8_t encryption = kEncryptNotSup);

// How the server is set to answer a client's ENCRYPTION option, as SQL Server's settings give it.
enum class EncryptionMode : std::uint8_t {
  NotSupported,  // no certificate: every answer is NOT_SUP
  Off,           // a certificate, not forced: the login is encrypted, data only if the client asks
  On,            // encrypt everything any client can encrypt
  Required,      // "Force Encryption": everything, and a client that cannot is turned away
  Strict,        // TDS 8.0 only: TLS before the first TDS byte
};

// The server's ENCRYPTION answer to a client's value (2.2.6.5's table).
std::uint8_t AnswerEncryption(EncryptionMode mode, std::uint8_t client);
// What an answer means for the session: nothing encrypted, the login only, or everything.
enum class Protection : std::uint8_t { None, LoginOnly, All };
Protection NegotiatedProtection(std::uint8_t client, std::uint8_t server);

}  // namespace standin::tds
