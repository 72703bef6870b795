#pragma once
// Text conversions at the wire: the engine speaks UTF-8, TDS speaks UTF-16LE for names, SQL and
// NVARCHAR data, and code page 1252 for CHAR/VARCHAR/TEXT under the Latin1 collation.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "standin/tds/Bytes.h"

namespace standin::tds {

// Decodes UTF-16LE to UTF-8. An unpaired surrogate is malformed input: DecodeError.
std::string Utf16ToUtf8(std::span<const std::uint8_t> utf16le);
// Appends UTF-8 as UTF-16LE. Invalid UTF-8 bytes become U+FFFD. Returns code units written.
std::size_t AppendUtf16(Bytes& out, std::string_view utf8);
// Number of UTF-16 code units the UTF-8 text needs.
std::size_t Utf16Length(std::string_view utf8);

// Code page 1252 <-> UTF-8. A character outside the code page becomes '?', as SQL Server
// stores it in a VARCHAR column of a 1252 collation.
std::string Cp1252ToUtf8(std::span<const std::uint8_t> bytes);
void AppendCp1252(Bytes& out, std::string_view utf8);
std::size_t Cp1252Length(std::string_view utf8);

}  // namespace standin::tds
