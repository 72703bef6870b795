// The site-file search over the drive letters of a real Windows (under Wine in the test
// stage, which maps R: as a CD-ROM drive and S: as a network drive, each holding a site
// folder at its root, and names S: in BUNKMERE_TEST_SITE_DRIVE).

#include <gtest/gtest.h>

#include <cstdlib>

#include "config/SitePaths.h"
#include "platform/Platform.h"
#include "tests/CannotRun.h"

namespace bunkmere {
namespace {

#ifdef _WIN32
TEST(SiteFileOnTheDrives, FoundAtTheRootOfANetworkDriveButNotOfARemovableOne) {
  const char* drive = std::getenv("BUNKMERE_TEST_SITE_DRIVE");
  if (drive == nullptr || *drive == '\0') BUNKMERE_CANNOT_RUN("BUNKMERE_TEST_SITE_DRIVE not set");
  TPlatform& system = CurrentPlatform();
  const std::string root = std::string(drive) + "\\";
  ASSERT_EQ(system.DriveType(root), TDriveType::dtRemote);
  ASSERT_EQ(system.DriveType("R:\\"), TDriveType::dtCdRom);
  ASSERT_TRUE(system.FileExists("R:\\Veltrane.Cfg\\Veltrane.ini"));
  EXPECT_EQ(LocateSiteFile(system), root + "Veltrane.Cfg\\Veltrane.ini");
}
#endif

}  // namespace
}  // namespace bunkmere
