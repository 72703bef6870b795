#pragma once
// Bounds-checked reading and appending of the little- and big-endian integers, byte runs and
// UTF-16 strings that TDS is made of. Every decoder reads through ByteReader, so a length that
// points past the end of a packet becomes a DecodeError instead of a read out of bounds.

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace standin::tds {

using Bytes = std::vector<std::uint8_t>;

// Malformed input from a peer: the session answers with an error or closes.
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  std::span<const std::uint8_t> Take(std::size_t n) {
    Need(n);
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  void Skip(std::size_t n) { Take(n); }
  std::uint8_t U8() { return Take(1)[0]; }
  std::uint8_t PeekU8() const {
    if (AtEnd()) throw DecodeError("unexpected end of data");
    return data_[pos_];
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(LittleEndian(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(LittleEndian(4)); }
  std::uint64_t U64() { return LittleEndian(8); }
  std::uint16_t U16BE() {
    auto b = Take(2);
    return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
  }
  std::uint32_t U32BE() {
    auto b = Take(4);
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
  }
  // UTF-16LE text of n code units, returned as UTF-8.
  std::string Utf16(std::size_t units);
  std::string BVarChar() { return Utf16(U8()); }    // B_VARCHAR: 1-byte length in characters
  std::string UsVarChar() { return Utf16(U16()); }  // US_VARCHAR: 2-byte length in characters

 private:
  void Need(std::size_t n) const {
    if (n > Remaining()) throw DecodeError("length points past the end of the data");
  }
  std::uint64_t LittleEndian(int n) {
    auto b = Take(static_cast<std::size_t>(n));
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[static_cast<std::size_t>(i)];
    return v;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

class ByteWriter {
 public:
  explicit ByteWriter(Bytes& out) : out_(out) {}

  std::size_t Size() const { return out_.size(); }
  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v) { LittleEndian(v, 2); }
  void U32(std::uint32_t v) { LittleEndian(v, 4); }
  void U64(std::uint64_t v) { LittleEndian(v, 8); }
  void U16BE(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    out_.push_back(static_cast<std::uint8_t>(v));
  }
  void U32BE(std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out_.push_back(static_cast<std::uint8_t>(v >> shift));
  }
  void Raw(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void Raw(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
  // Appends UTF-8 text as UTF-16LE; returns the number of code units written.
  std::size_t Utf16(std::string_view utf8);
  // B_VARCHAR / US_VARCHAR: text is cut to what the length prefix can carry.
  void BVarChar(std::string_view utf8);
  void UsVarChar(std::string_view utf8);
  // Overwrites a 2-byte little-endian value at an earlier position (token lengths).
  void PatchU16(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<std::uint8_t>(v);
    out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }

 private:
  void LittleEndian(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  Bytes& out_;
};

}  // namespace standin::tds
