#pragma once
// TMSConnection: a connection to SQL Server, its options, and the connect step.
//
// The settings that a connection string carries live in one TConnectSettings, which both the
// properties and ConnectString read and write. A subclass supplies its own options object
// through the protected constructor (a base constructor cannot call a subclass's override) and
// runs its own work before connecting by overriding DoConnect.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Component.h"
#include "core/Persistent.h"
#include "dataaccess/ConnectSettings.h"
#include "dataaccess/odbc/DbValue.h"

namespace bunkmere {

namespace odbc {
class TOdbcConnection;
class EOdbcError;
}  // namespace odbc
class TCustomMSDataSet;

// The failure of a connect as an administrator reads it: the server and database tried, then
// the cause; a refused login keeps the server's own text. The password never appears.
EDatabaseError ConnectFailure(const TConnectSettings& ASettings, const odbc::EOdbcError& AError);

class TMSConnection;

class TMSConnectionOptions : public TPersistent {
 public:
  explicit TMSConnectionOptions(TMSConnection* AConnection) : FConnection(AConnection) {}
  const char* ClassName() const noexcept override { return "TMSConnectionOptions"; }

  // Copies every option value (not the connection it belongs to).
  virtual void Assign(const TMSConnectionOptions& ASource);

  // These four raise "Cannot perform this operation on an open connection" when the
  // connection is open (in the form designer the connection is closed instead).
  TOLEDBProvider Provider() const;
  void SetProvider(TOLEDBProvider AValue);
  TNativeClientVersion NativeClientVersion() const;
  void SetNativeClientVersion(TNativeClientVersion AValue);
  TCompactVersion CompactVersion() const;
  void SetCompactVersion(TCompactVersion AValue);
  int DefaultLockTimeout() const { return FDefaultLockTimeout; }
  void SetDefaultLockTimeout(int AValue);

  bool QuotedIdentifier() const { return FQuotedIdentifier; }
  void SetQuotedIdentifier(bool AValue) { FQuotedIdentifier = AValue; }
  bool KeepDesignConnected() const { return FKeepDesignConnected; }
  void SetKeepDesignConnected(bool AValue) { FKeepDesignConnected = AValue; }
  bool DisconnectedMode() const { return FDisconnectedMode; }
  void SetDisconnectedMode(bool AValue) { FDisconnectedMode = AValue; }
  bool AllowImplicitConnect() const { return FAllowImplicitConnect; }
  void SetAllowImplicitConnect(bool AValue) { FAllowImplicitConnect = AValue; }

  // Options that a connection string also carries.
  int PacketSize() const;
  void SetPacketSize(int AValue);
  bool AutoTranslate() const;
  void SetAutoTranslate(bool AValue);
  const std::string& ApplicationName() const;
  void SetApplicationName(const std::string& AValue);
  const std::string& WorkstationID() const;
  void SetWorkstationID(const std::string& AValue);
  const std::string& Language() const;
  void SetLanguage(const std::string& AValue);
  const std::string& NetworkLibrary() const;
  void SetNetworkLibrary(const std::string& AValue);
  const std::string& FailoverPartner() const;
  void SetFailoverPartner(const std::string& AValue);
  const std::string& InitialFileName() const;
  void SetInitialFileName(const std::string& AValue);
  bool Encrypt() const;
  void SetEncrypt(bool AValue);
  bool PersistSecurityInfo() const;
  void SetPersistSecurityInfo(bool AValue);
  bool MultipleActiveResultSets() const;
  void SetMultipleActiveResultSets(bool AValue);
  bool TrustServerCertificate() const;
  void SetTrustServerCertificate(bool AValue);
  bool ForceCreateDatabase() const;
  void SetForceCreateDatabase(bool AValue);
  TApplicationIntent ApplicationIntent() const;
  void SetApplicationIntent(TApplicationIntent AValue);

  TMSConnection* Connection() const noexcept { return FConnection; }

 protected:
  // Closes the connection in the form designer, refuses at run time.
  void CheckChangeAllowed();

 private:
  TMSConnection* FConnection;
  int FDefaultLockTimeout = 2000;
  bool FQuotedIdentifier = true;
  bool FKeepDesignConnected = true;
  bool FDisconnectedMode = false;
  bool FAllowImplicitConnect = true;
};

// The login values an OnLogin handler may change before the server connection opens.
struct TLoginValues {
  std::string Username;
  std::string Password;
};

class TMSConnection : public TComponent {
 public:
  explicit TMSConnection(TComponent* AOwner);
  ~TMSConnection() override;
  const char* ClassName() const noexcept override { return "TMSConnection"; }

