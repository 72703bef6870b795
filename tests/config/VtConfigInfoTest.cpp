// The program library lookups against a real server process (the stand-in), reading back the
// SQL that reached it.
#include "config/VtConfigInfo.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"
#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"

namespace bunkmere {
namespace {

using standin::testing::StandinServer;

constexpr const char* kLibrary = R"(CREATE DATABASE JAIL
GO
CREATE DATABASE EMPTY
GO
CREATE DATABASE NOHELP
GO
USE JAIL
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20), ConnString VARCHAR(255),
  HelpFile VARCHAR(255), LogFile VARCHAR(255), UseInitial BIT)
GO
INSERT INTO ConnectLib VALUES ('JAIL', 'Data Source=jailsrv;Initial Catalog=JAIL;App=lib', 'H:\jail.chm', 'L:\jail', 0)
INSERT INTO ConnectLib VALUES ('SITE', 'Data Source=ignored', 'ignored', 'ignored', 1)
INSERT INTO ConnectLib VALUES ('NULLS', NULL, NULL, NULL, NULL)
INSERT INTO ConnectLib VALUES ('EMPTY', '', '', '', 0)
INSERT INTO ConnectLib VALUES ('O''Brien', 'Data Source=quoted', 'q.chm', 'q', 0)
INSERT INTO ConnectLib VALUES ('TWICE', 'Data Source=first', 'first', 'first', 0)
INSERT INTO ConnectLib VALUES ('TWICE', 'Data Source=second', 'second', 'second', 0)
GO
USE NOHELP
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20), ConnString VARCHAR(255), UseInitial BIT)
GO
INSERT INTO ConnectLib VALUES ('JAIL', 'Data Source=x', 0)
GO
)";

// One server for the suite: starting it is cheap, but the library never changes.
class ProgramLibrary : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!StandinServer::Available()) return;
    standin::testing::StandinOptions options;
    options.initScript = kLibrary;
    // A suite whose set-up throws has its tests reported as skipped: the failure is kept and
    // each test fails with it instead.
    try {
      FServer = new StandinServer(options);
    } catch (const std::exception& e) {
      FStartFailure = e.what();
    }
  }
  static void TearDownTestSuite() {
    delete FServer;
    FServer = nullptr;
  }

  void SetUp() override {
    if (!FStartFailure.empty()) FAIL() << FStartFailure;
    if (FServer == nullptr) BUNKMERE_CANNOT_RUN("sqlstandin is not built");
    UseSite("JAIL", "");
  }
  void TearDown() override {
    SetLookupErrorPrompt(nullptr);
    if (FServer == nullptr) return;
    // The skip flag outlives components; leave it as the next test expects it.
    UseSite("JAIL", "");
    TVtConfigInfo designed(nullptr);
    designed.SetDesigning(true);
    designed.SetSkipLookups(false);
  }

  // The site file names database ADatabase on the stand-in, with AOverlay in force.
  void UseSite(const std::string& ADatabase, const std::string& AExtra) {
    FPlatform.AddFile("C:\\Veltrane.Cfg\\Veltrane.ini",
                      "[Paths]\r\nHelpPath=site.chm\r\nLogPath=site.log\r\n[DataProvider]\r\n"
                      "ConnStr=" +
                          SiteConnectionString(ADatabase) + AExtra + "\r\n");
  }
  static std::string SiteConnectionString(const std::string& ADatabase) {
    return "Data Source=127.0.0.1," + std::to_string(FServer->Port()) +
           ";Initial Catalog=" + ADatabase + ";User ID=" + FServer->User() +
           ";Password=" + FServer->Password();
  }

  std::size_t LogSize() const { return FServer->Statements().size(); }
  // The statements this system wrote itself (those naming the library) since AFrom.
  std::vector<std::string> LibraryStatementsSince(std::size_t AFrom) const {
    std::vector<std::string> found;
    const auto all = FServer->Statements();
    for (std::size_t i = AFrom; i < all.size(); ++i)
      if (all[i].sql.find("ConnectLib") != std::string::npos) found.push_back(all[i].sql);
    return found;
  }

  static StandinServer* FServer;
  static std::string FStartFailure;
  TFakeWindowsPlatform FPlatform;
  TPlatformOverride FOverride{FPlatform};
};

