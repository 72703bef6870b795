#pragma once
// The statement log: one JSON object per line for every statement the server receives, written
// and flushed before the statement runs, so a test sees it even when the session is dropped:
//   {"seq":3,"spid":51,"kind":"rpc","proc":"sp_executesql","sql":"...",
//    "params":[{"name":"@P1","type":"int","value":"5"},{"name":"@P2","type":"varchar(8)","value":null}]}
// "kind" is "batch", "rpc" or "tm" (a transaction-manager request, logged as the T-SQL it does);
// "proc" is empty for batches; sp_execute carries the prepared text.
// With steps logged, each statement of a request also gets a line before it runs:
//   {"step":7,"seq":3,"spid":51,"kind":"step","line":2,"sql":"<the statement>","params":[...]}

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "standin/Engine.h"

namespace standin {

std::string JsonQuote(std::string_view text);
std::string TypeName(const ColumnInfo& type);
// The value of a parameter as the log shows it (text form, or "null").
std::string ParamText(const Param& p);

class StatementLog {
 public:
  StatementLog() = default;
  ~StatementLog();
  StatementLog(const StatementLog&) = delete;
  StatementLog& operator=(const StatementLog&) = delete;

  // Opens (truncates) the file; returns false when it cannot be created.
  bool Open(const std::string& path);
  void Write(std::int64_t seq, int spid, std::string_view kind, std::string_view proc,
             std::string_view sql, std::span<const Param> params);
  void WriteStep(std::int64_t step, std::int64_t seq, int spid, int line, std::string_view sql,
                 std::span<const Param> params);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace standin
