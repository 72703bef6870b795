#pragma once
// Splits T-SQL text into tokens. Names in brackets or (with QUOTED_IDENTIFIER ON) in double
// quotes come back unescaped; string literals come back with their doubled quotes undone.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

enum class Tok {
  End,
  Word,      // plain identifier or keyword: SELECT, dbo, ##LOCK, #t
  Quoted,    // [name] or "name"
  Number,    // 12, 1.5, 2e3
  String,    // 'text'
  NString,   // N'text'
  Variable,  // @P1, @name
  Global,    // @@SPID
  Symbol,    // operators and punctuation: ( ) , . ; = <> < > <= >= != + - * / %
};

struct Token {
  Tok kind = Tok::End;
  std::string value;      // decoded text (names unescaped, string contents, upper-cased symbols)
  std::size_t begin = 0;  // offset of the token in the source
  std::size_t end = 0;
  bool Is(std::string_view keyword) const;  // a Word equal to `keyword`, ignoring case
  bool IsSymbol(std::string_view s) const { return kind == Tok::Symbol && value == s; }
};

// Throws SqlError (102 or 105) on text that cannot be split into tokens.
std::vector<Token> Tokenize(std::string_view sql, bool quotedIdentifier);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace standin
