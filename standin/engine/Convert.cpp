#include "standin/engine/Convert.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "standin/engine/SqlError.h"

namespace standin {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

void Range(SqlType t, std::int64_t& lo, std::int64_t& hi) {
  switch (t) {
    case SqlType::TinyInt:
      lo = 0;
      hi = 255;
      break;
    case SqlType::SmallInt:
      lo = -32768;
      hi = 32767;
      break;
    case SqlType::Int:
      lo = INT32_MIN;
      hi = INT32_MAX;
      break;
    default:
      lo = INT64_MIN;
      hi = INT64_MAX;
      break;
  }
}

SqlError Overflow(std::string_view from, SqlType to) {
  auto e = MakeError(8115, FormatMessage("Arithmetic overflow error converting %s to data type %s.",
                                         {from, TypeName(to)}));
  e.statementTerminated = true;
  return e;
}

SqlError TextConversion(std::string_view text, SqlType to) {
  auto e = MakeError(245, FormatMessage("Conversion failed when converting the varchar value '%s' "
                                        "to data type %s.",
                                        {text, TypeName(to)}));
  e.abortsBatch = true;
  return e;
}

// Strict decimal number syntax SQL Server accepts for numeric and float text.
bool ParseNumberText(std::string_view s, double& value) {
  s = Trim(s);
  if (s.empty() || s.size() > 300) return false;
  char buf[320];
  std::size_t n = 0;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
    buf[n++] = c;
  }
  buf[n] = '\0';
  char* end = nullptr;
  value = std::strtod(buf, &end);
  return end == buf + n && std::isfinite(value);
}

Dyn IntegerResult(std::int64_t v) {
  Dyn d;
  d.kind = Dyn::Kind::Int;
  d.i = v;
  return d;
}

Dyn ToInteger(const Dyn& in, SqlType to) {
  std::int64_t lo, hi;
  Range(to, lo, hi);
  switch (in.kind) {
    case Dyn::Kind::Int:
      if (in.i < lo || in.i > hi) throw Overflow("expression", to);
      return IntegerResult(in.i);
    case Dyn::Kind::Float: {
      double t = std::trunc(in.f);
      if (!(t >= static_cast<double>(lo) && t <= static_cast<double>(hi)) ||
          (to == SqlType::BigInt && t >= 9223372036854775807.0))
        throw Overflow("float", to);
      return IntegerResult(static_cast<std::int64_t>(t));
    }
    case Dyn::Kind::Text: {
      std::string_view s = Trim(in.text);
      if (s.empty()) return IntegerResult(0);  // SQL Server reads '' as 0
      bool negative = false;
      std::size_t i = 0;
      if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        i = 1;
      }
      if (i == s.size()) throw TextConversion(in.text, to);
      unsigned long long magnitude = 0;
      bool overflow = false;
      for (; i < s.size(); ++i) {
        char c = s[i];
        if (c < '0' || c > '9') throw TextConversion(in.text, to);
        if (magnitude > (ULLONG_MAX - 9) / 10) overflow = true;
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
      }
      std::int64_t v = 0;
      if (!overflow && magnitude <= 9223372036854775808ULL) {
        if (negative)
          v = magnitude == 9223372036854775808ULL ? INT64_MIN
                                                  : -static_cast<std::int64_t>(magnitude);
        else if (magnitude <= 9223372036854775807ULL)
          v = static_cast<std::int64_t>(magnitude);
        else
          overflow = true;
      } else {
        overflow = true;
      }
      if (overflow || v < lo || v > hi) {
        bool vowel = TypeName(to)[0] == 'i';
        auto e = MakeError(248, FormatMessage("The conversion of the varchar value '%s' overflowed "
                                              "%s %s column.",
                                              {in.text, vowel ? "an" : "a", TypeName(to)}));
        e.abortsBatch = true;
        throw e;
      }
      return IntegerResult(v);
    }
    case Dyn::Kind::Null:
      break;
  }
  return in;
}

