#include "standin/engine/Lexer.h"

#include "standin/engine/SqlError.h"

namespace standin {

namespace {

bool IsWordStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
  return IsWordStart(c) || (c >= '0' && c <= '9') || c == '@' || c == '$';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

SqlError Unclosed(std::string_view rest) {
  auto e = MakeError(
      105, FormatMessage("Unclosed quotation mark after the character string '%s'.", {rest}));
  e.abortsBatch = true;
  return e;
}

// Reads a run delimited by `close`, where a doubled `close` stands for itself.
std::size_t ReadDelimited(std::string_view sql, std::size_t pos, char close, std::string& out) {
  while (pos < sql.size()) {
    char c = sql[pos];
    if (c == close) {
      if (pos + 1 < sql.size() && sql[pos + 1] == close) {
        out += close;
        pos += 2;
        continue;
      }
      return pos + 1;
    }
    out += c;
    ++pos;
  }
  return std::string_view::npos;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool Token::Is(std::string_view keyword) const {
  return kind == Tok::Word && EqualsNoCase(value, keyword);
}

std::vector<Token> Tokenize(std::string_view sql, bool quotedIdentifier) {
  // SQLite ends statement text at a NUL byte, so one inside the batch could cut a statement short.
  if (auto nul = sql.find('\0'); nul != std::string_view::npos) throw SyntaxError("\\0");
  std::vector<Token> tokens;
  // Scripts of many megabytes hold a token every few bytes; growing the vector from nothing
  // would move it some twenty times.
  tokens.reserve(sql.size() / 8 + 8);
  std::size_t pos = 0;
  const std::size_t n = sql.size();
  while (true) {
    while (pos < n && (sql[pos] == ' ' || sql[pos] == '\t' || sql[pos] == '\r' ||
                       sql[pos] == '\n' || sql[pos] == '\f' || sql[pos] == '\v'))
      ++pos;
    if (pos >= n) break;
    char c = sql[pos];
    if (c == '-' && pos + 1 < n && sql[pos + 1] == '-') {
      while (pos < n && sql[pos] != '\n') ++pos;
      continue;
    }
    if (c == '/' && pos + 1 < n && sql[pos + 1] == '*') {
      // T-SQL block comments nest.
      int depth = 0;
      std::size_t start = pos;
      while (pos < n) {
        if (sql[pos] == '/' && pos + 1 < n && sql[pos + 1] == '*') {
          ++depth;
          pos += 2;
        } else if (sql[pos] == '*' && pos + 1 < n && sql[pos + 1] == '/') {
          pos += 2;
          if (--depth == 0) break;
        } else {
          ++pos;
        }
      }
      if (depth != 0) {
        auto e = MakeError(113, "Missing end comment mark '*/'.");
        e.abortsBatch = true;
        (void)start;
        throw e;
      }
      continue;
    }
    Token t;
    t.begin = pos;
    if (c == '[') {
      t.kind = Tok::Quoted;
      std::size_t next = ReadDelimited(sql, pos + 1, ']', t.value);
      if (next == std::string_view::npos) throw Unclosed(sql.substr(pos + 1));
      pos = next;
    } else if (c == '"' && quotedIdentifier) {
      t.kind = Tok::Quoted;
      std::size_t next = ReadDelimited(sql, pos + 1, '"', t.value);
      if (next == std::string_view::npos) throw Unclosed(sql.substr(pos + 1));
      pos = next;
    } else if (c == '\'' || c == '"' ||
               ((c == 'N' || c == 'n') && pos + 1 < n && sql[pos + 1] == '\'')) {
      t.kind = Tok::String;
      if (c == 'N' || c == 'n') {
        t.kind = Tok::NString;
        ++pos;
      }
      char close = sql[pos];
      std::size_t next = ReadDelimited(sql, pos + 1, close, t.value);
      if (next == std::string_view::npos) throw Unclosed(sql.substr(pos + 1));
      pos = next;
    } else if (IsDigit(c) || (c == '.' && pos + 1 < n && IsDigit(sql[pos + 1]))) {
      t.kind = Tok::Number;
      std::size_t start = pos;
      while (pos < n && IsDigit(sql[pos])) ++pos;
      if (pos < n && sql[pos] == '.') {
        ++pos;
        while (pos < n && IsDigit(sql[pos])) ++pos;
      }
      if (pos < n && (sql[pos] == 'e' || sql[pos] == 'E')) {
        std::size_t save = pos++;
        if (pos < n && (sql[pos] == '+' || sql[pos] == '-')) ++pos;
        if (pos < n && IsDigit(sql[pos])) {
          while (pos < n && IsDigit(sql[pos])) ++pos;
        } else {
          pos = save;
        }
      }
      t.value = std::string(sql.substr(start, pos - start));
    } else if (c == '@') {
      std::size_t start = pos;
      t.kind = Tok::Variable;
      ++pos;
      if (pos < n && sql[pos] == '@') {
        t.kind = Tok::Global;
        ++pos;
      }
      while (pos < n && IsWordChar(static_cast<unsigned char>(sql[pos]))) ++pos;
      t.value = std::string(sql.substr(start, pos - start));
      if (t.value == "@" || t.value == "@@") throw SyntaxError(t.value);
    } else if (IsWordStart(static_cast<unsigned char>(c))) {
      t.kind = Tok::Word;
      std::size_t start = pos;
      while (pos < n && IsWordChar(static_cast<unsigned char>(sql[pos]))) ++pos;
      t.value = std::string(sql.substr(start, pos - start));
    } else {
      t.kind = Tok::Symbol;
      static constexpr std::string_view kTwo[] = {"<>", "<=", ">=", "!=", "!<", "!>"};
      bool matched = false;
      if (pos + 1 < n) {
        for (auto two : kTwo) {
          if (sql.substr(pos, 2) == two) {
            t.value = std::string(two);
            pos += 2;
            matched = true;
            break;
          }
        }
      }
      if (!matched) {
        static constexpr std::string_view kOne = "(),.;=<>+-*/%&|^~";
        if (kOne.find(c) == std::string_view::npos) {
          // Report a whole UTF-8 sequence, never a broken byte.
          std::size_t len = 1;
          while (pos + len < n && (static_cast<unsigned char>(sql[pos + len]) & 0xC0) == 0x80)
            ++len;
          throw SyntaxError(sql.substr(pos, len));
        }
        t.value = std::string(1, c);
        ++pos;
      }
    }
    t.end = pos;
    tokens.push_back(std::move(t));
  }
  Token end;
  end.kind = Tok::End;
  end.begin = end.end = n;
  tokens.push_back(std::move(end));
  return tokens;
}

}  // namespace standin
