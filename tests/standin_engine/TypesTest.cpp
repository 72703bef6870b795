// SQL Server's types as the stand-in stores and returns them.

#include "RecordingSink.h"

namespace standin::test {

class TypesTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Ok("CREATE TABLE V (I INT NULL, S SMALLINT NULL, TI TINYINT NULL, BI BIGINT NULL, B BIT NULL, "
       "C CHAR(4) NULL, NC NCHAR(3) NULL, VC VARCHAR(5) NULL, NV NVARCHAR(3) NULL, TX TEXT NULL, "
       "VM VARCHAR(MAX) NULL, DT DATETIME NULL, F FLOAT NULL, R REAL NULL, D DECIMAL(7,2) NULL)");
  }
};

// Each value written to one column, and what comes back (or the error it raises).
struct StoreCase {
  const char* column;
  const char* literal;
  const char* expected;  // as RecordingSink renders it
  int error;
};

TEST_F(TypesTest, ValuesConvertToTheColumnTypeOrFailLikeSqlServer) {
  const StoreCase cases[] = {
      {"I", "42", "42", 0},
      {"I", "'  17 '", "17", 0},
      {"I", "''", "0", 0},
      {"I", "-2147483648", "-2147483648", 0},
      {"I", "2147483648", "", 8115},
      {"I", "'12.5'", "", 245},
      {"I", "'abc'", "", 245},
      {"I", "'99999999999'", "", 248},
      {"I", "12.9", "12", 0},
      {"S", "40000", "", 8115},
      {"TI", "-1", "", 8115},
      {"TI", "255", "255", 0},
      {"BI", "9223372036854775807", "9223372036854775807", 0},
      {"B", "1", "1", 0},
      {"B", "7", "1", 0},
      {"B", "0", "0", 0},
      {"B", "'true'", "1", 0},
      {"B", "'FALSE'", "0", 0},
      {"B", "'yes'", "", 245},
      {"C", "'ab'", "'ab  '", 0},
      {"C", "'abcd'", "'abcd'", 0},
      {"C", "'abcde'", "", 8152},
      {"C", "'abcd   '", "'abcd'", 0},  // only blanks are cut silently
      {"NC", "N'é'", "'é  '", 0},       // characters, not bytes
      {"VC", "'hello'", "'hello'", 0},
      {"VC", "'hello!'", "", 8152},
      {"VC", "'hi '", "'hi '", 0},  // trailing blanks kept
      {"VC", "12345", "'12345'", 0},
      {"NV", "N'äöü'", "'äöü'", 0},
      {"NV", "N'äöüx'", "", 8152},
      {"TX", "'long text'", "'long text'", 0},
      {"DT", "'2024-03-01T10:20:30.123'", "'2024-03-01 10:20:30.123'", 0},
      {"DT", "'20240301'", "'2024-03-01 00:00:00.000'", 0},
      {"DT", "'03/01/2024 1:05:09 PM'", "'2024-03-01 13:05:09.000'", 0},
      {"DT", "'2024-03-01 23:59:59.999'", "'2024-03-02 00:00:00.000'", 0},
      {"DT", "'not a date'", "", 241},
      {"DT", "'02/30/2024'", "", 241},
      {"DT", "'1700-01-01'", "", 242},
      {"DT", "0", "'1900-01-01 00:00:00.000'", 0},
      {"F", "1.5", "1.5", 0},
      {"F", "'2.25'", "2.25", 0},
      {"F", "'x'", "", 8114},
      {"D", "12.345", "'12.35'", 0},
      {"D", "'7'", "'7.00'", 0},
      {"D", "123456", "", 8115},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " := " + c.literal);
    Ok("DELETE FROM V");
    auto insert = Run(std::string("INSERT INTO V (") + c.column + ") VALUES (" + c.literal + ")");
    EXPECT_EQ(insert.Error(), c.error) << insert.ErrorText();
    if (c.error) {
      EXPECT_TRUE(insert.done.back().error);
      EXPECT_EQ(Rows("SELECT Count(*) FROM V"), (Rowset{{"0"}}));  // nothing half-written
      continue;
    }
    EXPECT_EQ(Rows(std::string("SELECT ") + c.column + " FROM V"), (Rowset{{c.expected}}));
    // UPDATE converts the same way as INSERT.
    Ok(std::string("UPDATE V SET ") + c.column + " = NULL");
    auto update = Run(std::string("UPDATE V SET ") + c.column + " = " + c.literal);
    EXPECT_EQ(update.Error(), 0) << update.ErrorText();
    EXPECT_EQ(Rows(std::string("SELECT ") + c.column + " FROM V"), (Rowset{{c.expected}}));
  }
}

