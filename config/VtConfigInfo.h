#pragma once
// TVtConfigInfo: the per-program lookups answered by the site's program library, the table
// ConnectLib in the database that the site file's connection string reaches.
//
// Nothing is cached: every lookup opens a short-lived connection of its own with the current
// site settings, reads one row and closes it again, so a change to ConnectLib is seen on the
// next lookup.

#include <string>
#include <vector>

#include "config/VeltraneCfg.h"

namespace bunkmere {

class TVtConfigInfo : public TVtCustomConfigInfo {
 public:
  explicit TVtConfigInfo(TComponent* AOwner) : TVtCustomConfigInfo(AOwner) {}
  const char* ClassName() const noexcept override { return "TVtConfigInfo"; }

  void GetProgramList(std::vector<std::string>& APrograms) override;

  static const char* VtVersion() noexcept { return "2.1"; }

 protected:
  std::string LookupProgramValue(const std::string& AProgramID, const std::string& AFieldName,
                                 const std::string& ADefault) override;
};

}  // namespace bunkmere
