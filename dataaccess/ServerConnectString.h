#pragma once
// How a connection's settings reach an ODBC driver: which installed driver carries each
// provider kind, and the driver connection string built from the settings.

#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/ConnectSettings.h"

namespace bunkmere {

// The driver a workstation without any SQL Server ODBC driver should install: Microsoft's current
// one on Windows, FreeTDS (Debian's tdsodbc) elsewhere.
#ifdef _WIN32
inline constexpr std::string_view kRecommendedOdbcDriver = "ODBC Driver 18 for SQL Server";
#else
inline constexpr std::string_view kRecommendedOdbcDriver = "FreeTDS";
#endif

// The driver for AProvider among AInstalled: Microsoft's SQL Server drivers newest first, then
// FreeTDS. Raises EDatabaseError "Required provider is not installed: " followed by
// kRecommendedOdbcDriver when no SQL Server driver is installed, the bare "Required provider is
// not installed" for the compact edition (which no ODBC driver carries), and "Wrong provider
// name" for a value outside the four provider kinds.
std::string ChooseOdbcDriver(TOLEDBProvider AProvider, const std::vector<std::string>& AInstalled);

// "(local)" for an empty server; a port other than 1433 appended after a comma unless the name
// already holds one.
std::string DataSourceName(const TConnectSettings& ASettings);

// What a driver receives for a connection, and what that means for its security.
struct TDriverConnection {
  std::string ConnectionString;
  // FreeTDS reads a certificate authority and its name check only from its configuration
  // file: when validation is asked of FreeTDS, the connection string names this section
  // (Servername=...) and FreeTdsConfig holds the section's text, to be made the driver's
  // configuration (FREETDSCONF) for the connect. Both empty otherwise.
  std::string FreeTdsSection, FreeTdsConfig;
  // For the site check, in plain words: what the site file asks, and how this driver meets it.
  std::string Asked, Encryption, Validation;
  // True when data may travel unencrypted or the certificate unvalidated: the site check warns.
  bool Weak = false;
};

// The driver connection string and what goes with it. AApplicationName is the name the server
// sees when the settings name none (the executable's file name). ADriverVersion is the
// driver's version as "1.3.17" when known (it decides how FreeTDS reads a password holding
// "}"), empty when not. Raises EDatabaseError naming the server and what to change in the
// site file when the driver cannot honour a setting; never with the password in it.
TDriverConnection BuildDriverConnection(const TConnectSettings& ASettings,
                                        const std::string& ADriver,
                                        const std::string& AApplicationName,
                                        const std::string& ADriverVersion = "");

// BuildDriverConnection's connection string alone.
std::string BuildOdbcConnectionString(const TConnectSettings& ASettings, const std::string& ADriver,
                                      const std::string& AApplicationName,
                                      const std::string& ADriverVersion = "");

// Makes AConnection's FreeTDS section the driver's configuration, when it has one. FreeTDS reads
// its configuration file at every connect; the file lives in a folder of this process's own.
void PrepareDriverConfiguration(const TDriverConnection& AConnection);

}  // namespace bunkmere
