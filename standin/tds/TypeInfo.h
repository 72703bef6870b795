#pragma once
// TYPE_INFO (2.2.5.6) and the data of one value (2.2.5.5 / 2.2.7.19), as they appear in RPC
// parameters, COLMETADATA + ROW, and RETURNVALUE. Values decode to WireValue: integers and bits
// to `i`, floats to `f`, text (UTF-8), decimals ("-12.50") and date-times
// ("yyyy-mm-dd hh:mm:ss.fff") to `text`, binaries to `bytes`.

#include <array>
#include <cstdint>
#include <string>

#include "standin/Engine.h"
#include "standin/tds/Bytes.h"
#include "standin/tds/Scalars.h"
#include "standin/tds/Wire.h"

namespace standin::tds {

struct TypeInfo {
  TypeCode code = TypeCode::IntN;
  std::uint32_t maxLength = 4;  // bytes; 0xFFFF for (MAX) types sent as PLP
  std::uint8_t precision = 0, scale = 0;
  std::array<std::uint8_t, 5> collation{};

  bool IsPlp() const;
  bool IsLongLen() const;  // TEXT, NTEXT, IMAGE
  bool HasCollation() const;
  bool operator==(const TypeInfo&) const = default;
};

struct WireValue {
  bool isNull = true;
  std::int64_t i = 0;
  double f = 0;
  std::string text;
  Bytes bytes;
  bool operator==(const WireValue&) const = default;
};

TypeInfo ReadTypeInfo(ByteReader& r);
void WriteTypeInfo(ByteWriter& w, const TypeInfo& t);

// `inRow`: TEXT/NTEXT/IMAGE in a ROW carry a text pointer and timestamp; in RPC parameters
// they do not. Throws DecodeError on a length the type cannot have.
WireValue ReadValue(ByteReader& r, const TypeInfo& t, bool inRow);
void WriteValue(ByteWriter& w, const TypeInfo& t, const WireValue& v, bool inRow);

// The TYPE_INFO SQL Server uses for a column of the given declared type. Clients older than
// TDS 7.2 know no (MAX) types, so those go out as TEXT/NTEXT.
TypeInfo TypeInfoFor(const ColumnInfo& column, bool plpAllowed);
// The declared type an RPC parameter's TYPE_INFO stands for.
ColumnInfo ColumnInfoFor(const TypeInfo& t);

}  // namespace standin::tds
