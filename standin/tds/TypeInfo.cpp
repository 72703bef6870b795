#include "standin/tds/TypeInfo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "standin/tds/Text.h"

namespace standin::tds {
namespace {

constexpr std::size_t kMaxPlpValue = 256u << 20;  // larger than any message we accept

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

const std::int64_t kDays1900 = DaysFromCivil(1900, 1, 1);
const std::int64_t kDays0001 = DaysFromCivil(1, 1, 1);

std::int64_t SignedLittleEndian(std::span<const std::uint8_t> b) {
  std::uint64_t v = 0;
  for (std::size_t i = b.size(); i-- > 0;) v = v << 8 | b[i];
  if (b.size() < 8 && (b.back() & 0x80)) v |= ~std::uint64_t{0} << (8 * b.size());
  return static_cast<std::int64_t>(v);
}

std::string MoneyText(std::int64_t v) {
  bool neg = v < 0;
  unsigned __int128 mag = neg ? static_cast<unsigned __int128>(-(static_cast<__int128>(v)))
                              : static_cast<unsigned __int128>(v);
  return FormatDecimal(neg, mag, 4);
}

Bytes ReadPlp(ByteReader& r, bool& isNull) {
  std::uint64_t total = r.U64();
  isNull = total == kPlpNull;
  Bytes out;
  if (isNull) return out;
  for (;;) {
    std::uint32_t chunk = r.U32();
    if (chunk == 0) break;
    if (out.size() + chunk > kMaxPlpValue) throw DecodeError("PLP value too large");
    auto b = r.Take(chunk);
    out.insert(out.end(), b.begin(), b.end());
  }
  if (total != kPlpUnknownLength && total != out.size())
    throw DecodeError("PLP chunks do not add up to the announced length");
  return out;
}

// Time of day in units of 10^-scale seconds -> "hh:mm:ss.fff" pieces.
std::string FormatDateAndTime(std::int64_t days0001, std::uint64_t timeUnits, int scale) {
  std::uint64_t pow10 = 1;
  for (int k = 0; k < scale; ++k) pow10 *= 10;
  std::uint64_t ms = timeUnits * 1000 / pow10;
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days0001 + kDays0001, y, m, d);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u.%03u", static_cast<long long>(y),
                m, d, static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
                static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
  return buf;
}

int TimeBytes(int scale) {
  return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

struct Civil {
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, ms = 0;
};

bool ParseCivil(std::string_view s, Civil& c);

}  // namespace

bool TypeInfo::IsPlp() const {
  return maxLength == 0xFFFF && (code == TypeCode::BigVarChar || code == TypeCode::NVarChar ||
                                 code == TypeCode::BigVarBinary);
}

bool TypeInfo::IsLongLen() const {
  return code == TypeCode::Text || code == TypeCode::NText || code == TypeCode::Image;
}

bool TypeInfo::HasCollation() const {
  return code == TypeCode::BigVarChar || code == TypeCode::BigChar || code == TypeCode::NVarChar ||
         code == TypeCode::NChar || code == TypeCode::Text || code == TypeCode::NText;
}

TypeInfo ReadTypeInfo(ByteReader& r) {
  TypeInfo t;
  std::uint8_t raw = r.U8();
  t.code = static_cast<TypeCode>(raw);
  switch (t.code) {
    case TypeCode::IntN:
    case TypeCode::BitN:
    case TypeCode::FltN:
    case TypeCode::MoneyN:
    case TypeCode::DateTimeN:
    case TypeCode::Guid:
      t.maxLength = r.U8();
      break;
    case TypeCode::Int1:
    case TypeCode::Bit:
      t.maxLength = 1;
      break;
    case TypeCode::Int2:
      t.maxLength = 2;
      break;
    case TypeCode::Int4:
    case TypeCode::Flt4:
    case TypeCode::DateTime4:
    case TypeCode::Money4:
      t.maxLength = 4;
      break;
    case TypeCode::Int8:
    case TypeCode::Flt8:
    case TypeCode::DateTime:
    case TypeCode::Money:
      t.maxLength = 8;
      break;
    case TypeCode::DecimalN:
    case TypeCode::NumericN:
      t.maxLength = r.U8();
      t.precision = r.U8();
      t.scale = r.U8();
      if (t.maxLength > 17 || t.precision > 38 || t.scale > t.precision)
        throw DecodeError("decimal with a length, precision or scale out of range");
      break;
    case TypeCode::DateN:
      t.maxLength = 3;
      break;
    case TypeCode::TimeN:
    case TypeCode::DateTime2N:
    case TypeCode::DateTimeOffsetN:
      t.maxLength = 0;
      t.scale = r.U8();
      if (t.scale > 7) throw DecodeError("time scale above 7");
      break;
    case TypeCode::BigVarChar:
    case TypeCode::BigChar:
    case TypeCode::NVarChar:
    case TypeCode::NChar: {
      t.maxLength = r.U16();
      auto c = r.Take(5);
      std::copy(c.begin(), c.end(), t.collation.begin());
      break;
    }
    case TypeCode::BigVarBinary:
    case TypeCode::BigBinary:
      t.maxLength = r.U16();
      break;
    case TypeCode::Text:
    case TypeCode::NText: {
      t.maxLength = r.U32();
      auto c = r.Take(5);
      std::copy(c.begin(), c.end(), t.collation.begin());
      break;
    }
    case TypeCode::Image:
      t.maxLength = r.U32();
      break;
    default: {
      char msg[64];
      std::snprintf(msg, sizeof msg, "unsupported data type 0x%02X", raw);
      throw DecodeError(msg);
    }
  }
  return t;
}

void WriteTypeInfo(ByteWriter& w, const TypeInfo& t) {
  w.U8(static_cast<std::uint8_t>(t.code));
  switch (t.code) {
    case TypeCode::IntN:
    case TypeCode::BitN:
    case TypeCode::FltN:
    case TypeCode::MoneyN:
    case TypeCode::DateTimeN:
    case TypeCode::Guid:
      w.U8(static_cast<std::uint8_t>(t.maxLength));
      break;
    case TypeCode::DecimalN:
    case TypeCode::NumericN:
      w.U8(static_cast<std::uint8_t>(t.maxLength));
      w.U8(t.precision);
      w.U8(t.scale);
      break;
    case TypeCode::TimeN:
    case TypeCode::DateTime2N:
    case TypeCode::DateTimeOffsetN:
      w.U8(t.scale);
      break;
    case TypeCode::BigVarChar:
    case TypeCode::BigChar:
    case TypeCode::NVarChar:
    case TypeCode::NChar:
      w.U16(static_cast<std::uint16_t>(t.maxLength));
      w.Raw(t.collation);
      break;
    case TypeCode::BigVarBinary:
    case TypeCode::BigBinary:
      w.U16(static_cast<std::uint16_t>(t.maxLength));
      break;
    case TypeCode::Text:
    case TypeCode::NText:
      w.U32(t.maxLength);
      w.Raw(t.collation);
      break;
    case TypeCode::Image:
      w.U32(t.maxLength);
      break;
    default:
      break;  // fixed-length types carry nothing more
  }
}

WireValue ReadValue(ByteReader& r, const TypeInfo& t, bool inRow) {
  WireValue v;
  auto text = [&](std::span<const std::uint8_t> b) {
    v.isNull = false;
    if (t.code == TypeCode::NVarChar || t.code == TypeCode::NChar || t.code == TypeCode::NText)
      v.text = Utf16ToUtf8(b);
    else if (t.code == TypeCode::BigVarBinary || t.code == TypeCode::BigBinary ||
             t.code == TypeCode::Image)
      v.bytes.assign(b.begin(), b.end());
    else
      v.text = Cp1252ToUtf8(b);
  };
  switch (t.code) {
    case TypeCode::Int1:
    case TypeCode::Bit:
    case TypeCode::Int2:
    case TypeCode::Int4:
    case TypeCode::Int8:
    case TypeCode::IntN:
    case TypeCode::BitN: {
      std::size_t len = t.code == TypeCode::IntN || t.code == TypeCode::BitN ? r.U8() : t.maxLength;
      if (len == 0) return v;
      if (len != 1 && len != 2 && len != 4 && len != 8) throw DecodeError("bad integer length");
      auto b = r.Take(len);
      v.isNull = false;
      v.i = len == 1 ? b[0] : SignedLittleEndian(b);
      if (t.code == TypeCode::BitN || t.code == TypeCode::Bit) v.i = v.i != 0;
      return v;
    }
    case TypeCode::Flt4:
    case TypeCode::Flt8:
    case TypeCode::FltN: {
      std::size_t len = t.code == TypeCode::FltN ? r.U8() : t.maxLength;
      if (len == 0) return v;
      auto b = r.Take(len);
      v.isNull = false;
      if (len == 4) {
        float f;
        std::memcpy(&f, b.data(), 4);
        v.f = f;
      } else if (len == 8) {
        std::memcpy(&v.f, b.data(), 8);
      } else {
        throw DecodeError("bad float length");
      }
      return v;
    }
    case TypeCode::Money:
    case TypeCode::Money4:
    case TypeCode::MoneyN: {
      std::size_t len = t.code == TypeCode::MoneyN ? r.U8() : t.maxLength;
      if (len == 0) return v;
      v.isNull = false;
      if (len == 4) {
        v.text = MoneyText(static_cast<std::int32_t>(r.U32()));
      } else if (len == 8) {
        std::uint64_t hi = r.U32(), lo = r.U32();
        v.text = MoneyText(static_cast<std::int64_t>(hi << 32 | lo));
      } else {
        throw DecodeError("bad money length");
      }
      return v;
    }
    case TypeCode::DateTime:
    case TypeCode::DateTime4:
    case TypeCode::DateTimeN: {
      std::size_t len = t.code == TypeCode::DateTimeN ? r.U8() : t.maxLength;
      if (len == 0) return v;
      DateTimeParts p;
      if (len == 8) {
        p.days = static_cast<std::int32_t>(r.U32());
        p.ticks = r.U32();
      } else if (len == 4) {  // SMALLDATETIME: days and minutes
        p.days = r.U16();
        p.ticks = std::uint32_t{r.U16()} * 60 * 300;
      } else {
        throw DecodeError("bad datetime length");
      }
      if (p.ticks >= 300u * 86400u) throw DecodeError("datetime time of day out of range");
      v.isNull = false;
      v.text = FormatDateTime(p);
      return v;
    }
    case TypeCode::DecimalN:
    case TypeCode::NumericN: {
      std::size_t len = r.U8();
      if (len == 0) return v;
      if (len != 5 && len != 9 && len != 13 && len != 17) throw DecodeError("bad decimal length");
      bool negative = r.U8() == 0;
      auto b = r.Take(len - 1);
      unsigned __int128 mag = 0;
      for (std::size_t i = b.size(); i-- > 0;) mag = mag << 8 | b[i];
      v.isNull = false;
      v.text = FormatDecimal(negative, mag, t.scale);
      return v;
    }
    case TypeCode::DateN:
    case TypeCode::DateTime2N:
    case TypeCode::TimeN:
    case TypeCode::DateTimeOffsetN: {
      std::size_t len = r.U8();
      if (len == 0) return v;
      std::size_t tb = t.code == TypeCode::DateN ? 0 : static_cast<std::size_t>(TimeBytes(t.scale));
      std::size_t db = t.code == TypeCode::TimeN ? 0 : 3;
      std::size_t ob = t.code == TypeCode::DateTimeOffsetN ? 2 : 0;
      if (len != tb + db + ob) throw DecodeError("bad date/time length");
      std::uint64_t units = 0;
      auto tbytes = r.Take(tb);
      for (std::size_t i = tb; i-- > 0;) units = units << 8 | tbytes[i];
      std::int64_t days = 0;
      if (db) {
        auto d = r.Take(3);
        days = d[0] | d[1] << 8 | d[2] << 16;
      }
      r.Skip(ob);
      v.isNull = false;
      v.text = FormatDateAndTime(days, units, t.scale);
      return v;
    }
    case TypeCode::Guid: {
      std::size_t len = r.U8();
      if (len == 0) return v;
      if (len != 16) throw DecodeError("bad uniqueidentifier length");
      auto b = r.Take(16);
      v.isNull = false;
      v.bytes.assign(b.begin(), b.end());
      return v;
    }
    case TypeCode::BigVarChar:
    case TypeCode::BigChar:
    case TypeCode::NVarChar:
    case TypeCode::NChar:
    case TypeCode::BigVarBinary:
    case TypeCode::BigBinary: {
      if (t.IsPlp()) {
        bool isNull;
        Bytes b = ReadPlp(r, isNull);
        if (!isNull) text(b);
        return v;
      }
      std::uint16_t len = r.U16();
      if (len == 0xFFFF) return v;
      text(r.Take(len));
      return v;
    }
    case TypeCode::Text:
    case TypeCode::NText:
    case TypeCode::Image: {
      if (inRow) {
        std::uint8_t ptr = r.U8();
        if (ptr == 0) return v;
        r.Skip(ptr + 8u);  // text pointer and timestamp
      }
      std::uint32_t len = r.U32();
      if (!inRow && len == 0xFFFFFFFF) return v;
      text(r.Take(len));
      return v;
    }
    default:
      throw DecodeError("value of an unsupported data type");
  }
}

void WriteValue(ByteWriter& w, const TypeInfo& t, const WireValue& v, bool inRow) {
  Bytes body;
  auto bodyOf = [&] {
    if (t.code == TypeCode::NVarChar || t.code == TypeCode::NChar || t.code == TypeCode::NText)
      AppendUtf16(body, v.text);
    else if (t.code == TypeCode::BigVarBinary || t.code == TypeCode::BigBinary ||
             t.code == TypeCode::Image)
      body = v.bytes;
    else
      AppendCp1252(body, v.text);
  };
  switch (t.code) {
    case TypeCode::IntN:
    case TypeCode::BitN:
      if (v.isNull) return w.U8(0);
      w.U8(static_cast<std::uint8_t>(t.maxLength));
      [[fallthrough]];
    case TypeCode::Int1:
    case TypeCode::Bit:
    case TypeCode::Int2:
    case TypeCode::Int4:
    case TypeCode::Int8:
      for (std::uint32_t k = 0; k < t.maxLength; ++k)
        w.U8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v.i) >> (8 * k)));
      return;
    case TypeCode::FltN:
      if (v.isNull) return w.U8(0);
      w.U8(static_cast<std::uint8_t>(t.maxLength));
      [[fallthrough]];
    case TypeCode::Flt4:
    case TypeCode::Flt8:
      if (t.maxLength == 4) {
        float f = static_cast<float>(v.f);
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        w.U32(bits);
      } else {
        std::uint64_t bits;
        std::memcpy(&bits, &v.f, 8);
        w.U64(bits);
      }
      return;
    case TypeCode::DateTimeN:
    case TypeCode::DateTime: {
      if (t.code == TypeCode::DateTimeN) {
        if (v.isNull) return w.U8(0);
        w.U8(8);
      }
      DateTimeParts p;
      if (!ParseDateTime(v.text, p)) p = {};
      w.U32(static_cast<std::uint32_t>(p.days));
      w.U32(p.ticks);
      return;
    }
    case TypeCode::DateN:
    case TypeCode::DateTime2N: {
      Civil c;
      if (v.isNull || !ParseCivil(v.text, c)) return w.U8(0);
      const bool withTime = t.code == TypeCode::DateTime2N;
      int tb = withTime ? TimeBytes(t.scale) : 0;
      w.U8(static_cast<std::uint8_t>(tb + 3));
      std::uint64_t pow10 = 1;
      for (int k = 0; k < t.scale; ++k) pow10 *= 10;
      std::uint64_t units =
          ((std::uint64_t{c.h} * 3600 + c.mi * 60 + c.se) * 1000 + c.ms) * pow10 / 1000;
      for (int k = 0; k < tb; ++k) w.U8(static_cast<std::uint8_t>(units >> (8 * k)));
      auto days = static_cast<std::uint32_t>(DaysFromCivil(c.y, c.mo, c.d) - kDays0001);
      for (int k = 0; k < 3; ++k) w.U8(static_cast<std::uint8_t>(days >> (8 * k)));
      return;
    }
    case TypeCode::DecimalN:
    case TypeCode::NumericN: {
      if (v.isNull) return w.U8(0);
      bool negative = false;
      unsigned __int128 mag = 0;
      ParseDecimal(v.text, t.scale, negative, mag);
      std::uint8_t len = static_cast<std::uint8_t>(t.maxLength ? t.maxLength : 17);
      w.U8(len);
      w.U8(negative ? 0 : 1);
      for (int k = 0; k < len - 1; ++k) w.U8(static_cast<std::uint8_t>(mag >> (8 * k)));
      return;
    }
    case TypeCode::BigVarChar:
    case TypeCode::BigChar:
    case TypeCode::NVarChar:
    case TypeCode::NChar:
    case TypeCode::BigVarBinary:
    case TypeCode::BigBinary:
      if (t.IsPlp()) {
        if (v.isNull) return w.U64(kPlpNull);
        bodyOf();
        w.U64(body.size());
        if (!body.empty()) {
          w.U32(static_cast<std::uint32_t>(body.size()));
          w.Raw(body);
        }
        w.U32(0);
        return;
      }
      if (v.isNull) return w.U16(0xFFFF);
      bodyOf();
      w.U16(static_cast<std::uint16_t>(body.size()));
      w.Raw(body);
      return;
    case TypeCode::Text:
    case TypeCode::NText:
    case TypeCode::Image:
      if (inRow) {
        if (v.isNull) return w.U8(0);
        static constexpr std::uint8_t kPointer[16] = {};
        w.U8(16);
        w.Raw(kPointer);
        w.U64(0);  // timestamp
      } else if (v.isNull) {
        return w.U32(0xFFFFFFFF);
      }
      bodyOf();
      w.U32(static_cast<std::uint32_t>(body.size()));
      w.Raw(body);
      return;
    default:
      throw DecodeError("cannot write a value of this data type");
  }
}

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

