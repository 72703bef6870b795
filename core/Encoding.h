#pragma once
// Conversions between the system's inner text (UTF-8 std::string), UTF-16 (the text of the
// platform's interfaces, counted in 16-bit units) and the byte encodings of files.
//
// Every decoder takes any byte sequence: malformed input becomes U+FFFD (one per maximal
// invalid subsequence, or per unpaired surrogate) and nothing is read past the input.

#include <cstddef>
#include <string>
#include <string_view>

namespace bunkmere {

constexpr unsigned CP_WINDOWS1252 = 1252;
constexpr unsigned CP_UTF8 = 65001;

std::u16string Utf8ToUtf16(std::string_view S);
std::string Utf16ToUtf8(std::u16string_view S);

bool IsValidUtf8(std::string_view S) noexcept;
// U+FFFD in place of every malformed subsequence; valid text comes back unchanged.
std::string SanitizeUtf8(std::string_view S);

// The length of S in UTF-16 units, as Utf8ToUtf16(S).size() would give.
std::size_t Utf16Length(std::string_view S) noexcept;
// The longest prefix of S whose length in UTF-16 units is at most ACount; a character is
// never split (one that needs two units is left out when only one remains).
std::string Utf8Left(std::string_view S, std::size_t ACount);

// Windows-1252, every byte mapped (the five bytes the code page leaves undefined map to the
// C1 control characters of the same value, as the system's platform maps them).
std::string Windows1252ToUtf8(std::string_view ABytes);

// Whether ABytes start with a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark.
bool HasByteOrderMark(std::string_view ABytes) noexcept;

// The text of a file's bytes. A byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE and is
// dropped. Without one the bytes are in the ANSI code page: with CP_UTF8 they are taken as
// UTF-8 when they are valid UTF-8 and as Windows-1252 otherwise (files written on other
// workstations); any other code page reads as Windows-1252.
std::string DecodeText(std::string_view ABytes, unsigned AAnsiCodePage);

// AText written in the ANSI code page ACodePage (CP_UTF8 or CP_WINDOWS1252): characters the
// code page lacks become "?", one per character; malformed input is written as U+FFFD in
// UTF-8 and as "?" in Windows-1252. No byte-order mark.
std::string EncodeAnsi(std::string_view AText, unsigned AAnsiCodePage);

}  // namespace bunkmere
