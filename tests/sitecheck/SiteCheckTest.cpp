// bunkmere-sitecheck as a site administrator runs it: installed in the family's layout, with a
// site file beside the application folder, against a private stand-in. Each broken site gives
// its exit code and names the step where Bunkmere's road ends; no password is ever printed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dataaccess/MSConnection.h"
#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"
#include "tests/ClosedPort.h"
#include "tests/SilentPort.h"

namespace {

namespace fs = std::filesystem;
using bunkmere::testing::TClosedPort;
using bunkmere::testing::TSilentPort;
using standin::testing::StandinServer;

constexpr const char* kSitePassword = "Site#Pw-7781";
constexpr const char* kWrongPassword = "Wrong#Pw-5523";
constexpr const char* kProgramPassword = "Prog#Pw-9904";

// One database per kind of site; the program library of each says what the name says.
constexpr const char* kSites = R"(CREATE DATABASE JAIL
GO
CREATE DATABASE NOTABLE
GO
CREATE DATABASE NOROW
GO
CREATE DATABASE EMPTYROW
GO
CREATE DATABASE BADPROG
GO
CREATE DATABASE COMPACT
GO
USE JAIL
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NOT NULL, ConnString VARCHAR(255),
  HelpFile VARCHAR(255), LogFile VARCHAR(255), UseInitial BIT)
GO
INSERT INTO ConnectLib VALUES ('JAIL', NULL, NULL, NULL, 1)
GO
USE NOROW
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NOT NULL, ConnString VARCHAR(255),
  HelpFile VARCHAR(255), LogFile VARCHAR(255), UseInitial BIT)
GO
INSERT INTO ConnectLib VALUES ('ACCT', 'Data Source=acct', NULL, NULL, 0)
GO
USE EMPTYROW
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NOT NULL, ConnString VARCHAR(255),
  HelpFile VARCHAR(255), LogFile VARCHAR(255), UseInitial BIT)
GO
INSERT INTO ConnectLib VALUES ('JAIL', NULL, NULL, NULL, 0)
GO
USE BADPROG
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NOT NULL, ConnString VARCHAR(255),
  HelpFile VARCHAR(255), LogFile VARCHAR(255), UseInitial BIT)
GO
USE COMPACT
GO
CREATE TABLE ConnectLib (ProgramID VARCHAR(20) NOT NULL, ConnString VARCHAR(255),
  HelpFile VARCHAR(255), LogFile VARCHAR(255), UseInitial BIT)
GO
INSERT INTO ConnectLib VALUES ('JAIL',
  'Provider=MICROSOFT.SQLSERVER.MOBILE.OLEDB.4.0;Data Source=jail.sdf', NULL, NULL, 0)
GO
)";

struct ToolRun {
  int exit_code = -1;
  std::string output;
};

class SiteCheck : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!StandinServer::Available()) return;
    standin::testing::StandinOptions options;
    options.initScript = kSites;
    options.password = kSitePassword;
    // A suite whose set-up throws has its tests reported as skipped: the failure is kept and
    // each test fails with it instead.
    try {
      FServer = new StandinServer(options);
      // The program string names the server's port, known only now.
      bunkmere::TMSConnection connection(nullptr);
      connection.SetConnectString(SiteString("BADPROG", kSitePassword));
      connection.ExecSQL("INSERT INTO ConnectLib VALUES ('JAIL', '" +
                         SiteString("JAIL", kProgramPassword) + "', NULL, NULL, 0)");
    } catch (const std::exception& e) {
      FStartFailure = e.what();
      return;
    }

    // The family's layout: the tool in an application folder under VELTRANE.APP, the site
    // file in Veltrane.Cfg beside it.
    FRoot = fs::temp_directory_path() / ("bunkmere-sitecheck-" + std::to_string(getpid()));
    fs::create_directories(FRoot / "VELTRANE.APP" / "Bunkmere");
    FTool = FRoot / "VELTRANE.APP" / "Bunkmere" / "bunkmere-sitecheck";
    fs::copy_file(BUNKMERE_SITECHECK_EXE, FTool, fs::copy_options::overwrite_existing);
  }
  static void TearDownTestSuite() {
    delete FServer;
    FServer = nullptr;
    fs::remove_all(FRoot);
  }
  void SetUp() override {
    if (!FStartFailure.empty()) FAIL() << FStartFailure;
    if (FServer == nullptr) BUNKMERE_CANNOT_RUN("sqlstandin is not built");
    fs::remove_all(FRoot / "Veltrane.Cfg");
  }

  static std::string SiteString(const std::string& ADatabase, const std::string& APassword,
                                int APort = 0) {
    return "Data Source=127.0.0.1," + std::to_string(APort != 0 ? APort : FServer->Port()) +
           ";Initial Catalog=" + ADatabase + ";User ID=sa;Password=" + APassword;
  }
  static void WriteSiteFile(const std::string& AText) {
    fs::create_directories(FRoot / "Veltrane.Cfg");
    std::ofstream(FRoot / "Veltrane.Cfg" / "Veltrane.ini") << AText;
  }
  static ToolRun RunTool() {
    ToolRun run;
    const std::string command = "cd '" + FRoot.string() + "' && '" + FTool.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    std::size_t n;
    while (pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
      run.output.append(buffer, n);
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    return run;
  }

  static StandinServer* FServer;
  static std::string FStartFailure;
  static fs::path FRoot;
  static fs::path FTool;
};

