#include "dataaccess/odbc/OdbcConnection.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "dataaccess/odbc/OdbcError.h"
#include "dataaccess/odbc/OdbcStatement.h"
#include "dataaccess/odbc/OdbcText.h"

namespace bunkmere::odbc {

TOdbcEnvironment::TOdbcEnvironment() {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FHandle)))
    throw EOdbcError("Cannot allocate the ODBC environment", "HY001", 0);
  SQLRETURN rc =
      SQLSetEnvAttr(FHandle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(rc)) {
    // The constructor did not complete, so the destructor will not run: free here.
    SQLFreeHandle(SQL_HANDLE_ENV, FHandle);
    throw EOdbcError("Cannot select ODBC version 3", "HY000", 0);
  }
}

TOdbcEnvironment::~TOdbcEnvironment() {
  SQLFreeHandle(SQL_HANDLE_ENV, FHandle);
}

std::vector<std::string> TOdbcEnvironment::InstalledDrivers() const {
  std::vector<std::string> result;
  SQLCHAR desc[512];
  SQLCHAR attrs[2048];
  SQLSMALLINT descLen = 0, attrsLen = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(FHandle, direction, desc, sizeof desc, &descLen, attrs,
                                  sizeof attrs, &attrsLen))) {
    result.emplace_back(reinterpret_cast<char*>(desc));
    direction = SQL_FETCH_NEXT;
  }
  return result;
}

std::string TOdbcEnvironment::FreeTdsVersion(const std::string& ADriver) const {
#ifdef _WIN32
  (void)ADriver;
  return {};
#else
  // The driver manager lists each driver's attributes as "Key=Value" texts one after another,
  // NUL-separated; "Driver=" names the library.
  SQLCHAR desc[512];
  SQLCHAR attrs[4096];
  SQLSMALLINT descLen = 0, attrsLen = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  std::string library;
  while (library.empty() && SQL_SUCCEEDED(SQLDrivers(FHandle, direction, desc, sizeof desc,
                                                     &descLen, attrs, sizeof attrs, &attrsLen))) {
    direction = SQL_FETCH_NEXT;
    if (ADriver != reinterpret_cast<char*>(desc)) continue;
    const char* p = reinterpret_cast<const char*>(attrs);
    const char* end = p + std::min<std::size_t>(static_cast<std::size_t>(attrsLen), sizeof attrs);
    while (p < end && *p != '\0') {
      std::string pair(p);
      if (pair.size() > 7 &&
          (pair.compare(0, 7, "Driver=") == 0 || pair.compare(0, 7, "DRIVER=") == 0))
        library = pair.substr(7);
      p += pair.size() + 1;
    }
  }
  if (library.empty()) return {};
  // A bare file name is found where the driver manager finds drivers: the system's library
  // folders, under odbc/ on Debian.
  if (library.find('/') == std::string::npos) {
    static const char* const kFolders[] = {"/usr/lib/x86_64-linux-gnu/odbc/",
                                           "/usr/lib/aarch64-linux-gnu/odbc/",
                                           "/usr/lib/x86_64-linux-gnu/",
                                           "/usr/lib/aarch64-linux-gnu/",
                                           "/usr/lib64/odbc/",
                                           "/usr/lib64/",
                                           "/usr/lib/odbc/",
                                           "/usr/lib/",
                                           "/usr/local/lib/odbc/",
                                           "/usr/local/lib/"};
    for (const char* folder : kFolders)
      if (std::ifstream(folder + library).good()) {
        library = folder + library;
        break;
      }
  }
  // FreeTDS carries its version as "freetds v1.3.17" in the library itself.
  std::ifstream in(library, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string marker = "freetds v";
  for (std::size_t at = bytes.find(marker); at != std::string::npos;
       at = bytes.find(marker, at + 1)) {
    std::size_t k = at + marker.size();
    std::string version;
    while (k < bytes.size() &&
           (std::isdigit(static_cast<unsigned char>(bytes[k])) || bytes[k] == '.'))
      version += bytes[k++];
    if (!version.empty() && std::isdigit(static_cast<unsigned char>(version[0]))) return version;
  }
  return {};
#endif
}

TOdbcConnection::TOdbcConnection() {
  Check(SQLAllocHandle(SQL_HANDLE_DBC, FEnv.Handle(), &FHandle), SQL_HANDLE_ENV, FEnv.Handle(),
        "SQLAllocHandle");
}

TOdbcConnection::~TOdbcConnection() {
  Disconnect();
  SQLFreeHandle(SQL_HANDLE_DBC, FHandle);
}

void TOdbcConnection::SetLoginTimeout(int ASeconds) {
  Check(SQLSetConnectAttr(
            FHandle, SQL_ATTR_LOGIN_TIMEOUT,
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(ASeconds < 0 ? 0 : ASeconds)), 0),
        SQL_HANDLE_DBC, FHandle, "SQLSetConnectAttr");
}

