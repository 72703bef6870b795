#pragma once
// Client requests after login: SQLBatch (2.2.6.7) and RPC (2.2.6.6), both opened by ALL_HEADERS
// (2.2.5.3) from TDS 7.2 on.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "standin/tds/Bytes.h"
#include "standin/tds/TypeInfo.h"

namespace standin::tds {

struct AllHeaders {
  std::uint64_t transactionDescriptor = 0;
  std::uint32_t outstandingRequests = 1;
  bool operator==(const AllHeaders&) const = default;
};

struct SqlBatch {
  AllHeaders headers;
  std::string text;  // UTF-8
  bool operator==(const SqlBatch&) const = default;
};

struct RpcParam {
  std::string name;  // "@P1", or empty for a positional value
  std::uint8_t status = 0;
  TypeInfo type;
  WireValue value;
  bool operator==(const RpcParam&) const = default;
};

struct RpcRequest {
  std::uint16_t procId = 0;  // non-zero for the well-known procedures sent by number
  std::string procName;      // when sent by name
  std::uint16_t options = 0;
  std::vector<RpcParam> params;
  bool operator==(const RpcRequest&) const = default;
};

struct RpcBatch {
  AllHeaders headers;
  std::vector<RpcRequest> requests;  // more than one when the client batches calls
  bool operator==(const RpcBatch&) const = default;
};

// `allHeaders`: the client logged in with TDS 7.2 or later. Throw DecodeError on anything
// malformed: lengths outside the message, odd UTF-16, unknown types.
SqlBatch DecodeSqlBatch(std::span<const std::uint8_t> payload, bool allHeaders);
Bytes EncodeSqlBatch(const SqlBatch& batch, bool allHeaders);
RpcBatch DecodeRpc(std::span<const std::uint8_t> payload, bool allHeaders);
Bytes EncodeRpc(const RpcBatch& batch, bool allHeaders);

}  // namespace standin::tds
