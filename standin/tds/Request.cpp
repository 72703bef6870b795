#include "standin/tds/Request.h"

#include "standin/tds/Text.h"
#include "standin/tds/Wire.h"

namespace standin::tds {
namespace {

constexpr std::uint8_t kBatchFlag72 = 0x80;
constexpr std::uint8_t kBatchFlag71 = 0xFF;
constexpr std::uint8_t kNoExecFlag = 0xFE;

AllHeaders ReadAllHeaders(ByteReader& r) {
  AllHeaders h;
  std::uint32_t total = r.U32();
  if (total < 4 || total - 4 > r.Remaining()) throw DecodeError("ALL_HEADERS length out of range");
  ByteReader hr(r.Take(total - 4));
  while (!hr.AtEnd()) {
    std::uint32_t len = hr.U32();
    if (len < 6 || len - 4 > hr.Remaining()) throw DecodeError("header length out of range");
    ByteReader one(hr.Take(len - 4));
    if (one.U16() == kHeaderTransactionDescriptor) {
      h.transactionDescriptor = one.U64();
      h.outstandingRequests = one.U32();
    }
  }
  return h;
}

void WriteAllHeaders(ByteWriter& w, const AllHeaders& h) {
  w.U32(22);  // total: itself plus one transaction descriptor header of 18 bytes
  w.U32(18);
  w.U16(kHeaderTransactionDescriptor);
  w.U64(h.transactionDescriptor);
  w.U32(h.outstandingRequests);
}

bool IsSeparator(std::uint8_t b) {
  return b == kBatchFlag72 || b == kBatchFlag71 || b == kNoExecFlag;
}

}  // namespace

SqlBatch DecodeSqlBatch(std::span<const std::uint8_t> payload, bool allHeaders) {
  ByteReader r(payload);
  SqlBatch b;
  if (allHeaders) b.headers = ReadAllHeaders(r);
  b.text = Utf16ToUtf8(r.Take(r.Remaining()));
  return b;
}

Bytes EncodeSqlBatch(const SqlBatch& batch, bool allHeaders) {
  Bytes out;
  ByteWriter w(out);
  if (allHeaders) WriteAllHeaders(w, batch.headers);
  w.Utf16(batch.text);
  return out;
}

RpcBatch DecodeRpc(std::span<const std::uint8_t> payload, bool allHeaders) {
  ByteReader r(payload);
  RpcBatch batch;
  if (allHeaders) batch.headers = ReadAllHeaders(r);
  do {
    RpcRequest req;
    std::uint16_t nameLen = r.U16();
    if (nameLen == kProcIdSwitch) {
      req.procId = r.U16();
      if (req.procId == 0) throw DecodeError("RPC procedure id 0");
    } else {
      if (nameLen == 0) throw DecodeError("RPC without a procedure name");
      req.procName = r.Utf16(nameLen);
    }
    req.options = r.U16();
    while (!r.AtEnd() && !IsSeparator(r.PeekU8())) {
      RpcParam p;
      p.name = r.BVarChar();
      p.status = r.U8();
      p.type = ReadTypeInfo(r);
      p.value = ReadValue(r, p.type, false);
      req.params.push_back(std::move(p));
      if (req.params.size() > 2100) throw DecodeError("more than 2100 RPC parameters");
    }
    batch.requests.push_back(std::move(req));
    if (!r.AtEnd()) r.U8();  // the separator before the next call
  } while (!r.AtEnd());
  return batch;
}

Bytes EncodeRpc(const RpcBatch& batch, bool allHeaders) {
  Bytes out;
  ByteWriter w(out);
  if (allHeaders) WriteAllHeaders(w, batch.headers);
  bool first = true;
  for (const auto& req : batch.requests) {
    if (!first) w.U8(allHeaders ? kBatchFlag72 : kBatchFlag71);
    first = false;
    if (req.procId != 0) {
      w.U16(kProcIdSwitch);
      w.U16(req.procId);
    } else {
      std::size_t at = w.Size();
      w.U16(0);
      w.PatchU16(at, static_cast<std::uint16_t>(w.Utf16(req.procName)));
    }
    w.U16(req.options);
    for (const auto& p : req.params) {
      w.BVarChar(p.name);
      w.U8(p.status);
      WriteTypeInfo(w, p.type);
      WriteValue(w, p.type, p.value, false);
    }
  }
  return out;
}

}  // namespace standin::tds
