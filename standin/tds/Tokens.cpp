#include "standin/tds/Tokens.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "standin/tds/Text.h"

namespace standin::tds {
namespace {

bool IsBinaryEnv(std::uint8_t type) {
  return type == kEnvCollation || (type >= 8 && type <= 12) || type == 16;
}

void WriteEnvValue(ByteWriter& w, std::uint8_t type, const Bytes& v) {
  w.U8(static_cast<std::uint8_t>(IsBinaryEnv(type) ? v.size() : v.size() / 2));
  w.Raw(v);
}

Bytes ReadEnvValue(ByteReader& r, std::uint8_t type) {
  std::size_t n = r.U8();
  auto b = r.Take(IsBinaryEnv(type) ? n : n * 2);
  return Bytes(b.begin(), b.end());
}

// Starts a token with a 2-byte length; the returned position is patched by EndSized.
std::size_t BeginSized(ByteWriter& w, Token t) {
  w.U8(static_cast<std::uint8_t>(t));
  std::size_t at = w.Size();
  w.U16(0);
  return at;
}
void EndSized(ByteWriter& w, std::size_t at) {
  w.PatchU16(at, static_cast<std::uint16_t>(w.Size() - at - 2));
}

bool ToInt(const Value& v, std::int64_t& out) {
  switch (v.kind) {
    case Value::Kind::Int:
      out = v.i;
      return true;
    case Value::Kind::Float:
      out = static_cast<std::int64_t>(v.f);
      return true;
    case Value::Kind::Text: {
      auto s = v.text;
      while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
      while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
      auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
      return ec == std::errc{} && p == s.data() + s.size();
    }
    case Value::Kind::Null:
      return false;
  }
  return false;
}

bool ToDouble(const Value& v, double& out) {
  switch (v.kind) {
    case Value::Kind::Int:
      out = static_cast<double>(v.i);
      return true;
    case Value::Kind::Float:
      out = v.f;
      return true;
    case Value::Kind::Text: {
      auto [p, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), out);
      return ec == std::errc{} && p == v.text.data() + v.text.size();
    }
    case Value::Kind::Null:
      return false;
  }
  return false;
}

// The value as text, for text columns fed a number; `buf` holds the digits.
std::string_view AsText(const Value& v, char (&buf)[48]) {
  if (v.kind == Value::Kind::Text) return v.text;
  if (v.kind == Value::Kind::Int) {
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v.i);
    return {buf, static_cast<std::size_t>(p - buf)};
  }
  int n = std::snprintf(buf, sizeof buf, "%.17g", v.f);
  return {buf, static_cast<std::size_t>(n)};
}

