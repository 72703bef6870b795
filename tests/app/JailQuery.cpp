#include "tests/app/JailQuery.h"

#include "dataaccess/Fields.h"
#include "dataaccess/MSTable.h"

namespace bunkmere::testing {

std::unique_ptr<TMSConnection> JailConnection(const standin::testing::StandinServer& AServer) {
  auto db = std::make_unique<TMSConnection>(nullptr);
  db->SetServer(AServer.Host() + "," + std::to_string(AServer.Port()));
  db->SetDatabase("JAIL");
  db->SetAuthentication(TMSAuthentication::auServer);
  db->SetUsername(AServer.User());
  db->SetPassword(AServer.Password());
  db->SetLoginPrompt(false);
  return db;
}

std::vector<std::string> QueryJail(const standin::testing::StandinServer& AServer,
                                   const std::string& ASql) {
  const auto db = JailConnection(AServer);
  TMSQuery q(nullptr);
  q.SetConnection(db.get());
  q.SQL().Add(ASql);
  q.Open();
  std::vector<std::string> rows;
  for (q.First(); !q.Eof(); q.Next()) {
    std::string row;
    for (int i = 0; i < q.FieldCount(); ++i)
      row += (i > 0 ? "|" : "") + (q.Fields(i).IsNull() ? "NULL" : q.Fields(i).AsString());
    rows.push_back(row);
  }
  return rows;
}

}  // namespace bunkmere::testing