StandinServer* SiteCheck::FServer = nullptr;
std::string SiteCheck::FStartFailure;
fs::path SiteCheck::FRoot;
fs::path SiteCheck::FTool;

struct SiteCase {
  const char* name;
  // The site file; "{site}" stands for a connection string to database JAIL with the right
  // password. Null: no site file at all.
  const char* site_file;
  int exit_code;
  const char* result;  // the report's closing line begins with it
  const char* detail;  // and the report says this somewhere
};
void PrintTo(const SiteCase& c, std::ostream* os) {
  *os << c.name;
}

class SiteCheckCases : public SiteCheck, public testing::WithParamInterface<SiteCase> {};

std::string Expand(std::string AText, const std::string& APlaceholder, const std::string& AValue) {
  for (std::size_t at; (at = AText.find(APlaceholder)) != std::string::npos;)
    AText.replace(at, APlaceholder.size(), AValue);
  return AText;
}

TEST_P(SiteCheckCases, NamesTheFailingStepAndNoPassword) {
  const SiteCase& c = GetParam();
  // Refuses connections for as long as the tool runs; nothing else can take it meanwhile.
  const TClosedPort closed;
  if (c.site_file == nullptr && fs::exists("/Veltrane.Cfg/Veltrane.ini"))
    BUNKMERE_CANNOT_RUN("this machine has a site file of its own");
  if (c.site_file != nullptr) {
    std::string text = c.site_file;
    for (const char* database : {"JAIL", "NOTABLE", "NOROW", "EMPTYROW", "BADPROG", "COMPACT"})
      text = Expand(text, std::string("{") + database + "}", SiteString(database, kSitePassword));
    text = Expand(text, "{wrong}", SiteString("JAIL", kWrongPassword));
    text = Expand(text, "{unreachable}", SiteString("JAIL", kSitePassword, closed.Port()));
    text = Expand(text, "{nohost}",
                  "Data Source=no-such-host.invalid,1433;Initial Catalog=JAIL;User ID=sa;"
                  "Password=" +
                      std::string(kSitePassword));
    WriteSiteFile(text);
  }
  // A port that takes connections and never answers them, for as long as the tool runs.
  std::optional<TSilentPort> silent;
  if (c.site_file != nullptr && std::string(c.site_file).find("{silent}") != std::string::npos) {
    silent.emplace();
    WriteSiteFile(Expand(c.site_file, "{silent}",
                         SiteString("JAIL", kSitePassword, silent->Port()) + ";Connect Timeout=2"));
  }

  const ToolRun run = RunTool();
  EXPECT_EQ(run.exit_code, c.exit_code) << run.output;
  const std::size_t result = run.output.rfind("\nResult: ");
  ASSERT_NE(result, std::string::npos) << run.output;
  EXPECT_EQ(run.output.substr(result + 1, std::string(c.result).size()), c.result) << run.output;
  EXPECT_NE(run.output.find(c.detail), std::string::npos) << run.output;
  for (const char* password : {kSitePassword, kWrongPassword, kProgramPassword})
    EXPECT_EQ(run.output.find(password), std::string::npos) << password << "\n" << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Sites, SiteCheckCases,
    testing::Values(
        SiteCase{"GoodSite", "[DataProvider]\nConnStr={JAIL}\n", 0,
                 "Result: OK, Bunkmere would start and connect.", "server: SQLSTANDIN"},
        SiteCase{"NoSiteFile", nullptr, 2, "Result: FAILED at step 1, site file",
                 "Veltrane.ini not found."},
        SiteCase{"NoConnStr", "[Paths]\nHelpPath=/srv/help\n", 3,
                 "Result: FAILED at step 2, site settings",
                 "Database connection information not found in "},
        SiteCase{"UnreadableConnStr", "[DataProvider]\nConnStr=Data Source=a:b;Password=x\n", 3,
                 "Result: FAILED at step 2, site settings",
                 "ConnStr cannot be read: Invalid character ':'"},
        SiteCase{"ServerUnreachable", "[DataProvider]\nConnStr={unreachable}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL",
                 "(database JAIL): the server did not answer (connection refused)"},
        SiteCase{"ServerSilent", "[DataProvider]\nConnStr={silent}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL",
                 "(database JAIL): the server did not answer within the login time-out"},
        SiteCase{"ServerNameUnknown", "[DataProvider]\nConnStr={nohost}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL",
                 "Cannot connect to SQL Server no-such-host.invalid,1433 (database JAIL): the "
                 "server's name is not known (no such host)"},
        SiteCase{"LoginRefused", "[DataProvider]\nConnStr={wrong}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL",
                 "Login failed for user 'sa'"},
        SiteCase{"NoConnectLibTable", "[DataProvider]\nConnStr={NOTABLE}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL",
                 "Invalid object name 'ConnectLib'"},
        SiteCase{"NoJailRow", "[DataProvider]\nConnStr={NOROW}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL", "programs listed: ACCT"},
        SiteCase{"JailRowWithoutString", "[DataProvider]\nConnStr={EMPTYROW}\n", 4,
                 "Result: FAILED at step 3, program library row for JAIL",
                 "empty connection string"},
        SiteCase{"ProgramProviderNotInstalled", "[DataProvider]\nConnStr={COMPACT}\n", 5,
                 "Result: FAILED at step 4, ODBC driver", "Required provider is not installed"},
        SiteCase{"ProgramStringCannotConnect", "[DataProvider]\nConnStr={BADPROG}\n", 6,
                 "Result: FAILED at step 5, connection", "Login failed for user 'sa'"}));

