#include "dataaccess/MSConnection.h"

#include <algorithm>
#include <exception>

#include "core/Convert.h"
#include "core/StrUtils.h"
#include "dataaccess/GeneratedSql.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/ServerConnectString.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/odbc/OdbcError.h"
#include "dataaccess/odbc/OdbcStatement.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

std::string ExecutableFileName() {
  std::string path = CurrentPlatform().ModuleFileName();
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---- options ----

void TMSConnectionOptions::Assign(const TMSConnectionOptions& s) {
  if (&s == this) return;
  TConnectSettings& mine = FConnection->FSettings;
  const TConnectSettings& theirs = s.FConnection->FSettings;
  SetProvider(theirs.Provider);
  SetNativeClientVersion(theirs.NativeClientVersion);
  SetCompactVersion(theirs.CompactVersion);
  SetDefaultLockTimeout(s.FDefaultLockTimeout);
  FQuotedIdentifier = s.FQuotedIdentifier;
  FKeepDesignConnected = s.FKeepDesignConnected;
  FDisconnectedMode = s.FDisconnectedMode;
  FAllowImplicitConnect = s.FAllowImplicitConnect;
  mine.PacketSize = theirs.PacketSize;
  mine.AutoTranslate = theirs.AutoTranslate;
  mine.ApplicationName = theirs.ApplicationName;
  mine.WorkstationID = theirs.WorkstationID;
  mine.Language = theirs.Language;
  mine.NetworkLibrary = theirs.NetworkLibrary;
  mine.FailoverPartner = theirs.FailoverPartner;
  mine.InitialFileName = theirs.InitialFileName;
  mine.Encrypt = theirs.Encrypt;
  mine.PersistSecurityInfo = theirs.PersistSecurityInfo;
  mine.MultipleActiveResultSets = theirs.MultipleActiveResultSets;
  mine.TrustServerCertificate = theirs.TrustServerCertificate;
  mine.ForceCreateDatabase = theirs.ForceCreateDatabase;
  mine.ApplicationIntent = theirs.ApplicationIntent;
}

void TMSConnectionOptions::CheckChangeAllowed() {
  if (!FConnection->Connected()) return;
  if (FConnection->IsDesigning()) {
    FConnection->Disconnect();
    return;
  }
  throw EDatabaseError("Cannot perform this operation on an open connection");
}

#define BUNKMERE_SETTING(Type, Name)                  \
  Type TMSConnectionOptions::Name() const {           \
    return FConnection->FSettings.Name;               \
  }                                                   \
  void TMSConnectionOptions::Set##Name(Type AValue) { \
    FConnection->FSettings.Name = AValue;             \
  }
#define BUNKMERE_TEXT_SETTING(Name)                                 \
  const std::string& TMSConnectionOptions::Name() const {           \
    return FConnection->FSettings.Name;                             \
  }                                                                 \
  void TMSConnectionOptions::Set##Name(const std::string& AValue) { \
    FConnection->FSettings.Name = AValue;                           \
  }

BUNKMERE_SETTING(int, PacketSize)
BUNKMERE_SETTING(bool, AutoTranslate)
BUNKMERE_SETTING(bool, Encrypt)
BUNKMERE_SETTING(bool, PersistSecurityInfo)
BUNKMERE_SETTING(bool, MultipleActiveResultSets)
BUNKMERE_SETTING(bool, TrustServerCertificate)
BUNKMERE_SETTING(bool, ForceCreateDatabase)
BUNKMERE_SETTING(TApplicationIntent, ApplicationIntent)
BUNKMERE_TEXT_SETTING(ApplicationName)
BUNKMERE_TEXT_SETTING(WorkstationID)
BUNKMERE_TEXT_SETTING(Language)
BUNKMERE_TEXT_SETTING(NetworkLibrary)
BUNKMERE_TEXT_SETTING(FailoverPartner)
BUNKMERE_TEXT_SETTING(InitialFileName)
#undef BUNKMERE_SETTING
#undef BUNKMERE_TEXT_SETTING

