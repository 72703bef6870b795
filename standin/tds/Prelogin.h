#pragma once
// PRELOGIN (2.2.6.5): a table of (token, offset, length) entries and their data.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "standin/tds/Bytes.h"

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

// The server's answer: its version, no encryption, no instance, no MARS. The MARS entry must be
// there: FreeTDS drops to TDS 7.1 when it is missing.
Prelogin ServerPrelogin();

}  // namespace standin::tds
