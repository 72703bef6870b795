#include "sitecheck/SecretMask.h"

#include <gtest/gtest.h>

#include <string>

namespace bunkmere {
namespace {

struct MaskCase {
  const char* name;
  const char* connect_string;
  const char* masked;
  const char* secret;  // the password, which must be gone from free text afterwards
};
void PrintTo(const MaskCase& c, std::ostream* os) {
  *os << c.name;
}

class MaskConnectString : public testing::TestWithParam<MaskCase> {};

TEST_P(MaskConnectString, HidesThePasswordInTheStringAndEverywhereElse) {
  const MaskCase& c = GetParam();
  TSecretMask mask;
  EXPECT_EQ(mask.MaskConnectString(c.connect_string), c.masked);
  if (*c.secret != '\0') {
    const std::string message = std::string("Login failed: bad password ") + c.secret + ".";
    EXPECT_EQ(mask.Mask(message), "Login failed: bad password ****.");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaskConnectString,
    testing::Values(
        MaskCase{"Plain", "Data Source=srv;User ID=sa;Password=S3cret",
                 "Data Source=srv;User "
                 "ID=sa;Password=****",
                 "S3cret"},
        MaskCase{"ShortNameAnyCase", "pwd=S3cret;Server=x", "pwd=****;Server=x", "S3cret"},
        MaskCase{"BlanksAroundNameAndValue", "Server=x; Password = S3cret ;UID=a",
                 "Server=x; Password =****;UID=a", "S3cret"},
        // A quoted password may hold ";" and "=": masked whole, quotes and all.
        MaskCase{"QuotedWithSeparator", "Password=\"a;b=c\";Server=x", "Password=****;Server=x",
                 "a;b=c"},
        MaskCase{"EmptyPasswordStaysVisible", "Server=x;Password=", "Server=x;Password=", ""},
        // Not a connection string anyone could read, yet still no password shown.
        MaskCase{"UnreadableString", "Server=x;;Password=S3cret;=oops",
                 "Server=x;;Password=****;=oops", "S3cret"},
        MaskCase{"NoPassword", "Data Source=srv;Integrated Security=SSPI",
                 "Data Source=srv;Integrated Security=SSPI", ""}));

TEST(SecretMask, MasksTheLongerOfTwoOverlappingPasswordsWhole) {
  TSecretMask mask;
  mask.AddSecret("abc");
  mask.AddSecret("xabcx");
  EXPECT_EQ(mask.Mask("one xabcx two abc"), "one **** two ****");
  // Nothing remembered, nothing changed; an empty secret is no secret.
  TSecretMask empty;
  empty.AddSecret("");
  EXPECT_EQ(empty.Mask("as is"), "as is");
}

}  // namespace
}  // namespace bunkmere
