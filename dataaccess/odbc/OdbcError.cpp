#include "dataaccess/odbc/OdbcError.h"

#include "dataaccess/odbc/OdbcText.h"

#include <array>
#include <vector>

namespace bunkmere::odbc {
namespace {

// Tags that drivers and driver managers put in front of messages. A server message itself
// could begin with a bracket (an object name), so only these known tags are cut.
bool IsVendorTag(std::string_view ATag) {
  static constexpr std::array<std::string_view, 8> kTags = {
      "FreeTDS",   "SQL Server", "unixODBC", "Driver Manager",
      "Microsoft", "iODBC",      "ODBC",     "Easysoft"};
  for (std::string_view t : kTags)
    if (ATag.find(t) != std::string_view::npos) return true;
  return false;
}

struct TDiagRecord {
  std::string State;
  long Native = 0;
  std::string Text;
};

}  // namespace

std::string StripDriverPrefixes(std::string_view AMessage) {
  std::string_view rest = AMessage;
  while (!rest.empty() && rest.front() == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string_view::npos || !IsVendorTag(rest.substr(1, close - 1))) break;
    rest.remove_prefix(close + 1);
  }
  return std::string(rest);
}

void RaiseOdbcError(SQLSMALLINT AHandleType, SQLHANDLE AHandle, const char* AWhat) {
  std::vector<TDiagRecord> records;
  for (SQLSMALLINT n = 1; n <= 16; ++n) {
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if constexpr (kWideText) {
      SQLWCHAR state[6] = {};
      std::vector<SQLWCHAR> text(1024);
      SQLRETURN rc = SQLGetDiagRecW(AHandleType, AHandle, n, state, &native, text.data(),
                                    static_cast<SQLSMALLINT>(text.size()), &len);
      if (rc == SQL_SUCCESS_WITH_INFO && len >= static_cast<SQLSMALLINT>(text.size())) {
        text.resize(static_cast<std::size_t>(len) + 1);
        rc = SQLGetDiagRecW(AHandleType, AHandle, n, state, &native, text.data(),
                            static_cast<SQLSMALLINT>(text.size()), &len);
      }
      if (!SQL_SUCCEEDED(rc)) break;
      const std::size_t used = std::min<std::size_t>(
          static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)), text.size() - 1);
      records.push_back(
          {FromDriverWide(state, 5), static_cast<long>(native), FromDriverWide(text.data(), used)});
    } else {
      SQLCHAR state[6] = {};
      std::vector<SQLCHAR> text(1024);
      SQLRETURN rc = SQLGetDiagRec(AHandleType, AHandle, n, state, &native, text.data(),
                                   static_cast<SQLSMALLINT>(text.size()), &len);
      if (rc == SQL_SUCCESS_WITH_INFO && len >= static_cast<SQLSMALLINT>(text.size())) {
        text.resize(static_cast<std::size_t>(len) + 1);
        rc = SQLGetDiagRec(AHandleType, AHandle, n, state, &native, text.data(),
                           static_cast<SQLSMALLINT>(text.size()), &len);
      }
      if (!SQL_SUCCEEDED(rc)) break;
      const std::size_t used = std::min<std::size_t>(
          static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)), text.size() - 1);
      records.push_back({reinterpret_cast<char*>(state), static_cast<long>(native),
                         std::string(reinterpret_cast<char*>(text.data()), used)});
    }
  }
  // Informational records ("01xxx", such as a changed database context) may come before the
  // error itself; the error is what the user must read.
  const TDiagRecord* pick = nullptr;
  for (const TDiagRecord& r : records)
    if (r.State.rfind("01", 0) != 0) {
      pick = &r;
      break;
    }
  if (pick == nullptr && !records.empty()) pick = &records.front();
  if (pick == nullptr) throw EOdbcError(std::string(AWhat) + " failed", "HY000", 0);
  EOdbcError error(StripDriverPrefixes(pick->Text), pick->State, pick->Native);
  std::vector<std::string> all;
  for (const TDiagRecord& r : records) all.push_back(r.State + " " + StripDriverPrefixes(r.Text));
  error.SetRecords(std::move(all));
  throw error;
}

}  // namespace bunkmere::odbc
