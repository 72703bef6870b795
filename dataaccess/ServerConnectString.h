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

// The driver connection string. AApplicationName is the name the server sees when the settings
// name none (the executable's file name).
std::string BuildOdbcConnectionString(const TConnectSettings& ASettings, const std::string& ADriver,
                                      const std::string& AApplicationName);

}  // namespace bunkmere
