// Type names in declarations, CAST and CONVERT.

#include "standin/engine/ParserCore.h"

namespace standin {
namespace parser_detail {

int Parser::TypeLength(bool allowMax) {
  if (!AcceptSymbol("(")) return -2;
  int n;
  if (allowMax && Accept("MAX")) {
    n = -1;
  } else {
    const Token& t = Next();
    if (t.kind != Tok::Number || t.value.find_first_not_of("0123456789") != std::string::npos ||
        t.value.size() > 9)
      Fail();
    n = std::atoi(t.value.c_str());
  }
  ExpectSymbol(")");
  return n;
}

TypeSpec Parser::Type() {
  const Token& t = Peek();
  if (t.kind != Tok::Word && t.kind != Tok::Quoted) Fail();
  std::string name = Upper(t.value);
  ++pos_;
  TypeSpec ts;
  auto checkLength = [&](int n, int max) {
    if (n == 0 || n > max) {
      auto e = MakeError(131,
                         FormatMessage("The size (%s) given to the type '%s' exceeds the "
                                       "maximum allowed for any data type (%s).",
                                       {std::to_string(n), Upper(t.value), std::to_string(max)}),
                         2, 15);
      e.abortsBatch = true;
      throw e;
    }
  };
  if (name == "INT" || name == "INTEGER") {
    ts.type = SqlType::Int;
  } else if (name == "SMALLINT") {
    ts.type = SqlType::SmallInt;
  } else if (name == "TINYINT") {
    ts.type = SqlType::TinyInt;
  } else if (name == "BIGINT") {
    ts.type = SqlType::BigInt;
  } else if (name == "BIT") {
    ts.type = SqlType::Bit;
  } else if (name == "FLOAT" || name == "DOUBLE") {
    if (name == "DOUBLE") Expect("PRECISION");
    int n = TypeLength(false);
    ts.type = n > 0 && n <= 24 ? SqlType::Real : SqlType::Float;
  } else if (name == "REAL") {
    ts.type = SqlType::Real;
  } else if (name == "DECIMAL" || name == "NUMERIC" || name == "DEC") {
    ts.type = SqlType::Decimal;
    ts.precision = 18;
    if (AcceptSymbol("(")) {
      const Token& p = Next();
      if (p.kind != Tok::Number || p.value.size() > 9) Fail();
      ts.precision = std::atoi(p.value.c_str());
      if (AcceptSymbol(",")) {
        const Token& s = Next();
        if (s.kind != Tok::Number || s.value.size() > 9) Fail();
        ts.scale = std::atoi(s.value.c_str());
      }
      ExpectSymbol(")");
      if (ts.precision < 1 || ts.precision > 38 || ts.scale < 0 || ts.scale > ts.precision) {
        auto e = MakeError(2750, FormatMessage("Column or parameter #%s: Specified column "
                                               "precision %s is greater than the maximum "
                                               "precision of 38.",
                                               {"1", std::to_string(ts.precision)}));
        e.abortsBatch = true;
        throw e;
      }
    }
  } else if (name == "MONEY") {
    ts.type = SqlType::Decimal;
    ts.precision = 19;
    ts.scale = 4;
  } else if (name == "CHAR" || name == "CHARACTER" || name == "NCHAR") {
    ts.type = name == "NCHAR" ? SqlType::NChar : SqlType::Char;
    if (name == "CHARACTER" && Accept("VARYING")) ts.type = SqlType::VarChar;
    int n = TypeLength(false);
    if (n != -2) checkLength(n, ts.type == SqlType::NChar ? 4000 : 8000);
    ts.length = n == -2 ? 1 : n;
  } else if (name == "VARCHAR" || name == "NVARCHAR") {
    ts.type = name == "NVARCHAR" ? SqlType::NVarChar : SqlType::VarChar;
    int n = TypeLength(true);
    if (n >= 0) checkLength(n, ts.type == SqlType::NVarChar ? 4000 : 8000);
    ts.length = n == -2 ? 1 : n;
  } else if (name == "SYSNAME") {
    ts.type = SqlType::NVarChar;
    ts.length = 128;
  } else if (name == "TEXT") {
    ts.type = SqlType::Text;
    ts.length = -1;
  } else if (name == "NTEXT") {
    ts.type = SqlType::NText;
    ts.length = -1;
  } else if (name == "DATETIME" || name == "SMALLDATETIME") {
    ts.type = SqlType::DateTime;
  } else {
    throw NotSupported(t.value);
  }
  return ts;
}

}  // namespace parser_detail
}  // namespace standin
