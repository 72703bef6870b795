// The site check's warning about folders ordinary users can write in, judged from the folder's
// access list as Windows keeps it (SDDL here, the folder's own on a workstation).
#include <gtest/gtest.h>

#include "sitecheck/WritableFolders.h"

namespace bunkmere {
namespace {

TEST(WritableFolders, OrdinaryUsersWhoMayPutOrReplaceAFile) {
  struct Case {
    const char* What;
    const char* Sddl;
    const char* Writers;
  } cases[] = {
      {"what the installer gives its folders",
       "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", ""},
      {"a folder made at the root of C: by an administrator, inheriting the root's",
       "D:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)"
       "(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
       "Authenticated Users"},
      {"Everyone with full control", "D:(A;OICI;FA;;;WD)", "Everyone"},
      {"Users who may only add files", "D:(A;;0x2;;;BU)(A;;0x1200a9;;;IU)", "Users"},
      {"several at once", "D:(A;;0x1301bf;;;BU)(A;;GA;;;IU)", "Users, Interactive"},
      {"write only for what is made inside, not the folder", "D:(A;OICIIO;GA;;;AU)", ""},
      {"a denial is no permission", "D:(D;;FA;;;WD)(A;;FA;;;BA)", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(OrdinaryWriters(c.Sddl), c.Writers);
  }
}

}  // namespace
}  // namespace bunkmere
