#include "dataaccess/GeneratedSql.h"

#include <algorithm>
#include <array>

#include "core/SqlText.h"
#include "core/StrUtils.h"

namespace bunkmere {
namespace {

// A lexical piece of T-SQL, just enough to tell code from literals, comments and names.
struct TToken {
  enum class Kind { Space, Word, Literal, Comment, Bracketed, Quoted, Other } kind;
  std::size_t begin, end;
  int depth;  // parenthesis depth at the token
};

bool IsWordChar(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == '$' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Splits ASql into tokens. Unterminated literals, comments and names run to the end.
std::vector<TToken> Tokenize(std::string_view s) {
  std::vector<TToken> out;
  std::size_t i = 0, n = s.size();
  int depth = 0;
  while (i < n) {
    std::size_t start = i;
    char c = s[i];
    TToken::Kind kind;
    if (static_cast<unsigned char>(c) <= ' ') {
      while (i < n && static_cast<unsigned char>(s[i]) <= ' ') ++i;
      kind = TToken::Kind::Space;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'')) {
      i += c == '\'' ? 1 : 2;
      while (i < n) {
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      kind = TToken::Kind::Literal;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
      kind = TToken::Kind::Comment;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      // T-SQL block comments nest.
      int level = 0;
      while (i < n) {
        if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') {
          ++level;
          i += 2;
        } else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') {
          i += 2;
          if (--level == 0) break;
        } else {
          ++i;
        }
      }
      kind = TToken::Kind::Comment;
    } else if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      ++i;
      while (i < n) {
        if (s[i] == close) {
          if (i + 1 < n && s[i + 1] == close) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      kind = c == '[' ? TToken::Kind::Bracketed : TToken::Kind::Quoted;
    } else if (IsWordChar(c)) {
      while (i < n && IsWordChar(s[i])) ++i;
      kind = TToken::Kind::Word;
    } else {
      ++i;
      kind = TToken::Kind::Other;
      if (c == ')') depth = std::max(0, depth - 1);
    }
    out.push_back({kind, start, i, depth});
    if (kind == TToken::Kind::Other && c == '(') ++depth;
  }
  return out;
}

bool IsWord(std::string_view s, const TToken& t, std::string_view word) {
  return t.kind == TToken::Kind::Word && t.depth == 0 &&
         SameText(s.substr(t.begin, t.end - t.begin), word);
}

bool EndsClause(std::string_view s, const TToken& t) {
  static constexpr std::array<std::string_view, 9> kWords = {
      "WHERE", "GROUP", "HAVING", "ORDER", "UNION", "EXCEPT", "INTERSECT", "FOR", "OPTION"};
  if (t.depth != 0) return false;
  if (t.kind == TToken::Kind::Other && s[t.begin] == ';') return true;
  for (std::string_view w : kWords)
    if (IsWord(s, t, w)) return true;
  return false;
}

// Index of the first top-level FROM token, or tokens.size().
std::size_t FindFrom(std::string_view s, const std::vector<TToken>& toks) {
  for (std::size_t k = 0; k < toks.size(); ++k)
    if (IsWord(s, toks[k], "FROM")) return k;
  return toks.size();
}

// Moves back from token index k over spaces and comments; returns the text position just after
// the last code token before k.
std::size_t EndOfCodeBefore(const std::vector<TToken>& toks, std::size_t k, std::size_t floor) {
  while (k > floor &&
         (toks[k - 1].kind == TToken::Kind::Space || toks[k - 1].kind == TToken::Kind::Comment))
    --k;
  return k == 0 ? 0 : toks[k - 1].end;
}

std::string JoinNames(const std::vector<std::string>& names, bool quote, std::string_view suffix) {
  std::string out;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k) out += ", ";
    out += ColumnName(names[k], quote);
    out += suffix;
  }
  return out;
}

}  // namespace

