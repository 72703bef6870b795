#pragma once
// Reads sqlstandin's statement log (JSON lines) back into records for tests.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin::testing {

struct LoggedParam {
  std::string name;
  std::string type;                  // "int", "varchar(30)", "nvarchar(max)" ...
  std::optional<std::string> value;  // text form; nullopt for NULL
  bool operator==(const LoggedParam&) const = default;
};

struct LoggedStatement {
  std::int64_t seq = 0;  // for a step, the request it belongs to
  int spid = 0;
  std::string kind;       // "batch", "rpc", "tm", or "step" (a statement within a request, logged
                          // only when the server runs with steps logged)
  std::string proc;       // empty for batches and steps
  std::int64_t step = 0;  // a step's number, counted over all sessions; 0 for the others
  int line = 0;           // a step's line within its request's text; 0 for the others
  std::string sql;
  std::vector<LoggedParam> params;
};

// One session as the stand-in's session record has it: what travelled encrypted.
struct LoggedSession {
  int spid = 0;
  std::string user;
  std::string clientEncrypt;  // "OFF", "ON", "NOT_SUP", "REQ", "" when none was sent
  std::string serverEncrypt;
  std::string tls;  // "TLSv1.2" ..., "" without TLS
  bool strict = false;
  bool loginEncrypted = false;
  bool dataEncrypted = false;
  std::string outcome;  // "logged in", "login failed", "refused: ..."
};

// Throws std::runtime_error naming the line when a record is malformed. A last line without
// its newline (still being written) is ignored.
std::vector<LoggedStatement> ParseStatementLog(std::string_view text);
std::vector<LoggedSession> ParseSessionLog(std::string_view text);

}  // namespace standin::testing
