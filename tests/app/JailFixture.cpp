#include "tests/app/JailFixture.h"

#include <gtest/gtest.h>

#include <QTest>

#include "dataaccess/Fields.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "tests/app/JailQuery.h"
#include "tests/app/SiteFolder.h"
#include "ui/StdCtrls.h"
#include "ui/qt/QtPeers.h"

namespace bunkmere::testing {

const char* const kJailSchema = R"(
CREATE TABLE CFGFACI (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FACILITYID CHAR(10) NOT NULL,
  FACILITYdesc VARCHAR(50) NULL)
CREATE TABLE CFGDORMS (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FACILITYID CHAR(10) NOT NULL,
  DORMCODE VARCHAR(10) NOT NULL)
CREATE TABLE CFGCELL (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  DORMCODE VARCHAR(10) NOT NULL,
  FACILITYID CHAR(10) NOT NULL,
  CELLKEY INT NOT NULL,
  ALLOWMANY BIT NULL,
  ALLOW INT NULL,
  ONCELL INT NULL,
  CELLNO VARCHAR(15) NULL)
CREATE TABLE CFGBED (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  CELLKEY INT NOT NULL,
  BEDNO INT NOT NULL,
  BEDDESC VARCHAR(30) NULL,
  AVAILABLE BIT NULL)
CREATE TABLE DETENTIA (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  BOOKNO VARCHAR(20) NOT NULL,
  NAMERELEAS INT NOT NULL,
  FACICODE VARCHAR(10) NULL,
  CELLKEY INT NULL,
  BED VARCHAR(10) NULL,
  CHARGES TEXT NULL)
)";

std::string JailScript(const std::string& ARows) {
  return std::string("CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n") + kProgramLibrary + kJailSchema +
         "GO\n" + ARows + "\nGO\n";
}

std::unique_ptr<TfrmSynchCellsMain> WindowAtSite(const standin::testing::StandinServer& AServer) {
  const TSiteFolder site = TSiteFolder::For(SiteConnectString(AServer));
  const TCurrentDirectory inSite(site.Path());
  return std::make_unique<TfrmSynchCellsMain>(nullptr);
}

JailFixture::JailFixture(const std::string& ARows, std::vector<std::string> AFaults)
    : JailFixture(FromScriptTag{}, JailScript(ARows), std::move(AFaults)) {}

std::unique_ptr<JailFixture> JailFixture::FromScript(const std::string& AScript,
                                                     std::vector<std::string> AFaults) {
  return std::unique_ptr<JailFixture>(
      new JailFixture(FromScriptTag{}, AScript, std::move(AFaults)));
}

JailFixture::JailFixture(FromScriptTag, const std::string& AScript,
                         std::vector<std::string> AFaults)
    : FServer(std::make_unique<standin::testing::StandinServer>(standin::testing::StandinOptions{
          .initScript = AScript, .faults = std::move(AFaults), .stepLog = true})),
      FWindow(WindowAtSite(*FServer)) {}

JailFixture::~JailFixture() = default;

void JailFixture::PressStart() {
  QTest::mouseClick(QtWidget(*FWindow->btConvertTavrichWeekenders), Qt::LeftButton);
}

std::vector<std::string> JailFixture::Log() const {
  return FWindow->Memo1->Lines();
}

std::vector<std::string> JailFixture::PassStatements() const {
  // A request of several statements holds each from a line of its own.
  std::vector<std::string> result;
  for (const auto& s : FServer->Statements()) {
    if (s.kind == "step") continue;
    std::size_t from = 0;
    while (from <= s.sql.size()) {
      std::size_t end = s.sql.find('\n', from);
      if (end == std::string::npos) end = s.sql.size();
      std::string line = s.sql.substr(from, end - from);
      if (line.ends_with('\r')) line.pop_back();
      if (line.starts_with("SELECT Count(") || line.starts_with("SELECT BOOKNO"))
        result.push_back(line);
      from = end + 1;
    }
  }
  return result;
}

std::int64_t StepOfFirst(const std::string& ARows, const std::string& APattern) {
  JailFixture probe(ARows);
  probe.PressStart();
  for (const auto& s : probe.Server().Statements())
    if (s.kind == "step" && s.sql.find(APattern) != std::string::npos) return s.step;
  ADD_FAILURE() << "no statement contains " << APattern;
  return 0;
}

void JailFixture::Exec(const std::string& ASql) const {
  JailConnection(*FServer)->ExecSQL(ASql);
}

std::vector<std::string> JailFixture::Query(const std::string& ASql) const {
  return QueryJail(*FServer, ASql);
}

}  // namespace bunkmere::testing