void TOdbcConnection::SetPacketSize(int ABytes) {
  if (ABytes <= 0) return;
  // Drivers that fix their own packet size answer with a warning or an optional-feature error;
  // neither should stop the connect.
  SQLSetConnectAttr(FHandle, SQL_ATTR_PACKET_SIZE,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(ABytes)), 0);
}

void TOdbcConnection::SetAutoCommit(bool AValue) {
  Check(SQLSetConnectAttr(FHandle, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
                              AValue ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                          0),
        SQL_HANDLE_DBC, FHandle, "SQLSetConnectAttr");
}

void TOdbcConnection::Connect(const std::string& AConnectionString) {
  if (FConnected) return;
  SQLSMALLINT outLen = 0;
  if constexpr (kWideText) {
    SQLWCHAR out[1024];
    std::u16string in = ToDriverWide(AConnectionString);
    Check(SQLDriverConnectW(FHandle, nullptr, WidePointer(in), static_cast<SQLSMALLINT>(in.size()),
                            out, static_cast<SQLSMALLINT>(std::size(out)), &outLen,
                            SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, FHandle, "SQLDriverConnect");
  } else {
    SQLCHAR out[1024];
    std::string in = AConnectionString;
    Check(SQLDriverConnect(FHandle, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                           static_cast<SQLSMALLINT>(in.size()), out, sizeof out, &outLen,
                           SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, FHandle, "SQLDriverConnect");
  }
  FConnected = true;
}

void TOdbcConnection::Disconnect() noexcept {
  FStatement.reset();
  if (!FConnected) return;
  FConnected = false;
  if (SQLDisconnect(FHandle) == SQL_ERROR) {
    // An open transaction keeps the connection; roll it back and try once more.
    SQLEndTran(SQL_HANDLE_DBC, FHandle, SQL_ROLLBACK);
    SQLDisconnect(FHandle);
  }
}

bool TOdbcConnection::Lost() const noexcept {
  if (!FConnected) return false;
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (!SQL_SUCCEEDED(SQLGetConnectAttr(FHandle, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)))
    return false;
  return dead == SQL_CD_TRUE;
}

namespace {

std::string InfoText(SQLHDBC AHandle, SQLUSMALLINT AInfo) {
  SQLCHAR buf[256] = {};
  SQLSMALLINT len = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(AHandle, AInfo, buf, sizeof buf - 1, &len)) || len < 0) return {};
  return std::string(reinterpret_cast<char*>(buf),
                     std::min<std::size_t>(static_cast<std::size_t>(len), sizeof buf - 1));
}

}  // namespace

std::string TOdbcConnection::DriverVersion() const {
  return FConnected ? InfoText(FHandle, SQL_DRIVER_VER) : std::string();
}

std::string TOdbcConnection::CurrentCatalog() {
  SQLINTEGER len = 0;
  if constexpr (kWideText) {
    SQLWCHAR buf[512] = {};
    Check(SQLGetConnectAttrW(FHandle, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf - sizeof buf[0],
                             &len),
          SQL_HANDLE_DBC, FHandle, "SQLGetConnectAttr");
    if (len < 0) return {};
    return FromDriverWide(
        buf, std::min<std::size_t>(static_cast<std::size_t>(len) / 2, std::size(buf) - 1));
  } else {
    SQLCHAR buf[512] = {};
    Check(SQLGetConnectAttr(FHandle, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf - 1, &len),
          SQL_HANDLE_DBC, FHandle, "SQLGetConnectAttr");
    if (len < 0) return {};
    return std::string(reinterpret_cast<char*>(buf),
                       std::min<std::size_t>(static_cast<std::size_t>(len), sizeof buf - 1));
  }
}

TOdbcStatement& TOdbcConnection::Statement() {
  if (!FConnected) throw EOdbcError("Connection is not open", "08003", 0);
  if (!FStatement) {
    FStatement = std::make_unique<TOdbcStatement>(FHandle);
    FStatement->SetQueryTimeout(FQueryTimeout);
  }
  return *FStatement;
}

void TOdbcConnection::SetQueryTimeout(int ASeconds) {
  FQueryTimeout = ASeconds < 0 ? 0 : ASeconds;
  if (FStatement) FStatement->SetQueryTimeout(FQueryTimeout);
}

}  // namespace bunkmere::odbc
