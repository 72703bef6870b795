#pragma once
// SQL Server's conversions of a value to a column or expression type, with its errors:
// 245/248 (text to integer), 8114 (text to float or numeric), 8115 (overflow),
// 8152 (text too long for its column), 241/242 (text to DATETIME).

#include <cstdint>
#include <string>
#include <string_view>

#include "standin/engine/Ast.h"
#include "standin/engine/DateTimeText.h"

namespace standin {

struct Dyn {
  enum class Kind { Null, Int, Float, Text } kind = Kind::Null;
  std::int64_t i = 0;
  double f = 0;
  std::string_view text;
};

enum class ConvertMode {
  Store,  // into a column: overlong text fails with 8152
  Cast,   // CAST/CONVERT: overlong text is cut
};

// Converts `in` to `target`. Text results point into `buffer` or into `in.text`.
// Throws SqlError.
Dyn ConvertValue(const Dyn& in, const TypeSpec& target, DateOrder order, ConvertMode mode,
                 std::string& buffer);

// SQL Server's name of a type in messages: "int", "varchar", "datetime".
std::string_view TypeName(SqlType type);

// The type as it reads in a declaration: "varchar(30)", "decimal(10,2)", "int".
std::string TypeText(const TypeSpec& type);

bool IsIntegerType(SqlType t);
bool IsNumericType(SqlType t);  // integers, BIT, FLOAT, REAL, DECIMAL
bool IsTextType(SqlType t);
bool IsFixedText(SqlType t);
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);

// Characters (not bytes) of UTF-8 text.
std::size_t CharCount(std::string_view text);

// Writes a decimal with `scale` digits after the point into `out` (at least 64 bytes);
// returns its length.
int FormatDecimal(double value, int scale, char* out);

}  // namespace standin
