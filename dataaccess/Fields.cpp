#include "dataaccess/Fields.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

TFieldType FieldTypeOf(const TColumnDesc& c) {
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