TOLEDBProvider TMSConnectionOptions::Provider() const {
  return FConnection->FSettings.Provider;
}
void TMSConnectionOptions::SetProvider(TOLEDBProvider AValue) {
  if (AValue == FConnection->FSettings.Provider) return;
  CheckChangeAllowed();
  FConnection->FSettings.Provider = AValue;
}
TNativeClientVersion TMSConnectionOptions::NativeClientVersion() const {
  return FConnection->FSettings.NativeClientVersion;
}
void TMSConnectionOptions::SetNativeClientVersion(TNativeClientVersion AValue) {
  if (AValue == FConnection->FSettings.NativeClientVersion) return;
  CheckChangeAllowed();
  FConnection->FSettings.NativeClientVersion = AValue;
}
TCompactVersion TMSConnectionOptions::CompactVersion() const {
  return FConnection->FSettings.CompactVersion;
}
void TMSConnectionOptions::SetCompactVersion(TCompactVersion AValue) {
  if (AValue == FConnection->FSettings.CompactVersion) return;
  CheckChangeAllowed();
  FConnection->FSettings.CompactVersion = AValue;
}
void TMSConnectionOptions::SetDefaultLockTimeout(int AValue) {
  if (AValue == FDefaultLockTimeout) return;
  CheckChangeAllowed();
  FDefaultLockTimeout = AValue;
}

// ---- connection ----

TMSConnection::TMSConnection(TComponent* AOwner) : TMSConnection(AOwner, nullptr) {}

TMSConnection::TMSConnection(TComponent* AOwner, std::unique_ptr<TMSConnectionOptions> AOptions)
    : TComponent(AOwner),
      FOptions(AOptions ? std::move(AOptions) : std::make_unique<TMSConnectionOptions>(this)) {}

TMSConnection::~TMSConnection() {
  Destroying();
  // Close the datasets while the server connection still carries their last statements
  // (a lockable dataset drops its lock table on close), then let go of them.
  try {
    Disconnect();
  } catch (const Exception&) {
    // A destructor must not throw; the server ends the session anyway.
  }
  for (TCustomMSDataSet* ds : FDataSets) ds->FConnection = nullptr;
  FDataSets.clear();
}

void TMSConnection::SetQueryTimeout(int ASeconds) {
  FQueryTimeout = ASeconds;
  if (FServer && FServer->Connected()) FServer->SetQueryTimeout(ASeconds);
}

void TMSConnection::SetAutoCommit(bool AValue) {
  FAutoCommit = AValue;
  if (FServer && FServer->Connected()) FServer->SetAutoCommit(AValue);
}

std::string TMSConnection::ConnectString() const {
  return GenerateConnectString(FSettings);
}

void TMSConnection::SetConnectString(const std::string& AValue) {
  if (AValue == GenerateConnectString(FSettings)) return;
  ApplyConnectString(FSettings, AValue);
}

namespace {

bool Mentions(const std::string& AText, std::string_view APart) {
  return LowerCase(AText).find(APart) != std::string::npos;
}

// The certificate checks' failures in words a site administrator can act on, with the line to
// change in the site file. Empty when the failure is not about the certificate.
std::string CertificateFailure(const TConnectSettings& ASettings,
                               const std::vector<std::string>& ARecords) {
  const bool validated =
      ASettings.Encrypt && (ASettings.EncryptStrict || !ASettings.TrustServerCertificate);
  const std::string trust = ASettings.CAFile.empty()
                                ? std::string("the system's trusted authorities")
                                : "the authorities in " + ASettings.CAFile;
  std::string host = DataSourceName(ASettings);
  host = host.substr(0, host.find_first_of(",\\"));
  const std::string expected =
      ASettings.HostNameInCertificate.empty() ? host : ASettings.HostNameInCertificate;
  const std::string withoutValidation =
      "; to connect without validating it, add TrustServerCertificate=True to the site file";
  for (const std::string& r : ARecords) {
    if (Mentions(r, "certificate chain") || Mentions(r, "not trusted") ||
        Mentions(r, "unknown ca") || Mentions(r, "self signed") || Mentions(r, "self-signed"))
      return "the server's certificate is not trusted: it was not issued by one of " + trust +
             " (install the authority that issued it" +
             (ASettings.CAFile.empty() ? ", or name it with CA File=" : "") + ")" +
             withoutValidation;
    if (Mentions(r, "principal name") || Mentions(r, "hostname does not match") ||
        Mentions(r, "name does not match"))
      return "the server's certificate is not issued for " + expected +
             " (name the server in the site file as its certificate does, or add Host Name In "
             "Certificate= with the name it carries)" +
             withoutValidation;
  }
  if (!validated) return {};
  // FreeTDS says only that the connection failed: the validation it was asked for is the cause
  // the administrator must rule out first.
  for (const std::string& r : ARecords)
    if (Mentions(r, "unable to connect") || Mentions(r, "connection failed"))
      return "the server's certificate could not be validated against " + trust + " for the name " +
             expected +
             " (not issued by one of those authorities, or for another name), or the server "
             "does not encrypt" +
             withoutValidation;
  return {};
}

}  // namespace

