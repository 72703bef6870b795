#pragma once
// The one checked path every ODBC call goes through. A failed call becomes EOdbcError whose
// message is the server's (or driver's) own text without the "[vendor][component]" prefixes
// drivers put in front; SQLSTATE and the native error number stay available to code that needs
// to tell failures apart.

#include "dataaccess/odbc/OdbcApi.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/Exceptions.h"

namespace bunkmere::odbc {

class EOdbcError : public EDatabaseError {
 public:
  EOdbcError(std::string AMessage, std::string ASqlState, long ANativeError)
      : EDatabaseError(std::move(AMessage)),
        FSqlState(std::move(ASqlState)),
        FNativeError(ANativeError) {}
  const char* ClassName() const noexcept override { return "EDatabaseError"; }
  const std::string& SqlState() const noexcept { return FSqlState; }
  long NativeError() const noexcept { return FNativeError; }
  // Every diagnostic record the driver gave with it, "SQLSTATE text", prefixes stripped: a
  // failed connect puts its cause (an unknown host, a time-out) in a record of its own.
  const std::vector<std::string>& Records() const noexcept { return FRecords; }
  void SetRecords(std::vector<std::string> ARecords) { FRecords = std::move(ARecords); }

 private:
  std::string FSqlState;
  long FNativeError;
  std::vector<std::string> FRecords;
};

// Cuts the leading "[FreeTDS][SQL Server]"-style tags of known drivers and driver managers.
std::string StripDriverPrefixes(std::string_view AMessage);

// Raises EOdbcError built from the handle's diagnostics. AWhat names the call, used only when
// the driver left no diagnostic record.
[[noreturn]] void RaiseOdbcError(SQLSMALLINT AHandleType, SQLHANDLE AHandle, const char* AWhat);

// Returns ARc unless it is SQL_ERROR or SQL_INVALID_HANDLE, which raise. SQL_NO_DATA and
// SQL_SUCCESS_WITH_INFO pass through for the caller to look at.
inline SQLRETURN Check(SQLRETURN ARc, SQLSMALLINT AHandleType, SQLHANDLE AHandle,
                       const char* AWhat) {
  if (ARc == SQL_ERROR || ARc == SQL_INVALID_HANDLE) RaiseOdbcError(AHandleType, AHandle, AWhat);
  return ARc;
}

}  // namespace bunkmere::odbc
