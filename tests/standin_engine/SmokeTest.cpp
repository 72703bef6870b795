#include "RecordingSink.h"

namespace standin::test {

TEST_F(EngineTest, Smoke) {
  Ok("CREATE TABLE T (A INT IDENTITY(1,1) PRIMARY KEY, B VARCHAR(10), C CHAR(4))");
  Ok("INSERT INTO T (B, C) VALUES ('x', 'ab'), ('y', NULL)");
  EXPECT_EQ(Rows("SELECT * FROM T ORDER BY A"),
            (Rowset{{"1", "'x'", "'ab  '"}, {"2", "'y'", "NULL"}}));
}

}  // namespace standin::test