EDatabaseError ConnectFailure(const TConnectSettings& ASettings, const odbc::EOdbcError& AError) {
  // A login the server refused is the server's own answer, and its text says it all.
  if (AError.NativeError() == 18456 || AError.SqlState() == "28000") return AError;
  std::vector<std::string> records = AError.Records();
  if (records.empty()) records.push_back(AError.SqlState() + " " + AError.Message());
  // The drivers' words for the same few causes differ (one names another vendor's product);
  // the administrator needs the cause, so the known ones are said plainly.
  std::string reason;
  for (const std::string& r : records) {
    if (r.starts_with("HYT") || Mentions(r, "timeout expired") || Mentions(r, "timed out")) {
      reason = "the server did not answer within the login time-out";
      break;
    }
    if (Mentions(r, "unknown host") || Mentions(r, "no such host") ||
        Mentions(r, "host is known") || Mentions(r, "could not resolve")) {
      reason = "the server's name is not known (no such host)";
      break;
    }
    if (Mentions(r, "unavailable or does not exist") || Mentions(r, "actively refused") ||
        Mentions(r, "connection refused")) {
      reason = "the server did not answer (connection refused)";
      break;
    }
  }
  if (reason.empty()) reason = CertificateFailure(ASettings, records);
  if (reason.empty()) reason = AError.Message();
  const std::string server = DataSourceName(ASettings);
  const std::string database =
      ASettings.Database.empty() ? "its default database" : "database " + ASettings.Database;
  return EDatabaseError("Cannot connect to SQL Server " + server + " (" + database +
                        "): " + reason);
}

bool TMSConnection::Connected() const {
  // A server connection that was lost (the server ended the session, or went away) counts as
  // closed, so that the next use connects again as a closed connection does.
  return FServer && FServer->Connected() && !FServer->Lost();
}

void TMSConnection::SetConnected(bool AValue) {
  if (IsLoading()) {
    FStreamedConnected = AValue;
    return;
  }
  if (AValue)
    Connect();
  else
    Disconnect();
}

void TMSConnection::Connect() {
  if (Connected()) return;
  if (FSettings.LoginPrompt && OnLogin) {
    TLoginValues values{FSettings.Username, FSettings.Password};
    OnLogin(*this, values);
    FSettings.Username = values.Username;
    FSettings.Password = values.Password;
  }
  DoConnect();
}

void TMSConnection::DoConnect() {
  auto server = std::make_unique<odbc::TOdbcConnection>();
  std::string driver =
      ChooseOdbcDriver(FSettings.Provider, server->Environment().InstalledDrivers());
  server->SetLoginTimeout(FSettings.ConnectionTimeout);
  server->SetPacketSize(FSettings.PacketSize);
  server->SetAutoCommit(FAutoCommit);
  server->SetQueryTimeout(FQueryTimeout);
  const TDriverConnection target = BuildDriverConnection(
      FSettings, driver, ExecutableFileName(), server->Environment().FreeTdsVersion(driver));
  PrepareDriverConfiguration(target);
  try {
    server->Connect(target.ConnectionString);
  } catch (const odbc::EOdbcError& e) {
    throw ConnectFailure(FSettings, e);
  }
  // Session settings right after the login, before anyone else uses the connection.
  odbc::TOdbcStatement& stmt = server->Statement();
  if (!FOptions->QuotedIdentifier()) {
    stmt.Execute("SET QUOTED_IDENTIFIER OFF");
    stmt.Drain();
  }
  if (FOptions->DefaultLockTimeout() > 0 && FSettings.Provider != TOLEDBProvider::prCompact) {
    stmt.Execute("SET LOCK_TIMEOUT " + IntToStr(FOptions->DefaultLockTimeout()));
    stmt.Drain();
  }
  if (FSettings.Database.empty()) FSettings.Database = server->CurrentCatalog();
  FServer = std::move(server);
  FSessionLocks.clear();  // a new session holds none of the old one's lock tables
}

std::string TMSConnection::ChosenOdbcDriver() const {
  return ChooseOdbcDriver(FSettings.Provider, InstalledOdbcDrivers());
}

std::string TMSConnection::DriverVersion() const {
  return FServer && FServer->Connected() ? FServer->DriverVersion() : std::string();
}

std::vector<std::string> TMSConnection::InstalledOdbcDrivers() {
  return odbc::TOdbcEnvironment().InstalledDrivers();
}

std::string TMSConnection::DriverConnectionString(const std::string& ADriver) const {
  return BuildOdbcConnectionString(FSettings, ADriver, ExecutableFileName());
}

