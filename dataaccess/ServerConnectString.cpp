#include "dataaccess/ServerConnectString.h"

#include <array>
#include <string_view>

#include "core/Convert.h"
#include "core/Exceptions.h"
#include "core/StrUtils.h"

namespace bunkmere {
namespace {

#ifdef _WIN32
// Windows carries its own "SQL Server" driver: old, but always there when Microsoft's newer
// drivers are not.
constexpr std::array<std::string_view, 7> kSqlServerDrivers = {"ODBC Driver 18 for SQL Server",
                                                               "ODBC Driver 17 for SQL Server",
                                                               "ODBC Driver 13.1 for SQL Server",
                                                               "ODBC Driver 13 for SQL Server",
                                                               "ODBC Driver 11 for SQL Server",
                                                               "SQL Server",
                                                               "FreeTDS"};
#else
constexpr std::array<std::string_view, 6> kSqlServerDrivers = {
    "ODBC Driver 18 for SQL Server",   "ODBC Driver 17 for SQL Server",
    "ODBC Driver 13.1 for SQL Server", "ODBC Driver 13 for SQL Server",
    "ODBC Driver 11 for SQL Server",   "FreeTDS"};
#endif

bool IsFreeTds(std::string_view ADriver) {
  return FindText(ADriver, "FreeTDS") != std::string_view::npos;
}

// Braces around a value that would otherwise end the pair or lose its blanks; a "}" inside is
// doubled. Nothing a user types can add a keyword.
std::string OdbcValue(std::string_view v) {
  bool braces = !v.empty() && (v.front() == ' ' || v.back() == ' ' || v.front() == '{');
  for (char c : v)
    if (c == ';' || c == '}' || c == '=' || c == '{') braces = true;
  if (!braces) return std::string(v);
  std::string out = "{";
  for (char c : v) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// "(local)" and "." name this machine, alone or before "\\INSTANCE"; these drivers reach it over
// TCP, so it becomes "localhost" and the instance part stays for the driver to look up.
std::string LocalMachineAsHost(const std::string& AHost) {
  const std::size_t slash = AHost.find('\\');
  const std::string_view machine = std::string_view(AHost).substr(0, slash);
  if (!SameText(machine, "(local)") && machine != ".") return AHost;
  return "localhost" + (slash == std::string::npos ? std::string() : AHost.substr(slash));
}

void Put(std::string& out, std::string_view key, std::string_view value) {
  out += key;
  out += '=';
  out += OdbcValue(value);
  out += ';';
}

}  // namespace

std::string ChooseOdbcDriver(TOLEDBProvider AProvider, const std::vector<std::string>& AInstalled) {
  switch (AProvider) {
    case TOLEDBProvider::prAuto:
    case TOLEDBProvider::prSQL:
    case TOLEDBProvider::prNativeClient:
      for (std::string_view candidate : kSqlServerDrivers)
        for (const std::string& installed : AInstalled)
          if (SameText(installed, candidate)) return installed;
      // The site is told which driver to install, not merely that one is missing.
      throw EDatabaseError("Required provider is not installed: " +
                           std::string(kRecommendedOdbcDriver));
    case TOLEDBProvider::prCompact:
      // No ODBC driver carries the compact edition: there is nothing to name.
      throw EDatabaseError("Required provider is not installed");
    default:
      throw EDatabaseError("Wrong provider name");
  }
}

std::string DataSourceName(const TConnectSettings& s) {
  std::string ds = s.Server.empty() ? "(local)" : s.Server;
  if (s.Port != 1433 && ds.find(',') == std::string::npos) ds += "," + IntToStr(s.Port);
  return ds;
}

std::string BuildOdbcConnectionString(const TConnectSettings& s, const std::string& ADriver,
                                      const std::string& AApplicationName) {
  const bool freeTds = IsFreeTds(ADriver);
  std::string ds = DataSourceName(s);
  std::string host = ds, port;
  if (std::size_t comma = ds.find(','); comma != std::string::npos) {
    host = Trim(std::string_view(ds).substr(0, comma));
    port = Trim(std::string_view(ds).substr(comma + 1));
  }
  host = LocalMachineAsHost(host);

  std::string out;
  Put(out, "Driver", ADriver);
  if (freeTds) {
    Put(out, "Server", host);
    if (!port.empty()) Put(out, "Port", port);
  } else {
    Put(out, "Server", port.empty() ? host : host + "," + port);
  }
  if (!s.Database.empty()) Put(out, "Database", s.Database);
  if (s.Authentication == TMSAuthentication::auWindows) {
    Put(out, "Trusted_Connection", "Yes");
  } else if (!s.Username.empty() || !s.Password.empty()) {
    Put(out, "UID", s.Username);
    Put(out, "PWD", s.Password);
  } else {
    Put(out, "UID", "sa");
    Put(out, "PWD", "");
  }
  Put(out, "APP", s.ApplicationName.empty() ? AApplicationName : s.ApplicationName);
  if (!s.WorkstationID.empty()) Put(out, "WSID", s.WorkstationID);
  if (!s.Language.empty()) Put(out, "Language", s.Language);
  if (freeTds) {
    // The protocol version the servers of this family speak, and UTF-8 on the client side so
    // that every character of the server's text arrives intact.
    Put(out, "TDS_Version", "7.4");
    Put(out, "ClientCharset", "UTF-8");
    if (s.Encrypt) Put(out, "Encryption", "require");
  } else {
    Put(out, "Encrypt", s.Encrypt ? "yes" : "no");
    if (s.TrustServerCertificate) Put(out, "TrustServerCertificate", "yes");
    if (s.MultipleActiveResultSets) Put(out, "MARS_Connection", "yes");
    if (s.ApplicationIntent == TApplicationIntent::aiReadOnly)
      Put(out, "ApplicationIntent", "ReadOnly");
    if (!s.FailoverPartner.empty()) Put(out, "Failover_Partner", s.FailoverPartner);
    if (!s.InitialFileName.empty()) Put(out, "AttachDbFileName", s.InitialFileName);
    if (!s.AutoTranslate) Put(out, "AutoTranslate", "no");
  }
  return out;
}

}  // namespace bunkmere
