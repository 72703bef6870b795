#include "standin/tds/Login7.h"

#include "standin/tds/Text.h"
#include "standin/tds/Wire.h"

namespace standin::tds {
namespace {

constexpr std::size_t kFixed71 = 86;  // TDS 7.1 has no ChangePassword or cbSSPILong
constexpr std::size_t kFixed72 = 94;

std::uint8_t Scramble(std::uint8_t b) {
  return static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
}
std::uint8_t Unscramble(std::uint8_t b) {
  b ^= 0xA5;
  return static_cast<std::uint8_t>((b << 4) | (b >> 4));
}

struct Slot {
  std::uint16_t offset = 0, length = 0;
};

std::span<const std::uint8_t> Locate(std::span<const std::uint8_t> msg, Slot s, std::size_t unit) {
  std::size_t bytes = std::size_t{s.length} * unit;
  if (s.length != 0 && std::size_t{s.offset} + bytes > msg.size())
    throw DecodeError("LOGIN7 field points outside the message");
  return s.length == 0 ? std::span<const std::uint8_t>{} : msg.subspan(s.offset, bytes);
}

}  // namespace

Login7 DecodeLogin7(std::span<const std::uint8_t> payload) {
  ByteReader r(payload);
  std::uint32_t length = r.U32();
  if (length < kFixed71 || length > payload.size())
    throw DecodeError("LOGIN7 length does not match the message");
  auto msg = payload.first(length);
  Login7 l;
  l.tdsVersion = r.U32();
  l.packetSize = r.U32();
  l.clientProgVer = r.U32();
  l.clientPid = r.U32();
  l.connectionId = r.U32();
  l.optionFlags1 = r.U8();
  l.optionFlags2 = r.U8();
  l.typeFlags = r.U8();
  l.optionFlags3 = r.U8();
  l.clientTimeZone = static_cast<std::int32_t>(r.U32());
  l.clientLcid = r.U32();
  auto slot = [&] { return Slot{r.U16(), r.U16()}; };
  Slot host = slot(), user = slot(), pass = slot(), app = slot(), server = slot();
  slot();  // ibExtension/cbExtension: feature extensions are not offered
  Slot lib = slot(), lang = slot(), db = slot();
  auto id = r.Take(6);
  std::copy(id.begin(), id.end(), l.clientId.begin());
  Slot sspi = slot(), attach = slot();
  Slot change;
  const bool v72 = (l.tdsVersion >> 24) >= 0x72 && length >= kFixed72;
  if (v72) {
    change = slot();
    r.U32();  // cbSSPILong: long SSPI blobs are not supported, SQL logins only
  }
  auto text = [&](Slot s) { return Utf16ToUtf8(Locate(msg, s, 2)); };
  l.hostName = text(host);
  l.userName = text(user);
  auto scrambled = Locate(msg, pass, 2);
  Bytes clear(scrambled.begin(), scrambled.end());
  for (auto& b : clear) b = Unscramble(b);
  l.password = Utf16ToUtf8(clear);
  l.appName = text(app);
  l.serverName = text(server);
  l.libraryName = text(lib);
  l.language = text(lang);
  l.database = text(db);
  auto blob = Locate(msg, sspi, 1);
  l.sspi.assign(blob.begin(), blob.end());
  l.attachDbFile = text(attach);
  if (v72) {
    auto changed = Locate(msg, change, 2);
    Bytes c(changed.begin(), changed.end());
    for (auto& b : c) b = Unscramble(b);
    l.changePassword = Utf16ToUtf8(c);
  }
  return l;
}

Bytes EncodeLogin7(const Login7& l) {
  Bytes fixed, data;
  ByteWriter w(fixed);
  const bool v72 = (l.tdsVersion >> 24) >= 0x72;
  const std::size_t fixedSize = v72 ? kFixed72 : kFixed71;
  w.U32(0);  // patched below
  w.U32(l.tdsVersion);
  w.U32(l.packetSize);
  w.U32(l.clientProgVer);
  w.U32(l.clientPid);
  w.U32(l.connectionId);
  w.U8(l.optionFlags1);
  w.U8(l.optionFlags2);
  w.U8(l.typeFlags);
  w.U8(l.optionFlags3);
  w.U32(static_cast<std::uint32_t>(l.clientTimeZone));
  w.U32(l.clientLcid);
  auto put = [&](std::string_view s, bool scramble) {
    std::size_t at = data.size();
    std::size_t units = AppendUtf16(data, s);
    if (scramble)
      for (std::size_t i = at; i < data.size(); ++i) data[i] = Scramble(data[i]);
    w.U16(static_cast<std::uint16_t>(fixedSize + at));
    w.U16(static_cast<std::uint16_t>(units));
  };
  put(l.hostName, false);
  put(l.userName, false);
  put(l.password, true);
  put(l.appName, false);
  put(l.serverName, false);
  w.U16(static_cast<std::uint16_t>(fixedSize + data.size()));
  w.U16(0);
  put(l.libraryName, false);
  put(l.language, false);
  put(l.database, false);
  w.Raw(l.clientId);
  w.U16(static_cast<std::uint16_t>(fixedSize + data.size()));
  w.U16(static_cast<std::uint16_t>(l.sspi.size()));
  data.insert(data.end(), l.sspi.begin(), l.sspi.end());
  put(l.attachDbFile, false);
  if (v72) {
    put(l.changePassword, true);
    w.U32(0);
  }
  fixed.insert(fixed.end(), data.begin(), data.end());
  w.PatchU32(0, static_cast<std::uint32_t>(fixed.size()));
  return fixed;
}

}  // namespace standin::tds