// The report walks the whole road in order on a good site, so an administrator can compare it
// with a broken one line by line.
// The one property that matters: what the site check prints is the same, byte for byte, when
// only the password in the site file differs, however the file is broken around it.
TEST_F(SiteCheck, NothingPrintedDependsOnThePassword) {
  if (fs::exists("/Veltrane.Cfg/Veltrane.ini")) BUNKMERE_CANNOT_RUN("this machine has a site file");
  const TClosedPort closed;
  const std::string server = closed.Server();
  struct Case {
    std::string ConnStr;  // "{}" stands for the password
    const char* First;
    const char* Second;
  } cases[] = {
      {"Data Source=\"" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "Secr3t",
       "an0ther-pw"},
      {"Data Source=" + server + ";Initial Catalog=\"JAIL;User ID=sa;Password={}", "Secr3t",
       "an0ther-pw"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa\";Password={}", "Secr3t",
       "an0ther-pw"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password=\"{}", "Secr3t",
       "an0ther-pw"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}\"", "Secr3t",
       "an0ther-pw"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "pa;ss",
       "xyz;zzzz"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "a=b;c",
       "dd=e;fff"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "p\"w}", "q}\"ww"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "database", "x"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "Data", "server"},
      {"Data Source=" + server + ";Initial Catalog=JAIL;User ID=sa;Password={}", "e", "Jail"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ConnStr + " / " + c.First);
    std::string outputs[2];
    int codes[2] = {};
    for (int k = 0; k < 2; ++k) {
      std::string text = c.ConnStr;
      text.replace(text.find("{}"), 2, k == 0 ? c.First : c.Second);
      WriteSiteFile("[DataProvider]\nConnStr=" + text + "\n");
      const ToolRun run = RunTool();
      outputs[k] = run.output;
      codes[k] = run.exit_code;
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(codes[0], codes[1]);
    EXPECT_NE(codes[0], 0);
  }
}

