#pragma once
// Response tokens (2.2.7): encoders that append to a response payload, and a decoder for the
// same tokens, which the stand-in's own tests and the fuzz target use as a client would.

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "standin/Engine.h"
#include "standin/tds/Bytes.h"
#include "standin/tds/TypeInfo.h"
#include "standin/tds/Wire.h"

namespace standin::tds {

// TDS 7.2 widened several fields (DONE row count, COLMETADATA user type, message line).
struct Dialect {
  bool tds72 = true;
};

struct LoginAck {
  std::uint8_t interface = 1;  // SQL_TSQL
  std::uint32_t tdsVersion = kTds74;
  std::string progName;
  std::uint32_t progVersion = 0;  // major, minor, build high, build low from the high byte down
  bool operator==(const LoginAck&) const = default;
};

struct EnvChange {
  std::uint8_t type = 0;
  Bytes newValue, oldValue;  // B_VARCHAR text as UTF-16, or B_VARBYTE for the collation
  bool operator==(const EnvChange&) const = default;
};

struct Message {
  bool isError = false;
  ServerMessage message;
  std::string serverName;
  bool operator==(const Message& o) const {
    return isError == o.isError && serverName == o.serverName &&
           message.number == o.message.number && message.state == o.message.state &&
           message.severity == o.message.severity && message.text == o.message.text &&
           message.line == o.message.line && message.procedure == o.message.procedure;
  }
};

struct ColumnDesc {
  std::uint32_t userType = 0;
  std::uint16_t flags = 0;
  TypeInfo type;
  std::string tableName;  // TEXT/NTEXT/IMAGE only
  std::string name;
  bool operator==(const ColumnDesc&) const = default;
};

struct ColMetadata {
  std::vector<ColumnDesc> columns;
  bool operator==(const ColMetadata&) const = default;
};

struct RowData {
  std::vector<WireValue> values;
  bool operator==(const RowData&) const = default;
};

struct Done {
  Token token = Token::Done;
  std::uint16_t status = 0;
  std::uint16_t curCmd = 0;
  std::uint64_t rowCount = 0;
  bool operator==(const Done&) const = default;
};

struct ReturnStatus {
  std::int32_t value = 0;
  bool operator==(const ReturnStatus&) const = default;
};

struct ReturnValue {
  std::uint16_t ordinal = 0;
  std::string name;
  std::uint8_t status = 0x01;  // output parameter
  std::uint32_t userType = 0;
  std::uint16_t flags = 0;
  TypeInfo type;
  WireValue value;
  bool operator==(const ReturnValue&) const = default;
};

using AnyToken = std::variant<LoginAck, EnvChange, Message, ColMetadata, RowData, Done,
                              ReturnStatus, ReturnValue>;

void AppendLoginAck(Bytes& out, const LoginAck& ack);
void AppendEnvChange(Bytes& out, const EnvChange& change);
EnvChange TextEnvChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
void AppendMessage(Bytes& out, const Message& message, Dialect d);
void AppendColMetadata(Bytes& out, const ColMetadata& meta, Dialect d);
void AppendRow(Bytes& out, const ColMetadata& meta, const RowData& row);
void AppendDone(Bytes& out, const Done& done, Dialect d);
void AppendReturnStatus(Bytes& out, ReturnStatus status);
void AppendReturnValue(Bytes& out, const ReturnValue& value, Dialect d);
void AppendToken(Bytes& out, const AnyToken& token, const ColMetadata& current, Dialect d);

// The row path of the executor: one engine value straight into the payload, converted to the
// column's wire type (UTF-8 -> code page 1252 or UTF-16, CHAR padded, text cut to the declared
// length so the stream always matches COLMETADATA). False when the value cannot be converted;
// NULL is written in its place.
bool AppendRowValue(Bytes& out, const TypeInfo& type, const Value& value);

// Decodes a whole response payload. Throws DecodeError on malformed or unknown tokens.
std::vector<AnyToken> DecodeTokens(std::span<const std::uint8_t> payload, Dialect d);

}  // namespace standin::tds