StandinServer* ProgramLibrary::FServer = nullptr;
std::string ProgramLibrary::FStartFailure;

// A statement as it reaches the server: the dataset's SQL lines each end with CR LF.
std::string Sent(const std::string& AStatement) {
  return AStatement + "\r\n";
}

std::string Outcome(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return "none";
}

TEST_F(ProgramLibrary, ConnectStringOfAProgramWithTheExactStatement) {
  TVtConfigInfo info(nullptr);
  const std::size_t from = LogSize();
  EXPECT_EQ(info.GetConnectString("JAIL"), "Data Source=jailsrv;Initial Catalog=JAIL;App=lib");
  EXPECT_EQ(LibraryStatementsSince(from),
            std::vector<std::string>{Sent("SELECT ConnString, UseInitial FROM ConnectLib "
                                          "(readuncommitted) WHERE ProgramID = 'JAIL'")});
  // The lookup connection leaves the server's own lock wait in force.
  for (const auto& statement : FServer->Statements())
    EXPECT_EQ(statement.sql.find("LOCK_TIMEOUT"), std::string::npos) << statement.sql;
}

TEST_F(ProgramLibrary, HelpAndLogPathsCarryNoOverlay) {
  TVtConfigInfo info(nullptr);
  info.SetConnectionStringOverlay("WSID=over");
  const std::size_t from = LogSize();
  EXPECT_EQ(info.GetHelpPath("JAIL"), "H:\\jail.chm");
  EXPECT_EQ(info.GetLogPath("JAIL"), "L:\\jail");
  EXPECT_EQ(LibraryStatementsSince(from),
            (std::vector<std::string>{
                Sent("SELECT HelpFile, UseInitial FROM ConnectLib (readuncommitted) WHERE "
                     "ProgramID = 'JAIL'"),
                Sent("SELECT LogFile, UseInitial FROM ConnectLib (readuncommitted) WHERE "
                     "ProgramID = 'JAIL'")}));
}

struct LookupCase {
  const char* program;
  const char* overlay;
  std::string connect_string;  // {site} stands for the site file's string with the overlay
  const char* help_path;
  const char* log_path;
};
void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.program << " + " << c.overlay;
}

class ProgramLibraryRows : public ProgramLibrary, public testing::WithParamInterface<LookupCase> {};

TEST_P(ProgramLibraryRows, AnswerByTheRow) {
  const LookupCase& c = GetParam();
  TVtConfigInfo info(nullptr);
  info.SetConnectionStringOverlay(c.overlay);
  std::string expected = c.connect_string;
  if (expected == "{site}")
    expected = TVeltraneIni::ApplyConnectionStringOverlay(SiteConnectionString("JAIL"), c.overlay);
  EXPECT_EQ(info.GetConnectString(c.program), expected);
  EXPECT_EQ(info.GetHelpPath(c.program), c.help_path);
  EXPECT_EQ(info.GetLogPath(c.program), c.log_path);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgramLibraryRows,
    testing::Values(LookupCase{"JAIL", "App=;Workstation ID=ws",
                               "Data Source=jailsrv;Initial Catalog=JAIL;Workstation ID=ws",
                               "H:\\jail.chm", "L:\\jail"},
                    // The site file's own values; its string already carries the overlay.
                    LookupCase{"SITE", "", "{site}", "site.chm", "site.log"},
                    LookupCase{"SITE", "WSID=x", "{site}", "site.chm", "site.log"},
                    // A NULL or empty string stays empty: no overlay makes something of nothing.
                    LookupCase{"NULLS", "WSID=x", "", "", ""},
                    LookupCase{"EMPTY", "WSID=x", "", "", ""},
                    LookupCase{"NOBODY", "WSID=x", "", "", ""},
                    // The first row the server returns.
                    LookupCase{"TWICE", "", "Data Source=first", "first", "first"}));

