#include "standin/server/Options.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace standin {

const char* UsageText() {
  return R"(usage: sqlstandin --data DIR [options]

A SQL Server stand-in for tests: speaks TDS 7.1-7.4 on 127.0.0.1 and keeps each database as a
SQLite file DIR/<name>.db (tempdb is shared by all sessions and never stored).

  --port N              port to listen on; 0 (the default) picks a free one. The port is
                        printed on the first line of standard output once the server listens.
  --data DIR            data folder (created when missing)
  --login USER:PASSWORD a SQL login; repeat for more. Default: sa:Standin#1
  --init FILE           T-SQL script (GO separates batches) run before listening
  --log FILE            statement log, one JSON object per line and statement:
                        {"seq":1,"spid":51,"kind":"batch|rpc|tm","proc":"sp_executesql",
                         "sql":"...","params":[{"name":"@P1","type":"int","value":"5"}]}
  --step-log            the statement log also gets a line before each statement of a request
                        runs (statements inside blocks, TRY...CATCH and IF included):
                        {"step":7,"seq":3,"spid":51,"kind":"step","line":2,"sql":"...",
                         "params":[...the request's...]}; steps are counted over all sessions
  --fault SPEC          inject a fault; repeatable. SPEC is one of
      drop-after:N          close, without an answer, the session that sends the server's
                            statement N+1 (once; statements counted over all sessions)
      drop-on:PATTERN       close the session of every statement containing PATTERN
      fail:NUMBER:PATTERN[|TEXT]
                            a statement containing PATTERN does not run and fails with error
                            NUMBER, severity 16, state 1 and TEXT
      fail-at:N:NUMBER[|TEXT]
                            the server's statement N fails that way, whatever its text
      count:ROWS:PATTERN    a statement containing PATTERN first reports ROWS rows affected,
                            as a trigger without SET NOCOUNT ON does
      delay:MS              answer every statement MS milliseconds late
      delay-on:MS:PATTERN   answer a statement containing PATTERN MS milliseconds late
      exec-after:N:SQL      after answering statement N, run SQL in a server-owned session on
                            the same database (it lives as long as the server)
      exec-before:PATTERN|SQL
                            run SQL that way right before the first statement containing
                            PATTERN (once)
      drop-at-step:K        close, without an answer, the session that is about to run step K
                            (see --step-log): nothing of step K or after it runs
      fail-at-step:K:NUMBER[|TEXT]
                            step K does not run and fails with error NUMBER, severity 16,
                            state 1 and TEXT, as a run-time error (a TRY block catches it)
                        PATTERN matches case-insensitively anywhere in the statement text (for
                        RPC calls: the SQL they run, or the procedure's name).
  --tls-cert FILE        the server's certificate (PEM, chain after it) for TLS
  --tls-key FILE         its private key (PEM)
  --encrypt MODE        how PRELOGIN's ENCRYPTION is answered, as SQL Server's settings do:
      notsup                no encryption (the default without a certificate)
      off                   the login packet encrypted, then plain text, unless the client
                            asks for more (the default with a certificate)
      on                    everything encrypted whenever the client can encrypt
      required              everything encrypted; a client that cannot is turned away
      strict                TDS 8.0 only: TLS before the first TDS byte, ALPN "tds/8.0"
                        With a certificate, TDS 8.0 clients are served in every mode.
                        A LOGIN7 that arrives in the clear when the answer required
                        encryption is refused.
  --session-log FILE    one JSON object per line and session: what travelled encrypted
                        {"spid":51,"user":"sa","client_encrypt":"OFF","server_encrypt":"OFF",
                         "tls":"TLSv1.2","strict":false,"login_encrypted":true,
                         "data_encrypted":false,"outcome":"logged in"}
  --help                this text

SIGTERM or SIGINT stops the server: sessions are closed and their ## tables dropped.
)";
}

std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& out) {
  bool defaultLogins = true;
  bool explicitMode = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out.help = true;
      continue;
    }
    if (a == "--step-log") {
      out.server.stepLog = true;
      continue;
    }
    static const char* const kWithValue[] = {"--port",    "--data",       "--login",    "--init",
                                             "--log",     "--fault",      "--tls-cert", "--tls-key",
                                             "--encrypt", "--session-log"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), a) == std::end(kWithValue))
      return "unknown argument '" + a + "'";
    if (i + 1 >= args.size()) return "option " + a + " needs a value";
    const std::string& v = args[++i];
    if (a == "--port") {
      int port = -1;
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), port);
      if (ec != std::errc{} || p != v.data() + v.size() || port < 0 || port > 65535)
        return "--port needs a number from 0 to 65535";
      out.server.port = port;
    } else if (a == "--data") {
      out.dataDir = v;
    } else if (a == "--login") {
      auto colon = v.find(':');
      if (colon == std::string::npos || colon == 0) return "--login needs USER:PASSWORD";
      if (defaultLogins) out.server.logins.clear();
      defaultLogins = false;
      out.server.logins.emplace_back(v.substr(0, colon), v.substr(colon + 1));
    } else if (a == "--init") {
      out.initFile = v;
    } else if (a == "--log") {
      out.logFile = v;
    } else if (a == "--fault") {
      if (auto err = out.server.faults.Add(v); !err.empty()) return "--fault " + v + ": " + err;
    } else if (a == "--tls-cert") {
      out.server.tlsCertFile = v;
    } else if (a == "--tls-key") {
      out.server.tlsKeyFile = v;
    } else if (a == "--session-log") {
      out.server.sessionLogFile = v;
    } else if (a == "--encrypt") {
      static const std::pair<const char*, tds::EncryptionMode> kModes[] = {
          {"notsup", tds::EncryptionMode::NotSupported},
          {"off", tds::EncryptionMode::Off},
          {"on", tds::EncryptionMode::On},
          {"required", tds::EncryptionMode::Required},
          {"strict", tds::EncryptionMode::Strict}};
      auto mode = std::find_if(std::begin(kModes), std::end(kModes),
                               [&v](const auto& m) { return v == m.first; });
      if (mode == std::end(kModes)) return "--encrypt needs notsup, off, on, required or strict";
      out.server.encryption = mode->second;
      explicitMode = true;
    }
  }
  if (!out.help && out.dataDir.empty()) return "--data DIR is required";
  if (out.server.tlsCertFile.empty() != out.server.tlsKeyFile.empty())
    return "--tls-cert and --tls-key go together";
  if (!explicitMode && !out.server.tlsCertFile.empty())
    out.server.encryption = tds::EncryptionMode::Off;
  if (out.server.encryption != tds::EncryptionMode::NotSupported && out.server.tlsCertFile.empty())
    return "--encrypt with a mode other than notsup needs --tls-cert and --tls-key";
  return {};
}

}  // namespace standin
