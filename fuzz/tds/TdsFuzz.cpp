// libFuzzer target for everything the stand-in decodes from a peer: packet headers and message
// reassembly, PRELOGIN, LOGIN7, SQLBatch, RPC (with TYPE_INFO and values) and response tokens.
// The first byte picks the decoder, the rest is its input. A DecodeError is the expected answer
// to garbage; anything else (a crash, a sanitizer report, another exception) is a finding.

#include <cstddef>
#include <cstdint>
#include <span>

#include "standin/tds/Login7.h"
#include "standin/tds/Packet.h"
#include "standin/tds/Prelogin.h"
#include "standin/tds/Request.h"
#include "standin/tds/Tokens.h"

using namespace standin::tds;

namespace {

void Framing(std::span<const std::uint8_t> in) {
  MessageAssembler assembler(1 << 16);
  while (in.size() >= kHeaderSize) {
    auto h = DecodeHeader(in.first<kHeaderSize>());
    std::size_t body = std::min<std::size_t>(h.length - kHeaderSize, in.size() - kHeaderSize);
    if (assembler.Add(h, in.subspan(kHeaderSize, body))) assembler.Take();
    in = in.subspan(kHeaderSize + body);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::span<const std::uint8_t> in(data + 1, size - 1);
  try {
    switch (data[0] % 8) {
      case 0:
        Framing(in);
        break;
      case 1:
        DecodePrelogin(in);
        break;
      case 2:
        DecodeLogin7(in);
        break;
      case 3:
        DecodeSqlBatch(in, true);
        break;
      case 4:
        DecodeRpc(in, true);
        break;
      case 5:
        DecodeRpc(in, false);
        break;
      case 6:
        DecodeTokens(in, {true});
        break;
      case 7:
        DecodeTokens(in, {false});
        break;
    }
  } catch (const DecodeError&) {
  }
  return 0;
}
