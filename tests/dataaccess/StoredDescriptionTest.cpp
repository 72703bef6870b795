// The data access classes as a stored window description creates and sets them.

#include <gtest/gtest.h>

#include "core/Reader.h"
#include "core/Writer.h"
#include "dataaccess/DataAccessClasses.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"

namespace bunkmere {
namespace {

const char* kWindow = R"(object Window: TComponent
  object tblCFGCells: TMSTable
    Connection = dbJail
    MasterSource = DataSource3
    MasterFields = 'FACILITYID;DORMCODE'
    DetailFields = 'FACILITYID;DORMCODE'
    RefreshOptions = [roBeforeEdit]
    Options.QuoteNames = True
    Options.TrimVarChar = True
    TableName = '[CFGCELL]'
  end
  object qryGeneric: TMSQuery
    Connection = dbJail
    SQL.Strings = (
      'SELECT 1'
      'FROM T')
  end
  object tblDorms: TMSTable
    Connection = dbJail
    TableName = 'CFGDORMS'
  end
  object DataSource3: TDataSource
    DataSet = tblDorms
  end
  object dbJail: TMSConnection
    Database = 'JAIL'
    Authentication = auWindows
    Options.Provider = prSQL
    Options.KeepDesignConnected = False
    Server = 'DEVSERVER'
    Connected = True
  end
end
)";

TEST(StoredDescriptionTest, AWindowsDataComponentsAreCreatedLinkedAndLeftClosed) {
  RegisterDataAccessClasses();
  TComponent window(nullptr);
  ReadComponentDescription(window, kWindow);

  auto* db = dynamic_cast<TMSConnection*>(window.FindComponent("dbJail"));
  auto* cells = dynamic_cast<TMSTable*>(window.FindComponent("tblCFGCells"));
  auto* dorms = dynamic_cast<TMSTable*>(window.FindComponent("tblDorms"));
  auto* query = dynamic_cast<TMSQuery*>(window.FindComponent("qryGeneric"));
  ASSERT_TRUE(db && cells && dorms && query);
  EXPECT_EQ(db->Database(), "JAIL");
  EXPECT_EQ(db->Authentication(), TMSAuthentication::auWindows);
  EXPECT_EQ(db->Options().Provider(), TOLEDBProvider::prSQL);
  EXPECT_FALSE(db->Connected());  // stored connected, but not kept connected at run time
  EXPECT_EQ(cells->Connection(), db);
  EXPECT_EQ(cells->TableName(), "CFGCELL");
  EXPECT_TRUE(cells->RefreshOptions().Contains(TRefreshOption::roBeforeEdit));
  EXPECT_TRUE(cells->Options().QuoteNames());
  ASSERT_NE(cells->MasterSource(), nullptr);
  EXPECT_EQ(cells->MasterSource()->DataSet(), dorms);
  EXPECT_EQ(query->SQL().Text(), "SELECT 1\r\nFROM T\r\n");

  // Written back, the description keeps what was set and leaves defaults out.
  std::string written = WriteComponentDescription(window);
  EXPECT_NE(written.find("TableName = 'CFGCELL'"), std::string::npos) << written;
  EXPECT_NE(written.find("Options.Provider = prSQL"), std::string::npos) << written;
  EXPECT_EQ(written.find("FetchRows"), std::string::npos) << written;
}

}  // namespace
}  // namespace bunkmere
