#include <gtest/gtest.h>

#include "DbTestServer.h"

#include "dataaccess/MSDataSet.h"

namespace bunkmere::testing {

const char* const kLockScript = R"sql(
CREATE TABLE CFGCELL (UniqueKey INT IDENTITY(1,1) NOT NULL, CELLNO VARCHAR(10) NULL,
  ONCELL INT NULL)
GO
CREATE TABLE KEYS (UniqueKey VARCHAR(200) NULL, V INT NULL)
GO
CREATE TABLE NOKEY (K VARCHAR(10) NULL, V INT NULL)
GO
INSERT INTO CFGCELL (CELLNO, ONCELL) VALUES ('101', 0)
INSERT INTO CFGCELL (CELLNO, ONCELL) VALUES ('102', 1)
INSERT INTO CFGCELL (CELLNO, ONCELL) VALUES ('103', 2)
GO
INSERT INTO NOKEY (K, V) VALUES ('k1', 1)
)sql";

namespace {

standin::testing::StandinOptions Options(const std::vector<std::string>& AFaults) {
  standin::testing::StandinOptions o;
  o.initScript = std::string("CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n") + kLockScript;
  o.faults = AFaults;
  return o;
}

}  // namespace

TDbTestServer::TDbTestServer(const std::vector<std::string>& AFaults) : FServer(Options(AFaults)) {}

void TDbTestServer::Configure(TMSConnection& c) const {
  c.SetServer(FServer.Host());
  c.SetPort(FServer.Port());
  c.SetDatabase("JAIL");
  c.SetUsername(FServer.User());
  c.SetPassword(FServer.Password());
  c.SetLoginPrompt(false);
  c.SetConnectionTimeout(5);
  c.Options().SetDefaultLockTimeout(-1);
}

std::unique_ptr<TMSConnection> TDbTestServer::NewConnection() const {
  auto c = std::make_unique<TMSConnection>(nullptr);
  Configure(*c);
  return c;
}

std::string TDbTestServer::ConnectString() const {
  return "Data Source=" + FServer.Host() + ";Port=" + std::to_string(FServer.Port()) +
         ";Initial Catalog=JAIL;User ID=" + FServer.User() + ";Password=" + FServer.Password();
}

std::vector<std::string> TDbTestServer::SqlSince(std::size_t AMark) const {
  std::vector<std::string> out;
  const auto all = FServer.Statements();
  for (std::size_t k = AMark; k < all.size(); ++k) out.push_back(all[k].sql);
  return out;
}

void TDbTestServer::Exec(const std::string& ASql) const {
  NewConnection()->ExecSQL(ASql);
}

int TDbTestServer::CountRows(const std::string& ASql) const {
  auto c = NewConnection();
  std::unique_ptr<TCustomMSDataSet> ds(c->CreateDataSet(nullptr));
  ds->SQL().SetText(ASql);
  ds->Open();
  return ds->RecordCount();
}

}  // namespace bunkmere::testing
