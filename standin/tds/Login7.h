#pragma once
// LOGIN7 (2.2.6.4): the fixed part, then variable strings located by (offset, length) pairs
// relative to the start of the message. The password travels scrambled (nibbles swapped, then
// XOR 0xA5); the codec hands it out in clear.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "standin/tds/Bytes.h"

namespace standin::tds {

struct Login7 {
  std::uint32_t tdsVersion = 0;
  std::uint32_t packetSize = 0;
  std::uint32_t clientProgVer = 0;
  std::uint32_t clientPid = 0;
  std::uint32_t connectionId = 0;
  std::uint8_t optionFlags1 = 0, optionFlags2 = 0, typeFlags = 0, optionFlags3 = 0;
  std::int32_t clientTimeZone = 0;
  std::uint32_t clientLcid = 0;
  std::string hostName, userName, password, appName, serverName, libraryName, language, database;
  std::array<std::uint8_t, 6> clientId{};
  Bytes sspi;
  std::string attachDbFile, changePassword;

  bool operator==(const Login7&) const = default;
};

// Throws DecodeError when a length or offset points outside the message or a string is not
// valid UTF-16. Feature extensions are skipped: the stand-in offers none.
Login7 DecodeLogin7(std::span<const std::uint8_t> payload);
Bytes EncodeLogin7(const Login7& login);

}  // namespace standin::tds