TEST_F(TypesTest, TruncationMessageIsSqlServersWithStatementTerminated) {
  auto sink = Run("INSERT INTO V (VC) VALUES ('toolong')");
  ASSERT_EQ(sink.messages.size(), 2u);
  EXPECT_EQ(sink.messages[0].number, 8152);
  EXPECT_EQ(sink.messages[0].state, 14);
  EXPECT_EQ(sink.messages[0].severity, 16);
  EXPECT_EQ(sink.messages[0].text, "String or binary data would be truncated.");
  EXPECT_EQ(sink.messages[1].number, 3621);
  EXPECT_EQ(sink.messages[1].severity, 0);
}

TEST_F(TypesTest, DeclaredTypesSurviveIntoColumnInfo) {
  auto sink = Run("SELECT * FROM V");
  ASSERT_EQ(sink.Error(), 0);
  const auto& cols = sink.LastColumns();
  ASSERT_EQ(cols.size(), 15u);
  struct Expect {
    const char* name;
    SqlType type;
    int length;
  };
  const Expect expected[] = {
      {"I", SqlType::Int, 0},     {"S", SqlType::SmallInt, 0},  {"TI", SqlType::TinyInt, 0},
      {"BI", SqlType::BigInt, 0}, {"B", SqlType::Bit, 0},       {"C", SqlType::Char, 4},
      {"NC", SqlType::NChar, 3},  {"VC", SqlType::VarChar, 5},  {"NV", SqlType::NVarChar, 3},
      {"TX", SqlType::Text, -1},  {"VM", SqlType::VarChar, -1}, {"DT", SqlType::DateTime, 0},
      {"F", SqlType::Float, 0},   {"R", SqlType::Real, 0},      {"D", SqlType::Decimal, 0},
  };
  for (std::size_t i = 0; i < cols.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(cols[i].name, expected[i].name);
    EXPECT_EQ(cols[i].type, expected[i].type);
    if (expected[i].length) {
      EXPECT_EQ(cols[i].length, expected[i].length);
    }
    EXPECT_EQ(cols[i].baseTable, "V");
    EXPECT_TRUE(cols[i].nullable);
    EXPECT_TRUE(cols[i].updatable);
  }
  EXPECT_EQ(cols[14].precision, 7);
  EXPECT_EQ(cols[14].scale, 2);
}

TEST_F(TypesTest, ValuesTravelWithTheKindTheirTypeNeeds) {
  Ok("INSERT INTO V (I, B, C, DT, F, D) VALUES (5, 1, 'x', '2020-01-02', 0.5, 3)");
  class Kinds : public RecordingSink {
   public:
    void Row(std::span<const Value> values) override {
      for (const Value& v : values) kinds.push_back(v.kind);
    }
    std::vector<Value::Kind> kinds;
  } kinds;
  session_->Execute("SELECT I, B, C, DT, F, D, VC FROM V", {}, kinds);
  using K = Value::Kind;
  EXPECT_EQ(kinds.kinds,
            (std::vector<K>{K::Int, K::Int, K::Text, K::Text, K::Float, K::Text, K::Null}));
}

}  // namespace standin::test
