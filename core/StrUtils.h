#pragma once
// Plain text helpers over UTF-8 `std::string`. Letter case is folded for ASCII letters only,
// so the result never depends on the process locale and bytes of multi-byte characters are
// never touched. Trimming removes every byte up to and including the blank (control
// characters too), which never matches a byte of a multi-byte UTF-8 character.

#include <string>
#include <string_view>
#include <vector>

namespace bunkmere {

constexpr char AsciiUpper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
constexpr char AsciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
constexpr bool IsAsciiLetter(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsAsciiDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);

// Equality with ASCII letters compared without regard to case.
bool SameText(std::string_view S1, std::string_view S2) noexcept;
// Ordering with ASCII letters folded to upper case, then by byte value: <0, 0 or >0.
int CompareText(std::string_view S1, std::string_view S2) noexcept;
bool StartsText(std::string_view ASubText, std::string_view AText) noexcept;
// Position of the first occurrence of ASubText in AText, letter case ignored; npos if none.
std::size_t FindText(std::string_view AText, std::string_view ASubText) noexcept;

// Blanks and control characters (every byte <= ' ') are cut from the chosen ends.
std::string_view TrimView(std::string_view S) noexcept;
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// Cuts at every ADelimiter; the pieces keep their blanks and empty pieces are kept, so
// Split("a;;b;", ';') gives "a", "", "b", "".
std::vector<std::string> Split(std::string_view S, char ADelimiter);
std::string Join(const std::vector<std::string>& APieces, std::string_view ASeparator);

// Every occurrence of AOld replaced by ANew; an empty AOld changes nothing.
std::string StringReplace(std::string_view S, std::string_view AOld, std::string_view ANew);

// Every line break (CR LF, a lone CR or a lone LF) written as CR LF, the form text files of
// the system's platform use.
std::string AdjustLineBreaks(std::string_view S);

// S on one line, for a log or a terminal: each run of line breaks, with the blanks around it,
// becomes one space; breaks at either end go.
std::string OneLine(std::string_view S);

}  // namespace bunkmere
