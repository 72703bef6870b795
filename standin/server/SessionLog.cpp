#include "standin/server/SessionLog.h"

#include "standin/server/StatementLog.h"
#include "standin/tds/Wire.h"

namespace standin {

std::string EncryptionName(int value) {
  switch (value) {
    case tds::kEncryptOff:
      return "OFF";
    case tds::kEncryptOn:
      return "ON";
    case tds::kEncryptNotSup:
      return "NOT_SUP";
    case tds::kEncryptReq:
      return "REQ";
    default:
      return std::to_string(value);
  }
}

SessionLog::~SessionLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SessionLog::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void SessionLog::Write(const SessionRecord& r) {
  std::string line = "{\"spid\":" + std::to_string(r.spid) + ",\"user\":" + JsonQuote(r.user) +
                     ",\"client_encrypt\":" + JsonQuote(r.clientEncrypt) +
                     ",\"server_encrypt\":" + JsonQuote(r.serverEncrypt) +
                     ",\"tls\":" + JsonQuote(r.tls) +
                     ",\"strict\":" + (r.strict ? "true" : "false") +
                     ",\"login_encrypted\":" + (r.loginEncrypted ? "true" : "false") +
                     ",\"data_encrypted\":" + (r.dataEncrypted ? "true" : "false") +
                     ",\"outcome\":" + JsonQuote(r.outcome) + "}\n";
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace standin
