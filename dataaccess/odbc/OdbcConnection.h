#pragma once
// RAII owners of the ODBC environment and connection handles. A TOdbcConnection owns its own
// environment (so nothing process-wide is shared) and one reusable statement: FreeTDS allows
// one active result per connection, and every user of the connection drains its result before
// the next statement, so one statement handle serves them all, one after another.

#include "dataaccess/odbc/OdbcApi.h"

#include <memory>
#include <string>
#include <vector>

namespace bunkmere::odbc {

class TOdbcStatement;

class TOdbcEnvironment {
 public:
  TOdbcEnvironment();
  ~TOdbcEnvironment();
  TOdbcEnvironment(const TOdbcEnvironment&) = delete;
  TOdbcEnvironment& operator=(const TOdbcEnvironment&) = delete;
  SQLHENV Handle() const noexcept { return FHandle; }

  // Names of the ODBC drivers registered with the driver manager.
  std::vector<std::string> InstalledDrivers() const;
  // The version of the installed FreeTDS driver ADriver, as "1.3.17", read from its library
  // before any connection (how it reads a password depends on it); empty when it cannot be
  // read or ADriver is not FreeTDS.
  std::string FreeTdsVersion(const std::string& ADriver) const;

 private:
  SQLHENV FHandle = SQL_NULL_HENV;
};

class TOdbcConnection {
 public:
  TOdbcConnection();
  ~TOdbcConnection();
  TOdbcConnection(const TOdbcConnection&) = delete;
  TOdbcConnection& operator=(const TOdbcConnection&) = delete;

  const TOdbcEnvironment& Environment() const noexcept { return FEnv; }
  SQLHDBC Handle() const noexcept { return FHandle; }
  bool Connected() const noexcept { return FConnected; }
  // True once the driver has found the server gone (the session ended under it); such a
  // connection only waits to be closed. No round trip: the driver answers from what it saw.
  bool Lost() const noexcept;

  // Attributes that must be set before Connect. A login timeout of 0 waits indefinitely.
  void SetLoginTimeout(int ASeconds);
  void SetPacketSize(int ABytes);
  void SetAutoCommit(bool AValue);
  // Seconds the driver waits for the server's answer to a statement before it cancels the
  // statement and fails it with SQLSTATE HYT00; 0 waits for ever. Applies from the next
  // statement on.
  void SetQueryTimeout(int ASeconds);

  // Opens the server connection without ever prompting. Raises EOdbcError on failure.
  void Connect(const std::string& AConnectionString);
  // Never raises: a connection whose server went away still closes on the client.
  void Disconnect() noexcept;

  // The driver's version as it reports it once connected ("01.03.0017"); empty when it does not
  // say.
  std::string DriverVersion() const;

  // The database the session is in (no round trip: drivers track it).
  std::string CurrentCatalog();

  // The connection's reusable statement. Valid while connected.
  TOdbcStatement& Statement();

 private:
  TOdbcEnvironment FEnv;
  SQLHDBC FHandle = SQL_NULL_HDBC;
  bool FConnected = false;
  int FQueryTimeout = 0;
  std::unique_ptr<TOdbcStatement> FStatement;
};

}  // namespace bunkmere::odbc
