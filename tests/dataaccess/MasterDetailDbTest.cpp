// Master/detail with the server doing the filtering: the merged condition, parameters taken
// from the master, re-runs only when a link value changes, and the empty cases.

#include <gtest/gtest.h>

#include "JailScript.h"
#include "TestServer.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "tests/CannotRun.h"

namespace bunkmere::testing {
namespace {

class MasterDetailDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FServer = std::make_unique<TTestServer>(kJailScript, kJailTables);
    if (!FServer->Usable())
      BUNKMERE_CANNOT_RUN("no sqlstandin built and BUNKMERE_TEST_MSSQL not set");
    FConn = FServer->NewConnection();
    FConn->Connect();
    FFacility = Table("CFGFACI");
    FDorms = Table("CFGDORMS");
    FCells = Table("CFGCELL");
    FFacilitySource.SetDataSet(FFacility.get());
    FDormSource.SetDataSet(FDorms.get());
    Link(*FDorms, FFacilitySource, "FACILITYID");
    Link(*FCells, FDormSource, "FACILITYID;DORMCODE");
  }
  std::unique_ptr<TMSTable> Table(const char* AName) {
    auto t = std::make_unique<TMSTable>(nullptr);
    t->SetConnection(FConn.get());
    t->SetTableName(AName);
    t->Options().SetQuoteNames(true);
    return t;
  }
  static void Link(TMSTable& ADetail, TDataSource& AMaster, const char* AFields) {
    ADetail.SetMasterSource(&AMaster);
    ADetail.SetMasterFields(AFields);
    ADetail.SetDetailFields(AFields);
  }
  std::vector<std::string> Column(TCustomMSDataSet& ds, const char* AField) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(AField).AsString());
    return out;
  }

  std::unique_ptr<TTestServer> FServer;
  std::unique_ptr<TMSConnection> FConn;
  std::unique_ptr<TMSTable> FFacility, FDorms, FCells;
  TDataSource FFacilitySource{nullptr}, FDormSource{nullptr};
};

TEST_F(MasterDetailDbTest, TheDetailStatementCarriesTheConditionWithBoundValues) {
  FFacility->Open();
  FDorms->Open();
  std::size_t mark = FServer->Mark();
  FCells->Open();
  EXPECT_EQ(Column(*FCells, "CELLNO"), (std::vector<std::string>{"101", "102"}));
  if (FServer->HasLog()) {
    auto sent = FServer->Since(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Sql,
              "SELECT * FROM [CFGCELL]\r\nWHERE [FACILITYID] = ? AND [DORMCODE] = ? \r\n");
    ASSERT_EQ(sent[0].Params.size(), 2u);
    EXPECT_EQ(sent[0].Params[1], "A");
  }
}

TEST_F(MasterDetailDbTest, DetailsFollowTheMasterOnlyWhenALinkValueChanges) {
  FFacility->Open();
  FDorms->Open();
  FCells->Open();
  FCells->Next();  // stand on the second cell: a re-run goes back to the first
  std::size_t mark = FServer->Mark();
  FDorms->Next();  // MAIN/A -> MAIN/B
  EXPECT_EQ(FCells->RecNo(), 0);
  EXPECT_EQ(Column(*FCells, "CELLNO"), std::vector<std::string>{"201"});
  if (FServer->HasLog()) {
    EXPECT_EQ(FServer->SqlSince(mark).size(), 1u);
  }

  // Dorms MAIN/B then ANNEX/A: moving the facility re-runs dorms, and dorms re-run cells.
  mark = FServer->Mark();
  FFacility->Next();
  EXPECT_EQ(Column(*FDorms, "DORMCODE"), std::vector<std::string>{"A"});
  EXPECT_EQ(Column(*FCells, "CELLNO"), std::vector<std::string>{"1"});
  if (FServer->HasLog()) {
    EXPECT_EQ(FServer->SqlSince(mark).size(), 2u);
  }

  // The same values again (First on a one-row master) send nothing.
  mark = FServer->Mark();
  FDorms->First();
  if (FServer->HasLog()) {
    EXPECT_TRUE(FServer->SqlSince(mark).empty());
  }

  // A facility without dorms gives empty details; NULL binds, nothing matches.
  FFacility->Next();
  EXPECT_EQ(FFacility->FieldByName("FACILITYID").AsString(), "EMPTY");
  EXPECT_TRUE(FDorms->IsEmpty());
  EXPECT_TRUE(FCells->IsEmpty());
  EXPECT_TRUE(FCells->Eof());
}

TEST_F(MasterDetailDbTest, AClosedMasterGivesAnEmptyDetailUntilItOpens) {
  FDorms->Open();
  EXPECT_TRUE(FDorms->IsEmpty());
  FFacility->Open();  // the master opening brings the detail its rows
  EXPECT_EQ(Column(*FDorms, "DORMCODE"), (std::vector<std::string>{"A", "B"}));
}

TEST_F(MasterDetailDbTest, AnEditingDetailDoesNotFollow) {
  FFacility->Open();
  FDorms->Open();
  FDorms->Edit();
  std::size_t mark = FServer->Mark();
  FFacility->Next();
  EXPECT_EQ(FDorms->State(), TDataSetState::dsEdit);
  EXPECT_EQ(FDorms->FieldByName("FACILITYID").AsString(), "MAIN");
  if (FServer->HasLog()) {
    EXPECT_TRUE(FServer->SqlSince(mark).empty());
  }
}

TEST_F(MasterDetailDbTest, DatasetsLinkedInACircleSettle) {
  TDataSource cellSource(nullptr);
  cellSource.SetDataSet(FCells.get());
  Link(*FDorms, cellSource, "FACILITYID;DORMCODE");  // dorms follow cells, cells follow dorms
  FDorms->Open();
  FCells->Open();
  FCells->Next();
  EXPECT_TRUE(FDorms->Active());
  EXPECT_TRUE(FCells->Active());
}

}  // namespace
}  // namespace bunkmere::testing
