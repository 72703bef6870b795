#include "sitecheck/SiteCheck.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "config/SitePaths.h"
#include "config/VtConfigInfo.h"
#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "dataaccess/Fields.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/ServerConnectString.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "db/VtSQLDatabase.h"
#include "platform/Platform.h"
#include "sitecheck/SecretMask.h"
#include "sitecheck/WritableFolders.h"

namespace bunkmere {
namespace {

constexpr const char* kProgramID = "JAIL";

// The configuration-info component of Bunkmere's window, with its one-column lookup open to
// the check, which needs to tell a missing row from an empty one.
class TCheckedConfigInfo : public TVtConfigInfo {
 public:
  using TVtConfigInfo::LookupProgramValue;
  using TVtConfigInfo::TVtConfigInfo;
};

std::string Shown(const std::string& AValue) {
  return AValue.empty() ? std::string("(empty)") : AValue;
}

std::string Listed(const std::vector<std::string>& AItems) {
  return AItems.empty() ? std::string("(none)") : Join(AItems, ", ");
}

// Where a connection with these settings goes, in the words of the connection string.
std::string Describe(const TConnectSettings& ASettings) {
  std::string text = "server " + DataSourceName(ASettings) + ", database " +
                     (ASettings.Database.empty() ? "(the login's default)" : ASettings.Database);
  if (ASettings.Authentication == TMSAuthentication::auWindows)
    return text + ", Windows authentication";
  if (ASettings.Username.empty() && ASettings.Password.empty())
    return text + ", SQL Server login sa with no password";
  return text + ", SQL Server login " + ASettings.Username;
}

class TSiteCheck {
 public:
  explicit TSiteCheck(std::ostream& AOut) : FOut(AOut) {}

  int Run() {
    const TPlatform& platform = CurrentPlatform();
    FOut << "Bunkmere site check: what Bunkmere in " << ModuleFolder(platform)
         << " meets when started from " << platform.CurrentDirectory() << "\n";
    struct TStep {
      TSiteCheckStep Step;
      const char* Title;
      void (TSiteCheck::*Run)();
    };
    const TStep steps[] = {
        {TSiteCheckStep::SiteFile, "site file", &TSiteCheck::FindSiteFile},
        {TSiteCheckStep::SiteSettings, "site settings", &TSiteCheck::ReadSiteSettings},
        {TSiteCheckStep::ProgramLibrary, "program library row for JAIL",
         &TSiteCheck::ReadProgramLibrary},
        {TSiteCheckStep::OdbcDriver, "ODBC driver", &TSiteCheck::ChooseDriver},
        {TSiteCheckStep::Connect, "connection", &TSiteCheck::Connect},
    };
    for (const TStep& step : steps) {
      FOut << '\n' << static_cast<int>(step.Step) << ". " << step.Title << '\n';
      std::optional<std::string> failure;
      try {
        (this->*step.Run)();
      } catch (const std::exception& e) {
        failure = e.what();
      }
      if (!failure) {
        Line("OK");
        continue;
      }
      Line("FAILED: " + *failure);
      for (const TStep& rest : steps)
        if (rest.Step > step.Step)
          FOut << '\n' << static_cast<int>(rest.Step) << ". " << rest.Title << ": not checked\n";
      FOut << "\nResult: FAILED at step " << static_cast<int>(step.Step) << ", " << step.Title
           << ": " << *failure << '\n';
      return ExitCodeOf(step.Step);
    }
    FOut << "\nResult: OK, Bunkmere would start and connect.\n";
    return 0;
  }

 private:
  void Line(std::string_view AText) { FOut << "   " << AText << '\n'; }

  void FindSiteFile() {
    const TPlatform& platform = CurrentPlatform();
    std::optional<std::string> used;
    std::exception_ptr failure;
    try {
      used = LocateSiteFile(platform);
    } catch (const Exception&) {
      failure = std::current_exception();
    }
    Line("looked for, in this order:");
    bool reached = false;
    std::vector<std::string> listed;
    for (const std::string& candidate : SiteFileCandidates(platform)) {
      // The module's own drive is among the searched ones too: one place, listed once.
      if (std::find(listed.begin(), listed.end(), candidate) != listed.end()) continue;
      listed.push_back(candidate);
      std::string status = "missing";
      if (reached) {
        status = "not looked at";
      } else if (used && candidate == *used) {
        status = "found, used";
        reached = true;
      } else if (platform.FileExists(candidate)) {
        if (std::string why = platform.UntrustedFolderReason(candidate); !why.empty())
          status = "found, skipped: " + why;
      }
      std::string place = candidate;
      // The relative candidate depends on where the program is started from.
      if (const std::string full = platform.FullPathName(candidate); full != candidate)
        place += " (here " + full + ")";
      Line("  " + place + ": " + status);
    }
    for (const std::string& warning : WritableFolderWarnings(platform, used)) Line(warning);
    if (failure) std::rethrow_exception(failure);
  }

