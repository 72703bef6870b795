#include "dataaccess/Fields.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "core/Convert.h"
#include "core/DateTime.h"
#include "core/StrUtils.h"
#include "dataaccess/MSDataSet.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

std::string FloatToStr(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

double StrToFloat(const std::string& s) {
  std::string t = Trim(s);
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(t.c_str(), &end);
  if (t.empty() || end != t.c_str() + t.size() || errno == ERANGE)
    throw EConvertError("'" + s + "' is not a valid floating point value");
  return v;
}

// ODBC's type codes for decimal and numeric; drivers report money and smallmoney as decimal.
constexpr short kSqlNumeric = 2;
constexpr short kSqlDecimal = 3;

// A decimal number's text in one form per value: "-" only for a value below zero, whole digits
// without leading zeros, and the fraction, after ".", without trailing zeros. ASeparator is
// the character between whole and fraction in AText. None when AText is no decimal number.
std::optional<std::string> CanonicalDecimal(std::string_view AText, std::string_view ASeparator) {
  std::string_view t = TrimView(AText);
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  std::size_t i = 0;
  while (i < t.size() && IsAsciiDigit(t[i])) ++i;
  std::string_view whole = t.substr(0, i), fraction;
  if (i < t.size()) {
    std::string_view rest = t.substr(i);
    if (!ASeparator.empty() && rest.substr(0, ASeparator.size()) == ASeparator)
      rest.remove_prefix(ASeparator.size());
    else if (rest[0] == '.')
      rest.remove_prefix(1);
    else
      return std::nullopt;
    std::size_t k = 0;
    while (k < rest.size() && IsAsciiDigit(rest[k])) ++k;
    if (k != rest.size()) return std::nullopt;
    fraction = rest;
  }
  if (whole.empty() && fraction.empty()) return std::nullopt;
  while (!whole.empty() && whole[0] == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  std::string out;
  if (negative && !(whole.empty() && fraction.empty())) out += '-';
  out += whole.empty() ? std::string_view("0") : whole;
  if (!fraction.empty()) out.append(".").append(fraction);
  return out;
}

std::string CanonicalOrRaise(const TDbValue& AValue) {
  std::optional<std::string> c = CanonicalDecimal(AValue.s, ".");
  if (!c) throw EConvertError("'" + AValue.s + "' is not a valid floating point value");
  return *c;
}

// Rounded half away from zero, as the whole-number reads of a float are.
std::int64_t DecimalToInt(const std::string& ACanonical) {
  const bool negative = ACanonical[0] == '-';
  const std::size_t start = negative ? 1 : 0;
  const std::size_t dot = ACanonical.find('.');
  const std::string_view whole =
      std::string_view(ACanonical)
          .substr(start, (dot == std::string::npos ? ACanonical.size() : dot) - start);
  std::uint64_t magnitude = 0;
  for (char c : whole) {
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - 9) / 10)
      throw EConvertError("'" + ACanonical + "' is not a valid integer value");
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (dot != std::string::npos && ACanonical[dot + 1] >= '5') ++magnitude;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) throw EConvertError("'" + ACanonical + "' is not a valid integer value");
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

double DecimalToFloat(const std::string& ACanonical) {
  double v = 0;
  std::from_chars(ACanonical.data(), ACanonical.data() + ACanonical.size(), v);
  return v;
}

}  // namespace

bool IsExactNumeric(const TColumnDesc& c) noexcept {
  return c.Kind == TColumnKind::Text && (c.SqlType == kSqlDecimal || c.SqlType == kSqlNumeric);
}

bool SameFieldValue(const TColumnDesc& AColumn, const TDbValue& A, const TDbValue& B) {
  if (IsExactNumeric(AColumn) && A.kind == TDbValue::Kind::Text && B.kind == TDbValue::Kind::Text) {
    std::optional<std::string> a = CanonicalDecimal(A.s, "."), b = CanonicalDecimal(B.s, ".");
    if (a && b) return *a == *b;
  }
  return A == B;
}

TFieldType FieldTypeOf(const TColumnDesc& c) {
  if (IsExactNumeric(c)) return TFieldType::ftBCD;
  switch (c.Kind) {
    case TColumnKind::Int32:
      return c.Size <= 5 ? TFieldType::ftSmallint : TFieldType::ftInteger;
    case TColumnKind::Int64:
      return TFieldType::ftLargeint;
    case TColumnKind::Boolean:
      return TFieldType::ftBoolean;
    case TColumnKind::Float:
      return TFieldType::ftFloat;
    case TColumnKind::DateTime:
      return TFieldType::ftDateTime;
    case TColumnKind::Bytes:
      return c.LargeObject   ? TFieldType::ftBlob
             : c.FixedLength ? TFieldType::ftBytes
                             : TFieldType::ftVarBytes;
    case TColumnKind::Text:
      if (c.LargeObject) return c.Unicode ? TFieldType::ftWideMemo : TFieldType::ftMemo;
      if (c.Unicode) return c.FixedLength ? TFieldType::ftFixedWideChar : TFieldType::ftWideString;
      return c.FixedLength ? TFieldType::ftFixedChar : TFieldType::ftString;
  }
  return TFieldType::ftUnknown;
}