void PutLE(Bytes& out, std::uint64_t v, int n) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k)
    out[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

void PatchLE(Bytes& out, std::size_t at, std::uint64_t v, int n) {
  for (int k = 0; k < n; ++k)
    out[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Appends text in the column's encoding, no longer than `maxBytes`, padded to `padTo` bytes.
std::size_t AppendEncoded(Bytes& out, const TypeInfo& t, std::string_view text,
                          std::size_t maxBytes, std::size_t padTo) {
  const bool wide =
      t.code == TypeCode::NVarChar || t.code == TypeCode::NChar || t.code == TypeCode::NText;
  std::size_t start = out.size();
  if (wide)
    AppendUtf16(out, text);
  else
    AppendCp1252(out, text);
  std::size_t n = out.size() - start;
  if (n > maxBytes) {
    n = wide ? maxBytes & ~std::size_t{1} : maxBytes;
    out.resize(start + n);
  }
  while (n < padTo) {
    out.push_back(' ');
    if (wide) out.push_back(0);
    n += wide ? 2 : 1;
  }
  return n;
}

}  // namespace

void AppendLoginAck(Bytes& out, const LoginAck& ack) {
  ByteWriter w(out);
  auto at = BeginSized(w, Token::LoginAck);
  w.U8(ack.interface);
  w.U32BE(ack.tdsVersion);
  w.BVarChar(ack.progName);
  w.U32BE(ack.progVersion);
  EndSized(w, at);
}

EnvChange TextEnvChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue) {
  EnvChange e;
  e.type = type;
  AppendUtf16(e.newValue, newValue.substr(0, 255));
  AppendUtf16(e.oldValue, oldValue.substr(0, 255));
  return e;
}

void AppendEnvChange(Bytes& out, const EnvChange& e) {
  ByteWriter w(out);
  auto at = BeginSized(w, Token::EnvChange);
  w.U8(e.type);
  WriteEnvValue(w, e.type, e.newValue);
  WriteEnvValue(w, e.type, e.oldValue);
  EndSized(w, at);
}

void AppendMessage(Bytes& out, const Message& m, Dialect d) {
  ByteWriter w(out);
  auto at = BeginSized(w, m.isError ? Token::Error : Token::Info);
  w.U32(static_cast<std::uint32_t>(m.message.number));
  w.U8(static_cast<std::uint8_t>(m.message.state));
  w.U8(static_cast<std::uint8_t>(m.message.severity));
  w.UsVarChar(m.message.text);
  w.BVarChar(m.serverName);
  w.BVarChar(m.message.procedure);
  if (d.tds72)
    w.U32(static_cast<std::uint32_t>(m.message.line));
  else
    w.U16(static_cast<std::uint16_t>(m.message.line));
  EndSized(w, at);
}

void AppendColMetadata(Bytes& out, const ColMetadata& meta, Dialect d) {
  ByteWriter w(out);
  w.U8(static_cast<std::uint8_t>(Token::ColMetadata));
  w.U16(static_cast<std::uint16_t>(meta.columns.size()));
  for (const auto& c : meta.columns) {
    if (d.tds72)
      w.U32(c.userType);
    else
      w.U16(static_cast<std::uint16_t>(c.userType));
    w.U16(c.flags);
    WriteTypeInfo(w, c.type);
    if (c.type.IsLongLen()) {
      if (d.tds72) {
        w.U8(1);
      }
      w.UsVarChar(c.tableName);
    }
    w.BVarChar(c.name);
  }
}

void AppendRow(Bytes& out, const ColMetadata& meta, const RowData& row) {
  ByteWriter w(out);
  w.U8(static_cast<std::uint8_t>(Token::Row));
  for (std::size_t k = 0; k < meta.columns.size() && k < row.values.size(); ++k)
    WriteValue(w, meta.columns[k].type, row.values[k], true);
}

void AppendDone(Bytes& out, const Done& done, Dialect d) {
  ByteWriter w(out);
  w.U8(static_cast<std::uint8_t>(done.token));
  w.U16(done.status);
  w.U16(done.curCmd);
  if (d.tds72)
    w.U64(done.rowCount);
  else
    w.U32(static_cast<std::uint32_t>(done.rowCount));
}

void AppendReturnStatus(Bytes& out, ReturnStatus status) {
  ByteWriter w(out);
  w.U8(static_cast<std::uint8_t>(Token::ReturnStatus));
  w.U32(static_cast<std::uint32_t>(status.value));
}

void AppendReturnValue(Bytes& out, const ReturnValue& v, Dialect d) {
  ByteWriter w(out);
  w.U8(static_cast<std::uint8_t>(Token::ReturnValue));
  w.U16(v.ordinal);
  w.BVarChar(v.name);
  w.U8(v.status);
  if (d.tds72)
    w.U32(v.userType);
  else
    w.U16(static_cast<std::uint16_t>(v.userType));
  w.U16(v.flags);
  WriteTypeInfo(w, v.type);
  WriteValue(w, v.type, v.value, false);
}

void AppendToken(Bytes& out, const AnyToken& token, const ColMetadata& current, Dialect d) {
  std::visit(
      [&](const auto& t) {
        using T = std::decay_t<decltype(t)>;
        if constexpr (std::is_same_v<T, LoginAck>)
          AppendLoginAck(out, t);
        else if constexpr (std::is_same_v<T, EnvChange>)
          AppendEnvChange(out, t);
        else if constexpr (std::is_same_v<T, Message>)
          AppendMessage(out, t, d);
        else if constexpr (std::is_same_v<T, ColMetadata>)
          AppendColMetadata(out, t, d);
        else if constexpr (std::is_same_v<T, RowData>)
          AppendRow(out, current, t);
        else if constexpr (std::is_same_v<T, Done>)
          AppendDone(out, t, d);
        else if constexpr (std::is_same_v<T, ReturnStatus>)
          AppendReturnStatus(out, t);
        else
          AppendReturnValue(out, t, d);
      },
      token);
}

bool AppendRowValue(Bytes& out, const TypeInfo& t, const Value& v) {
  const bool null = v.kind == Value::Kind::Null;
  switch (t.code) {
    case TypeCode::IntN:
    case TypeCode::BitN: {
      std::int64_t i;
      if (null || !ToInt(v, i)) {
        out.push_back(0);
        return null;
      }
      if (t.code == TypeCode::BitN) i = i != 0;
      out.push_back(static_cast<std::uint8_t>(t.maxLength));
      PutLE(out, static_cast<std::uint64_t>(i), static_cast<int>(t.maxLength));
      return true;
    }
    case TypeCode::FltN: {
      double f;
      if (null || !ToDouble(v, f)) {
        out.push_back(0);
        return null;
      }
      out.push_back(static_cast<std::uint8_t>(t.maxLength));
      if (t.maxLength == 4) {
        float g = static_cast<float>(f);
        std::uint32_t bits;
        std::memcpy(&bits, &g, 4);
        PutLE(out, bits, 4);
      } else {
        std::uint64_t bits;
        std::memcpy(&bits, &f, 8);
        PutLE(out, bits, 8);
      }
      return true;
    }
    case TypeCode::DateTimeN: {
      DateTimeParts p;
      if (null || v.kind != Value::Kind::Text || !ParseDateTime(v.text, p)) {
        out.push_back(0);
        return null;
      }
      out.push_back(8);
      PutLE(out, static_cast<std::uint32_t>(p.days), 4);
      PutLE(out, p.ticks, 4);
      return true;
    }
    case TypeCode::DecimalN:
    case TypeCode::NumericN: {
      char buf[48];
      bool negative;
      unsigned __int128 mag;
      if (null || !ParseDecimal(AsText(v, buf), t.scale, negative, mag)) {
        out.push_back(0);
        return null;
      }
      out.push_back(static_cast<std::uint8_t>(t.maxLength));
      out.push_back(negative ? 0 : 1);
      for (std::uint32_t k = 0; k + 1 < t.maxLength; ++k)
        out.push_back(static_cast<std::uint8_t>(mag >> (8 * k)));
      return true;
    }
    case TypeCode::BigVarChar:
    case TypeCode::BigChar:
    case TypeCode::NVarChar:
    case TypeCode::NChar: {
      char buf[48];
      if (t.IsPlp()) {
        if (null) {
          PutLE(out, kPlpNull, 8);
          return true;
        }
        std::size_t at = out.size();
        PutLE(out, 0, 8);
        PutLE(out, 0, 4);
        std::size_t n = AppendEncoded(out, t, AsText(v, buf), SIZE_MAX, 0);
        PatchLE(out, at, n, 8);
        if (n == 0) {
          out.resize(at + 8);  // an empty value is the length alone, then the terminator
        } else {
          PatchLE(out, at + 8, n, 4);
        }
        PutLE(out, 0, 4);
        return true;
      }
      if (null) {
        PutLE(out, 0xFFFF, 2);
        return true;
      }
      std::size_t at = out.size();
      PutLE(out, 0, 2);
      bool fixed = t.code == TypeCode::BigChar || t.code == TypeCode::NChar;
      std::size_t n = AppendEncoded(out, t, AsText(v, buf), t.maxLength, fixed ? t.maxLength : 0);
      PatchLE(out, at, n, 2);
      return true;
    }
    case TypeCode::Text:
    case TypeCode::NText: {
      if (null) {
        out.push_back(0);
        return true;
      }
      char buf[48];
      out.push_back(16);
      out.insert(out.end(), 16 + 8, 0);  // dummy text pointer and timestamp
      std::size_t at = out.size();
      PutLE(out, 0, 4);
      std::size_t n = AppendEncoded(out, t, AsText(v, buf), t.maxLength, 0);
      PatchLE(out, at, n, 4);
      return true;
    }
    default:
      out.push_back(0);
      return false;
  }
}

std::vector<AnyToken> DecodeTokens(std::span<const std::uint8_t> payload, Dialect d) {
  std::vector<AnyToken> out;
  ByteReader r(payload);
  ColMetadata current;
  while (!r.AtEnd()) {
    auto token = static_cast<Token>(r.U8());
    switch (token) {
      case Token::LoginAck: {
        ByteReader t(r.Take(r.U16()));
        LoginAck a;
        a.interface = t.U8();
        a.tdsVersion = t.U32BE();
        a.progName = t.BVarChar();
        a.progVersion = t.U32BE();
        out.push_back(a);
        break;
      }
      case Token::EnvChange: {
        ByteReader t(r.Take(r.U16()));
        EnvChange e;
        e.type = t.U8();
        e.newValue = ReadEnvValue(t, e.type);
        e.oldValue = ReadEnvValue(t, e.type);
        out.push_back(e);
        break;
      }
      case Token::Error:
      case Token::Info: {
        ByteReader t(r.Take(r.U16()));
        Message m;
        m.isError = token == Token::Error;
        m.message.number = static_cast<int>(t.U32());
        m.message.state = t.U8();
        m.message.severity = t.U8();
        m.message.text = t.UsVarChar();
        m.serverName = t.BVarChar();
        m.message.procedure = t.BVarChar();
        m.message.line = d.tds72 ? static_cast<int>(t.U32()) : t.U16();
        out.push_back(m);
        break;
      }
      case Token::ColMetadata: {
        ColMetadata meta;
        std::uint16_t count = r.U16();
        if (count != 0xFFFF) {
          for (std::uint16_t k = 0; k < count; ++k) {
            ColumnDesc c;
            c.userType = d.tds72 ? r.U32() : r.U16();
            c.flags = r.U16();
            c.type = ReadTypeInfo(r);
            if (c.type.IsLongLen()) {
              std::size_t parts = d.tds72 ? r.U8() : 1;
              for (std::size_t p = 0; p < parts; ++p) {
                if (p) c.tableName += '.';
                c.tableName += r.UsVarChar();
              }
            }
            c.name = r.BVarChar();
            meta.columns.push_back(std::move(c));
          }
        }
        current = meta;
        out.push_back(std::move(meta));
        break;
      }
      case Token::Row:
      case Token::NbcRow: {
        RowData row;
        Bytes bitmap;
        if (token == Token::NbcRow) {
          auto b = r.Take((current.columns.size() + 7) / 8);
          bitmap.assign(b.begin(), b.end());
        }
        for (std::size_t k = 0; k < current.columns.size(); ++k) {
          if (!bitmap.empty() && (bitmap[k / 8] >> (k % 8) & 1)) {
            row.values.emplace_back();
            continue;
          }
          row.values.push_back(ReadValue(r, current.columns[k].type, true));
        }
        out.push_back(std::move(row));
        break;
      }
      case Token::Done:
      case Token::DoneProc:
      case Token::DoneInProc: {
        Done done;
        done.token = token;
        done.status = r.U16();
        done.curCmd = r.U16();
        done.rowCount = d.tds72 ? r.U64() : r.U32();
        out.push_back(done);
        break;
      }
      case Token::ReturnStatus:
        out.push_back(ReturnStatus{static_cast<std::int32_t>(r.U32())});
        break;
      case Token::ReturnValue: {
        ReturnValue v;
        v.ordinal = r.U16();
        v.name = r.BVarChar();
        v.status = r.U8();
        v.userType = d.tds72 ? r.U32() : r.U16();
        v.flags = r.U16();
        v.type = ReadTypeInfo(r);
        v.value = ReadValue(r, v.type, false);
        out.push_back(std::move(v));
        break;
      }
      default: {
        char msg[48];
        std::snprintf(msg, sizeof msg, "unknown token 0x%02X", static_cast<unsigned>(token));
        throw DecodeError(msg);
      }
    }
  }
  return out;
}

}  // namespace standin::tds