  void ReadSiteSettings() {
    // Located and read as the window's own component does it, in its constructor.
    FInfo = std::make_unique<TCheckedConfigInfo>(nullptr);
    Line("file: " + FInfo->VeltraneIni() + (FInfo->IsMobile() ? " (mobile installation)" : ""));
    Line("[DataProvider] ConnStr: " + ShownConnectString(FInfo->ConnectionString()));
    Line("[Paths] HelpPath: " + Shown(FInfo->HelpFilePath()));
    Line("[Paths] LogPath: " + Shown(FInfo->LogFilePath()));
    Line("[Paths] LibPath: " + Shown(FInfo->LibPathUnexpanded()) + " (" + FInfo->LibPath() + ")");
    Line(std::string("[Paging] Enabled: ") + (FInfo->PagingEnabled() ? "on" : "off"));
    // A server key is no business of this program's; shown only as present or not.
    Line(std::string("[Server] ServerKey: ") +
         (FInfo->ServerKey().empty() ? "(empty)" : "(set, not shown)"));
    Line("reaches: " + Reaches(FInfo->ConnectionString(), "ConnStr"));
  }

  void ReadProgramLibrary() {
    Line("table ConnectLib in the database the site's connection string reaches");
    // The first lookup is the first contact with the server: an unreachable server, a refused
    // login or a missing table fails here with the server's own message.
    if (FInfo->LookupProgramValue(kProgramID, "ProgramID", kProgramID).empty()) {
      std::vector<std::string> programs;
      FInfo->GetProgramList(programs);
      Line("programs listed: " + Listed(programs));
      throw Exception(
          "ConnectLib has no row for program JAIL; Bunkmere would get an empty connection "
          "string and its first pass could not connect");
    }
    // The lookup answers its default only when the row's UseInitial is set, and the column's
    // own text ("False", "0", empty) otherwise, so a default no column holds tells the two.
    constexpr const char* kUseInitialMark = "\x01use initial";
    const bool use_initial =
        FInfo->LookupProgramValue(kProgramID, "UseInitial", kUseInitialMark) == kUseInitialMark;
    Line(use_initial ? "UseInitial set: the site file's connection string, help and log paths"
                     : "UseInitial not set: the row's own ConnString, HelpFile and LogFile");
    const std::string connect_string = FInfo->GetConnectString(kProgramID);
    Line("connection string: " + Shown(ShownConnectString(connect_string)));
    Line("help file: " + Shown(FInfo->GetHelpPath(kProgramID)));
    Line("log file: " + Shown(FInfo->GetLogPath(kProgramID)));
    if (connect_string.empty())
      throw Exception(
          "the JAIL row gives an empty connection string (ConnString empty, UseInitial not set)");
    Line("reaches: " + Reaches(connect_string, "ConnString"));
    // The site connection has just carried the lookups: how it travelled.
    Security("site connection ([DataProvider] ConnStr)", SettingsOf(FInfo->ConnectionString()),
             std::nullopt, "", "[DataProvider] ConnStr in " + FInfo->VeltraneIni());

    // dbJail as the window stores it; the program's connection string replaces these.
    FDatabase = std::make_unique<TVtSQLDatabase>(nullptr);
    FDatabase->SetDatabase("JAIL");
    FDatabase->SetAuthentication(TMSAuthentication::auWindows);
    FDatabase->Options().SetProvider(TOLEDBProvider::prSQL);
    FDatabase->SetProgramName(kProgramID);
    FDatabase->SetVtConfigInfo(FInfo.get());
  }

  void ChooseDriver() {
    Line("installed: " + Listed(TMSConnection::InstalledOdbcDrivers()));
    try {
      Line("chosen: " + FDatabase->ChosenOdbcDriver());
    } catch (const Exception&) {
      if (FDatabase->Settings().Provider == TOLEDBProvider::prCompact) {
        Line("the JAIL connection string names the Compact edition, which no ODBC driver");
        Line("reaches: give the row a connection string to SQL Server");
      } else {
        Line("install the FreeTDS ODBC driver (Debian package tdsodbc) or Microsoft's ODBC");
        Line("Driver for SQL Server, registered with odbcinst");
      }
      throw;
    }
  }

