#include "dataaccess/ServerConnectString.h"

#include <stdlib.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
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

namespace {

[[noreturn]] void Refuse(const std::string& AServer, const std::string& AWhy) {
  throw EDatabaseError("Cannot connect to SQL Server " + AServer + ": " + AWhy);
}

// "ODBC Driver 18 for SQL Server" gives 18; Windows' own "SQL Server" driver gives 0.
int MicrosoftDriverMajor(std::string_view ADriver) {
  constexpr std::string_view kPrefix = "ODBC Driver ";
  if (!StartsText(kPrefix, ADriver)) return 0;
  int major = 0;
  for (std::size_t i = kPrefix.size();
       i < ADriver.size() && std::isdigit(static_cast<unsigned char>(ADriver[i])); ++i)
    major = major * 10 + (ADriver[i] - '0');
  return major;
}

// "1.3.17" as {1, 3, 17}; an unreadable part counts as 0.
std::array<int, 3> VersionParts(std::string_view AVersion) {
  std::array<int, 3> parts{};
  std::size_t k = 0;
  for (char c : AVersion) {
    if (c == '.') {
      if (++k == parts.size()) break;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      parts[k] = parts[k] * 10 + (c - '0');
    } else {
      break;
    }
  }
  return parts;
}

bool AtLeast(std::string_view AVersion, int AMajor, int AMinor) {
  auto v = VersionParts(AVersion);
  return v[0] > AMajor || (v[0] == AMajor && v[1] >= AMinor);
}

// How FreeTDS reads a braced value changed in 1.4: before it, the value runs to the first "};"
// and a "}" inside stands for itself; from 1.4, "}}" stands for one "}" as ODBC says.
std::string FreeTdsPassword(const std::string& AServer, std::string_view APassword,
                            const std::string& AVersion) {
  if (APassword.find('}') == std::string_view::npos) return OdbcValue(APassword);
  // Without braces both readings agree: the value runs to the next ";".
  if (APassword.find(';') == std::string_view::npos && APassword.front() != '{')
    return std::string(APassword);
  if (AVersion.empty())
    Refuse(AServer,
           "the password holds both \"}\" and \";\", and the version of the FreeTDS driver, which "
           "decides how such a password must be written, cannot be read here");
  if (AtLeast(AVersion, 1, 4)) return OdbcValue(APassword);
  if (APassword.find("};") != std::string_view::npos)
    Refuse(AServer, "FreeTDS " + AVersion +
                        " cannot carry a password holding \"};\" (FreeTDS 1.4 and later can); "
                        "change the password, or install a newer FreeTDS");
  return "{" + std::string(APassword) + "}";
}

// Values go into FreeTDS's configuration file one per line: a line break would add settings.
void CheckConfigValue(const std::string& AServer, const char* AName, std::string_view AValue) {
  for (char c : AValue)
    if (c == '\n' || c == '\r' || c == '\0')
      Refuse(AServer, std::string(AName) + " in the site file holds a line break");
}

std::uint32_t Fnv1a(std::string_view AText) {
  std::uint32_t h = 2166136261u;
  for (char c : AText) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

struct TServerAddress {
  std::string Host, Instance, Port;
  bool NamedPipes = false;
};

}  // namespace

TDriverConnection BuildDriverConnection(const TConnectSettings& s, const std::string& ADriver,
                                        const std::string& AApplicationName,
                                        const std::string& ADriverVersion) {
  const bool freeTds = IsFreeTds(ADriver);
  const int msMajor = freeTds ? 0 : MicrosoftDriverMajor(ADriver);
  const std::string shown = DataSourceName(s);
  std::string ds = shown;

  // Protocol prefixes as SQL Server's clients write them: "tcp:" is TCP (FreeTDS's only way),
  // "np:" named pipes, "lpc:" shared memory.
  TServerAddress a;
  std::string protocol;
  if (std::size_t colon = ds.find(':'); colon != std::string::npos && colon <= 5) {
    std::string prefix = ds.substr(0, colon);
    if (SameText(prefix, "tcp") || SameText(prefix, "np") || SameText(prefix, "lpc") ||
        SameText(prefix, "admin")) {
      protocol = LowerCase(prefix);
      ds = Trim(std::string_view(ds).substr(colon + 1));
    }
  }
  a.Host = ds;
  if (std::size_t comma = ds.find(','); comma != std::string::npos) {
    a.Host = Trim(std::string_view(ds).substr(0, comma));
    a.Port = Trim(std::string_view(ds).substr(comma + 1));
  }
  a.Host = LocalMachineAsHost(a.Host);
  if (std::size_t slash = a.Host.find('\\'); slash != std::string::npos) {
    a.Instance = a.Host.substr(slash + 1);
    a.Host.resize(slash);
  }
  const std::string& net = s.NetworkLibrary;
  a.NamedPipes = protocol == "np" || SameText(net, "DBNMPNTW");
  const bool otherNet = !net.empty() && !SameText(net, "DBMSSOCN") && !SameText(net, "DBNMPNTW");

  if (freeTds || msMajor > 0) {
#ifdef _WIN32
    const bool tcpOnly = freeTds;
#else
    const bool tcpOnly = true;  // Microsoft's driver for Linux speaks TCP only, as FreeTDS does
#endif
    if (tcpOnly && (a.NamedPipes || otherNet || protocol == "lpc"))
      Refuse(shown, ADriver + " reaches servers over TCP only, and the site file asks for " +
                        (a.NamedPipes ? std::string("named pipes")
                         : otherNet   ? "Network Library=" + net
                                      : std::string("shared memory (lpc:)")) +
                        "; remove Network Library (or the prefix) from the site file, or name "
                        "DBMSSOCN (TCP)");
  }

  TDriverConnection r;
  std::string& out = r.ConnectionString;
  Put(out, "Driver", ADriver);

  // Security, decided first: FreeTDS with validation names a configuration section instead of
  // the server.
  const bool asked = s.Encrypt;
  const bool validate = asked && (s.EncryptStrict || !s.TrustServerCertificate);
  if (s.EncryptStrict)
    r.Asked = "Encrypt=Strict: TDS 8.0, everything encrypted, certificate always validated";
  else if (asked)
    r.Asked = std::string("Encrypt=True: everything encrypted") +
              (s.TrustServerCertificate ? ", certificate trusted without validation "
                                          "(TrustServerCertificate=True)"
                                        : ", certificate validated");
  else
    r.Asked = "encryption not asked (Encrypt not set, or False)";
  const std::string expectedName =
      s.HostNameInCertificate.empty() ? a.Host : s.HostNameInCertificate;
  const std::string trustStore = s.CAFile.empty() ? std::string("the system's trusted authorities")
                                                  : "the authorities in " + s.CAFile;

  if (freeTds) {
    if (!s.FailoverPartner.empty())
      Refuse(shown,
             "FreeTDS has no failover partner, and the site file names one (Failover "
             "Partner=" +
                 s.FailoverPartner +
                 "); remove it, or use Microsoft's ODBC driver, which honours it");
    if (s.EncryptStrict && (ADriverVersion.empty() || !AtLeast(ADriverVersion, 1, 5)))
      Refuse(shown, "Encrypt=Strict (TDS 8.0) cannot be spoken by FreeTDS" +
                        (ADriverVersion.empty() ? std::string() : " " + ADriverVersion) +
                        "; FreeTDS 1.5 or later, or Microsoft's ODBC Driver 18 for SQL Server, "
                        "can. Install one, or write Encrypt=True in the site file");
    // An explicit port is where the server listens: the instance's name is not looked up then,
    // as Microsoft's drivers do, and FreeTDS is not handed both.
    if (!a.Port.empty()) a.Instance.clear();
    const std::string host = a.Instance.empty() ? a.Host : a.Host + "\\" + a.Instance;
    if (validate) {
#ifdef _WIN32
      Refuse(shown,
             "FreeTDS on Windows cannot be told which authorities to trust, so it cannot "
             "validate the server's certificate as Encrypt=True asks; use Microsoft's ODBC "
             "Driver 18 for SQL Server, or add TrustServerCertificate=True to the site "
             "file");
#endif
      if (!s.HostNameInCertificate.empty() && !SameText(s.HostNameInCertificate, a.Host))
        Refuse(shown,
               "FreeTDS checks the certificate against the server's name as the site file "
               "gives it (" +
                   a.Host +
                   ") and cannot check it against Host Name In "
                   "Certificate=" +
                   s.HostNameInCertificate + "; name the server " + s.HostNameInCertificate +
                   " in the site file (Data Source), or use Microsoft's ODBC Driver 18");
      CheckConfigValue(shown, "Data Source", host);
      CheckConfigValue(shown, "CA File", s.CAFile);
      std::string body = "\thost = " + a.Host + "\n";
      if (!a.Instance.empty()) body += "\tinstance = " + a.Instance + "\n";
      body += "\tport = " + (a.Port.empty() ? std::string("1433") : a.Port) + "\n";
      if (!a.Instance.empty() && a.Port.empty()) body.erase(body.rfind("\tport"));
      body += "\ttds version = 7.4\n";
      body += std::string("\tencryption = ") + (s.EncryptStrict ? "strict" : "require") + "\n";
      body += "\tca file = " + (s.CAFile.empty() ? std::string("system") : s.CAFile) + "\n";
      body += "\tcheck certificate hostname = yes\n";
      char name[32];
      std::snprintf(name, sizeof name, "bunkmere-%08x", Fnv1a(body));
      r.FreeTdsSection = name;
      r.FreeTdsConfig = "[" + r.FreeTdsSection + "]\n" + body;
      Put(out, "Servername", r.FreeTdsSection);
    } else {
      Put(out, "Server", host);
      if (!a.Port.empty()) Put(out, "Port", a.Port);
    }
  } else {
    std::string server = protocol.empty() || protocol == "tcp" ? std::string() : protocol + ":";
    if (protocol == "tcp") server = "tcp:";
    server += a.Instance.empty() ? a.Host : a.Host + "\\" + a.Instance;
    if (!a.Port.empty()) server += "," + a.Port;
    Put(out, "Server", server);
  }
  if (!s.Database.empty()) Put(out, "Database", s.Database);
  if (s.Authentication == TMSAuthentication::auWindows) {
    Put(out, "Trusted_Connection", "Yes");
  } else if (!s.Username.empty() || !s.Password.empty()) {
    Put(out, "UID", s.Username);
    if (freeTds) {
      out += "PWD=" + FreeTdsPassword(shown, s.Password, ADriverVersion) + ";";
    } else {
      Put(out, "PWD", s.Password);
    }
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
    if (!validate) {
      // FreeTDS's "request" is what the OLE DB providers did: the login encrypted whenever the
      // server can, data encrypted when the server forces it, and then no validation. ("off"
      // would tell the server it cannot encrypt at all: the login in the clear.)
      Put(out, "Encryption", asked ? "require" : "request");
    }
    if (s.MultipleActiveResultSets) Put(out, "MARS_Connection", "Yes");
    if (s.ApplicationIntent == TApplicationIntent::aiReadOnly)
      Put(out, "ApplicationIntent", "ReadOnly");
    if (!s.InitialFileName.empty()) Put(out, "AttachDbFilename", s.InitialFileName);
  } else {
    if (s.EncryptStrict && msMajor < 18)
      Refuse(shown,
             "Encrypt=Strict (TDS 8.0) needs Microsoft's ODBC Driver 18 for SQL Server or "
             "later, and the driver in use is " +
                 ADriver + "; install Driver 18, or write Encrypt=True in the site file");
    if (asked && !s.HostNameInCertificate.empty() && msMajor < 18)
      Refuse(shown,
             "Host Name In Certificate needs Microsoft's ODBC Driver 18 for SQL Server or "
             "later, and the driver in use is " +
                 ADriver + "; install Driver 18, or remove the setting from the site file");
    if (asked && !s.CAFile.empty())
      Refuse(shown, ADriver +
                        " trusts only the authorities of the system's certificate store, "
                        "and cannot be handed CA File=" +
                        s.CAFile +
                        "; add that authority to the store, and remove CA File from the site file");
    if (s.EncryptStrict) {
      Put(out, "Encrypt", "strict");
    } else if (asked) {
      Put(out, "Encrypt", "yes");
      if (s.TrustServerCertificate) Put(out, "TrustServerCertificate", "yes");
    } else {
      // Driver 18 validates the certificate of a server that forces encryption even with
      // Encrypt=no; the OLE DB providers did not, and sites rely on that.
      Put(out, "Encrypt", "no");
      Put(out, "TrustServerCertificate", "yes");
    }
    if (asked && !s.HostNameInCertificate.empty())
      Put(out, "HostNameInCertificate", s.HostNameInCertificate);
#ifdef _WIN32
    if (a.NamedPipes || otherNet) Put(out, "Network", net.empty() ? "DBNMPNTW" : net);
#endif
    if (s.MultipleActiveResultSets) Put(out, "MARS_Connection", "yes");
    if (s.ApplicationIntent == TApplicationIntent::aiReadOnly)
      Put(out, "ApplicationIntent", "ReadOnly");
    if (!s.FailoverPartner.empty()) Put(out, "Failover_Partner", s.FailoverPartner);
    if (!s.InitialFileName.empty()) Put(out, "AttachDbFileName", s.InitialFileName);
    if (!s.AutoTranslate) Put(out, "AutoTranslate", "no");
  }

  if (asked) {
    r.Encryption = "everything encrypted (the login and all data)";
    r.Validation = validate ? "validated against " + trustStore + ", for the name " + expectedName
                            : "not validated (TrustServerCertificate=True)";
    r.Weak = !validate;
  } else {
    r.Encryption =
        "the login encrypted whenever the server can; data encrypted only when the server forces "
        "encryption";
    r.Validation = "not validated";
    r.Weak = true;
  }
  return r;
}

std::string BuildOdbcConnectionString(const TConnectSettings& s, const std::string& ADriver,
                                      const std::string& AApplicationName,
                                      const std::string& ADriverVersion) {
  return BuildDriverConnection(s, ADriver, AApplicationName, ADriverVersion).ConnectionString;
}

void PrepareDriverConfiguration(const TDriverConnection& AConnection) {
#ifndef _WIN32
  if (AConnection.FreeTdsSection.empty()) return;
  static std::mutex mutex;
  static std::string folder;
  static std::set<std::string> sections;
  std::lock_guard lock(mutex);
  if (!sections.insert(AConnection.FreeTdsConfig).second && !folder.empty()) return;
  if (folder.empty()) {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "bunkmere-freetds-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
      throw EDatabaseError("Cannot create a folder for the FreeTDS driver's configuration");
    folder = tmpl;
  }
  std::string text;
  for (const std::string& section : sections) text += section;
  const std::string path = folder + "/freetds.conf";
  const std::string temp = path + ".new";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f) throw EDatabaseError("Cannot write the FreeTDS driver's configuration in " + folder);
  }
  std::filesystem::rename(temp, path);
  ::setenv("FREETDSCONF", path.c_str(), 1);
#else
  (void)AConnection;
#endif
}

}  // namespace bunkmere
