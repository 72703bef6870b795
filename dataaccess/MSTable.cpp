#include "dataaccess/MSTable.h"

#include "core/SqlText.h"
#include "core/StrUtils.h"
#include "dataaccess/GeneratedSql.h"

namespace bunkmere {

void TMSTable::SetTableName(const std::string& AValue) {
  if (Active()) Close();
  FTableName = NormalizeName(Trim(AValue), TNameQuoting::nqUnquote);
  SetSQLQuietly("");
  StatementChanged();
}

void TMSTable::SetOrderFields(const std::string& AValue) {
  if (AValue == FOrderFields) return;
  if (Active()) Close();
  FOrderFields = AValue;
  SetSQLQuietly("");
  StatementChanged();
}

std::string TMSTable::StatementText() {
  if (SQL().Empty()) {
    if (FTableName.empty()) throw EDatabaseError("TableName must be defined");
    SetSQLQuietly(TableStatement(FTableName, FOrderFields, Options().QuoteNames()));
  }
  return SQL().Text();
}

}  // namespace bunkmere