Dyn ToBit(const Dyn& in) {
  switch (in.kind) {
    case Dyn::Kind::Int:
      return IntegerResult(in.i != 0);
    case Dyn::Kind::Float:
      return IntegerResult(in.f != 0);
    case Dyn::Kind::Text: {
      std::string_view s = Trim(in.text);
      if (EqualsNoCaseAscii(s, "true")) return IntegerResult(1);
      if (EqualsNoCaseAscii(s, "false")) return IntegerResult(0);
      double v;
      if (s.empty()) return IntegerResult(0);
      if (!ParseNumberText(s, v)) throw TextConversion(in.text, SqlType::Bit);
      return IntegerResult(v != 0);
    }
    case Dyn::Kind::Null:
      break;
  }
  return in;
}

Dyn ToFloating(const Dyn& in, const TypeSpec& target) {
  Dyn d;
  d.kind = Dyn::Kind::Float;
  switch (in.kind) {
    case Dyn::Kind::Int:
      d.f = static_cast<double>(in.i);
      break;
    case Dyn::Kind::Float:
      d.f = in.f;
      break;
    case Dyn::Kind::Text:
      if (Trim(in.text).empty() && target.type != SqlType::Decimal) {
        d.f = 0;
        break;
      }
      if (!ParseNumberText(in.text, d.f)) {
        auto e =
            MakeError(8114, FormatMessage("Error converting data type varchar to %s.",
                                          {target.type == SqlType::Decimal ? "numeric" : "float"}));
        e.abortsBatch = true;
        throw e;
      }
      break;
    case Dyn::Kind::Null:
      return in;
  }
  if (target.type == SqlType::Real) d.f = static_cast<float>(d.f);
  if (target.type == SqlType::Decimal) {
    double scaled = std::round(d.f * std::pow(10.0, target.scale));
    double limit = std::pow(10.0, target.precision);
    if (std::fabs(scaled) >= limit) {
      std::string_view from = in.kind == Dyn::Kind::Int    ? "int"
                              : in.kind == Dyn::Kind::Text ? "varchar"
                                                           : "float";
      auto e = Overflow(from, SqlType::Decimal);
      e.message.text =
          FormatMessage("Arithmetic overflow error converting %s to data type numeric.", {from});
      throw e;
    }
    d.f = scaled / std::pow(10.0, target.scale);
    if (target.scale == 0 && std::fabs(d.f) < 9.2e18)
      return IntegerResult(static_cast<std::int64_t>(d.f));
  }
  return d;
}

// Cuts `text` to `length` characters: only blanks may be cut when storing.
std::string_view FitText(std::string_view text, int length, ConvertMode mode) {
  if (length < 0) return text;
  std::size_t chars = 0, cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == static_cast<std::size_t>(length)) {
        cut = i;
        break;
      }
      ++chars;
    }
  }
  if (cut == text.size()) return text;
  if (mode == ConvertMode::Store && text.find_first_not_of(' ', cut) != std::string_view::npos) {
    auto e = MakeError(8152, "String or binary data would be truncated.", 14);
    e.statementTerminated = true;
    throw e;
  }
  return text.substr(0, cut);
}

Dyn ToText(const Dyn& in, const TypeSpec& target, ConvertMode mode, std::string& buffer) {
  std::string_view text;
  char num[64];
  switch (in.kind) {
    case Dyn::Kind::Null:
      return in;
    case Dyn::Kind::Int: {
      auto r = std::to_chars(num, num + sizeof num, in.i);
      text = std::string_view(num, static_cast<std::size_t>(r.ptr - num));
      break;
    }
    case Dyn::Kind::Float: {
      int n = std::snprintf(num, sizeof num, "%.15g", in.f);
      text = std::string_view(num, static_cast<std::size_t>(n));
      break;
    }
    case Dyn::Kind::Text:
      text = in.text;
      break;
  }
  text = FitText(text, target.length, mode);
  Dyn d;
  d.kind = Dyn::Kind::Text;
  bool pad = IsFixedText(target.type) && target.length > 0;
  std::size_t chars = pad ? CharCount(text) : 0;
  if (in.kind != Dyn::Kind::Text || (pad && chars < static_cast<std::size_t>(target.length))) {
    buffer.assign(text);
    if (pad && chars < static_cast<std::size_t>(target.length))
      buffer.append(static_cast<std::size_t>(target.length) - chars, ' ');
    d.text = buffer;
  } else {
    d.text = text;
  }
  return d;
}