TEST_F(ProgramLibrary, IdentifierReachesTheServerAsOneLiteral) {
  TVtConfigInfo info(nullptr);
  const std::size_t from = LogSize();
  EXPECT_EQ(info.GetConnectString("O'Brien"), "Data Source=quoted");
  // One that tries to break out of the literal finds nothing; a line break stays as it is.
  EXPECT_EQ(info.GetConnectString("x' OR '1'='1"), "");
  EXPECT_EQ(info.GetConnectString("two\nlines"), "");
  EXPECT_EQ(LibraryStatementsSince(from),
            (std::vector<std::string>{
                Sent("SELECT ConnString, UseInitial FROM ConnectLib (readuncommitted) WHERE "
                     "ProgramID = 'O''Brien'"),
                Sent("SELECT ConnString, UseInitial FROM ConnectLib (readuncommitted) WHERE "
                     "ProgramID = 'x'' OR ''1''=''1'"),
                Sent("SELECT ConnString, UseInitial FROM ConnectLib (readuncommitted) WHERE "
                     "ProgramID = 'two\nlines'")}));
}

TEST_F(ProgramLibrary, NoQueryWithoutProgramOrConnectionString) {
  TVtConfigInfo info(nullptr);
  const std::size_t from = LogSize();
  EXPECT_EQ(info.GetConnectString(""), "");
  EXPECT_EQ(info.GetHelpPath(""), "");
  EXPECT_EQ(info.GetLogPath(""), "");
  info.SetOverrideSettings(true);
  info.SetConnectionString("");
  EXPECT_EQ(info.GetConnectString("JAIL"), "");
  EXPECT_EQ(info.GetHelpPath("JAIL"), "");
  EXPECT_EQ(info.GetLogPath("JAIL"), "");
  EXPECT_EQ(LogSize(), from);
}

TEST_F(ProgramLibrary, ProgramListInAscendingOrderReplacesTheList) {
  TVtConfigInfo info(nullptr);
  std::vector<std::string> programs{"stale"};
  const std::size_t from = LogSize();
  info.GetProgramList(programs);
  EXPECT_EQ(programs, (std::vector<std::string>{"EMPTY", "JAIL", "NULLS", "O'Brien", "SITE",
                                                "TWICE", "TWICE"}));
  EXPECT_EQ(LibraryStatementsSince(from),
            std::vector<std::string>{
                Sent("SELECT ProgramID FROM ConnectLib (readuncommitted) ORDER BY ProgramID")});
}

TEST_F(ProgramLibrary, MissingTableOrColumnFailsAtRunTimeWithTheServerError) {
  UseSite("EMPTY", "");
  TVtConfigInfo info(nullptr);
  EXPECT_EQ(Outcome([&] { info.GetConnectString("JAIL"); }),
            "EDatabaseError: Invalid object name 'ConnectLib'.");
  std::vector<std::string> programs{"kept"};
  EXPECT_EQ(Outcome([&] { info.GetProgramList(programs); }),
            "EDatabaseError: Invalid object name 'ConnectLib'.");
  EXPECT_EQ(programs, std::vector<std::string>{"kept"});

  UseSite("NOHELP", "");
  info.Loaded();
  EXPECT_EQ(info.GetConnectString("JAIL"), "Data Source=x");
  EXPECT_EQ(Outcome([&] { info.GetHelpPath("JAIL"); }),
            "EDatabaseError: Invalid column name 'HelpFile'.");
}

TEST_F(ProgramLibrary, LoginFailureFailsAtRunTime) {
  TVtConfigInfo info(nullptr);
  info.SetConnectionStringOverlay("Password=wrong");
  EXPECT_EQ(Outcome([&] { info.GetConnectString("JAIL"); }),
            "EDatabaseError: Login failed for user '" + FServer->User() + "'.");
}

