#include "core/StrUtils.h"

#include <algorithm>

namespace bunkmere {

std::string UpperCase(std::string_view S) {
  std::string r(S);
  std::transform(r.begin(), r.end(), r.begin(), AsciiUpper);
  return r;
}

std::string LowerCase(std::string_view S) {
  std::string r(S);
  std::transform(r.begin(), r.end(), r.begin(), AsciiLower);
  return r;
}

bool SameText(std::string_view S1, std::string_view S2) noexcept {
  if (S1.size() != S2.size()) return false;
  for (std::size_t i = 0; i < S1.size(); ++i)
    if (AsciiUpper(S1[i]) != AsciiUpper(S2[i])) return false;
  return true;
}

int CompareText(std::string_view S1, std::string_view S2) noexcept {
  const std::size_t n = std::min(S1.size(), S2.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(AsciiUpper(S1[i]));
    const auto b = static_cast<unsigned char>(AsciiUpper(S2[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (S1.size() == S2.size()) return 0;
  return S1.size() < S2.size() ? -1 : 1;
}

bool StartsText(std::string_view ASubText, std::string_view AText) noexcept {
  return AText.size() >= ASubText.size() && SameText(AText.substr(0, ASubText.size()), ASubText);
}

std::size_t FindText(std::string_view AText, std::string_view ASubText) noexcept {
  if (ASubText.size() > AText.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + ASubText.size() <= AText.size(); ++i)
    if (SameText(AText.substr(i, ASubText.size()), ASubText)) return i;
  return std::string_view::npos;
}

namespace {
constexpr bool IsTrimmed(char c) noexcept {
  return static_cast<unsigned char>(c) <= ' ';
}
}  // namespace

std::string_view TrimView(std::string_view S) noexcept {
  std::size_t b = 0, e = S.size();
  while (b < e && IsTrimmed(S[b])) ++b;
  while (e > b && IsTrimmed(S[e - 1])) --e;
  return S.substr(b, e - b);
}

std::string Trim(std::string_view S) {
  return std::string(TrimView(S));
}

std::string TrimLeft(std::string_view S) {
  std::size_t b = 0;
  while (b < S.size() && IsTrimmed(S[b])) ++b;
  return std::string(S.substr(b));
}

std::string TrimRight(std::string_view S) {
  std::size_t e = S.size();
  while (e > 0 && IsTrimmed(S[e - 1])) --e;
  return std::string(S.substr(0, e));
}

std::vector<std::string> Split(std::string_view S, char ADelimiter) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t pos = S.find(ADelimiter, start);
    if (pos == std::string_view::npos) {
      pieces.emplace_back(S.substr(start));
      return pieces;
    }
    pieces.emplace_back(S.substr(start, pos - start));
    start = pos + 1;
  }
}

std::string Join(const std::vector<std::string>& APieces, std::string_view ASeparator) {
  std::string r;
  for (std::size_t i = 0; i < APieces.size(); ++i) {
    if (i > 0) r += ASeparator;
    r += APieces[i];
  }
  return r;
}

std::string StringReplace(std::string_view S, std::string_view AOld, std::string_view ANew) {
  if (AOld.empty()) return std::string(S);
  std::string r;
  r.reserve(S.size());
  std::size_t start = 0;
  for (std::size_t pos; (pos = S.find(AOld, start)) != std::string_view::npos;
       start = pos + AOld.size()) {
    r.append(S.substr(start, pos - start));
    r.append(ANew);
  }
  r.append(S.substr(start));
  return r;
}

std::string AdjustLineBreaks(std::string_view S) {
  std::string r;
  r.reserve(S.size() + S.size() / 16);
  for (std::size_t i = 0; i < S.size(); ++i) {
    const char c = S[i];
    if (c == '\r') {
      r += "\r\n";
      if (i + 1 < S.size() && S[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      r += "\r\n";
    } else {
      r += c;
    }
  }
  return r;
}

std::string OneLine(std::string_view S) {
  std::string r;
  r.reserve(S.size());
  bool breakPending = false;
  for (const char c : S) {
    if (c == '\r' || c == '\n') {
      while (!r.empty() && (r.back() == ' ' || r.back() == '\t')) r.pop_back();
      breakPending = !r.empty();
    } else if (breakPending && (c == ' ' || c == '\t')) {
      // Indentation after a break goes with it.
    } else {
      if (breakPending) r += ' ';
      breakPending = false;
      r += c;
    }
  }
  return r;
}

}  // namespace bunkmere