void TMSConnection::Disconnect() {
  if (!FServer) return;
  // Datasets close first: their close steps may still send statements. One that fails to
  // close must not keep the others, or the server connection, open: everything is closed,
  // then the first failure is reported.
  std::exception_ptr failure;
  std::vector<TCustomMSDataSet*> open = FDataSets;
  for (TCustomMSDataSet* ds : open) {
    // A close step may free another dataset of this connection.
    if (std::find(FDataSets.begin(), FDataSets.end(), ds) == FDataSets.end()) continue;
    try {
      if (ds->Active()) ds->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  FServer->Disconnect();
  FServer.reset();
  FSessionLocks.clear();
  if (failure) std::rethrow_exception(failure);
}

void TMSConnection::EndServerSession() noexcept {
  if (!FServer) return;
  try {
    FServer->Disconnect();
  } catch (const std::exception&) {
    // closing the handle is all that is left to do, and the reset below does it
  }
  FServer.reset();
  FSessionLocks.clear();
}

odbc::TOdbcConnection& TMSConnection::ServerConnection() {
  if (!Connected()) {
    if (!FOptions->AllowImplicitConnect() || IsDestroying())
      throw EDatabaseError("Connection is not opened");
    Connect();
  }
  return *FServer;
}

int TMSConnection::ExecSQL(const std::string& AText, const std::vector<TDbValue>& AParams) {
  odbc::TOdbcStatement& stmt = ServerConnection().Statement();
  if (AParams.empty()) {
    stmt.Execute(AText);
  } else {
    TWireStatement wire = ReplaceParamMarkers(AText);
    std::vector<std::string> unique;
    for (const std::string& n : wire.ParamNames)
      if (std::find(unique.begin(), unique.end(), n) == unique.end()) unique.push_back(n);
    if (unique.size() != AParams.size())
      throw EDatabaseError("Wrong number of parameters: the statement has " +
                           IntToStr(static_cast<std::int64_t>(unique.size())));
    std::vector<TDbValue> bound;
    bound.reserve(wire.ParamNames.size());
    for (const std::string& n : wire.ParamNames)
      bound.push_back(AParams[static_cast<std::size_t>(std::find(unique.begin(), unique.end(), n) -
                                                       unique.begin())]);
    stmt.Execute(wire.Text, bound);
  }
  return static_cast<int>(stmt.Drain());
}

std::optional<std::int64_t> TMSConnection::SelectInteger(const std::string& AText) {
  odbc::TOdbcStatement& stmt = ServerConnection().Statement();
  stmt.Execute(AText);
  return stmt.DrainFirstInteger();
}

TCustomMSDataSet* TMSConnection::CreateDataSet(TComponent* AOwner) {
  auto* ds = new TCustomMSDataSet(AOwner);  // owned by AOwner, or by the caller without one
  ds->SetConnection(this);
  return ds;
}

void TMSConnection::Loaded() {
  TComponent::Loaded();
  if (FStreamedConnected && (FOptions->KeepDesignConnected() || IsDesigning())) Connect();
}

void TMSConnection::RegisterDataSet(TCustomMSDataSet* ADataSet) {
  if (std::find(FDataSets.begin(), FDataSets.end(), ADataSet) == FDataSets.end())
    FDataSets.push_back(ADataSet);
}

void TMSConnection::UnregisterDataSet(TCustomMSDataSet* ADataSet) {
  FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), ADataSet), FDataSets.end());
  // A lock it still names stays on the server until the session ends, held by no dataset.
  std::erase_if(FSessionLocks, [ADataSet](const TSessionLock& l) { return l.Holder == ADataSet; });
}

void TMSConnection::NoteLockTaken(const std::string& AName, const TCustomMSDataSet* AHolder) {
  NoteLockDropped(AName);
  FSessionLocks.push_back(TSessionLock{AName, AHolder, std::nullopt});
}

void TMSConnection::NoteLockDropped(const std::string& AName) {
  std::erase_if(FSessionLocks, [&AName](const TSessionLock& l) { return l.Name == AName; });
}

bool TMSConnection::HoldsLock(const std::string& AName,
                              const TCustomMSDataSet* AHolder) const noexcept {
  return Connected() &&
         std::any_of(FSessionLocks.begin(), FSessionLocks.end(),
                     [&](const TSessionLock& l) { return l.Name == AName && l.Holder == AHolder; });
}

void TMSConnection::NoteLockObjectId(const std::string& AName, std::int64_t AObjectId) {
  for (TSessionLock& l : FSessionLocks)
    if (l.Name == AName) l.ObjectId = AObjectId;
}

std::optional<std::int64_t> TMSConnection::LockObjectId(const std::string& AName) const noexcept {
  for (const TSessionLock& l : FSessionLocks)
    if (l.Name == AName) return l.ObjectId;
  return std::nullopt;
}

}  // namespace bunkmere
