#include "standin/server/TokenSink.h"

namespace standin {

namespace {
constexpr std::uint16_t kCurCmdSelect = 0xC1;
}

TokenSink::TokenSink(tds::PacketWriter& writer, Settings settings,
                     std::function<bool()> pollAttention)
    : writer_(writer), settings_(std::move(settings)), pollAttention_(std::move(pollAttention)) {}

void TokenSink::WritePending() {
  if (!pending_) return;
  pending_->status |= tds::kDoneMore;
  tds::AppendDone(writer_.Payload(), *pending_, settings_.dialect);
  pending_.reset();
}

void TokenSink::AfterWrite() {
  if (writer_.FlushFull() && !cancelled_ && pollAttention_ && pollAttention_()) {
    cancelled_ = true;
    writer_.Discard();
  }
}

void TokenSink::Columns(const std::vector<ColumnInfo>& columns) {
  if (cancelled_) return;
  WritePending();
  tds::ColMetadata meta;
  types_.clear();
  for (const auto& c : columns) {
    tds::ColumnDesc d;
    d.type = tds::TypeInfoFor(c, settings_.plpAllowed);
    d.flags = static_cast<std::uint16_t>((c.nullable ? tds::kColNullable : 0) |
                                         (c.updatable ? tds::kColUpdatable : 0) |
                                         (c.identity ? tds::kColIdentity : 0));
    d.name = c.name;
    d.tableName = c.baseTable;
    types_.push_back(d.type);
    meta.columns.push_back(std::move(d));
  }
  haveColumns_ = !columns.empty();
  if (haveColumns_) tds::AppendColMetadata(writer_.Payload(), meta, settings_.dialect);
  AfterWrite();
}

namespace {

bool IsShortCharacter(const tds::TypeInfo& AType) {
  using tds::TypeCode;
  return (AType.code == TypeCode::BigVarChar || AType.code == TypeCode::BigChar ||
          AType.code == TypeCode::NVarChar || AType.code == TypeCode::NChar) &&
         !AType.IsPlp();
}

// A value ABytes long in a column that declares fewer: the same type with the longer length,
// so the encoder neither cuts nor pads it to the declared one.
void AppendLongValue(tds::Bytes& AOut, tds::TypeInfo AType, std::uint32_t ABytes) {
  const bool wide = AType.code == tds::TypeCode::NVarChar || AType.code == tds::TypeCode::NChar;
  AType.maxLength = ABytes;
  std::string text;
  for (std::uint32_t n = 0; n < (wide ? ABytes / 2 : ABytes); ++n) text += "\xC3\xA9";
  Value v;
  v.kind = Value::Kind::Text;
  v.text = text;
  tds::AppendRowValue(AOut, AType, v);
}

}  // namespace

void TokenSink::Row(std::span<const Value> values) {
  if (cancelled_ || !haveColumns_) return;
  auto& out = writer_.Payload();
  out.push_back(static_cast<std::uint8_t>(tds::Token::Row));
  for (std::size_t k = 0; k < types_.size(); ++k) {
    static const Value kNull{};
    const Value& v = k < values.size() ? values[k] : kNull;
    if (longValueBytes_ > 0 && v.kind != Value::Kind::Null && IsShortCharacter(types_[k])) {
      AppendLongValue(out, types_[k], longValueBytes_);
      continue;
    }
    if (!tds::AppendRowValue(out, types_[k], v)) conversionFailed_ = true;
  }
  AfterWrite();
}

void TokenSink::StatementDone(bool hasCount, std::int64_t count, bool error) {
  if (cancelled_) return;
  WritePending();
  if (conversionFailed_) {
    conversionFailed_ = false;
    Error(50000, 1, 16,
          "The stand-in could not convert a result value to its column's declared type; "
          "NULL was sent in its place.");
    error = true;
  }
  tds::Done d;
  d.token = settings_.inProc ? tds::Token::DoneInProc : tds::Token::Done;
  d.status =
      static_cast<std::uint16_t>((hasCount ? tds::kDoneCount : 0) | (error ? tds::kDoneError : 0));
  d.curCmd = haveColumns_ ? kCurCmdSelect : 0;
  d.rowCount = hasCount && count > 0 ? static_cast<std::uint64_t>(count) : 0;
  if (error) hadError_ = true;
  pending_ = d;
  anyDone_ = true;
  haveColumns_ = false;
  AfterWrite();
  if (!cancelled_ && pollAttention_ && pollAttention_()) cancelled_ = true;
}

void TokenSink::Message(const ServerMessage& message) {
  if (cancelled_) return;
  WritePending();
  tds::Message m;
  m.isError = message.severity > 10;
  m.message = message;
  m.serverName = settings_.serverName;
  if (m.isError) hadError_ = true;
  tds::AppendMessage(writer_.Payload(), m, settings_.dialect);
  AfterWrite();
}

void TokenSink::Error(int number, int state, int severity, const std::string& text) {
  ServerMessage m;
  m.number = number;
  m.state = state;
  m.severity = severity;
  m.text = text;
  Message(m);
}

void TokenSink::DatabaseChanged(const std::string& oldName, const std::string& newName) {
  database_ = newName;
  if (cancelled_) return;
  WritePending();
  tds::AppendEnvChange(writer_.Payload(), tds::TextEnvChange(tds::kEnvDatabase, newName, oldName));
  ServerMessage info;
  info.number = 5701;
  info.state = 1;
  info.severity = 0;
  info.text = "Changed database context to '" + newName + "'.";
  Message(info);
}

bool TokenSink::PollCancel() {
  if (!cancelled_ && pollAttention_ && pollAttention_()) cancelled_ = true;
  return cancelled_;
}

void TokenSink::TransactionChanged(Transaction change, std::uint64_t descriptor) {
  if (cancelled_) return;
  WritePending();
  tds::Bytes id;
  for (int i = 0; i < 8; ++i) id.push_back(static_cast<std::uint8_t>(descriptor >> (8 * i)));
  tds::EnvChange e;
  switch (change) {
    case Transaction::Begin:
      e.type = tds::kEnvBeginTransaction;
      e.newValue = std::move(id);
      break;
    case Transaction::Commit:
      e.type = tds::kEnvCommitTransaction;
      e.oldValue = std::move(id);
      break;
    case Transaction::Rollback:
      e.type = tds::kEnvRollbackTransaction;
      e.oldValue = std::move(id);
      break;
  }
  tds::AppendEnvChange(writer_.Payload(), e);
  AfterWrite();
}

void TokenSink::Finish() {
  if (cancelled_) {
    // The client throws away everything up to the DONE that acknowledges its ATTENTION. The
    // cancelled response ends as a message of its own and the acknowledgement comes alone in
    // the next one: some clients (tedious) drop the rest of the message they were reading when
    // they cancelled, and look for the acknowledgement only in the messages after it.
    pending_.reset();
    writer_.Discard();
    tds::AppendDone(writer_.Payload(), {tds::Token::Done, 0, 0, 0}, settings_.dialect);
    writer_.Finish();
    tds::AppendDone(writer_.Payload(), {tds::Token::Done, tds::kDoneAttn, 0, 0}, settings_.dialect);
    return;
  }
  if (settings_.inProc) {
    WritePending();
    return;
  }
  tds::Done last{tds::Token::Done, static_cast<std::uint16_t>(hadError_ ? tds::kDoneError : 0), 0,
                 0};
  if (pending_) last = *pending_;
  pending_.reset();
  tds::AppendDone(writer_.Payload(), last, settings_.dialect);
}

}  // namespace standin
