#pragma once
// Numbers and Booleans to and from text, with the reading rules the system's platform uses,
// which stored connection strings and site files rely on.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bunkmere {

// Decimal, no grouping, a leading "-" when negative.
std::string IntToStr(std::int64_t AValue);

// A 32-bit integer: leading blanks, an optional sign, then decimal digits, or hexadecimal
// digits after "$", "x", "X", "0x" or "0X". Nothing may follow the digits. Decimal values
// must lie in the 32-bit range; hexadecimal values up to FFFFFFFF are taken as the 32-bit
// pattern they spell ("$FFFFFFFF" is -1).
bool TryStrToInt(std::string_view S, std::int32_t& AValue) noexcept;
// As TryStrToInt; fails with EConvertError "'S' is not a valid integer value".
std::int32_t StrToInt(std::string_view S);

// An integer value of a site file: a value longer than two characters that begins with "0x"
// or "0X" is hexadecimal; anything else is read as TryStrToInt reads it. Not a number: none.
std::optional<std::int32_t> IniStrToInt(std::string_view S) noexcept;

// "True" and "False" in any letter case, or a number (integer as TryStrToInt reads it, or a
// decimal fraction such as "0.0" or "1e3"): zero is false, any other number true.
bool TryStrToBool(std::string_view S, bool& AValue) noexcept;
// As TryStrToBool; fails with EConvertError "'S' is not a valid boolean value".
bool StrToBool(std::string_view S);
// "True"/"False" with AUseBoolStrs, else the numeric forms "-1"/"0".
std::string BoolToStr(bool AValue, bool AUseBoolStrs = false);

}  // namespace bunkmere
