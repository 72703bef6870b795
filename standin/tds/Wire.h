#pragma once
// TDS wire constants, named as the protocol document names them, with the section they come
// from. Only what the stand-in reads or writes is here.

#include <cstdint>

namespace standin::tds {

// 2.2.3.1.1 Packet types.
enum class PacketType : std::uint8_t {
  SqlBatch = 0x01,
  Rpc = 0x03,
  TabularResult = 0x04,
  Attention = 0x06,
  TransactionManager = 0x0E,
  Login7 = 0x10,
  PreLogin = 0x12,
};

// 2.2.3.1.2 Packet status bits.
inline constexpr std::uint8_t kStatusEom = 0x01;
inline constexpr std::uint8_t kStatusIgnore = 0x02;
inline constexpr std::uint8_t kStatusResetConnection = 0x08;

inline constexpr std::size_t kHeaderSize = 8;
// 2.2.6.4 LOGIN7 PacketSize: the server accepts 512 to 32767.
inline constexpr std::uint32_t kMinPacketSize = 512;
inline constexpr std::uint32_t kMaxPacketSize = 32767;
inline constexpr std::uint32_t kDefaultPacketSize = 4096;

// 2.2.6.5 PRELOGIN option tokens.
inline constexpr std::uint8_t kPreloginVersion = 0x00;
inline constexpr std::uint8_t kPreloginEncryption = 0x01;
inline constexpr std::uint8_t kPreloginInstOpt = 0x02;
inline constexpr std::uint8_t kPreloginThreadId = 0x03;
inline constexpr std::uint8_t kPreloginMars = 0x04;
inline constexpr std::uint8_t kPreloginTerminator = 0xFF;
// 2.2.6.5 ENCRYPTION values.
inline constexpr std::uint8_t kEncryptOff = 0x00;  // login packet only
inline constexpr std::uint8_t kEncryptOn = 0x01;
inline constexpr std::uint8_t kEncryptNotSup = 0x02;
inline constexpr std::uint8_t kEncryptReq = 0x03;
// The first byte of a TLS handshake record: a TDS 8.0 client starts with TLS, not PRELOGIN.
inline constexpr std::uint8_t kTlsHandshakeRecord = 0x16;

// 2.2.6.4 TDS versions as a LOGIN7 carries them (little-endian DWORD) and LOGINACK echoes them
// (big-endian bytes: 7.4 goes out as 74 00 00 04).
inline constexpr std::uint32_t kTds71 = 0x71000001;
inline constexpr std::uint32_t kTds72 = 0x72090002;
inline constexpr std::uint32_t kTds73A = 0x730A0003;
inline constexpr std::uint32_t kTds73B = 0x730B0003;
inline constexpr std::uint32_t kTds74 = 0x74000004;

// 2.2.7 Token types.
enum class Token : std::uint8_t {
  ReturnStatus = 0x79,
  ColMetadata = 0x81,
  Error = 0xAA,
  Info = 0xAB,
  ReturnValue = 0xAC,
  LoginAck = 0xAD,
  FeatureExtAck = 0xAE,
  Row = 0xD1,
  NbcRow = 0xD2,
  EnvChange = 0xE3,
  Done = 0xFD,
  DoneProc = 0xFE,
  DoneInProc = 0xFF,
};

// 2.2.7.6 DONE status bits.
inline constexpr std::uint16_t kDoneFinal = 0x0000;
inline constexpr std::uint16_t kDoneMore = 0x0001;
inline constexpr std::uint16_t kDoneError = 0x0002;
inline constexpr std::uint16_t kDoneCount = 0x0010;
inline constexpr std::uint16_t kDoneAttn = 0x0020;
inline constexpr std::uint16_t kDoneSrvError = 0x0100;

// 2.2.7.9 ENVCHANGE types.
inline constexpr std::uint8_t kEnvDatabase = 1;
inline constexpr std::uint8_t kEnvLanguage = 2;
inline constexpr std::uint8_t kEnvPacketSize = 4;
inline constexpr std::uint8_t kEnvCollation = 7;
inline constexpr std::uint8_t kEnvBeginTransaction = 8;   // new value: the 8-byte descriptor
inline constexpr std::uint8_t kEnvCommitTransaction = 9;  // old value: the descriptor
inline constexpr std::uint8_t kEnvRollbackTransaction = 10;

// 2.2.7.4 COLMETADATA column flags (FreeTDS reads bit 0x08 as "writeable").
inline constexpr std::uint16_t kColNullable = 0x0001;
inline constexpr std::uint16_t kColUpdatable = 0x0008;
inline constexpr std::uint16_t kColIdentity = 0x0010;

// 2.2.5.4 Data type codes.
enum class TypeCode : std::uint8_t {
  Null = 0x1F,
  Image = 0x22,
  Text = 0x23,
  Guid = 0x24,
  IntN = 0x26,
  DateN = 0x28,
  TimeN = 0x29,
  DateTime2N = 0x2A,
  DateTimeOffsetN = 0x2B,
  Int1 = 0x30,
  Bit = 0x32,
  Int2 = 0x34,
  Int4 = 0x38,
  DateTime4 = 0x3A,
  Flt4 = 0x3B,
  Money = 0x3C,
  DateTime = 0x3D,
  Flt8 = 0x3E,
  NText = 0x63,
  BitN = 0x68,
  DecimalN = 0x6A,
  NumericN = 0x6C,
  FltN = 0x6D,
  MoneyN = 0x6E,
  DateTimeN = 0x6F,
  Money4 = 0x7A,
  Int8 = 0x7F,
  BigVarBinary = 0xA5,
  BigVarChar = 0xA7,
  BigBinary = 0xAD,
  BigChar = 0xAF,
  NVarChar = 0xE7,
  NChar = 0xEF,
};

// 2.2.6.6 RPC: well-known procedure ids sent as ProcID instead of a name.
inline constexpr std::uint16_t kProcIdSwitch = 0xFFFF;
inline constexpr std::uint16_t kSpExecuteSql = 10;
inline constexpr std::uint16_t kSpPrepare = 11;
inline constexpr std::uint16_t kSpExecute = 12;
inline constexpr std::uint16_t kSpPrepExec = 13;
inline constexpr std::uint16_t kSpUnprepare = 15;

// 2.2.6.6 RPC parameter status flags.
inline constexpr std::uint8_t kParamByRef = 0x01;
inline constexpr std::uint8_t kParamDefault = 0x02;

// 2.2.6.9 Transaction manager request types.
inline constexpr std::uint16_t kTmBeginXact = 5;
inline constexpr std::uint16_t kTmCommitXact = 7;
inline constexpr std::uint16_t kTmRollbackXact = 8;
inline constexpr std::uint16_t kTmSaveXact = 9;

// 2.2.5.3.1 ALL_HEADERS.
inline constexpr std::uint16_t kHeaderTransactionDescriptor = 0x0002;

// 2.2.5.2.3 PLP.
inline constexpr std::uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;
inline constexpr std::uint64_t kPlpUnknownLength = 0xFFFFFFFFFFFFFFFEull;

// 2.2.5.1.2 Collation: Latin1_General_CI_AS (LCID 0x0409, case-, kana- and width-insensitive,
// code page 1252), the collation the stand-in reports for every single-byte text.
inline constexpr std::uint8_t kCollationLatin1CiAs[5] = {0x09, 0x04, 0xD0, 0x00, 0x00};

}  // namespace standin::tds
