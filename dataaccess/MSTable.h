#pragma once
// TMSTable: a dataset over one table. Its statement is generated on the first open
// ("SELECT * FROM <table>" and an optional ORDER BY), kept in SQL and reused until TableName or
// OrderFields changes.

#include <memory>
#include <string>

#include "dataaccess/MSDataSet.h"

namespace bunkmere {

class TMSTable : public TCustomMSDataSet {
 public:
  explicit TMSTable(TComponent* AOwner) : TCustomMSDataSet(AOwner) {}
  const char* ClassName() const noexcept override { return "TMSTable"; }

  const std::string& TableName() const noexcept { return FTableName; }
  // Closes the dataset; stores the name trimmed and unquoted, part by part.
  void SetTableName(const std::string& AValue);
  const std::string& OrderFields() const noexcept { return FOrderFields; }
  void SetOrderFields(const std::string& AValue);

  std::string ReportedTableName() const override { return FTableName; }

 protected:
  TMSTable(TComponent* AOwner, std::unique_ptr<TMSDataSetOptions> AOptions)
      : TCustomMSDataSet(AOwner, std::move(AOptions)) {}
  std::string StatementText() override;

 private:
  std::string FTableName;
  std::string FOrderFields;
};

// TMSQuery: a dataset over the statement in its SQL lines.
class TMSQuery : public TCustomMSDataSet {
 public:
  explicit TMSQuery(TComponent* AOwner) : TCustomMSDataSet(AOwner) {}
  const char* ClassName() const noexcept override { return "TMSQuery"; }

 protected:
  TMSQuery(TComponent* AOwner, std::unique_ptr<TMSDataSetOptions> AOptions)
      : TCustomMSDataSet(AOwner, std::move(AOptions)) {}
};

}  // namespace bunkmere
