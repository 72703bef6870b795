#pragma once
// The server the database tests run against: a private sqlstandin holding a JAIL database
// built by the test's script, or, when BUNKMERE_TEST_MSSQL holds an ODBC connection string, that
// SQL Server (whose database must exist; the script's tables are dropped and created anew).
// Statement-log checks only run against the stand-in.

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/MSConnection.h"

namespace standin::testing {
class StandinServer;
}

namespace bunkmere::testing {

// One statement as the server received it, with the driver's "@Pn" markers shown as "?".
struct TServerStatement {
  std::string Sql;
  std::vector<std::string> Params;  // values as text, "NULL" for a NULL
  bool Batch = true;                // false: an RPC (sp_executesql and the like)
  std::string Proc;
};

class TTestServer {
 public:
  // ATables are dropped first on a real server, so the script can create them again.
  TTestServer(const std::string& AScript, const std::vector<std::string>& ATables,
              const std::vector<std::string>& AFaults = {});
  ~TTestServer();

  // False when neither the stand-in nor a real server is available: the test skips.
  bool Usable() const { return FUsable; }
  bool HasLog() const { return FStandin != nullptr; }

  // Points AConnection at the server and its test database; no connect yet.
  void Configure(TMSConnection& AConnection) const;
  std::unique_ptr<TMSConnection> NewConnection() const;

  // Statements received since Mark() was taken (empty without a log).
  std::size_t Mark() const;
  std::vector<TServerStatement> Since(std::size_t AMark) const;
  // Just the texts, for the common case.
  std::vector<std::string> SqlSince(std::size_t AMark) const;

  // Runs statements on a connection of its own (another workstation, as far as the server sees).
  void Exec(const std::string& ASql) const;
  standin::testing::StandinServer* Standin() const { return FStandin.get(); }

 private:
  std::unique_ptr<standin::testing::StandinServer> FStandin;
  TConnectSettings FSettings;
  bool FUsable = false;
};

}  // namespace bunkmere::testing
