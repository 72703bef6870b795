#include "dataaccess/RowCache.h"

#include <gtest/gtest.h>

#include "MessageOf.h"
#include "core/Exceptions.h"

namespace bunkmere {
namespace {

TColumnDesc Col(TColumnKind AKind, bool ALob = false) {
  TColumnDesc d;
  d.Kind = AKind;
  d.LargeObject = ALob;
  return d;
}

TEST(RowCacheTest, RowsKeepEveryValueAndNullExactly) {
  std::vector<TColumnDesc> cols = {
      Col(TColumnKind::Int32),   Col(TColumnKind::Text),     Col(TColumnKind::Int64),
      Col(TColumnKind::Boolean), Col(TColumnKind::DateTime), Col(TColumnKind::Text, true),
      Col(TColumnKind::Bytes),   Col(TColumnKind::Float),    Col(TColumnKind::Text)};
  TRowCache cache;
  cache.Reset(cols, {});
  std::string lob(100000, 'x');
  lob += "\xC3\xA9";
  std::vector<TDbValue> a = {TDbValue::Integer(-7),
                             TDbValue::Text("it's [%] caf\xC3\xA9"),
                             TDbValue::Integer(INT64_C(1) << 40),
                             TDbValue::Boolean(true),
                             TDbValue::DateTime(46000.5),
                             TDbValue::Text(lob),
                             TDbValue::Bytes(std::string("\0\1\2", 3)),
                             TDbValue::Float(0.25),
                             TDbValue::Text("")};
  std::vector<TDbValue> b(cols.size(), TDbValue::Null());
  cache.InsertRow(0, a);
  cache.InsertRow(1, b);
  cache.InsertRow(0, b);  // before the first
  ASSERT_EQ(cache.RowCount(), 3u);
  for (std::size_t c = 0; c < cols.size(); ++c) {
    EXPECT_TRUE(cache.IsNull(0, c));
    EXPECT_FALSE(cache.IsNull(1, c)) << c;
    EXPECT_TRUE(cache.IsNull(2, c));
  }
  EXPECT_EQ(cache.RowValues(1), a);
  // An empty text is a value, not a NULL.
  EXPECT_EQ(cache.Bytes(1, 8), "");

  std::vector<TDbValue> changed = a;
  changed[1] = TDbValue::Text("x");
  cache.ReplaceRow(1, changed);
  EXPECT_EQ(cache.RowValues(1), changed);
  cache.DeleteRow(0);
  EXPECT_EQ(cache.RowValues(0), changed);
  EXPECT_EQ(cache.RowCount(), 2u);
}

// A refresh refills the memory of the rows it replaces: the new rows must read back whole,
// also a record larger than any kept chunk, and what the new rows leave unused is returned.
TEST(RowCacheTest, RowsReadAgainReuseTheMemoryAndReturnTheRest) {
  std::vector<TColumnDesc> cols = {Col(TColumnKind::Int32), Col(TColumnKind::Text, true)};
  auto row = [](int n, std::size_t len) {
    return std::vector<TDbValue>{TDbValue::Integer(n),
                                 TDbValue::Text(std::string(len, static_cast<char>('a' + n % 26)))};
  };
  TRowCache cache;
  cache.Reset(cols, {});
  for (int n = 0; n < 3000; ++n) cache.InsertRow(cache.RowCount(), row(n, 200));
  cache.ReleaseUnused();
  const std::size_t full = cache.AllocatedBytes();

  // As many rows again, with one far larger than any chunk among them.
  cache.Reset(cols, {});
  for (int n = 0; n < 3000; ++n)
    cache.InsertRow(cache.RowCount(), row(n + 1, n == 1500 ? 3000000 : 200));
  cache.ReleaseUnused();
  ASSERT_EQ(cache.RowCount(), 3000u);
  for (std::size_t n = 0; n < 3000; ++n)
    ASSERT_EQ(cache.RowValues(n), row(static_cast<int>(n) + 1, n == 1500 ? 3000000 : 200)) << n;

  // Few rows: most of the memory goes back.
  cache.Reset(cols, {});
  cache.InsertRow(0, row(7, 10));
  cache.ReleaseUnused();
  EXPECT_EQ(cache.RowValues(0), row(7, 10));
  EXPECT_LT(cache.AllocatedBytes(), full / 10);
}

// A value of a short column longer than its two-byte length field holds is refused by the
// column's name, never kept with a wrapped length that would shift every later column.
TEST(RowCacheTest, RefusesATextTooLongForItsLengthField) {
  TColumnDesc code = Col(TColumnKind::Text);
  code.Name = "CODE";
  TRowCache cache;
  cache.Reset({Col(TColumnKind::Int32), code}, {});
  const std::vector<TDbValue> row = {TDbValue::Integer(1), TDbValue::Text(std::string(70000, 'a'))};
  EXPECT_EQ(MessageOf([&] { cache.InsertRow(0, row); }),
            "Value of column CODE is too long to keep (70000 bytes)");
  EXPECT_EQ(cache.RowCount(), 0u);
  cache.InsertRow(0, {TDbValue::Integer(1), TDbValue::Text(std::string(65535, 'a'))});
  EXPECT_EQ(cache.Bytes(0, 1).size(), 65535u);
  EXPECT_THROW(cache.ReplaceRow(0, row), EDatabaseError);
  EXPECT_EQ(cache.Bytes(0, 1).size(), 65535u);
}

}  // namespace
}  // namespace bunkmere