bool ParseDateTime(std::string_view s, DateTimeParts& out) {
  Civil c;
  if (!ParseCivil(s, c)) return false;
  std::int64_t days = DaysFromCivil(c.y, c.mo, c.d) - kDays1900;
  // DATETIME keeps 1/300 s; milliseconds round to the nearest tick, carrying into the next day.
  std::uint64_t ticks = (std::uint64_t{c.h} * 3600 + c.mi * 60 + c.se) * 300 +
                        static_cast<std::uint64_t>(std::llround(c.ms * 0.3));
  if (ticks >= 300ull * 86400) {
    ticks -= 300ull * 86400;
    ++days;
  }
  out.days = static_cast<std::int32_t>(days);
  out.ticks = static_cast<std::uint32_t>(ticks);
  return true;
}

namespace {

bool ParseCivil(std::string_view s, Civil& c) {
  auto num = [&](std::size_t at, std::size_t n, unsigned& v) {
    if (at + n > s.size()) return false;
    v = 0;
    for (std::size_t k = at; k < at + n; ++k) {
      if (s[k] < '0' || s[k] > '9') return false;
      v = v * 10 + static_cast<unsigned>(s[k] - '0');
    }
    return true;
  };
  unsigned y, mo, d, h = 0, mi = 0, se = 0, frac = 0;
  if (!num(0, 4, y) || s.size() < 10 || s[4] != '-' || !num(5, 2, mo) || s[7] != '-' ||
      !num(8, 2, d))
    return false;
  if (s.size() > 10) {
    if ((s[10] != ' ' && s[10] != 'T') || !num(11, 2, h) || s.size() < 19 || s[13] != ':' ||
        !num(14, 2, mi) || s[16] != ':' || !num(17, 2, se))
      return false;
    if (s.size() > 19) {
      if (s[19] != '.' || s.size() == 20 || s.size() > 27) return false;
      unsigned digits;
      if (!num(20, s.size() - 20, digits)) return false;
      // Milliseconds, rounded from whatever precision came.
      std::string_view f = s.substr(20);
      double scaled = digits;
      for (std::size_t k = f.size(); k < 3; ++k) scaled *= 10;
      for (std::size_t k = 3; k < f.size(); ++k) scaled /= 10;
      frac = static_cast<unsigned>(std::lround(scaled));
    }
  }
  static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1] || h > 23 || mi > 59 || se > 59)
    return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  c = {y, mo, d, h, mi, se, frac};
  return true;
}

}  // namespace

