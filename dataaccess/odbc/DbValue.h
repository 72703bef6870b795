#pragma once
// Values and column descriptions as they cross between the ODBC module and the datasets.
// A TDbValue is used for parameters and for the one row being edited; cached rows never hold
// TDbValue objects (see RowCache).

#include <cstdint>
#include <string>

namespace bunkmere {

// Days since 1899-12-30 with the time of day as the fraction, as the platform counts them.
using TDateTime = double;

struct TDbValue {
  enum class Kind : std::uint8_t { Null, Integer, Boolean, Float, Text, DateTime, Bytes };

  Kind kind = Kind::Null;
  // For a NULL: the type it is sent as, since the server cannot convert every type into every
  // other (a NULL text into a binary column fails).
  Kind nullAs = Kind::Text;
  std::int64_t i = 0;  // Integer, Boolean (0 or 1)
  double f = 0;        // Float, DateTime
  std::string s;       // Text (UTF-8), Bytes

  static TDbValue Null(Kind ATypedAs = Kind::Text) {
    TDbValue v;
    v.nullAs = ATypedAs;
    return v;
  }
  static TDbValue Integer(std::int64_t v) { return {Kind::Integer, Kind::Text, v, 0, {}}; }
  static TDbValue Boolean(bool v) { return {Kind::Boolean, Kind::Text, v ? 1 : 0, 0, {}}; }
  static TDbValue Float(double v) { return {Kind::Float, Kind::Text, 0, v, {}}; }
  static TDbValue DateTime(TDateTime v) { return {Kind::DateTime, Kind::Text, 0, v, {}}; }
  static TDbValue Text(std::string v) { return {Kind::Text, Kind::Text, 0, 0, std::move(v)}; }
  static TDbValue Bytes(std::string v) { return {Kind::Bytes, Kind::Text, 0, 0, std::move(v)}; }

  bool IsNull() const { return kind == Kind::Null; }
  friend bool operator==(const TDbValue& a, const TDbValue& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
      case Kind::Null:
        return true;
      case Kind::Integer:
      case Kind::Boolean:
        return a.i == b.i;
      case Kind::Float:
      case Kind::DateTime:
        return a.f == b.f;
      case Kind::Text:
      case Kind::Bytes:
        return a.s == b.s;
    }
    return false;
  }
};

// How a result column is held on the client.
enum class TColumnKind : std::uint8_t {
  Int32,     // tinyint, smallint, int
  Int64,     // bigint
  Boolean,   // bit
  Float,     // real, float
  DateTime,  // datetime, smalldatetime, date, datetime2
  Text,      // char, varchar, nchar, nvarchar, and decimal/guid/time as their text
  Bytes,     // binary, varbinary, image
};

// The kind of value a column of this kind holds, so a NULL written into it keeps its type.
constexpr TDbValue::Kind ValueKindOf(TColumnKind AKind) noexcept {
  switch (AKind) {
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      return TDbValue::Kind::Integer;
    case TColumnKind::Boolean:
      return TDbValue::Kind::Boolean;
    case TColumnKind::Float:
      return TDbValue::Kind::Float;
    case TColumnKind::DateTime:
      return TDbValue::Kind::DateTime;
    case TColumnKind::Bytes:
      return TDbValue::Kind::Bytes;
    case TColumnKind::Text:
      break;
  }
  return TDbValue::Kind::Text;
}

struct TColumnDesc {
  std::string Name;
  short SqlType = 0;       // the driver's SQL type code
  std::uint64_t Size = 0;  // characters for text, bytes for binary
  short DecimalDigits = 0;
  TColumnKind Kind = TColumnKind::Text;
  bool Nullable = true;
  bool FixedLength = false;   // char/nchar/binary: values are padded to Size
  bool Unicode = false;       // nchar/nvarchar/ntext
  bool Identity = false;      // auto-increment
  bool Updatable = true;      // a column of the base table that can be written
  bool LargeObject = false;   // text/ntext/image/(max): fetched piecewise, never bound
  std::string BaseTableName;  // when the driver reports it
};

}  // namespace bunkmere
