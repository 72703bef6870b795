#include "standin/tds/Prelogin.h"

#include "standin/tds/Wire.h"

namespace standin::tds {

const PreloginOption* Prelogin::Find(std::uint8_t token) const {
  for (const auto& o : options)
    if (o.token == token) return &o;
  return nullptr;
}

Prelogin DecodePrelogin(std::span<const std::uint8_t> payload) {
  Prelogin out;
  ByteReader table(payload);
  for (;;) {
    std::uint8_t token = table.U8();
    if (token == kPreloginTerminator) break;
    std::uint16_t offset = table.U16BE();
    std::uint16_t length = table.U16BE();
    if (std::size_t{offset} + length > payload.size())
      throw DecodeError("PRELOGIN option points past the end of the message");
    auto data = payload.subspan(offset, length);
    out.options.push_back({token, Bytes(data.begin(), data.end())});
    if (out.options.size() > 64) throw DecodeError("PRELOGIN option table too long");
  }
  return out;
}

Bytes EncodePrelogin(const Prelogin& prelogin) {
  Bytes out;
  ByteWriter w(out);
  std::size_t offset = prelogin.options.size() * 5 + 1;
  for (const auto& o : prelogin.options) {
    w.U8(o.token);
    w.U16BE(static_cast<std::uint16_t>(offset));
    w.U16BE(static_cast<std::uint16_t>(o.data.size()));
    offset += o.data.size();
  }
  w.U8(kPreloginTerminator);
  for (const auto& o : prelogin.options) w.Raw(o.data);
  return out;
}

Prelogin ServerPrelogin(std::uint8_t encryption) {
  Prelogin p;
  // Version 15.0.2000, sub-build 0: the version of SQL Server the stand-in answers as.
  p.options.push_back({kPreloginVersion, {0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00}});
  p.options.push_back({kPreloginEncryption, {encryption}});
  p.options.push_back({kPreloginInstOpt, {0x00}});
  p.options.push_back({kPreloginThreadId, {}});
  p.options.push_back({kPreloginMars, {0x00}});
  return p;
}

std::uint8_t AnswerEncryption(EncryptionMode mode, std::uint8_t client) {
  const bool clientCan = client != kEncryptNotSup;
  switch (mode) {
    case EncryptionMode::NotSupported:
      return kEncryptNotSup;
    case EncryptionMode::Off:
      if (!clientCan) return kEncryptNotSup;
      return client == kEncryptOff ? kEncryptOff : kEncryptOn;
    case EncryptionMode::On:
      return clientCan ? kEncryptOn : kEncryptReq;
    case EncryptionMode::Required:
    case EncryptionMode::Strict:
      return kEncryptReq;
  }
  return kEncryptNotSup;
}

Protection NegotiatedProtection(std::uint8_t client, std::uint8_t server) {
  if (server == kEncryptNotSup || client == kEncryptNotSup) return Protection::None;
  if (server == kEncryptOff && client == kEncryptOff) return Protection::LoginOnly;
  return Protection::All;
}

}  // namespace standin::tds
