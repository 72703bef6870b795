#include "config/ConnectionStringOverlay.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

struct OverlayCase {
  const char* original;
  const char* overlay;
  const char* expected;
};
void PrintTo(const OverlayCase& c, std::ostream* os) {
  *os << "'" << c.original << "' + '" << c.overlay << "'";
}

class ConnectionStringOverlay : public testing::TestWithParam<OverlayCase> {};

TEST_P(ConnectionStringOverlay, MergesPieceByPiece) {
  const OverlayCase& c = GetParam();
  EXPECT_EQ(ApplyConnectionStringOverlay(c.original, c.overlay), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionStringOverlay,
    testing::Values(
        // replaced in place with the overlay's spelling, removed, appended
        OverlayCase{"A=1;B=2;C=3", "b=20;C=;D=4", "A=1;b=20;D=4"},
        OverlayCase{"A=1;B=2", "B=;C=3", "A=1;C=3"},
        // an empty overlay is one piece without a name: only the trailing ";" goes
        OverlayCase{"A=1;", "", "A=1"}, OverlayCase{"A=1;;B=2", "", "A=1;;B=2"},
        // an empty original is one empty piece, kept in front of what is appended
        OverlayCase{"", "A=1", ";A=1"}, OverlayCase{"", "", ""},
        // a name repeated in the overlay takes its first value, the last spelling wins
        OverlayCase{"A=0", "A=1;a=2", "a=1"}, OverlayCase{"X=0", "A=1;a=2", "X=0;a=1"},
        // only the first piece with the name is replaced or removed
        OverlayCase{"A=1;A=2", "a=9", "a=9;A=2"}, OverlayCase{"A=1;A=2", "A=", "A=2"},
        // removing a name the original lacks changes nothing
        OverlayCase{"A=1", "B=", "A=1"},
        // overlay pieces without "=" have no effect, and never match original pieces
        OverlayCase{"A=1;B", "B;C", "A=1;B"}, OverlayCase{"A=1;B", "B=2", "A=1;B;B=2"},
        // pieces are not trimmed: " B" is not "B"
        OverlayCase{"A=1; B=2", "B=3", "A=1; B=2;B=3"},
        // the value is everything after the first "=", quotes and blanks included
        OverlayCase{"Server=x", "server= \"a=b;\"", "server= \"a=b"},
        OverlayCase{"Data Source=old;UID=sa", "Data Source=new=1", "Data Source=new=1;UID=sa"},
        // an empty name is still a name
        OverlayCase{"=1;A=2", "=5", "=5;A=2"},
        // ";;" in the overlay holds empty pieces, which do nothing
        OverlayCase{"A=1", ";;B=2;", "A=1;B=2"}));

}  // namespace
}  // namespace bunkmere