  const std::string& Server() const { return FSettings.Server; }
  void SetServer(const std::string& AValue) { FSettings.Server = AValue; }
  const std::string& Database() const { return FSettings.Database; }
  void SetDatabase(const std::string& AValue) { FSettings.Database = AValue; }
  TMSAuthentication Authentication() const { return FSettings.Authentication; }
  void SetAuthentication(TMSAuthentication AValue) { FSettings.Authentication = AValue; }
  const std::string& Username() const { return FSettings.Username; }
  void SetUsername(const std::string& AValue) { FSettings.Username = AValue; }
  const std::string& Password() const { return FSettings.Password; }
  void SetPassword(const std::string& AValue) { FSettings.Password = AValue; }
  int Port() const { return FSettings.Port; }
  void SetPort(int AValue) { FSettings.Port = AValue; }
  int ConnectionTimeout() const { return FSettings.ConnectionTimeout; }
  void SetConnectionTimeout(int AValue) { FSettings.ConnectionTimeout = AValue; }
  bool LoginPrompt() const { return FSettings.LoginPrompt; }
  void SetLoginPrompt(bool AValue) { FSettings.LoginPrompt = AValue; }
  bool AutoCommit() const { return FAutoCommit; }
  void SetAutoCommit(bool AValue);
  // Seconds a statement may wait for the server's answer before the driver cancels it and it
  // fails with SQLSTATE HYT00; 0 (the default) waits for ever. Not stored.
  int QueryTimeout() const noexcept { return FQueryTimeout; }
  void SetQueryTimeout(int ASeconds);

  // The connection string generated from the current settings; setting it replaces them, or
  // raises and keeps them.
  std::string ConnectString() const;
  void SetConnectString(const std::string& AValue);
  const TConnectSettings& Settings() const noexcept { return FSettings; }

  TMSConnectionOptions& Options() const noexcept { return *FOptions; }

  bool Connected() const;
  // While a stored description is read, true is only recorded (see Loaded).
  void SetConnected(bool AValue);
  void Connect();
  void Disconnect();

  // Runs one statement on the connection's own command, connecting first when allowed; the
  // text goes to the server as it is unless parameters are given for its ":name" markers
  // (bound in order of first appearance). Returns the rows affected.
  int ExecSQL(const std::string& AText, const std::vector<TDbValue>& AParams = {});
  // Runs one statement without parameters and answers the first column of its first row as
  // an integer; nullopt when that is NULL or there is no row.
  std::optional<std::int64_t> SelectInteger(const std::string& AText);

  // A new dataset bound to this connection; with no owner, the caller frees it.
  virtual TCustomMSDataSet* CreateDataSet(TComponent* AOwner);

  // The ODBC driver a connect made now would use for the current provider setting; raises as
  // that connect would ("Required provider is not installed", "Wrong provider name").
  std::string ChosenOdbcDriver() const;
  // The connected driver's version as it reports it ("01.03.0017"); empty when not connected
  // or when it does not say.
  std::string DriverVersion() const;
  // The ODBC drivers registered with the driver manager, as the connect sees them.
  static std::vector<std::string> InstalledOdbcDrivers();

  void Loaded() override;

  std::function<void(TMSConnection&, TLoginValues&)> OnLogin;

  // The record locks (lock tables) that the current server session created, each with the
  // dataset holding it. The server drops a session's lock tables when the session ends, so a
  // lock noted before a reconnect is no longer held, and a DROP of its name on the new session
  // could remove another program's lock.
  void NoteLockTaken(const std::string& AName, const TCustomMSDataSet* AHolder);
  void NoteLockDropped(const std::string& AName);
  bool HoldsLock(const std::string& AName, const TCustomMSDataSet* AHolder) const noexcept;
  // The server's object id of a lock table this session created, as read right after its
  // creation: a table of the same name with another id is someone else's. nullopt when it was
  // not read or the lock is not noted.
  void NoteLockObjectId(const std::string& AName, std::int64_t AObjectId);
  std::optional<std::int64_t> LockObjectId(const std::string& AName) const noexcept;
  // Ends the server session and nothing else: datasets keep their rows and the next use
  // connects again. The server drops the ended session's lock tables, so this is how a lock
  // that cannot be dropped is let go; every lock noted for the session is forgotten with it.
  void EndServerSession() noexcept;

  // The open server connection for this connection's datasets, connecting first when implicit
  // connects are allowed; raises otherwise.
  odbc::TOdbcConnection& ServerConnection();

 protected:
  TMSConnection(TComponent* AOwner, std::unique_ptr<TMSConnectionOptions> AOptions);

  // The connect step: opens the server connection with the current settings. Every connect,
  // explicit or implicit, runs it.
  virtual void DoConnect();
  // The connection string handed to the driver (the driver manager's form).
  virtual std::string DriverConnectionString(const std::string& ADriver) const;

 private:
  friend class TCustomMSDataSet;
  friend class TMSConnectionOptions;
  void RegisterDataSet(TCustomMSDataSet* ADataSet);
  void UnregisterDataSet(TCustomMSDataSet* ADataSet);

  TConnectSettings FSettings;
  std::unique_ptr<TMSConnectionOptions> FOptions;
  std::unique_ptr<odbc::TOdbcConnection> FServer;
  std::vector<TCustomMSDataSet*> FDataSets;
  struct TSessionLock {
    std::string Name;
    const TCustomMSDataSet* Holder = nullptr;
    std::optional<std::int64_t> ObjectId;
  };
  std::vector<TSessionLock> FSessionLocks;
  bool FAutoCommit = true;
  int FQueryTimeout = 0;
  bool FStreamedConnected = false;
};

}  // namespace bunkmere
