#include "standin/tds/Packet.h"

#include <algorithm>

namespace standin::tds {

PacketHeader DecodeHeader(std::span<const std::uint8_t, kHeaderSize> raw) {
  PacketHeader h;
  h.type = static_cast<PacketType>(raw[0]);
  h.status = raw[1];
  h.length = static_cast<std::uint16_t>(raw[2] << 8 | raw[3]);
  h.spid = static_cast<std::uint16_t>(raw[4] << 8 | raw[5]);
  h.packetId = raw[6];
  h.window = raw[7];
  if (h.length < kHeaderSize) throw DecodeError("packet length smaller than its header");
  return h;
}

std::array<std::uint8_t, kHeaderSize> EncodeHeader(const PacketHeader& h) {
  return {static_cast<std::uint8_t>(h.type),
          h.status,
          static_cast<std::uint8_t>(h.length >> 8),
          static_cast<std::uint8_t>(h.length),
          static_cast<std::uint8_t>(h.spid >> 8),
          static_cast<std::uint8_t>(h.spid),
          h.packetId,
          h.window};
}

bool IsKnownPacketType(std::uint8_t type) {
  switch (static_cast<PacketType>(type)) {
    case PacketType::SqlBatch:
    case PacketType::Rpc:
    case PacketType::TabularResult:
    case PacketType::Attention:
    case PacketType::TransactionManager:
    case PacketType::Login7:
    case PacketType::PreLogin:
      return true;
  }
  return false;
}

Bytes FrameMessage(PacketType type, std::span<const std::uint8_t> payload, std::uint32_t packetSize,
                   std::uint16_t spid) {
  const std::size_t room = packetSize - kHeaderSize;
  Bytes out;
  std::uint8_t id = 1;
  std::size_t pos = 0;
  do {
    std::size_t n = std::min(room, payload.size() - pos);
    bool last = pos + n == payload.size();
    PacketHeader h{type,
                   last ? kStatusEom : std::uint8_t{0},
                   static_cast<std::uint16_t>(n + kHeaderSize),
                   spid,
                   id++,
                   0};
    auto raw = EncodeHeader(h);
    out.insert(out.end(), raw.begin(), raw.end());
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(pos),
               payload.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < payload.size());
  return out;
}

bool MessageAssembler::Add(const PacketHeader& header, std::span<const std::uint8_t> body) {
  if (complete_) throw DecodeError("previous message not taken");
  if (!started_) {
    started_ = true;
    type_ = header.type;
    data_.clear();
  } else if (header.type != type_) {
    throw DecodeError("packet of another type inside a message");
  }
  if (data_.size() + body.size() > max_)
    throw DecodeError("message larger than the server accepts");
  data_.insert(data_.end(), body.begin(), body.end());
  complete_ = (header.status & kStatusEom) != 0;
  return complete_;
}

Bytes MessageAssembler::Take() {
  started_ = false;
  complete_ = false;
  Bytes out;
  out.swap(data_);
  return out;
}

void PacketWriter::Send(std::span<const std::uint8_t> body, bool last) {
  PacketHeader h{PacketType::TabularResult,
                 last ? kStatusEom : std::uint8_t{0},
                 static_cast<std::uint16_t>(body.size() + kHeaderSize),
                 0,
                 packetId_++,
                 0};
  auto raw = EncodeHeader(h);
  send_(raw, body);
}

bool PacketWriter::FlushFull() {
  const std::size_t room = packetSize_ - kHeaderSize;
  // Keep the last bytes back even when they fill a packet exactly: the final packet must carry
  // EOM, and only Finish knows which one that is.
  if (payload_.size() <= room) return false;
  std::size_t pos = 0;
  while (payload_.size() - pos > room) {
    Send(std::span(payload_).subspan(pos, room), false);
    pos += room;
  }
  payload_.erase(payload_.begin(), payload_.begin() + static_cast<std::ptrdiff_t>(pos));
  return true;
}

void PacketWriter::Finish() {
  FlushFull();
  Send(payload_, true);
  payload_.clear();
  packetId_ = 1;
}

}  // namespace standin::tds
