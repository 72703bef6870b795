#include "tests/app/PytdsHousing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/ChildProcess.h"

namespace bunkmere::testing {

std::vector<std::string> HousingThroughPytds(const standin::testing::StandinServer& AServer) {
  ChildOptions options;
  options.SeparateErrors = true;
  ChildProcess reader(
      {"/usr/bin/python3", BUNKMERE_HOUSING_READER, AServer.Host(), std::to_string(AServer.Port()),
       AServer.User(), standin::testing::StandinServer::CaFile()},
      options);
  reader.Write(AServer.Password() + "\n");
  const int status = reader.Finish(60000);
  EXPECT_EQ(status, 0) << reader.Errors();
  if (status != 0) return {};
  std::vector<std::string> rows;
  std::istringstream in(reader.Output());
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

// CFGCELL: UniqueKey, DORMCODE, FACILITYID (CHAR(10), padded), CELLKEY, FACILITY, ALLOWMANY,
// ALLOW, ONCELL, PHASE, TOWER, FLOOR, POD, CELLNO, BED, CELLTYPE, AVAILABLE.
// CFGBED: UniqueKey, CELLKEY, BEDNO, BEDDESC, AVAILABLE, BEDTYPE.
const std::vector<std::string> kSampleHousingAfterPass = {
    // one inmate, allows 2.
    "CFGCELL|1|A|MAIN      |101|MAIN JAIL|False|2|1|1|T1|1|P1|A-101|2|GEN|True",
    // two inmates, allows 1, ALLOWMANY: the count, and ALLOW 0.
    "CFGCELL|2|A|MAIN      |102|MAIN JAIL|True|0|2|1|T1|1|P1|A-102|2|GEN|True",
    // two inmates, allows 1, not ALLOWMANY: reported, not written.
    "CFGCELL|3|A|MAIN      |103|MAIN JAIL|False|1|0|1|T1|1|P1|A-103|1|SEG|True",
    // B-201: one inmate, ALLOW and ALLOWMANY NULL: reported, not written.
    "CFGCELL|4|B|MAIN      |201|MAIN JAIL|NULL|NULL|3|1|T2|2|P2|B-201|1|GEN|True",
    // B-202: only released bookings: empty.
    "CFGCELL|5|B|MAIN      |202|MAIN JAIL|False|4|0|1|T2|2|P2|B-202|0|GEN|True",
    // N1-301: one inmate.
    "CFGCELL|6|N1|O'NEIL    |301|O'NEIL ANNEX|False|2|1|2|NULL|1|NULL|N1-301|2|GEN|True",
    "CFGBED|1|101|1|A-101 Lower|False|BUNK",
    "CFGBED|2|101|2|A-101 Upper|True|BUNK",
    "CFGBED|3|102|1|A-102 Lower|False|BUNK",
    "CFGBED|4|102|2|A-102 Upper|False|BUNK",
    "CFGBED|5|103|1|A-103 Single|False|COT",
    "CFGBED|6|201|1|B-201 Single|False|COT",
    "CFGBED|7|301|1|N1-301 Lower|True|BUNK",
    "CFGBED|8|301|2|N1-301 Upper|False|BUNK",
};

const std::vector<std::string> kSampleWithoutBookingsAfterPass = {
    "CFGCELL|1|A|MAIN      |101|MAIN JAIL|False|2|0|1|T1|1|P1|A-101|2|GEN|True",
    "CFGCELL|2|A|MAIN      |102|MAIN JAIL|True|1|0|1|T1|1|P1|A-102|2|GEN|True",
    "CFGCELL|3|A|MAIN      |103|MAIN JAIL|False|1|0|1|T1|1|P1|A-103|1|SEG|True",
    "CFGCELL|4|B|MAIN      |201|MAIN JAIL|NULL|NULL|0|1|T2|2|P2|B-201|1|GEN|True",
    "CFGCELL|5|B|MAIN      |202|MAIN JAIL|False|4|0|1|T2|2|P2|B-202|0|GEN|True",
    "CFGCELL|6|N1|O'NEIL    |301|O'NEIL ANNEX|False|2|0|2|NULL|1|NULL|N1-301|2|GEN|True",
    "CFGBED|1|101|1|A-101 Lower|True|BUNK",
    "CFGBED|2|101|2|A-101 Upper|True|BUNK",
    "CFGBED|3|102|1|A-102 Lower|True|BUNK",
    "CFGBED|4|102|2|A-102 Upper|True|BUNK",
    "CFGBED|5|103|1|A-103 Single|True|COT",
    "CFGBED|6|201|1|B-201 Single|True|COT",
    "CFGBED|7|301|1|N1-301 Lower|True|BUNK",
    "CFGBED|8|301|2|N1-301 Upper|True|BUNK",
};

}  // namespace bunkmere::testing
