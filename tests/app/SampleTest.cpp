// The sample jail database the demo runs on, synchronised end to end: it holds one of every
// case, so the whole log and every written row are checked at once.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/BunkmereMain.h"
#include "tests/app/JailFixture.h"
#include "tests/app/PytdsHousing.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using Lines = std::vector<std::string>;

std::string SampleScript() {
  std::ifstream in(std::string(BUNKMERE_SAMPLE_DIR) + "/jail.sql", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SampleJail, SynchronisesEveryCaseItHolds) {
  auto jail = testing::JailFixture::FromScript(SampleScript());
  jail->PressStart();
  EXPECT_EQ(jail->Boxes().Texts(), Lines{"Cell Synchronization Completed"});
  EXPECT_EQ(
      jail->Log(),
      (Lines{"Facility :Main Jail DormCode : A CellNo : A-103 Allow 1 but 2 are assign to it",
             "----Inmates On Cell----", " 2026-000104", " 2026-000105", "----End----",
             "Facility :Main Jail DormCode : A CellNo : A-103 Bed : A-103 Single had more than "
             "one inmate assign to it",
             "----Inmates On Bed----", " 2026-000104", " 2026-000105", "----End----",
             "Facility :Main Jail DormCode : B CellNo : B-201 Allow 0 but 1 are assign to it",
             "----Inmates On Cell----", " 2026-000106", "----End----"}));
  EXPECT_EQ(jail->Query("SELECT CELLKEY, ONCELL, ALLOW FROM CFGCELL ORDER BY CELLKEY"),
            (Lines{"101|1|2", "102|2|0", "103|0|1", "201|3|NULL", "202|0|4", "301|1|2"}));
  EXPECT_EQ(jail->Query("SELECT CELLKEY, BEDNO, AVAILABLE FROM CFGBED ORDER BY CELLKEY, BEDNO"),
            (Lines{"101|1|False", "101|2|True", "102|1|False", "102|2|False", "103|1|False",
                   "201|1|False", "301|1|True", "301|2|False"}));
  // Every column of every housing row, as a client nobody here wrote reads it.
  EXPECT_EQ(testing::HousingThroughPytds(jail->Server()), testing::kSampleHousingAfterPass);
  EXPECT_EQ(jail->Window().lblPasses->Caption(), "0 Facilities To Process Remaining");
  EXPECT_EQ(jail->Window().lblWhatHappen->Caption(),
            "Synching Facility :O'Neil Annex DormCode : N1 CellNo : N1-301 Bed : N1-301 Upper");
}

}  // namespace
}  // namespace bunkmere
