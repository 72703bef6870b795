#pragma once
// The session record: one JSON object per line for every session that reached LOGIN7 (or was
// turned away before it), saying what travelled encrypted, so that a test can prove a password
// never crossed in the clear:
//   {"spid":51,"user":"sa","client_encrypt":"OFF","server_encrypt":"OFF","tls":"TLSv1.2",
//    "strict":false,"login_encrypted":true,"data_encrypted":false,"outcome":"logged in"}
// No password and no data reach it.

#include <cstdio>
#include <mutex>
#include <string>

namespace standin {

struct SessionRecord {
  int spid = 0;
  std::string user;
  std::string clientEncrypt;  // the client's PRELOGIN ENCRYPTION value, "" when it sent none
  std::string serverEncrypt;  // the server's answer
  std::string tls;            // TLS version, "" when none was negotiated
  bool strict = false;        // TDS 8.0: TLS before PRELOGIN
  bool loginEncrypted = false;
  bool dataEncrypted = false;
  std::string outcome;  // "logged in", "login failed", "refused: ..."
};

// The text of a PRELOGIN ENCRYPTION value: "OFF", "ON", "NOT_SUP", "REQ", or its number.
std::string EncryptionName(int value);

class SessionLog {
 public:
  SessionLog() = default;
  ~SessionLog();
  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  // Opens (truncates) the file; returns false when it cannot be created.
  bool Open(const std::string& path);
  void Write(const SessionRecord& record);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace standin