TWireStatement ReplaceParamMarkers(std::string_view s) {
  TWireStatement out;
  // Every marker starts with a colon: a statement without one (the pass's counts and
  // listings, built anew for each cell and bed) is sent as it is, without tokenizing it.
  if (s.find(':') == std::string_view::npos) {
    out.Text.assign(s);
    return out;
  }
  out.Text.reserve(s.size());
  std::size_t copied = 0;
  for (const TToken& t : Tokenize(s)) {
    if (t.kind != TToken::Kind::Other || s[t.begin] != ':') continue;
    std::size_t i = t.begin + 1;
    if (i >= s.size()) continue;
    // "::" is no marker (and neither half starts one).
    if (s[i] == ':' || (t.begin > 0 && s[t.begin - 1] == ':')) continue;
    std::size_t nameEnd = i;
    if (s[i] == '[' || s[i] == '"') {
      char close = s[i] == '[' ? ']' : '"';
      nameEnd = i + 1;
      while (nameEnd < s.size()) {
        if (s[nameEnd] == close) {
          if (nameEnd + 1 < s.size() && s[nameEnd + 1] == close) {
            nameEnd += 2;
            continue;
          }
          ++nameEnd;
          break;
        }
        ++nameEnd;
      }
    } else {
      while (nameEnd < s.size() && IsWordChar(s[nameEnd])) ++nameEnd;
    }
    if (nameEnd == i) continue;
    out.Text.append(s.substr(copied, t.begin - copied));
    out.Text += '?';
    out.ParamNames.emplace_back(s.substr(i, nameEnd - i));
    copied = nameEnd;
  }
  if (out.ParamNames.empty()) {
    out.Text.assign(s);
    return out;
  }
  out.Text.append(s.substr(copied));
  return out;
}

