#pragma once
// The executor's half of the contract: turns what the engine reports (columns, rows, statement
// ends, messages, database changes) into tokens on a streaming response. Inside an RPC each
// statement ends with DONEINPROC; in a batch with DONE, the last one without the MORE bit.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "standin/Engine.h"
#include "standin/tds/Packet.h"
#include "standin/tds/Tokens.h"

namespace standin {

class TokenSink : public ResultSink {
 public:
  struct Settings {
    tds::Dialect dialect;
    bool plpAllowed = true;
    bool inProc = false;  // statements of an RPC call
    std::string serverName;
  };
  // `pollAttention` is asked whenever a packet has left: it returns true once the client has
  // sent ATTENTION.
  TokenSink(tds::PacketWriter& writer, Settings settings, std::function<bool()> pollAttention);

  void Columns(const std::vector<ColumnInfo>& columns) override;
  void Row(std::span<const Value> values) override;
  void StatementDone(bool hasCount, std::int64_t count, bool error) override;
  void Message(const ServerMessage& message) override;
  void DatabaseChanged(const std::string& oldName, const std::string& newName) override;
  bool Cancelled() const override { return cancelled_; }
  bool PollCancel() override;
  void TransactionChanged(Transaction change, std::uint64_t descriptor) override;
  StepVerdict StatementStarting(const StatementStart& start) override {
    if (!stepHook_) return {};
    StepVerdict verdict = stepHook_(start);
    if (verdict.kind == StepVerdict::Kind::Drop) dropped_ = true;
    return verdict;
  }
  // Asked before each statement the engine runs for this response.
  void SetStepHook(std::function<StepVerdict(const StatementStart&)> hook) {
    stepHook_ = std::move(hook);
  }
  // A step fault dropped the session: nothing more may be written, the caller closes it.
  bool Dropped() const { return dropped_; }

  // Writes an error as the server's own (for RPC and protocol failures found outside the engine).
  void Error(int number, int state, int severity, const std::string& text);
  // Ends the response part this sink wrote: in a batch the final DONE; in an RPC the pending
  // DONEINPROC, leaving the caller to add DONEPROC. After a cancel (Attention()) it ends the
  // cancelled response's message itself and leaves the DONE with ATTN written for the next.
  void Finish();
  // Character values of the rows that follow are sent ABytes long whatever their columns
  // declare (the long-value fault); 0 sends them as they are.
  void SetLongValues(std::uint32_t ABytes) { longValueBytes_ = ABytes; }
  bool HadError() const { return hadError_; }
  bool Attention() const { return cancelled_; }
  const std::string& Database() const { return database_; }

 private:
  void WritePending();
  void AfterWrite();

  tds::PacketWriter& writer_;
  Settings settings_;
  std::function<bool()> pollAttention_;
  std::vector<tds::TypeInfo> types_;
  std::optional<tds::Done> pending_;
  bool anyDone_ = false;
  bool cancelled_ = false;
  bool hadError_ = false;
  bool conversionFailed_ = false;
  bool haveColumns_ = false;
  std::uint32_t longValueBytes_ = 0;
  std::string database_;
  std::function<StepVerdict(const StatementStart&)> stepHook_;
  bool dropped_ = false;
};

}  // namespace standin
