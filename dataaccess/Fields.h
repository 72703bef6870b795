#pragma once
// A dataset's fields: one per result column, named after it, with typed reads and writes of
// the current row's value. A field holds no value itself; it reads the dataset's cached row,
// or the row being edited.

#include <cstdint>
#include <string>

#include "dataaccess/odbc/DbValue.h"

namespace bunkmere {

class TCustomMSDataSet;

enum class TFieldType : std::uint8_t {
  ftUnknown,
  ftString,
  ftFixedChar,
  ftWideString,
  ftFixedWideChar,
  ftSmallint,
  ftInteger,
  ftWord,
  ftLargeint,
  ftBoolean,
  ftFloat,
  ftBCD,
  ftDateTime,
  ftMemo,
  ftWideMemo,
  ftBlob,
  ftBytes,
  ftVarBytes,
  ftGuid,
};

TFieldType FieldTypeOf(const TColumnDesc& AColumn);

// Decimal, numeric and money columns: carried as the driver's text ("5.00") but read, written
// and compared as numbers.
bool IsExactNumeric(const TColumnDesc& AColumn) noexcept;

// Whether two values of AColumn are the same value: an exact numeric compares by value, so
// "5" and "5.00" are one; everything else compares as held.
bool SameFieldValue(const TColumnDesc& AColumn, const TDbValue& A, const TDbValue& B);

class TField {
 public:
  TField(TCustomMSDataSet& ADataSet, int AIndex, const TColumnDesc& AColumn);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TCustomMSDataSet& DataSet() const noexcept { return *FDataSet; }
  const std::string& FieldName() const noexcept { return FColumn.Name; }
  int Index() const noexcept { return FIndex; }
  TFieldType DataType() const noexcept { return FDataType; }
  const TColumnDesc& Column() const noexcept { return FColumn; }

  bool IsNull() const;
  // A NULL reads as empty text, 0, false and the zero date-time. A type the column cannot
  // give raises "Cannot access field '%s' as type %s".
  std::string AsString() const;
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  bool AsBoolean() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;
  TDbValue Value() const;

  // Writes to the row being edited or inserted; raises "Dataset not in edit or insert mode"
  // otherwise.
  void SetAsString(const std::string& AValue);
  void SetAsInteger(std::int32_t AValue);
  void SetAsLargeInt(std::int64_t AValue);
  void SetAsBoolean(bool AValue);
  void SetAsFloat(double AValue);
  void SetAsDateTime(TDateTime AValue);
  void Clear();  // NULL
  void SetValue(const TDbValue& AValue);

 private:
  [[noreturn]] void AccessError(const char* AType) const;
  void Write(TDbValue AValue);

  TCustomMSDataSet* FDataSet;
  int FIndex;
  TColumnDesc FColumn;
  TFieldType FDataType;
};

}  // namespace bunkmere