TField::TField(TCustomMSDataSet& ADataSet, int AIndex, const TColumnDesc& AColumn)
    : FDataSet(&ADataSet), FIndex(AIndex), FColumn(AColumn), FDataType(FieldTypeOf(AColumn)) {}

void TField::AccessError(const char* AType) const {
  throw EDatabaseError("Cannot access field '" + FColumn.Name + "' as type " + AType);
}

TDbValue TField::Value() const {
  return FDataSet->CurrentValue(FIndex);
}

bool TField::IsNull() const {
  return Value().IsNull();
}

std::string TField::AsString() const {
  TDbValue v = Value();
  if (IsExactNumeric(FColumn) && v.kind == TDbValue::Kind::Text) {
    // In the user's own notation, like every other number shown to them.
    std::string c = CanonicalOrRaise(v);
    if (std::size_t dot = c.find('.'); dot != std::string::npos)
      c.replace(dot, 1, CurrentPlatform().FormatSettings().DecimalSeparator);
    return c;
  }
  switch (v.kind) {
    case TDbValue::Kind::Null:
      return {};
    case TDbValue::Kind::Integer:
      return IntToStr(v.i);
    case TDbValue::Kind::Boolean:
      return v.i ? "True" : "False";
    case TDbValue::Kind::Float:
      return FloatToStr(v.f);
    case TDbValue::Kind::DateTime:
      return DateTimeToStr(v.f, CurrentPlatform().FormatSettings());
    case TDbValue::Kind::Text:
    case TDbValue::Kind::Bytes:
      return std::move(v.s);
  }
  return {};
}

std::int64_t TField::AsLargeInt() const {
  switch (FColumn.Kind) {
    case TColumnKind::DateTime:
    case TColumnKind::Bytes:
      AccessError("LargeInt");
    default:
      break;
  }
  TDbValue v = Value();
  if (IsExactNumeric(FColumn) && v.kind == TDbValue::Kind::Text)
    return DecimalToInt(CanonicalOrRaise(v));
  switch (v.kind) {
    case TDbValue::Kind::Integer:
    case TDbValue::Kind::Boolean:
      return v.i;
    case TDbValue::Kind::Float:
      return std::llround(v.f);
    case TDbValue::Kind::Text:
      return StrToInt(v.s);
    default:
      return 0;
  }
}

std::int32_t TField::AsInteger() const {
  if (FColumn.Kind == TColumnKind::DateTime || FColumn.Kind == TColumnKind::Bytes)
    AccessError("Integer");
  std::int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    throw EConvertError("Value " + IntToStr(v) + " of field '" + FColumn.Name +
                        "' is out of the integer range");
  return static_cast<std::int32_t>(v);
}

bool TField::AsBoolean() const {
  switch (FColumn.Kind) {
    case TColumnKind::Float:
    case TColumnKind::DateTime:
    case TColumnKind::Bytes:
      AccessError("Boolean");
    default:
      break;
  }
  TDbValue v = Value();
  if (IsExactNumeric(FColumn) && v.kind == TDbValue::Kind::Text) return CanonicalOrRaise(v) != "0";
  switch (v.kind) {
    case TDbValue::Kind::Integer:
    case TDbValue::Kind::Boolean:
      return v.i != 0;
    case TDbValue::Kind::Text: {
      std::string_view t = TrimView(v.s);
      bool b = false;
      if (TryStrToBool(t, b)) return b;
      return !t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y');
    }
    default:
      return false;
  }
}

double TField::AsFloat() const {
  if (FColumn.Kind == TColumnKind::Boolean || FColumn.Kind == TColumnKind::Bytes)
    AccessError("Float");
  TDbValue v = Value();
  if (IsExactNumeric(FColumn) && v.kind == TDbValue::Kind::Text)
    return DecimalToFloat(CanonicalOrRaise(v));
  switch (v.kind) {
    case TDbValue::Kind::Integer:
      return static_cast<double>(v.i);
    case TDbValue::Kind::Float:
    case TDbValue::Kind::DateTime:
      return v.f;
    case TDbValue::Kind::Text:
      return StrToFloat(v.s);
    default:
      return 0;
  }
}