Dyn ToDateTime(const Dyn& in, DateOrder order, std::string& buffer) {
  char out[kDateTimeTextSize];
  DateResult r = DateResult::Invalid;
  switch (in.kind) {
    case Dyn::Kind::Null:
      return in;
    case Dyn::Kind::Int:
      r = DateTimeFromDays(static_cast<double>(in.i), out);
      break;
    case Dyn::Kind::Float:
      r = DateTimeFromDays(in.f, out);
      break;
    case Dyn::Kind::Text:
      r = ParseDateTime(in.text, order, out);
      break;
  }
  if (r == DateResult::Invalid) {
    auto e = MakeError(241,
                       "Conversion failed when converting date and/or time from character "
                       "string.");
    e.abortsBatch = true;
    throw e;
  }
  if (r == DateResult::OutOfRange) {
    auto e = MakeError(242,
                       "The conversion of a varchar data type to a datetime data type resulted "
                       "in an out-of-range value.",
                       3);
    e.statementTerminated = true;
    throw e;
  }
  buffer.assign(out, kDateTimeTextSize);
  Dyn d;
  d.kind = Dyn::Kind::Text;
  d.text = buffer;
  return d;
}

}  // namespace

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

Dyn ConvertValue(const Dyn& in, const TypeSpec& target, DateOrder order, ConvertMode mode,
                 std::string& buffer) {
  if (in.kind == Dyn::Kind::Null) return in;
  switch (target.type) {
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt:
      return ToInteger(in, target.type);
    case SqlType::Bit:
      return ToBit(in);
    case SqlType::Float:
    case SqlType::Real:
    case SqlType::Decimal:
      return ToFloating(in, target);
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Text:
    case SqlType::NText:
      return ToText(in, target, mode, buffer);
    case SqlType::DateTime:
      return ToDateTime(in, order, buffer);
  }
  return in;
}

std::string_view TypeName(SqlType type) {
  switch (type) {
    case SqlType::TinyInt:
      return "tinyint";
    case SqlType::SmallInt:
      return "smallint";
    case SqlType::Int:
      return "int";
    case SqlType::BigInt:
      return "bigint";
    case SqlType::Bit:
      return "bit";
    case SqlType::Float:
      return "float";
    case SqlType::Real:
      return "real";
    case SqlType::Decimal:
      return "decimal";
    case SqlType::Char:
      return "char";
    case SqlType::VarChar:
      return "varchar";
    case SqlType::NChar:
      return "nchar";
    case SqlType::NVarChar:
      return "nvarchar";
    case SqlType::Text:
      return "text";
    case SqlType::NText:
      return "ntext";
    case SqlType::DateTime:
      return "datetime";
  }
  return "int";
}

std::string TypeText(const TypeSpec& t) {
  std::string out(TypeName(t.type));
  switch (t.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
      out += t.length < 0 ? "(max)" : "(" + std::to_string(t.length) + ")";
      break;
    case SqlType::Decimal:
      out += "(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")";
      break;
    default:
      break;
  }
  return out;
}

bool IsIntegerType(SqlType t) {
  return t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int ||
         t == SqlType::BigInt;
}

bool IsNumericType(SqlType t) {
  return IsIntegerType(t) || t == SqlType::Bit || t == SqlType::Float || t == SqlType::Real ||
         t == SqlType::Decimal;
}

bool IsTextType(SqlType t) {
  return t == SqlType::Char || t == SqlType::VarChar || t == SqlType::NChar ||
         t == SqlType::NVarChar || t == SqlType::Text || t == SqlType::NText;
}

bool IsFixedText(SqlType t) {
  return t == SqlType::Char || t == SqlType::NChar;
}

std::size_t CharCount(std::string_view text) {
  std::size_t n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

int FormatDecimal(double value, int scale, char* out) {
  if (scale < 0) scale = 0;
  if (scale > 38) scale = 38;
  int n = std::snprintf(out, 64, "%.*f", scale, value);
  if (n < 0 || n >= 64) n = std::snprintf(out, 64, "%.17g", value);
  return n;
}

}  // namespace standin
