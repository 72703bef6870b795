// Codec round trips: decode(encode(x)) == x with the whole buffer consumed, plus the decoders'
// refusals of malformed input.

#include <gtest/gtest.h>

#include "standin/tds/Login7.h"
#include "standin/tds/Packet.h"
#include "standin/tds/Prelogin.h"
#include "standin/tds/Request.h"
#include "standin/tds/Text.h"
#include "standin/tds/Tokens.h"
#include "standin/tds/TypeInfo.h"
#include "standin/testing/StatementLogReader.h"

namespace standin::tds {
namespace {

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
  return out;
}

TypeInfo Coll(TypeCode code, std::uint32_t len) {
  TypeInfo t{code, len};
  std::copy(std::begin(kCollationLatin1CiAs), std::end(kCollationLatin1CiAs), t.collation.begin());
  return t;
}

WireValue Int(std::int64_t i) {
  return {false, i, 0, {}, {}};
}
WireValue Flt(double f) {
  return {false, 0, f, {}, {}};
}
WireValue Txt(std::string s) {
  return {false, 0, 0, std::move(s), {}};
}
WireValue Null() {
  return {};
}
Value VI(std::int64_t i) {
  return {Value::Kind::Int, i, 0, {}};
}
Value VF(double f) {
  return {Value::Kind::Float, 0, f, {}};
}
Value VT(std::string_view s) {
  return {Value::Kind::Text, 0, 0, s};
}

TEST(StandinPacket, FramingSplitsAtThePacketSizeAndReassembles) {
  Bytes payload(3000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  for (std::uint32_t size : {512u, 1000u, 4096u}) {
    Bytes framed = FrameMessage(PacketType::SqlBatch, payload, size);
    MessageAssembler assembler(1 << 20);
    ByteReader r(framed);
    int packets = 0;
    bool done = false;
    std::uint8_t expectedId = 1;
    while (!r.AtEnd()) {
      auto raw = r.Take(kHeaderSize);
      auto h = DecodeHeader(std::span<const std::uint8_t, kHeaderSize>(raw.data(), kHeaderSize));
      EXPECT_LE(h.length, size);
      EXPECT_EQ(h.packetId, expectedId++);
      ASSERT_FALSE(done) << "data after the EOM packet";
      done = assembler.Add(h, r.Take(h.length - kHeaderSize));
      ++packets;
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(assembler.Take(), payload);
    EXPECT_EQ(packets, static_cast<int>((payload.size() + size - 9) / (size - 8))) << size;
  }
}

TEST(StandinPacket, HeaderRoundTripAndRefusals) {
  PacketHeader h{PacketType::Rpc, kStatusEom, 300, 51, 3, 0};
  auto raw = EncodeHeader(h);
  EXPECT_EQ(DecodeHeader(raw), h);
  std::array<std::uint8_t, kHeaderSize> shortLen{0x01, 0x01, 0x00, 0x07, 0, 0, 1, 0};
  EXPECT_THROW(DecodeHeader(shortLen), DecodeError);
  EXPECT_FALSE(IsKnownPacketType(0x02));
  EXPECT_FALSE(IsKnownPacketType(0xFF));
  EXPECT_TRUE(IsKnownPacketType(0x12));

  MessageAssembler small(10);
  EXPECT_THROW(small.Add({PacketType::SqlBatch, 0, 20, 0, 1, 0}, Bytes(12)), DecodeError);
  MessageAssembler mixed(100);
  mixed.Add({PacketType::SqlBatch, 0, 12, 0, 1, 0}, Bytes(4));
  EXPECT_THROW(mixed.Add({PacketType::Rpc, kStatusEom, 12, 0, 2, 0}, Bytes(4)), DecodeError);
}

TEST(StandinPacket, WriterNeverExceedsThePacketSizeAndMarksOnlyTheLast) {
  std::vector<PacketHeader> headers;
  Bytes received;
  PacketWriter w(512, [&](auto header, auto body) {
    headers.push_back(
        DecodeHeader(std::span<const std::uint8_t, kHeaderSize>(header.data(), kHeaderSize)));
    received.insert(received.end(), body.begin(), body.end());
  });
  Bytes sent;
  for (int i = 0; i < 2000; ++i) {
    w.Payload().push_back(static_cast<std::uint8_t>(i));
    sent.push_back(static_cast<std::uint8_t>(i));
    if (i % 97 == 0) w.FlushFull();
  }
  w.Payload().resize(w.Payload().size());
  w.Finish();
  EXPECT_EQ(received, sent);
  for (std::size_t k = 0; k < headers.size(); ++k) {
    EXPECT_LE(headers[k].length, 512);
    EXPECT_EQ((headers[k].status & kStatusEom) != 0, k + 1 == headers.size());
    EXPECT_EQ(headers[k].packetId, static_cast<std::uint8_t>(k + 1));
  }
}

TEST(StandinText, Utf16AndCodePage1252Conversions) {
  struct Case {
    std::string utf8;
    Bytes utf16;
  } cases[] = {
      {"", {}},
      {"Ab", B({'A', 0, 'b', 0})},
      {"\xC3\xA9", B({0xE9, 0})},
      {"\xE2\x82\xAC", B({0xAC, 0x20})},
      {"\xF0\x9F\x98\x80", B({0x3D, 0xD8, 0x00, 0xDE})},  // outside the BMP: a surrogate pair
  };
  for (const auto& c : cases) {
    Bytes enc;
    AppendUtf16(enc, c.utf8);
    EXPECT_EQ(enc, c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(Utf16Length(c.utf8), c.utf16.size() / 2);
  }
  for (const Bytes& bad :
       {B({0x00}), B({0x00, 0xD8}), B({0x00, 0xDC, 'a', 0}), B({0x00, 0xD8, 'a', 0})})
    EXPECT_THROW(Utf16ToUtf8(bad), DecodeError);

  Bytes cp;
  AppendCp1252(cp, "caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD");  // é and € exist in 1252, 中 does not
  EXPECT_EQ(cp, B({'c', 'a', 'f', 0xE9, ' ', 0x80, ' ', '?'}));
  EXPECT_EQ(Cp1252ToUtf8(cp), "caf\xC3\xA9 \xE2\x82\xAC ?");
  Bytes invalid;
  AppendUtf16(invalid, std::string("a\xFF", 2));  // invalid UTF-8 never yields invalid UTF-16
  EXPECT_EQ(Utf16ToUtf8(invalid), "a\xEF\xBF\xBD");
}

TEST(StandinPrelogin, RoundTripAndRefusals) {
  Prelogin p = ServerPrelogin();
  Bytes enc = EncodePrelogin(p);
  EXPECT_EQ(DecodePrelogin(enc), p);
  ASSERT_NE(p.Find(kPreloginMars), nullptr) << "FreeTDS drops to TDS 7.1 without MARS";
  EXPECT_EQ(p.Find(kPreloginEncryption)->data, B({kEncryptNotSup}));
  EXPECT_THROW(DecodePrelogin(B({0x00, 0x00, 0x06})), DecodeError);  // cut table
  EXPECT_THROW(DecodePrelogin(B({0x00, 0x00, 0x06, 0x00, 0x06, 0xFF})),
               DecodeError);                                                     // data outside
  EXPECT_THROW(DecodePrelogin(B({0x00, 0x00, 0x06, 0x00, 0x00})), DecodeError);  // unterminated
}

TEST(StandinLogin7, RoundTripForEachVersion) {
  for (std::uint32_t version : {kTds71, kTds72, kTds73B, kTds74}) {
    Login7 l;
    l.tdsVersion = version;
    l.packetSize = 4096;
    l.clientPid = 77;
    l.optionFlags1 = 0xE0;
    l.optionFlags2 = 0x03;
    l.clientLcid = 0x409;
    l.hostName = "host";
    l.userName = "sa";
    l.password = "p\xC3\xA4ss:w0rd";
    l.appName = "app";
    l.serverName = "127.0.0.1";
    l.libraryName = "lib";
    l.language = "us_english";
    l.database = "JAIL";
    l.clientId = {1, 2, 3, 4, 5, 6};
    if (version >= kTds72) l.changePassword = "new";
    Bytes enc = EncodeLogin7(l);
    EXPECT_EQ(DecodeLogin7(enc), l) << std::hex << version;
  }
}

TEST(StandinLogin7, FieldsPointingOutsideThePacketAreRefused) {
  Login7 l;
  l.tdsVersion = kTds74;
  l.userName = "sa";
  l.database = "JAIL";
  Bytes good = EncodeLogin7(l);
  struct Case {
    const char* what;
    std::size_t at;
    std::uint16_t value;
  } cases[] = {
      {"user name offset past the end", 40, 0xFFF0},
      {"user name length past the end", 42, 0x7FFF},
      {"database length past the end", 70, 500},
  };
  for (const auto& c : cases) {
    Bytes bad = good;
    bad[c.at] = static_cast<std::uint8_t>(c.value);
    bad[c.at + 1] = static_cast<std::uint8_t>(c.value >> 8);
    EXPECT_THROW(DecodeLogin7(bad), DecodeError) << c.what;
  }
  Bytes longer = good;
  longer[0] = 0xFF;  // total length larger than the message
  EXPECT_THROW(DecodeLogin7(longer), DecodeError);
  EXPECT_THROW(DecodeLogin7(Bytes(good.begin(), good.begin() + 60)), DecodeError);
}

TEST(StandinRequest, SqlBatchRoundTripWithAndWithoutAllHeaders) {
  SqlBatch b;
  b.headers.transactionDescriptor = 0x1122334455667788;
  b.text = "SELECT N'\xC3\xA9t\xC3\xA9' FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]";
  EXPECT_EQ(DecodeSqlBatch(EncodeSqlBatch(b, true), true), b);
  SqlBatch plain;
  plain.text = b.text;
  EXPECT_EQ(DecodeSqlBatch(EncodeSqlBatch(plain, false), false), plain);
  Bytes badHeaders = EncodeSqlBatch(b, true);
  badHeaders[0] = 0xFF;  // ALL_HEADERS longer than the message
  EXPECT_THROW(DecodeSqlBatch(badHeaders, true), DecodeError);
  Bytes oddText = EncodeSqlBatch(b, true);
  oddText.push_back('x');
  EXPECT_THROW(DecodeSqlBatch(oddText, true), DecodeError);
}

// Every parameter type FreeTDS and pytds send, with a value and with NULL.
TEST(StandinRequest, RpcRoundTripForEveryParameterType) {
  TypeInfo dec{TypeCode::DecimalN, 9, 18, 4};
  TypeInfo dt2{TypeCode::DateTime2N, 0, 0, 7};
  struct Case {
    TypeInfo type;
    WireValue value;
  } cases[] = {
      {{TypeCode::IntN, 1}, Int(255)},
      {{TypeCode::IntN, 2}, Int(-2)},
      {{TypeCode::IntN, 4}, Int(-2147483648LL)},
      {{TypeCode::IntN, 8}, Int(1LL << 62)},
      {{TypeCode::BitN, 1}, Int(1)},
      {{TypeCode::FltN, 8}, Flt(-0.125)},
      {{TypeCode::FltN, 4}, Flt(1.5)},
      {dec, Txt("-12345.6789")},
      {{TypeCode::NumericN, 17, 38, 0}, Txt("12345678901234567890123456789012345678")},
      {{TypeCode::DateTimeN, 8}, Txt("2024-02-29 23:59:59.997")},
      {{TypeCode::DateTimeN, 8}, Txt("1753-01-01 00:00:00.000")},
      {dt2, Txt("2024-05-06 07:08:09.123")},
      {Coll(TypeCode::BigVarChar, 30), Txt("caf\xC3\xA9")},
      {Coll(TypeCode::BigChar, 5), Txt("ab   ")},
      {Coll(TypeCode::NVarChar, 200), Txt("\xE2\x82\xAC"
                                          "uro")},
      {Coll(TypeCode::NChar, 4), Txt("ab")},
      {Coll(TypeCode::NVarChar, 0xFFFF), Txt(std::string(10000, 'x'))},
      {Coll(TypeCode::BigVarChar, 0xFFFF), Txt("")},
      {Coll(TypeCode::Text, 0x7FFFFFFF), Txt("text value")},
      {Coll(TypeCode::NText, 0x7FFFFFFE), Txt("ntext value")},
      {{TypeCode::BigVarBinary, 8}, {false, 0, 0, {}, B({1, 2, 3})}},
  };
  RpcBatch batch;
  RpcRequest req;
  req.procId = kSpExecuteSql;
  int n = 0;
  for (const auto& c : cases) {
    req.params.push_back({"@P" + std::to_string(++n), 0, c.type, c.value});
    req.params.push_back({"", kParamByRef, c.type, Null()});
  }
  batch.requests.push_back(req);
  RpcRequest byName;
  byName.procName = "sp_pkeys";
  byName.params.push_back({"@table_name", 0, Coll(TypeCode::NVarChar, 256), Txt("CFGCELL")});
  batch.requests.push_back(byName);
  for (bool headers : {true, false}) {
    RpcBatch decoded = DecodeRpc(EncodeRpc(batch, headers), headers);
    ASSERT_EQ(decoded.requests.size(), batch.requests.size());
    for (std::size_t r = 0; r < batch.requests.size(); ++r) {
      const auto& got = decoded.requests[r].params;
      const auto& want = batch.requests[r].params;
      ASSERT_EQ(got.size(), want.size());
      for (std::size_t k = 0; k < want.size(); ++k)
        EXPECT_TRUE(got[k] == want[k]) << "parameter " << k << " " << want[k].name << ": got '"
                                       << got[k].value.text << "' isNull=" << got[k].value.isNull;
    }
    EXPECT_EQ(decoded, batch);
  }
}

TEST(StandinRequest, MalformedRpcIsRefused) {
  RpcBatch batch;
  RpcRequest req;
  req.procId = kSpExecuteSql;
  req.params.push_back({"@stmt", 0, Coll(TypeCode::NVarChar, 100), Txt("SELECT 1")});
  batch.requests.push_back(req);
  Bytes good = EncodeRpc(batch, true);
  Bytes truncated(good.begin(), good.end() - 3);
  EXPECT_THROW(DecodeRpc(truncated, true), DecodeError);
  Bytes unknownType = good;
  unknownType[22 + 4 + 2 + 11 + 1] = 0xF1;  // the parameter's type byte: an XML/UDT type
  EXPECT_THROW(DecodeRpc(unknownType, true), DecodeError);
  EXPECT_THROW(
      DecodeRpc(B({22, 0, 0, 0, 18, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}),
                true),
      DecodeError);  // name length 0
}

TEST(StandinTokens, EveryTokenRoundTrips) {
  ColMetadata meta;
  meta.columns = {{0, kColNullable | kColUpdatable, {TypeCode::IntN, 4}, "", "i"},
                  {0, kColIdentity, Coll(TypeCode::BigChar, 5), "", "c"},
                  {0, kColNullable, Coll(TypeCode::Text, 0x7FFFFFFF), "dbo.T", "t"},
                  {0, kColNullable, Coll(TypeCode::NVarChar, 0xFFFF), "", "nm"},
                  {0, kColNullable, {TypeCode::DecimalN, 5, 9, 2}, "", "d"},
                  {0, kColNullable, {TypeCode::DateTimeN, 8}, "", "dt"}};
  std::vector<AnyToken> tokens = {
      LoginAck{1, kTds74, "Microsoft SQL Server", 0x0F0007D0},
      TextEnvChange(kEnvDatabase, "JAIL", "master"),
      EnvChange{kEnvCollation,
                Bytes(std::begin(kCollationLatin1CiAs), std::end(kCollationLatin1CiAs)),
                {}},
      Message{true,
              {2714, 6, 16, "There is already an object named '##X' in the database.", 3, "p"},
              "srv"},
      Message{false, {5701, 2, 0, "Changed database context to 'JAIL'.", 1, ""}, "srv"},
      meta,
      RowData{{Int(5), Txt("ab   "), Txt("blob"), Txt("big"), Txt("-1.25"),
               Txt("2000-01-01 00:00:00.003")}},
      RowData{{Null(), Txt("x    "), Null(), Null(), Null(), Null()}},
      Done{Token::DoneInProc, kDoneMore | kDoneCount, 0xC1, 123456789012},
      ReturnStatus{-6},
      ReturnValue{0, "@handle", 1, 0, 0, {TypeCode::IntN, 4}, Int(3)},
      Done{Token::DoneProc, kDoneFinal, 0, 0},
  };
  for (bool tds72 : {true, false}) {
    Dialect d{tds72};
    Bytes enc;
    ColMetadata current;
    for (const auto& t : tokens) {
      AppendToken(enc, t, current, d);
      if (auto* m = std::get_if<ColMetadata>(&t)) {
        current = *m;
      }
    }
    auto decoded = DecodeTokens(enc, d);
    auto expected = tokens;
    if (!tds72) std::get<Done>(expected[8]).rowCount &= 0xFFFFFFFF;  // 7.1 counts are 32-bit
    EXPECT_EQ(decoded, expected) << "tds72=" << tds72;
  }
}

// The executor's row path must produce exactly what the generic value codec reads back.
TEST(StandinTokens, RowValuesFromTheEngineConvertToTheColumnType) {
  auto col = [](SqlType t, int len = 0, int p = 0, int s = 0) {
    ColumnInfo c;
    c.type = t;
    c.length = len;
    c.precision = p;
    c.scale = s;
    return c;
  };
  struct Case {
    ColumnInfo column;
    Value value;
    WireValue expected;
  } cases[] = {
      {col(SqlType::Int), VI(-5), Int(-5)},
      {col(SqlType::Int), VT(" 17 "), Int(17)},
      {col(SqlType::TinyInt), VI(200), Int(200)},
      {col(SqlType::BigInt), VI(-(1LL << 50)), Int(-(1LL << 50))},
      {col(SqlType::Bit), VI(5), Int(1)},
      {col(SqlType::Float), VI(3), Flt(3)},
      {col(SqlType::Real), VF(0.5), Flt(0.5)},
      {col(SqlType::Decimal, 0, 10, 2), VT("-1234.5"), Txt("-1234.50")},
      {col(SqlType::Decimal, 0, 5, 2), VT("1.005"), Txt("1.01")},
      {col(SqlType::Decimal, 0, 38, 0), VI(42), Txt("42")},
      {col(SqlType::DateTime), VT("2024-03-01 10:00:00.003"), Txt("2024-03-01 10:00:00.003")},
      {col(SqlType::Char, 5), VT("ab"), Txt("ab   ")},
      {col(SqlType::NChar, 3), VT("\xC3\xA9"), Txt("\xC3\xA9  ")},
      {col(SqlType::VarChar, 3), VT("abcdef"), Txt("abc")},
      {col(SqlType::VarChar, 10), VI(12), Txt("12")},
      {col(SqlType::VarChar, 10), VT("\xE2\x82\xAC"), Txt("\xE2\x82\xAC")},
      {col(SqlType::NVarChar, 10), VT("\xE4\xB8\xAD"), Txt("\xE4\xB8\xAD")},
      {col(SqlType::VarChar, -1), VT("max"), Txt("max")},
      {col(SqlType::VarChar, -1), VT(""), Txt("")},
      {col(SqlType::NVarChar, -1), {}, Null()},
      {col(SqlType::Text), VT("t"), Txt("t")},
      {col(SqlType::NText), {}, Null()},
      {col(SqlType::Int), {}, Null()},
      {col(SqlType::Char, 4), {}, Null()},
  };
  for (bool plp : {true, false}) {
    for (const auto& c : cases) {
      TypeInfo t = TypeInfoFor(c.column, plp);
      Bytes out;
      EXPECT_TRUE(AppendRowValue(out, t, c.value));
      ByteReader r(out);
      EXPECT_EQ(ReadValue(r, t, true), c.expected)
          << static_cast<int>(c.column.type) << " plp=" << plp;
      EXPECT_TRUE(r.AtEnd());
    }
  }
  Bytes out;
  EXPECT_FALSE(AppendRowValue(out, TypeInfoFor(col(SqlType::Int), true), VT("x")));
  EXPECT_EQ(out, B({0}));  // NULL in its place, the stream stays readable
}

TEST(StandinTypes, DateTimeTextAndTicks) {
  struct Case {
    const char* text;
    std::int32_t days;
    std::uint32_t ticks;
    const char* back;
  } cases[] = {
      {"1900-01-01 00:00:00.000", 0, 0, "1900-01-01 00:00:00.000"},
      {"1900-01-01", 0, 0, "1900-01-01 00:00:00.000"},
      {"1753-01-01 00:00:00", -53690, 0, "1753-01-01 00:00:00.000"},
      {"2000-02-29T12:00:00.5", 36583, 12960150, "2000-02-29 12:00:00.500"},
      {"2024-01-31 00:00:00.001", 45320, 0, "2024-01-31 00:00:00.000"},
      {"2024-01-31 00:00:00.002", 45320, 1, "2024-01-31 00:00:00.003"},
      {"2024-01-31 23:59:59.999", 45321, 0, "2024-02-01 00:00:00.000"},
      {"9999-12-31 23:59:59.997", 2958463, 25919999, "9999-12-31 23:59:59.997"},
  };
  for (const auto& c : cases) {
    DateTimeParts p;
    ASSERT_TRUE(ParseDateTime(c.text, p)) << c.text;
    EXPECT_EQ(p.days, c.days) << c.text;
    EXPECT_EQ(p.ticks, c.ticks) << c.text;
    EXPECT_EQ(FormatDateTime(p), c.back);
  }
  for (const char* bad : {"", "2024-13-01", "2023-02-29", "2024-01-01 24:00:00", "01/02/2024",
                          "2024-01-01 10:00", "2024-01-01 10:00:00.", "2024-01-01x10:00:00"}) {
    DateTimeParts p;
    EXPECT_FALSE(ParseDateTime(bad, p)) << bad;
  }
}

TEST(StandinTypes, DecimalTextAndMagnitude) {
  struct Case {
    const char* text;
    int scale;
    bool ok;
    const char* back;
  } cases[] = {
      {"0", 2, true, "0.00"},         {"-0.00", 2, true, "0.00"}, {"12.345", 2, true, "12.35"},
      {"-12.344", 2, true, "-12.34"}, {".5", 1, true, "0.5"},     {"7", 0, true, "7"},
      {"1e5", 0, false, ""},          {"", 0, false, ""},         {"-", 0, false, ""},
      {"1.2.3", 2, false, ""},
  };
  for (const auto& c : cases) {
    bool negative;
    unsigned __int128 mag;
    ASSERT_EQ(ParseDecimal(c.text, c.scale, negative, mag), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(FormatDecimal(negative, mag, c.scale), c.back) << c.text;
    }
  }
}

TEST(StandinStatementLog, ReaderParsesRecordsAndRefusesGarbage) {
  auto records = testing::ParseStatementLog(
      "{\"seq\":1,\"spid\":51,\"kind\":\"rpc\",\"proc\":\"sp_executesql\",\"sql\":\"SELECT "
      "\\\"a\\\"\\r\\nWHERE "
      "x = "
      "@P1\",\"params\":[{\"name\":\"@P1\",\"type\":\"varchar(3)\",\"value\":\"\\u00e9\"},{"
      "\"name\":\"@P2\","
      "\"type\":\"int\",\"value\":null}]}\n"
      "{\"seq\":2,\"spid\":52,\"kind\":\"batch\",\"proc\":\"\",\"sql\":\"USE "
      "JAIL\",\"params\":[]}\n"
      "{\"seq\":3,\"spid\"");  // a record still being written is not read
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].sql, "SELECT \"a\"\r\nWHERE x = @P1");
  EXPECT_EQ(records[0].params[0], (testing::LoggedParam{"@P1", "varchar(3)", "\xC3\xA9"}));
  EXPECT_EQ(records[0].params[1].value, std::nullopt);
  EXPECT_EQ(records[1].spid, 52);
  EXPECT_THROW(testing::ParseStatementLog("{\"seq\":1}\n"), std::runtime_error);
  EXPECT_THROW(testing::ParseStatementLog("not json\n"), std::runtime_error);
}

}  // namespace
}  // namespace standin::tds