// A site file in a folder every user can write may have been planted there, with a server of
// someone else's that collects the next login: it is passed over, and the report says why.
TEST_F(SiteCheck, ASiteFileInAFolderOthersCanWriteIsSkipped) {
  if (fs::exists("/Veltrane.Cfg/Veltrane.ini")) BUNKMERE_CANNOT_RUN("this machine has a site file");
  WriteSiteFile("[DataProvider]\nConnStr=" + SiteString("JAIL", kSitePassword) + "\n");
  const fs::path folder = FRoot / "Veltrane.Cfg";
  fs::permissions(folder, fs::perms::all);
  const ToolRun run = RunTool();
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(run.exit_code, 2) << run.output;
  EXPECT_NE(run.output.find("found, skipped: folder " + folder.string() +
                            " can be written by every user"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Veltrane.ini not found."), std::string::npos) << run.output;
}

TEST_F(SiteCheck, GoodSiteReportsEveryStepInOrder) {
  WriteSiteFile("[DataProvider]\nConnStr=" + SiteString("JAIL", kSitePassword) + "\n");
  const ToolRun run = RunTool();
  ASSERT_EQ(run.exit_code, 0) << run.output;
  std::size_t at = 0;
  for (const std::string& expected :
       {(FRoot / "Veltrane.Cfg" / "Veltrane.ini").string() + ": found, used",
        std::string("[DataProvider] ConnStr: Data Source=127.0.0.1,") +
            std::to_string(FServer->Port()) + ";Initial Catalog=JAIL;User ID=sa;Password=****",
        std::string("UseInitial set"), std::string("chosen: "),
        std::string("connected, database JAIL"), std::string("version: Microsoft SQL Server")}) {
    const std::size_t found = run.output.find(expected, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << expected << "\n"
                                        << run.output;
    at = found;
  }
}

// Both connections' security is reported: the driver, what was asked, what was negotiated and
// the certificate, with a warning (not a failure) and the setting to add when data may travel
// unencrypted or unvalidated. The JAIL row uses the site file's string, so both say the same.
TEST_F(SiteCheck, ReportsTheSecurityOfBothConnections) {
  struct TCase {
    const char* Name;
    const char* Site;  // appended to the site file's connection string; "{ca}": the test CA
    int ExitCode;
    std::vector<std::string> Expected;  // in this order
    const char* SiteWarning;            // in the site connection's lines; empty: none there
  };
  const TCase cases[] = {
      {"not asked",
       "",
       0,
       {"security of the site connection ([DataProvider] ConnStr):", "  driver: FreeTDS 1.",
        "  asked: encryption not asked", "  certificate: not validated",
        "add Encrypt=True to [DataProvider] ConnStr in",
        "security of the program connection (JAIL):", "  negotiated: "},
       "WARNING: booking data may cross the network unencrypted"},
      {"asked and validated",
       ";Encrypt=True;CA File={ca}",
       0,
       {"  asked: Encrypt=True: everything encrypted, certificate validated",
        "  negotiated: by the settings, everything encrypted",
        "  certificate: validated against the authorities in",
        "security of the program connection (JAIL):", "  driver: FreeTDS 1.", "(reports version ",
        "  certificate: validated against the authorities in", "Result: OK"},
       ""},
      {"asked, not validated",
       ";Encrypt=True;TrustServerCertificate=True",
       0,
       {"  certificate: not validated (TrustServerCertificate=True)",
        "WARNING: the server's certificate is not validated",
        "Remove TrustServerCertificate=True from [DataProvider] ConnStr"},
       "WARNING: the server's certificate is not validated"},
      {"asked, authority not trusted",
       ";Encrypt=True",
       4,
       {"Result: FAILED at step 3",
        "certificate could not be validated against the system's trusted authorities for the "
        "name 127.0.0.1",
        "add TrustServerCertificate=True to the site file"},
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string site = c.Site;
    if (std::size_t at = site.find("{ca}"); at != std::string::npos)
      site.replace(at, 4, "\"" + StandinServer::CaFile() + "\"");
    WriteSiteFile("[DataProvider]\nConnStr=" + SiteString("JAIL", kSitePassword) + site + "\n");
    const ToolRun run = RunTool();
    EXPECT_EQ(run.exit_code, c.ExitCode) << run.output;
    std::size_t at = 0;
    for (const std::string& expected : c.Expected) {
      const std::size_t found = run.output.find(expected, at);
      ASSERT_NE(found, std::string::npos) << "missing or out of order: " << expected << "\n"
                                          << run.output;
      at = found;
    }
    const std::size_t siteStart = run.output.find("security of the site connection");
    const std::size_t siteEnd = run.output.find("\n4. ", siteStart);
    if (siteStart != std::string::npos) {
      const std::string siteLines = run.output.substr(siteStart, siteEnd - siteStart);
      if (*c.SiteWarning == '\0') {
        EXPECT_EQ(siteLines.find("WARNING"), std::string::npos) << siteLines;
      } else {
        EXPECT_NE(siteLines.find(c.SiteWarning), std::string::npos) << siteLines;
      }
    }
    EXPECT_EQ(run.output.find(kSitePassword), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(kProgramPassword), std::string::npos) << run.output;
  }
}

}  // namespace
