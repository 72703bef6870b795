#include "core/SqlText.h"

#include "core/StrUtils.h"

namespace bunkmere {

namespace {

std::string Doubled(std::string_view S, char AChar) {
  std::string r;
  r.reserve(S.size() + 2);
  for (char c : S) {
    r += c;
    if (c == AChar) r += c;
  }
  return r;
}

std::string Undoubled(std::string_view S, char AChar) {
  std::string r;
  r.reserve(S.size());
  for (std::size_t i = 0; i < S.size(); ++i) {
    r += S[i];
    if (S[i] == AChar && i + 1 < S.size() && S[i + 1] == AChar) ++i;
  }
  return r;
}

std::string QuotePart(std::string_view APart, TNameQuoting AQuoting) {
  if (APart.empty()) return {};
  switch (AQuoting) {
    case TNameQuoting::nqUnquote:
      return UnquoteName(APart);
    case TNameQuoting::nqQuoteIfNeeded:
      return QuoteNameIfNeeded(APart);
    case TNameQuoting::nqQuote:
      return QuoteName(APart);
  }
  return std::string(APart);
}

}  // namespace

std::string QuotedStr(std::string_view AValue) {
  return "'" + Doubled(AValue, '\'') + "'";
}

std::string BracketEscape(std::string_view AName) {
  return Doubled(AName, ']');
}

bool IsQuotedName(std::string_view AName) noexcept {
  if (AName.size() < 2) return false;
  return (AName.front() == '[' && AName.back() == ']') ||
         (AName.front() == '"' && AName.back() == '"');
}

bool NameNeedsQuoting(std::string_view AName) noexcept {
  if (AName.empty()) return false;
  if (!IsAsciiLetter(AName[0])) return true;
  for (std::size_t i = 1; i < AName.size(); ++i) {
    const char c = AName[i];
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '$') return true;
  }
  return false;
}

std::string QuoteName(std::string_view AName) {
  if (IsQuotedName(AName)) return std::string(AName);
  // Without the doubling a "]" inside the name would end the identifier early and let the
  // rest of the name run on as statement text.
  return "[" + BracketEscape(AName) + "]";
}

std::string QuoteNameIfNeeded(std::string_view AName) {
  if (IsQuotedName(AName) || !NameNeedsQuoting(AName)) return std::string(AName);
  return QuoteName(AName);
}

std::string UnquoteName(std::string_view AName) {
  if (!IsQuotedName(AName)) return std::string(AName);
  const char closing = AName.back();
  return Undoubled(AName.substr(1, AName.size() - 2), closing);
}

std::string NormalizeName(std::string_view AName, TNameQuoting AQuoting) {
  // Part by part from the left, each part read once: a hostile name of many parts costs no
  // more than its length.
  std::string out;
  std::string_view rest = AName;
  for (;;) {
    // A quoted first part may itself hold dots, so it ends only at its closing character
    // followed by a dot. The closing character found must not be half of a doubled escape.
    std::size_t split = std::string_view::npos;  // position of the separating "."
    if (!rest.empty() && (rest[0] == '[' || rest[0] == '"')) {
      const char closing = rest[0] == '[' ? ']' : '"';
      for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] != closing) continue;
        if (i + 1 < rest.size() && rest[i + 1] == closing) {
          ++i;  // doubled: part of the name
          continue;
        }
        if (i + 1 < rest.size() && rest[i + 1] == '.') split = i + 1;
        break;
      }
    } else {
      split = rest.find('.');
    }
    if (split == std::string_view::npos) return out += QuotePart(rest, AQuoting);
    out += QuotePart(rest.substr(0, split), AQuoting);
    out += '.';
    rest = rest.substr(split + 1);
  }
}

}  // namespace bunkmere