  void Connect() {
    // As Bunkmere's first pass does: the connect takes the program's string anew.
    FDatabase->SetConnected(true);
    Line("connected, database " + FDatabase->Database());
    try {
      const std::unique_ptr<TCustomMSDataSet> query(FDatabase->CreateDataSet(nullptr));
      query->SetReadOnly(true);
      query->SQL().Add("SELECT @@SERVERNAME AS ServerName, @@VERSION AS Version");
      query->Open();
      const std::string version = query->FieldByName("Version").AsString();
      Line("server: " + Shown(query->FieldByName("ServerName").AsString()));
      Line("version: " + Trim(version.substr(0, version.find('\n'))));
    } catch (const Exception& e) {
      // Connected is what counts; a server that will not tell is still one Bunkmere can use.
      Line("server name and version not read: " + e.Message());
    }
    Security("program connection (JAIL)", FDatabase->Settings(), Negotiated(),
             FDatabase->DriverVersion(),
             "ConnString of ConnectLib's JAIL row (or [DataProvider] ConnStr when UseInitial is "
             "set)");
  }

  // What the server says of this session's encryption; it may not let every login read it.
  std::string Negotiated() {
    try {
      const std::unique_ptr<TCustomMSDataSet> query(FDatabase->CreateDataSet(nullptr));
      query->SetReadOnly(true);
      query->SQL().Add(
          "SELECT encrypt_option, auth_scheme FROM sys.dm_exec_connections WHERE session_id = "
          "@@SPID");
      query->Open();
      if (query->Eof()) return "not read from the server (no row for this session)";
      return "from the server: encrypt_option " +
             Shown(query->FieldByName("encrypt_option").AsString()) + ", auth_scheme " +
             Shown(query->FieldByName("auth_scheme").AsString());
    } catch (const Exception& e) {
      return "not read from the server (" + e.Message() + ")";
    }
  }

  static TConnectSettings SettingsOf(const std::string& AConnectString) {
    TMSConnection probe(nullptr);
    probe.SetConnectString(AConnectString);
    return probe.Settings();
  }

  // The connection's security in the site's words: driver, what was asked, what was
  // negotiated, the certificate; a warning, with the setting to add, when data may travel
  // unencrypted or unvalidated.
  void Security(const std::string& AWhich, const TConnectSettings& ASettings,
                const std::optional<std::string>& ANegotiated, const std::string& AReported,
                const std::string& AWhere) {
    Line("security of the " + AWhich + ":");
    std::string driver;
    try {
      driver = ChooseOdbcDriver(ASettings.Provider, TMSConnection::InstalledOdbcDrivers());
    } catch (const Exception& e) {
      Line("  driver: none (" + e.Message() + ")");
      return;
    }
    const std::string version = odbc::TOdbcEnvironment().FreeTdsVersion(driver);
    std::string shown = driver + (version.empty() ? std::string() : " " + version);
    // What the connected driver reports of itself, where it says.
    if (!AReported.empty()) shown += " (reports version " + AReported + ")";
    Line("  driver: " + shown);
    TDriverConnection target;
    try {
      target = BuildDriverConnection(ASettings, driver, "bunkmere-sitecheck", version);
    } catch (const Exception& e) {
      Line("  refused: " + e.Message());
      return;
    }
    Line("  asked: " + target.Asked);
    Line("  negotiated: " + (ANegotiated ? *ANegotiated + "; " : std::string()) +
         "by the settings, " + target.Encryption);
    Line("  certificate: " + target.Validation);
    if (!target.Weak) return;
    if (!ASettings.Encrypt)
      Line(
          "  WARNING: booking data may cross the network unencrypted, and the server's "
          "certificate is not validated. To encrypt everything and validate the certificate, "
          "add Encrypt=True to " +
          AWhere);
    else
      Line(
          "  WARNING: the server's certificate is not validated (TrustServerCertificate=True): "
          "a man in the middle would go unnoticed. Remove TrustServerCertificate=True from " +
          AWhere + ", and trust the authority that issued the server's certificate");
  }

  // Where AConnectString goes, read as every connection reads it; fails when it cannot be.
  std::string Reaches(const std::string& AConnectString, const char* AKey) {
    TMSConnection probe(nullptr);
    try {
      probe.SetConnectString(AConnectString);
    } catch (const Exception& e) {
      throw Exception(std::string(AKey) + " cannot be read: " + e.Message());
    }
    return Describe(probe.Settings());
  }

  std::ostream& FOut;
  // The connection refers to the configuration info, so it goes first.
  std::unique_ptr<TCheckedConfigInfo> FInfo;
  std::unique_ptr<TVtSQLDatabase> FDatabase;
};

}  // namespace

int RunSiteCheck(std::ostream& AOut) {
  return TSiteCheck(AOut).Run();
}

}  // namespace bunkmere
