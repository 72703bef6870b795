#pragma once
// A configuration-info component whose program library is a table in memory, so tests can
// count the lookups and choose their answers. It reads its site file like the real one, so
// a Windows-like platform with "C:\Veltrane.Cfg\Veltrane.ini" must be in place.

#include <map>
#include <string>
#include <vector>

#include "config/VeltraneCfg.h"
#include "core/Exceptions.h"

namespace bunkmere::testing {

inline constexpr const char* kSiteFile = "C:\\Veltrane.Cfg\\Veltrane.ini";
inline constexpr const char* kSiteText =
    "[DataProvider]\r\nConnStr=Data Source=sitesrv\r\n"
    "[Paths]\r\nHelpPath=\\\\srv\\help\r\nLogPath=D:\\Logs\r\n";

class TFakeConfigInfo : public TVtCustomConfigInfo {
 public:
  using TVtCustomConfigInfo::TVtCustomConfigInfo;

  // Column values of program "JAIL"; other programs have no row.
  std::map<std::string, std::string> Row;
  int Lookups = 0;
  std::string FailWith;  // when set, every lookup fails with this message

  void GetProgramList(std::vector<std::string>& APrograms) override { APrograms = {"JAIL"}; }

 protected:
  std::string LookupProgramValue(const std::string& AProgramID, const std::string& AFieldName,
                                 const std::string&) override {
    ++Lookups;
    if (!FailWith.empty()) throw EDatabaseError(FailWith);
    if (AProgramID != "JAIL") return "";
    auto it = Row.find(AFieldName);
    return it == Row.end() ? std::string() : it->second;
  }
};

}  // namespace bunkmere::testing
