#include "sitecheck/SecretMask.h"

#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "dataaccess/ConnectSettings.h"

namespace bunkmere {
namespace {

// A value that swallowed a password pair through a pair of quotes in the wrong places
// ("Data Source="srv;Password=x"") holds the password as text of its own.
void HideSwallowedPassword(std::string& AValue) {
  const std::string lower = LowerCase(AValue);
  if (lower.find("password") != std::string::npos || lower.find("pwd") != std::string::npos)
    AValue = kPasswordMask;
}

}  // namespace

std::string ShownConnectString(std::string_view AText) {
  TConnectSettings settings;
  try {
    ApplyConnectString(settings, AText);
  } catch (const Exception&) {
    return std::string(kUnreadableConnectString);
  }
  if (!settings.Password.empty()) settings.Password = kPasswordMask;
  for (std::string* value :
       {&settings.Server, &settings.Database, &settings.Username, &settings.Language,
        &settings.NetworkLibrary, &settings.InitialFileName, &settings.FailoverPartner,
        &settings.ApplicationName, &settings.WorkstationID, &settings.HostNameInCertificate,
        &settings.CAFile})
    HideSwallowedPassword(*value);
  return GenerateConnectString(settings);
}

}  // namespace bunkmere
