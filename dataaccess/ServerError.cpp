#include "dataaccess/ServerError.h"

#include "dataaccess/odbc/OdbcError.h"

namespace bunkmere {

long ServerErrorNumber(const std::exception& AError) noexcept {
  const auto* error = dynamic_cast<const odbc::EOdbcError*>(&AError);
  return error != nullptr ? error->NativeError() : 0;
}

bool IsQueryTimeout(const std::exception& AError) noexcept {
  const auto* error = dynamic_cast<const odbc::EOdbcError*>(&AError);
  return error != nullptr && error->SqlState() == "HYT00";
}

}  // namespace bunkmere