std::string ColumnName(std::string_view AName, bool AQuoteNames) {
  if (!AQuoteNames && !NameNeedsQuoting(AName)) return std::string(AName);
  std::string out;
  out.reserve(AName.size() + 2);
  out += '[';
  for (char c : AName) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

std::string GeneratedName(std::string_view AName, bool AQuoteNames) {
  return NormalizeName(AName, AQuoteNames ? TNameQuoting::nqQuote : TNameQuoting::nqQuoteIfNeeded);
}

std::string TableStatement(std::string_view ATableName, std::string_view AOrderFields,
                           bool AQuoteNames) {
  std::string sql = "SELECT * FROM " + GeneratedName(ATableName, AQuoteNames) + "\r\n";
  std::string order = Trim(AOrderFields);
  if (!order.empty()) sql += "ORDER BY " + order + "\r\n";
  return sql;
}

std::vector<std::string> SplitFieldList(std::string_view AList) {
  std::vector<std::string> out;
  for (const std::string& piece : Split(AList, ';')) {
    std::string name = Trim(piece);
    if (!name.empty()) out.push_back(std::move(name));
  }
  return out;
}

std::string MasterDetailCondition(std::string_view ADetailFields, std::string_view AMasterFields,
                                  bool AQuoteNames) {
  std::vector<std::string> detail = SplitFieldList(ADetailFields);
  std::vector<std::string> master = SplitFieldList(AMasterFields);
  std::string cond;
  for (std::size_t k = 0; k < std::min(detail.size(), master.size()); ++k) {
    if (k) cond += " AND ";
    cond += AQuoteNames ? QuoteName(detail[k]) : QuoteNameIfNeeded(detail[k]);
    cond += " = :";
    cond += AQuoteNames ? QuoteName(master[k]) : QuoteNameIfNeeded(master[k]);
  }
  return cond;
}

std::string MergeCondition(std::string_view s, std::string_view ACondition) {
  if (ACondition.empty()) return std::string(s);
  std::vector<TToken> toks = Tokenize(s);
  std::size_t from = FindFrom(s, toks);
  std::size_t k = from == toks.size() ? toks.size() : from + 1;
  while (k < toks.size() && !EndsClause(s, toks[k])) ++k;
  if (k < toks.size() && IsWord(s, toks[k], "WHERE")) {
    std::size_t where = k;
    std::size_t condStart = k + 1;
    while (condStart < toks.size() && toks[condStart].kind == TToken::Kind::Space) ++condStart;
    std::size_t end = where + 1;
    while (end < toks.size() && !(EndsClause(s, toks[end]) && !IsWord(s, toks[end], "WHERE")))
      ++end;
    std::size_t condEnd = EndOfCodeBefore(toks, end, condStart);
    std::size_t condBegin = condStart < toks.size() ? toks[condStart].begin : s.size();
    if (condEnd < condBegin) condEnd = condBegin;
    std::string out(s.substr(0, toks[where].end));
    out += " (";
    out.append(s.substr(condBegin, condEnd - condBegin));
    out += ") AND ";
    out.append(ACondition);
    out.append(s.substr(condEnd));
    return out;
  }
  std::size_t at =
      k < toks.size() ? EndOfCodeBefore(toks, k, 0) : EndOfCodeBefore(toks, toks.size(), 0);
  std::string out(s.substr(0, at));
  out += "\r\nWHERE ";
  out.append(ACondition);
  out += ' ';
  out.append(s.substr(at));
  return out;
}

std::string FirstFromTable(std::string_view s) {
  std::vector<TToken> toks = Tokenize(s);
  std::size_t k = FindFrom(s, toks);
  if (k == toks.size()) return {};
  ++k;
  auto skipBlank = [&] {
    while (k < toks.size() &&
           (toks[k].kind == TToken::Kind::Space || toks[k].kind == TToken::Kind::Comment))
      ++k;
  };
  skipBlank();
  std::string name;
  for (;;) {
    if (k >= toks.size()) break;
    const TToken& t = toks[k];
    std::string_view text = s.substr(t.begin, t.end - t.begin);
    if (t.kind == TToken::Kind::Word)
      name += text;
    else if (t.kind == TToken::Kind::Bracketed || t.kind == TToken::Kind::Quoted)
      name += UnquoteName(text);
    else
      break;
    ++k;
    if (k < toks.size() && toks[k].kind == TToken::Kind::Other && s[toks[k].begin] == '.') {
      name += '.';
      ++k;
      continue;
    }
    break;
  }
  return name;
}

std::string KeyCondition(const std::vector<TKeyTerm>& AKeys, bool AQuoteNames) {
  std::string out;
  for (std::size_t k = 0; k < AKeys.size(); ++k) {
    if (k) out += " AND ";
    out += ColumnName(AKeys[k].Name, AQuoteNames);
    out += AKeys[k].IsNull ? " IS NULL" : " = ?";
  }
  return out;
}

std::string RefreshRecordStatement(std::string_view ATable,
                                   const std::vector<TSelectColumn>& AColumns,
                                   std::string_view AKeyCondition, bool AQuoteNames) {
  std::string out = "SELECT ";
  for (std::size_t k = 0; k < AColumns.size(); ++k) {
    if (k) out += ", ";
    out += ColumnName(AColumns[k].Name, AQuoteNames);
    out += " AS _";
    out += std::to_string(AColumns[k].Index);
  }
  out += " FROM ";
  out += GeneratedName(ATable, AQuoteNames);
  out += "\r\nWHERE\r\n  ";
  out.append(AKeyCondition);
  return out;
}

std::string UpdateStatement(std::string_view ATable, const std::vector<std::string>& AColumns,
                            std::string_view AKeyCondition, bool AQuoteNames) {
  std::string out = "UPDATE " + GeneratedName(ATable, AQuoteNames) + "\r\nSET\r\n  ";
  out += JoinNames(AColumns, AQuoteNames, " = ?");
  out += "\r\nWHERE\r\n  ";
  out.append(AKeyCondition);
  return out;
}

std::string InsertStatement(std::string_view ATable, const std::vector<std::string>& AColumns,
                            bool AQuoteNames) {
  std::string out = "INSERT INTO " + GeneratedName(ATable, AQuoteNames);
  if (AColumns.empty()) return out + "\r\nDEFAULT VALUES";
  out += "\r\n  (" + JoinNames(AColumns, AQuoteNames, "") + ")\r\nVALUES\r\n  (";
  for (std::size_t k = 0; k < AColumns.size(); ++k) out += k ? ", ?" : "?";
  return out + ")";
}

std::string DeleteStatement(std::string_view ATable, std::string_view AKeyCondition,
                            bool AQuoteNames) {
  std::string out = "DELETE FROM " + GeneratedName(ATable, AQuoteNames) + "\r\nWHERE\r\n  ";
  out.append(AKeyCondition);
  return out;
}

}  // namespace bunkmere
