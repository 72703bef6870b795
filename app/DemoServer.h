#pragma once
// Compiled into the demo build only (BunkmereDemo): until the site configuration gives the
// window its connection string, the demo and the smoke test point dbJail at a local stand-in
// named in BUNKMERE_DEMO_SERVER as "host,port;user;password". The shipped program has no such
// hook and reads no environment.

#include <cstdlib>
#include <string>

#include "app/BunkmereMain.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"

namespace bunkmere {

inline void PointAtDemoServer(TfrmSynchCellsMain& AWindow) {
  const char* value = std::getenv("BUNKMERE_DEMO_SERVER");
  if (value == nullptr || *value == '\0') return;
  const std::string text = value;
  const auto first = text.find(';');
  const auto second = first == std::string::npos ? first : text.find(';', first + 1);
  if (second == std::string::npos)
    throw Exception("BUNKMERE_DEMO_SERVER must read host,port;user;password");
  TMSConnection& db = *AWindow.dbJail;
  db.SetServer(text.substr(0, first));
  db.SetAuthentication(TMSAuthentication::auServer);
  db.SetUsername(text.substr(first + 1, second - first - 1));
  db.SetPassword(text.substr(second + 1));
}

}  // namespace bunkmere