std::string FormatDateTime(DateTimeParts p) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(p.days + kDays1900, y, m, d);
  std::uint64_t ms = static_cast<std::uint64_t>(std::llround(p.ticks * 10.0 / 3.0));
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u.%03u", static_cast<long long>(y),
                m, d, static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
                static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
  return buf;
}

bool ParseDecimal(std::string_view s, int scale, bool& negative, unsigned __int128& mag) {
  negative = false;
  mag = 0;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int fracDigits = -1, digits = 0;
  bool any = false, roundUp = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '.' && fracDigits < 0) {
      fracDigits = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    any = true;
    if (fracDigits >= 0) {
      if (fracDigits >= scale) {  // the first digit past the scale decides the rounding
        if (fracDigits == scale && c >= '5') roundUp = true;
        ++fracDigits;
        continue;
      }
      ++fracDigits;
    }
    if (mag != 0 && ++digits > 38) return false;
    mag = mag * 10 + static_cast<unsigned>(c - '0');
  }
  if (!any) return false;
  for (int k = fracDigits < 0 ? 0 : std::min(fracDigits, scale); k < scale; ++k) mag *= 10;
  if (roundUp) ++mag;
  if (mag == 0) negative = false;
  return true;
}

std::string FormatDecimal(bool negative, unsigned __int128 mag, int scale) {
  std::string digits;  // least significant first
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag != 0);
  const auto places = static_cast<std::size_t>(scale > 0 ? scale : 0);
  while (digits.size() <= places) digits.push_back('0');
  std::string out;
  if (negative) out.push_back('-');
  for (std::size_t k = digits.size(); k-- > 0;) {
    out.push_back(digits[k]);
    if (k == places && places > 0) out.push_back('.');
  }
  return out;
}

std::uint8_t DecimalBytes(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

}  // namespace standin::tds