TEST_F(ProgramLibrary, RunTimeIgnoresTheSkipSwitch) {
  TVtConfigInfo info(nullptr);
  info.SetSkipLookups(true);
  EXPECT_FALSE(info.SkipLookups());
  EXPECT_EQ(info.GetConnectString("JAIL"), "Data Source=jailsrv;Initial Catalog=JAIL;App=lib");
}

// In a form designer a failing lookup asks whether to skip similar lookups.
class ProgramLibraryInDesigner : public ProgramLibrary {
 protected:
  void SetUp() override {
    ProgramLibrary::SetUp();
    if (IsSkipped()) return;
    FForm.SetDesigning(true);
    SetLookupErrorPrompt([this](const std::string& AText) {
      FPrompts.push_back(AText);
      return FAnswerYes;
    });
  }

  TComponent FForm{nullptr};
  std::vector<std::string> FPrompts;
  bool FAnswerYes = false;
};

constexpr const char* kMissingTablePrompt =
    "Exception: Invalid object name 'ConnectLib'.\r\n\r\n"
    "Do you want to skip similar lookup operations?";

TEST_F(ProgramLibraryInDesigner, AnsweringNoKeepsAskingTheServer) {
  UseSite("EMPTY", "");
  auto* info = new TVtConfigInfo(&FForm);
  EXPECT_EQ(info->GetConnectString("JAIL"), "");
  EXPECT_EQ(FPrompts, std::vector<std::string>{kMissingTablePrompt});
  EXPECT_FALSE(info->SkipLookups());

  const std::size_t from = LogSize();
  EXPECT_EQ(info->GetHelpPath("JAIL"), "");
  EXPECT_EQ(LibraryStatementsSince(from).size(), 1u);
  EXPECT_EQ(FPrompts.size(), 2u);
}

TEST_F(ProgramLibraryInDesigner, AnsweringYesSkipsEveryLookupUntilSwitchedBack) {
  UseSite("EMPTY", "");
  auto* failing = new TVtConfigInfo(&FForm);
  FAnswerYes = true;
  std::vector<std::string> programs{"kept"};
  failing->GetProgramList(programs);
  EXPECT_EQ(programs, std::vector<std::string>{"kept"});
  ASSERT_EQ(FPrompts, std::vector<std::string>{kMissingTablePrompt});
  EXPECT_TRUE(failing->SkipLookups());

  // Another component in the designer, on a working library, skips too.
  UseSite("JAIL", "");
  auto* other = new TVtConfigInfo(&FForm);
  const std::size_t from = LogSize();
  EXPECT_TRUE(other->SkipLookups());
  EXPECT_EQ(other->GetConnectString("JAIL"), "");
  other->GetProgramList(programs);
  EXPECT_EQ(programs, std::vector<std::string>{"kept"});
  EXPECT_EQ(LogSize(), from);
  // A component at run time is not affected.
  TVtConfigInfo runtime(nullptr);
  EXPECT_FALSE(runtime.SkipLookups());
  EXPECT_EQ(runtime.GetConnectString("JAIL"), "Data Source=jailsrv;Initial Catalog=JAIL;App=lib");

  other->SetSkipLookups(false);
  EXPECT_FALSE(failing->SkipLookups());
  EXPECT_EQ(other->GetConnectString("JAIL"), "Data Source=jailsrv;Initial Catalog=JAIL;App=lib");
}

TEST_F(ProgramLibraryInDesigner, PromptNamesTheBaseClassWhateverTheError) {
  UseSite("NOHELP", "");
  auto* info = new TVtConfigInfo(&FForm);
  EXPECT_EQ(info->GetHelpPath("JAIL"), "");
  EXPECT_EQ(FPrompts, std::vector<std::string>{"Exception: Invalid column name 'HelpFile'.\r\n\r\n"
                                               "Do you want to skip similar lookup operations?"});
}

TEST(VtConfigInfo, VersionIsTheFamilysTwoPointOne) {
  EXPECT_STREQ(TVtConfigInfo::VtVersion(), "2.1");
}

}  // namespace
}  // namespace bunkmere
