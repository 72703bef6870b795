#pragma once
// Packet framing (2.2.3): the 8-byte header, splitting a message into packets no larger than
// the negotiated size, and reassembling a message from its packets under a size limit.

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "standin/tds/Bytes.h"
#include "standin/tds/Wire.h"

namespace standin::tds {

struct PacketHeader {
  PacketType type = PacketType::TabularResult;
  std::uint8_t status = kStatusEom;
  std::uint16_t length = kHeaderSize;  // header included
  std::uint16_t spid = 0;
  std::uint8_t packetId = 1;
  std::uint8_t window = 0;

  bool operator==(const PacketHeader&) const = default;
};

// Throws DecodeError when the length cannot hold the header itself.
PacketHeader DecodeHeader(std::span<const std::uint8_t, kHeaderSize> raw);
std::array<std::uint8_t, kHeaderSize> EncodeHeader(const PacketHeader& header);
bool IsKnownPacketType(std::uint8_t type);

// Splits a whole message into packets of at most packetSize bytes each (header included),
// the last one carrying EOM. Used where the answer is built whole (login, tests).
Bytes FrameMessage(PacketType type, std::span<const std::uint8_t> payload, std::uint32_t packetSize,
                   std::uint16_t spid = 0);

// Collects the packets of one message. A message larger than maxMessage, or a packet of another
// type in the middle of a message, is a DecodeError.
class MessageAssembler {
 public:
  explicit MessageAssembler(std::size_t maxMessage) : max_(maxMessage) {}
  // Returns true when the packet completed the message.
  bool Add(const PacketHeader& header, std::span<const std::uint8_t> body);
  bool InProgress() const { return started_; }
  PacketType Type() const { return type_; }
  // Hands over the completed message and starts a new one.
  Bytes Take();

 private:
  std::size_t max_;
  bool started_ = false;
  bool complete_ = false;
  PacketType type_ = PacketType::SqlBatch;
  Bytes data_;
};

// Streams a response: tokens are appended to Payload() and whole packets leave through the
// send function as soon as they are full, so a large result never sits in memory at once.
class PacketWriter {
 public:
  using SendFn =
      std::function<void(std::span<const std::uint8_t> header, std::span<const std::uint8_t> body)>;
  PacketWriter(std::uint32_t packetSize, SendFn send)
      : packetSize_(packetSize), send_(std::move(send)) {}

  void SetPacketSize(std::uint32_t packetSize) { packetSize_ = packetSize; }
  std::uint32_t PacketSize() const { return packetSize_; }
  Bytes& Payload() { return payload_; }
  // Sends every full packet held; returns true when at least one packet left.
  bool FlushFull();
  // Sends what remains as the message's last packet (EOM) and resets the packet numbering.
  void Finish();
  // Drops what is buffered but not sent (after ATTENTION the client discards it anyway).
  void Discard() { payload_.clear(); }

 private:
  void Send(std::span<const std::uint8_t> body, bool last);

  std::uint32_t packetSize_;
  SendFn send_;
  Bytes payload_;
  std::uint8_t packetId_ = 1;
};

}  // namespace standin::tds