TDateTime TField::AsDateTime() const {
  if (FColumn.Kind != TColumnKind::DateTime && FColumn.Kind != TColumnKind::Float)
    AccessError("DateTime");
  TDbValue v = Value();
  return v.IsNull() ? 0.0 : v.f;
}

void TField::Write(TDbValue AValue) {
  FDataSet->SetFieldValue(FIndex, std::move(AValue));
}

void TField::SetAsLargeInt(std::int64_t AValue) {
  switch (FColumn.Kind) {
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      Write(TDbValue::Integer(AValue));
      break;
    case TColumnKind::Boolean:
      Write(TDbValue::Boolean(AValue != 0));
      break;
    case TColumnKind::Float:
      Write(TDbValue::Float(static_cast<double>(AValue)));
      break;
    case TColumnKind::Text:
      Write(TDbValue::Text(IntToStr(AValue)));
      break;
    default:
      AccessError("Integer");
  }
}

void TField::SetAsInteger(std::int32_t AValue) {
  SetAsLargeInt(AValue);
}

void TField::SetAsBoolean(bool AValue) {
  switch (FColumn.Kind) {
    case TColumnKind::Boolean:
      Write(TDbValue::Boolean(AValue));
      break;
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      Write(TDbValue::Integer(AValue ? 1 : 0));
      break;
    case TColumnKind::Text:
      Write(TDbValue::Text(AValue ? "True" : "False"));
      break;
    default:
      AccessError("Boolean");
  }
}

void TField::SetAsFloat(double AValue) {
  if (IsExactNumeric(FColumn)) {
    // Fixed notation at the column's scale: the server converts no exponent into a decimal.
    if (!std::isfinite(AValue)) throw EConvertError("Invalid floating point value");
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", std::clamp<int>(FColumn.DecimalDigits, 0, 38), AValue);
    Write(TDbValue::Text(buf));
    return;
  }
  switch (FColumn.Kind) {
    case TColumnKind::Float:
      Write(TDbValue::Float(AValue));
      break;
    case TColumnKind::DateTime:
      Write(TDbValue::DateTime(AValue));
      break;
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      Write(TDbValue::Integer(std::llround(AValue)));
      break;
    case TColumnKind::Text:
      Write(TDbValue::Text(FloatToStr(AValue)));
      break;
    default:
      AccessError("Float");
  }
}

void TField::SetAsDateTime(TDateTime AValue) {
  switch (FColumn.Kind) {
    case TColumnKind::DateTime:
      Write(TDbValue::DateTime(AValue));
      break;
    case TColumnKind::Float:
      Write(TDbValue::Float(AValue));
      break;
    case TColumnKind::Text:
      Write(TDbValue::Text(DateTimeToStr(AValue, CurrentPlatform().FormatSettings())));
      break;
    default:
      AccessError("DateTime");
  }
}

void TField::SetAsString(const std::string& AValue) {
  if (IsExactNumeric(FColumn)) {
    // Read as the user writes numbers; sent in the server's notation. Empty text is NULL.
    if (TrimView(AValue).empty()) {
      Clear();
      return;
    }
    std::optional<std::string> c =
        CanonicalDecimal(AValue, CurrentPlatform().FormatSettings().DecimalSeparator);
    if (!c) throw EConvertError("'" + AValue + "' is not a valid floating point value");
    Write(TDbValue::Text(*c));
    return;
  }
  switch (FColumn.Kind) {
    case TColumnKind::Text:
      Write(TDbValue::Text(AValue));
      break;
    case TColumnKind::Bytes:
      Write(TDbValue::Bytes(AValue));
      break;
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      Write(TDbValue::Integer(StrToInt(AValue)));
      break;
    case TColumnKind::Boolean:
      Write(TDbValue::Boolean(StrToBool(AValue)));
      break;
    case TColumnKind::Float:
      Write(TDbValue::Float(StrToFloat(AValue)));
      break;
    case TColumnKind::DateTime:
      AccessError("String");
  }
}

void TField::Clear() {
  const TDbValue::Kind kind = ValueKindOf(FColumn.Kind);
  Write(TDbValue::Null(kind));
}

void TField::SetValue(const TDbValue& AValue) {
  switch (AValue.kind) {
    case TDbValue::Kind::Null:
      Clear();
      break;
    case TDbValue::Kind::Integer:
      SetAsLargeInt(AValue.i);
      break;
    case TDbValue::Kind::Boolean:
      SetAsBoolean(AValue.i != 0);
      break;
    case TDbValue::Kind::Float:
      SetAsFloat(AValue.f);
      break;
    case TDbValue::Kind::DateTime:
      SetAsDateTime(AValue.f);
      break;
    case TDbValue::Kind::Text:
    case TDbValue::Kind::Bytes:
      SetAsString(AValue.s);
      break;
  }
}

}  // namespace bunkmere
