#pragma once
// The housing rows read back through pytds, a TDS client nobody here wrote, over TLS checked
// against the test's own authority: an end state judged without our own data layer, which
// could read back what it wrote wrongly and agree with itself.

#include <string>
#include <vector>

#include "standin/testing/StandinServer.h"

namespace bunkmere::testing {

// Every CFGCELL row, then every CFGBED row, by UniqueKey: "CFGCELL|1|A|MAIN      |101|...",
// the columns in table order, NULL for NULL, True/False for bits. Fails the test (and gives
// nothing) when pytds cannot read them.
std::vector<std::string> HousingThroughPytds(const standin::testing::StandinServer& AServer);

// The sample jail after one complete pass, row by row, worked out by hand from its script.
extern const std::vector<std::string> kSampleHousingAfterPass;
// The sample jail without any booking after one complete pass: every cell empty, every bed free.
extern const std::vector<std::string> kSampleWithoutBookingsAfterPass;

}  // namespace bunkmere::testing
