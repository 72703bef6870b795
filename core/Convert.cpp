#include "core/Convert.h"

#include "core/Exceptions.h"
#include "core/StrUtils.h"

namespace bunkmere {

std::string IntToStr(std::int64_t AValue) {
  return std::to_string(AValue);
}

namespace {

int HexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TryStrToInt(std::string_view S, std::int32_t& AValue) noexcept {
  std::size_t i = 0;
  while (i < S.size() && S[i] == ' ') ++i;
  bool negative = false;
  if (i < S.size() && (S[i] == '-' || S[i] == '+')) negative = S[i++] == '-';

  bool hex = false;
  if (i < S.size() && (S[i] == '$' || S[i] == 'x' || S[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < S.size() && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == S.size()) return false;  // no digits

  // Accumulated in 64 bits and checked after every digit, so no length of input overflows.
  std::uint64_t magnitude = 0;
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  for (; i < S.size(); ++i) {
    const int d = hex ? HexDigit(S[i]) : (IsAsciiDigit(S[i]) ? S[i] - '0' : -1);
    if (d < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (magnitude > limit) return false;
  }
  // Hexadecimal digits spell the 32-bit pattern, so "$FFFFFFFF" is -1 and "-$1" is -1.
  auto bits = static_cast<std::uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  AValue = static_cast<std::int32_t>(bits);
  return true;
}

std::int32_t StrToInt(std::string_view S) {
  std::int32_t value = 0;
  if (!TryStrToInt(S, value))
    throw EConvertError("'" + std::string(S) + "' is not a valid integer value");
  return value;
}

std::optional<std::int32_t> IniStrToInt(std::string_view S) noexcept {
  std::int32_t value = 0;
  if (S.size() > 2 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X')) {
    // The "0x" form is read as "$" followed by the rest, so "0x$1" and "0x-1" are no numbers.
    if (!TryStrToInt(std::string("$").append(S.substr(2)), value)) return std::nullopt;
    return value;
  }
  if (!TryStrToInt(S, value)) return std::nullopt;
  return value;
}

namespace {

// A decimal number of any size ("-0.0", "12", "1.5e3", ".5"); AIsZero tells whether it is 0.
bool ReadDecimalNumber(std::string_view S, bool& AIsZero) noexcept {
  std::size_t i = 0;
  while (i < S.size() && S[i] == ' ') ++i;
  if (i < S.size() && (S[i] == '-' || S[i] == '+')) ++i;
  bool digits = false, zero = true;
  for (; i < S.size() && IsAsciiDigit(S[i]); ++i) {
    digits = true;
    zero = zero && S[i] == '0';
  }
  if (i < S.size() && S[i] == '.') {
    for (++i; i < S.size() && IsAsciiDigit(S[i]); ++i) {
      digits = true;
      zero = zero && S[i] == '0';
    }
  }
  if (!digits) return false;
  if (i < S.size() && (S[i] == 'e' || S[i] == 'E')) {
    ++i;
    if (i < S.size() && (S[i] == '-' || S[i] == '+')) ++i;
    const std::size_t start = i;
    while (i < S.size() && IsAsciiDigit(S[i])) ++i;
    if (i == start) return false;
  }
  while (i < S.size() && S[i] == ' ') ++i;
  if (i != S.size()) return false;
  AIsZero = zero;
  return true;
}

}  // namespace

bool TryStrToBool(std::string_view S, bool& AValue) noexcept {
  std::int32_t number = 0;
  bool isZero = false;
  if (TryStrToInt(S, number)) {
    AValue = number != 0;
  } else if (ReadDecimalNumber(S, isZero)) {
    AValue = !isZero;
  } else if (SameText(S, "True")) {
    AValue = true;
  } else if (SameText(S, "False")) {
    AValue = false;
  } else {
    return false;
  }
  return true;
}

bool StrToBool(std::string_view S) {
  bool value = false;
  if (!TryStrToBool(S, value))
    throw EConvertError("'" + std::string(S) + "' is not a valid boolean value");
  return value;
}

std::string BoolToStr(bool AValue, bool AUseBoolStrs) {
  if (AUseBoolStrs) return AValue ? "True" : "False";
  return AValue ? "-1" : "0";
}

}  // namespace bunkmere
