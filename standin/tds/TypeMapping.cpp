// Which wire type stands for which declared SQL Server type, both ways.

#include <algorithm>

#include "standin/tds/TypeInfo.h"

namespace standin::tds {

TypeInfo TypeInfoFor(const ColumnInfo& c, bool plpAllowed) {
  TypeInfo t;
  auto text = [&](TypeCode code, std::uint32_t len) {
    t.code = code;
    t.maxLength = len;
    std::copy(std::begin(kCollationLatin1CiAs), std::end(kCollationLatin1CiAs),
              t.collation.begin());
  };
  const auto chars = static_cast<std::uint32_t>(c.length > 0 ? c.length : 1);
  switch (c.type) {
    case SqlType::TinyInt:
      t = {TypeCode::IntN, 1};
      break;
    case SqlType::SmallInt:
      t = {TypeCode::IntN, 2};
      break;
    case SqlType::Int:
      t = {TypeCode::IntN, 4};
      break;
    case SqlType::BigInt:
      t = {TypeCode::IntN, 8};
      break;
    case SqlType::Bit:
      t = {TypeCode::BitN, 1};
      break;
    case SqlType::Float:
      t = {TypeCode::FltN, 8};
      break;
    case SqlType::Real:
      t = {TypeCode::FltN, 4};
      break;
    case SqlType::Decimal: {
      int p = c.precision > 0 && c.precision <= 38 ? c.precision : 18;
      t = {TypeCode::DecimalN, DecimalBytes(p), static_cast<std::uint8_t>(p),
           static_cast<std::uint8_t>(c.scale >= 0 && c.scale <= p ? c.scale : 0)};
      break;
    }
    case SqlType::DateTime:
      t = {TypeCode::DateTimeN, 8};
      break;
    case SqlType::Char:
      if (c.length >= 0) {
        text(TypeCode::BigChar, chars);
        break;
      }
      [[fallthrough]];
    case SqlType::VarChar:
      if (c.length < 0)
        plpAllowed ? text(TypeCode::BigVarChar, 0xFFFF) : text(TypeCode::Text, 0x7FFFFFFF);
      else
        text(TypeCode::BigVarChar, chars);
      break;
    case SqlType::NChar:
      if (c.length >= 0) {
        text(TypeCode::NChar, chars * 2);
        break;
      }
      [[fallthrough]];
    case SqlType::NVarChar:
      if (c.length < 0)
        plpAllowed ? text(TypeCode::NVarChar, 0xFFFF) : text(TypeCode::NText, 0x7FFFFFFE);
      else
        text(TypeCode::NVarChar, chars * 2);
      break;
    case SqlType::Text:
      text(TypeCode::Text, 0x7FFFFFFF);
      break;
    case SqlType::NText:
      text(TypeCode::NText, 0x7FFFFFFE);
      break;
  }
  return t;
}

ColumnInfo ColumnInfoFor(const TypeInfo& t) {
  ColumnInfo c;
  switch (t.code) {
    case TypeCode::Int1:
      c.type = SqlType::TinyInt;
      break;
    case TypeCode::Int2:
      c.type = SqlType::SmallInt;
      break;
    case TypeCode::Int4:
      c.type = SqlType::Int;
      break;
    case TypeCode::Int8:
      c.type = SqlType::BigInt;
      break;
    case TypeCode::IntN:
      c.type = t.maxLength == 1   ? SqlType::TinyInt
               : t.maxLength == 2 ? SqlType::SmallInt
               : t.maxLength == 8 ? SqlType::BigInt
                                  : SqlType::Int;
      break;
    case TypeCode::Bit:
    case TypeCode::BitN:
      c.type = SqlType::Bit;
      break;
    case TypeCode::Flt4:
      c.type = SqlType::Real;
      break;
    case TypeCode::Flt8:
      c.type = SqlType::Float;
      break;
    case TypeCode::FltN:
      c.type = t.maxLength == 4 ? SqlType::Real : SqlType::Float;
      break;
    case TypeCode::DecimalN:
    case TypeCode::NumericN:
      c.type = SqlType::Decimal;
      c.precision = t.precision;
      c.scale = t.scale;
      break;
    case TypeCode::Money:
    case TypeCode::Money4:
    case TypeCode::MoneyN:
      c.type = SqlType::Decimal;
      c.precision = 19;
      c.scale = 4;
      break;
    case TypeCode::BigChar:
      c.type = SqlType::Char;
      c.length = static_cast<int>(t.maxLength);
      break;
    case TypeCode::BigVarChar:
      c.type = SqlType::VarChar;
      c.length = t.IsPlp() ? -1 : static_cast<int>(t.maxLength);
      break;
    case TypeCode::NChar:
      c.type = SqlType::NChar;
      c.length = static_cast<int>(t.maxLength / 2);
      break;
    case TypeCode::NVarChar:
      c.type = SqlType::NVarChar;
      c.length = t.IsPlp() ? -1 : static_cast<int>(t.maxLength / 2);
      break;
    case TypeCode::Text:
      c.type = SqlType::Text;
      c.length = -1;
      break;
    case TypeCode::NText:
      c.type = SqlType::NText;
      c.length = -1;
      break;
    default:  // date and time types travel as DATETIME text
      c.type = SqlType::DateTime;
      break;
  }
  return c;
}

}  // namespace standin::tds
