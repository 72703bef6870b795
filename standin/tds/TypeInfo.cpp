#include "standin/tds/TypeInfo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "standin/tds/Scalars.h"
#include "standin/tds/Text.h"

namespace standin::tds {
namespace {

constexpr std::size_t kMaxPlpValue = 256u << 20;  // larger than any message we accept

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
  CivilFromDays(days0001 + DaysOf0001(), y, m, d);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u.%03u", static_cast<long long>(y),
                m, d, static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
                static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
  return buf;
}

int TimeBytes(int scale) {
  return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

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
      CivilTime c;
      if (v.isNull || !ParseCivil(v.text, c)) return w.U8(0);
      const bool withTime = t.code == TypeCode::DateTime2N;
      int tb = withTime ? TimeBytes(t.scale) : 0;
      w.U8(static_cast<std::uint8_t>(tb + 3));
      std::uint64_t pow10 = 1;
      for (int k = 0; k < t.scale; ++k) pow10 *= 10;
      std::uint64_t units =
          ((std::uint64_t{c.h} * 3600 + c.mi * 60 + c.se) * 1000 + c.ms) * pow10 / 1000;
      for (int k = 0; k < tb; ++k) w.U8(static_cast<std::uint8_t>(units >> (8 * k)));
      auto days = static_cast<std::uint32_t>(DaysFromCivil(c.y, c.mo, c.d) - DaysOf0001());
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

}  // namespace standin::tds
