// The occupancy a pass reports, set against figures the test works out on its own: by hand for
// a jail built to hold every awkward shape, and from the sample jail's rows read back over the
// test's own connection. The page is then read in a real headless browser and the summary
// checked against its schema.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/BunkmereMain.h"
#include "app/Occupancy.h"
#include "app/OccupancyHtml.h"
#include "app/OccupancyJson.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailQuery.h"

namespace bunkmere {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Three facilities: North with a dorm of awkward cells and a dorm without cells; one without
// dorms; one whose name is markup. Cell 10 allows 2 and holds 3, all on bed A (a released
// booking on bed B); cell 20 has a NULL allowance, one booking and no bed; cell 30 may hold
// more than its 1 and holds 2; cell 50 is empty.
const char* const kBuiltJail =
    "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'North'), ('F2', 'Empty "
    "wing'), ('F3', '<script>alert(1)</script>')\n"
    "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1'), ('F1', 'D2'), ('F3', "
    "'X1')\n"
    "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) VALUES "
    "('D1', 'F1', 10, 0, 2, 0, 'C-10'), ('D1', 'F1', 20, NULL, NULL, NULL, 'C-20'), "
    "('D1', 'F1', 30, 1, 1, 0, 'C-30'), ('D1', 'F1', 50, 0, 2, 0, 'C-50'), "
    "('X1', 'F3', 40, 0, 2, 0, 'C-40')\n"
    "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', 1), "
    "(10, 2, 'B', 1), (30, 1, 'A', NULL), (40, 1, 'A', 0)\n"
    "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
    "('B-1', 0, 'F1', 10, '1'), ('B-2', 0, 'F1', 10, '1'), ('B-3', 0, 'F1', 10, '1'), "
    "('B-R', 1, 'F1', 10, '2'), ('B-4', 0, 'F1', 20, NULL), ('B-5', 0, 'F1', 30, '1'), "
    "('B-6', 0, 'F1', 30, '2'), ('B-7', 0, 'F3', 40, '1')\n";

// Cells, beds, occupied, free, shared, people, over allowance, rows changed.
TOccupancyFigures Fig(int C, int B, int O, int F, int S, int P, int V, int R) {
  TOccupancyFigures f;
  f.Cells = C;
  f.Beds = B;
  f.BedsOccupied = O;
  f.BedsFree = F;
  f.BedsShared = S;
  f.People = P;
  f.CellsOverAllowance = V;
  f.RowsChanged = R;
  return f;
}

std::string Show(const TOccupancyFigures& A) {
  std::ostringstream s;
  s << A.Cells << " cells, " << A.Beds << " beds, " << A.BedsOccupied << " occupied, " << A.BedsFree
    << " free, " << A.BedsShared << " shared, " << A.People << " people, " << A.CellsOverAllowance
    << " over, " << A.RowsChanged << " changed";
  return s.str();
}

// "F1/D1" -> figures, and "F1" -> the facility's.
std::map<std::string, std::string> ByPlace(const TOccupancyTally& ATally) {
  std::map<std::string, std::string> out;
  for (const TFacilityOccupancy& f : ATally.Facilities()) {
    out[f.Id] = Show(f.Figures);
    for (const TDormOccupancy& d : f.Dorms) out[f.Id + "/" + d.Code] = Show(d.Figures);
  }
  return out;
}

Lines SplitString(const std::string& A, char ADelimiter) {
  Lines out(1);
  for (const char c : A)
    if (c == ADelimiter)
      out.emplace_back();
    else
      out.back() += c;
  return out;
}

std::string Trimmed(std::string A) {
  while (!A.empty() && A.back() == ' ') A.pop_back();
  return A;
}

TEST(Occupancy, FiguresOfABuiltJailMatchTheRowsByHand) {
  testing::JailFixture jail(kBuiltJail);
  jail.PressStart();
  ASSERT_EQ(jail.Boxes().Texts(), Lines{"Cell Synchronization Completed"});
  const TOccupancyTally& tally = jail.Window().Occupancy();
  EXPECT_EQ(tally.Outcome(), TPassOutcome::Completed);
  EXPECT_FALSE(tally.Partial());
  // FACILITYID is CHAR(10): the pass reads it padded.
  std::map<std::string, std::string> expected = {
      {"F1", Show(Fig(4, 3, 2, 1, 1, 6, 2, 3))},    {"F1/D1", Show(Fig(4, 3, 2, 1, 1, 6, 2, 3))},
      {"F1/D2", Show(Fig(0, 0, 0, 0, 0, 0, 0, 0))}, {"F2", Show(Fig(0, 0, 0, 0, 0, 0, 0, 0))},
      {"F3", Show(Fig(1, 1, 1, 0, 0, 1, 0, 1))},    {"F3/X1", Show(Fig(1, 1, 1, 0, 0, 1, 0, 1))},
  };
  std::map<std::string, std::string> got;
  for (const auto& [place, figures] : ByPlace(tally)) {
    const std::size_t slash = place.find('/');
    got[slash == std::string::npos ? Trimmed(place)
                                   : Trimmed(place.substr(0, slash)) + place.substr(slash)] =
        figures;
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(Show(tally.Totals()), Show(Fig(5, 4, 3, 1, 1, 7, 2, 4)));

  // The conflicts as the log has them: each line and the booking numbers listed under it.
  Lines fromTally;
  for (const TOccupancyConflict& c : tally.Conflicts()) {
    fromTally.push_back(c.LogLine);
    for (const std::string& b : c.BookNos) fromTally.push_back(" " + b);
  }
  Lines fromLog;
  for (const std::string& line : jail.Log())
    if (line.starts_with("Facility :") || line.starts_with(" ")) fromLog.push_back(line);
  EXPECT_EQ(fromTally, fromLog);
  EXPECT_EQ(tally.Conflicts().size(), 3u);

  // Every change the tally holds is one the server now shows.
  Lines changes;
  for (const TOccupancyChange& c : tally.Changes())
    for (const auto& col : c.Change.Columns)
      changes.push_back(c.Change.Table + " " + c.Change.Key + " " + col.Name + " " + col.Now +
                        " -> " + col.Would);
  EXPECT_EQ(changes, (Lines{"CFGBED 1 AVAILABLE True -> False", "CFGCELL 3 ONCELL 0 -> 2",
                            "CFGCELL 3 ALLOW 1 -> 0", "CFGBED 3 AVAILABLE NULL -> False",
                            "CFGCELL 5 ONCELL 0 -> 1"}));
  EXPECT_EQ(jail.Query("SELECT UniqueKey, ONCELL, ALLOW FROM CFGCELL WHERE UniqueKey IN (3, 5) "
                       "ORDER BY UniqueKey"),
            (Lines{"3|2|0", "5|1|2"}));
}

// The figures on the sample jail, worked out from its rows as read before the pass: a cell
// counts the current bookings of its facility and key, a bed those on its number too.
TEST(Occupancy, FiguresOfTheSampleJailMatchItsRows) {
  std::ifstream in(std::string(BUNKMERE_SAMPLE_DIR) + "/jail.sql", std::ios::binary);
  std::stringstream script;
  script << in.rdbuf();
  auto jail = testing::JailFixture::FromScript(script.str());

  struct TBooking {
    std::string Facility, CellKey, Bed;
  };
  std::vector<TBooking> bookings;
  for (const std::string& row :
       jail->Query("SELECT FACICODE, CELLKEY, BED FROM DETENTIA WHERE NAMERELEAS = 0")) {
    const auto parts = SplitString(row, '|');
    bookings.push_back({Trimmed(parts[0]), parts[1], Trimmed(parts[2])});
  }
  std::map<std::string, TOccupancyFigures> expected;  // by facility id
  TOccupancyFigures total;
  for (const std::string& facilityRow : jail->Query("SELECT FACILITYID FROM CFGFACI")) {
    const std::string facility = Trimmed(facilityRow);
    const std::string quoted = "'" + std::regex_replace(facility, std::regex("'"), "''") + "'";
    TOccupancyFigures& f = expected[facility];
    for (const std::string& dorm :
         jail->Query("SELECT DORMCODE FROM CFGDORMS WHERE FACILITYID = " + quoted)) {
      for (const std::string& cell : jail->Query(
               "SELECT CELLKEY, ALLOW, ALLOWMANY FROM CFGCELL WHERE FACILITYID = " + quoted +
               " AND DORMCODE = '" + std::regex_replace(dorm, std::regex("'"), "''") + "'")) {
        const auto c = SplitString(cell, '|');
        int n = 0;
        for (const TBooking& b : bookings) n += b.Facility == facility && b.CellKey == c[0];
        const int allow = c[1] == "NULL" ? 0 : std::stoi(c[1]);
        ++f.Cells;
        f.People += n;
        f.CellsOverAllowance += n >= 1 && n > allow && c[2] != "True";
        for (const std::string& bed :
             jail->Query("SELECT BEDNO FROM CFGBED WHERE CELLKEY = " + c[0])) {
          int m = 0;
          for (const TBooking& b : bookings)
            m += b.Facility == facility && b.CellKey == c[0] && b.Bed == bed;
          ++f.Beds;
          f.BedsOccupied += m >= 1;
          f.BedsFree += m == 0;
          f.BedsShared += m >= 2;
        }
      }
    }
  }
  jail->PressStart();
  ASSERT_EQ(jail->Boxes().Texts(), Lines{"Cell Synchronization Completed"});
  const TOccupancyTally& tally = jail->Window().Occupancy();
  std::map<std::string, std::string> want, got;
  for (auto& [id, f] : expected) {
    total += f;
    want[id] = Show(f);
  }
  for (const TFacilityOccupancy& f : tally.Facilities()) {
    TOccupancyFigures withoutChanges = f.Figures;
    withoutChanges.RowsChanged = 0;
    got[Trimmed(f.Id)] = Show(withoutChanges);
  }
  EXPECT_EQ(got, want);
  EXPECT_GT(total.Beds, 0);
  // Rows changed: the changes the pass reported, which the window tells its watchers too.
  EXPECT_EQ(tally.Totals().RowsChanged, static_cast<int>(tally.Changes().size()));
}

// Another program holds cell 30: the pass stops there, and the report covers cells 10 and 20
// with the beds of cell 10, nothing of cell 30 or after it.
TEST(Occupancy, APassStoppedAtAHeldRowIsPartialAndCoversTheRowsReached) {
  testing::JailFixture jail(kBuiltJail);
  const std::string lock = "[tempdb].[dbo].[##LOCK-JAIL.CFGCELL.3]";
  auto holder = testing::JailConnection(jail.Server());
  holder->ExecSQL("CREATE TABLE " + lock +
                  " (DatabaseName VARCHAR(30), TableName VARCHAR(100), UniqueKey VARCHAR(22), "
                  "ComputerName VARCHAR(30), UserName VARCHAR(30), ProgramName VARCHAR(30), "
                  "TimeLocked DateTime)");
  holder->ExecSQL("INSERT INTO " + lock +
                  " VALUES ('JAIL', 'CFGCELL', '3', 'FRONTDESK', 'clerk', 'Intake.exe', "
                  "'2026-12-10 03:15:00')");
  jail.PressStart();
  ASSERT_EQ(jail.Boxes().Texts().size(), 2u);
  const TOccupancyTally& tally = jail.Window().Occupancy();
  EXPECT_EQ(tally.Outcome(), TPassOutcome::Held);
  EXPECT_TRUE(tally.Partial());
  ASSERT_EQ(tally.Facilities().size(), 1u);
  EXPECT_EQ(Show(tally.Totals()), Show(Fig(2, 2, 1, 1, 1, 4, 2, 1)));
  EXPECT_EQ(tally.Conflicts().size(), 3u);
  const std::string html = OccupancyHtml(tally);
  EXPECT_NE(html.find("id=\"partial\""), std::string::npos);
  const std::string json = OccupancyJson(tally);
  EXPECT_NE(json.find("\"partial\": true"), std::string::npos);
  EXPECT_NE(json.find("\"outcome\": \"held\""), std::string::npos);
}

// Values from the database reach the page as text whatever they hold, and malformed text
// reaches it as U+FFFD rather than as bytes that would break the page's UTF-8.
TEST(Occupancy, HtmlEscapesEveryValue) {
  struct Case {
    const char* In;
    const char* Out;
  } cases[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"O'Neil & \"Annex\"", "O&#39;Neil &amp; &quot;Annex&quot;"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"caf\xe9", "caf\xef\xbf\xbd"},
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlEscape(c.In), c.Out) << c.In;
}

// --- In a browser ---------------------------------------------------------------------------

// Accepts every connection and refuses it, noting the request line: the browser's proxy, so
// that any request leaving it is seen here.
class TRefusingProxy {
 public:
  TRefusingProxy() {
    FSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(FSocket, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    listen(FSocket, 16);
    FThread = std::thread([this] {
      for (;;) {
        const int c = accept(FSocket, nullptr, nullptr);
        if (c < 0 || FStop) {
          if (c >= 0) close(c);
          return;
        }
        char buffer[512] = {};
        const ssize_t n = recv(c, buffer, sizeof buffer - 1, 0);
        close(c);
        std::lock_guard lock(FMutex);
        FRequests.push_back(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0));
      }
    });
  }
  ~TRefusingProxy() {
    FStop = true;
    shutdown(FSocket, SHUT_RDWR);
    close(FSocket);
    FThread.join();
  }
  int Port() const { return FPort; }
  Lines Requests() {
    std::lock_guard lock(FMutex);
    return FRequests;
  }

 private:
  int FSocket = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::mutex FMutex;
  Lines FRequests;
  std::thread FThread;
};

// The requests the browser makes for itself (its clock, its updates, its account service),
// whatever page it shows, and the connections it opens to the proxy ahead of need and closes
// unused: a fetch always sends its request line.
bool BrowserOwn(const std::string& ARequest) {
  if (ARequest.empty()) return true;
  static const std::regex own(
      R"(^(GET|POST|CONNECT) (http://)?(clients2\.google\.com/time/|update\.googleapis\.com[:/]|accounts\.google\.com:443 ))");
  return std::regex_search(ARequest, own);
}

std::string ReadAll(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TBrowserRun {
  int Status = -1;
  std::string Out, Err;
};

TBrowserRun RunChromium(const fs::path& AFolder, int AProxyPort, const std::string& AWhat,
                        const fs::path& APage) {
  const std::string command =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--disable-extensions --hide-scrollbars --enable-logging=stderr --v=0 "
      "--proxy-server=http://127.0.0.1:" +
      std::to_string(AProxyPort) + " --proxy-bypass-list='<-loopback>' --user-data-dir='" +
      (AFolder / "profile").string() + "' " + AWhat + " 'file://" + APage.string() + "' >'" +
      (AFolder / "out.txt").string() + "' 2>'" + (AFolder / "err.txt").string() + "'";
  TBrowserRun run;
  run.Status = std::system(command.c_str());
  run.Out = ReadAll(AFolder / "out.txt");
  run.Err = ReadAll(AFolder / "err.txt");
  return run;
}

// The figures of the table with id AId as the page shows them: data-figure name to number.
std::map<std::string, int> TableFigures(const std::string& ADom, const std::string& AId) {
  std::map<std::string, int> out;
  const std::size_t start = ADom.find("<table id=\"" + AId + "\"");
  if (start == std::string::npos) return out;
  const std::string table = ADom.substr(start, ADom.find("</table>", start) - start);
  static const std::regex cell(R"re(data-figure="([a-z_]+)">([0-9]+)<)re");
  for (auto it = std::sregex_iterator(table.begin(), table.end(), cell);
       it != std::sregex_iterator(); ++it)
    out[(*it)[1]] = std::stoi((*it)[2]);
  return out;
}

TEST(Occupancy, ThePageReadsRightInAHeadlessBrowser) {
  ASSERT_EQ(std::system("command -v chromium >/dev/null"), 0)
      << "chromium is needed (scripts/setup installs it)";
  testing::JailFixture jail(kBuiltJail);
  jail.PressStart();
  const TOccupancyTally& tally = jail.Window().Occupancy();
  const fs::path folder = fs::path(BUNKMERE_REPORT_DIR);
  fs::create_directories(folder);
  const fs::path page = folder / "built-jail.html";
  std::ofstream(page, std::ios::binary) << OccupancyHtml(tally);

  TRefusingProxy proxy;
  const TBrowserRun dom = RunChromium(folder, proxy.Port(), "--dump-dom", page);
  ASSERT_EQ(dom.Status, 0) << dom.Err;
  const fs::path shot = folder / "built-jail.png";
  fs::remove(shot);
  const TBrowserRun png = RunChromium(
      folder, proxy.Port(), "--window-size=1100,1800 --screenshot='" + shot.string() + "'", page);
  ASSERT_EQ(png.Status, 0) << png.Err;
  EXPECT_GT(fs::file_size(shot), 10000u);

  for (const std::string& request : proxy.Requests())
    EXPECT_TRUE(BrowserOwn(request)) << "the page made a request: " << request;
  for (const std::string& err : {dom.Err, png.Err})
    EXPECT_EQ(err.find(":CONSOLE"), std::string::npos) << err;

  // The totals and every facility's row, read from the page's own tables.
  const TOccupancyFigures t = tally.Totals();
  const std::map<std::string, int> want = {{"cells", t.Cells},
                                           {"beds", t.Beds},
                                           {"beds_occupied", t.BedsOccupied},
                                           {"beds_free", t.BedsFree},
                                           {"people", t.People},
                                           {"cells_over_allowance", t.CellsOverAllowance},
                                           {"beds_shared", t.BedsShared},
                                           {"rows_changed", t.RowsChanged}};
  EXPECT_EQ(TableFigures(dom.Out, "totals"), want);
  EXPECT_EQ(want.at("people"), 7);
  EXPECT_EQ(want.at("beds_occupied"), 3);

  // The facility named with markup is text on the page, not an element.
  EXPECT_EQ(dom.Out.find("<script"), std::string::npos);
  EXPECT_NE(dom.Out.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
}

TEST(Occupancy, TheSummaryValidatesAgainstItsSchema) {
  ASSERT_EQ(std::system("python3 -c 'import jsonschema' 2>/dev/null"), 0)
      << "python3-jsonschema is needed (scripts/setup installs it)";
  testing::JailFixture jail(kBuiltJail);
  jail.PressStart();
  const fs::path folder = fs::path(BUNKMERE_REPORT_DIR);
  fs::create_directories(folder);
  const std::string json = OccupancyJson(jail.Window().Occupancy());
  struct Case {
    const char* Name;
    std::string Document;
    bool Valid;
  } cases[] = {
      {"summary", json, true},
      // The schema holds the reader to its promises: a count that is not one fails it.
      {"negative count",
       std::regex_replace(json, std::regex("\"cells\": 5,"), "\"cells\": -5,",
                          std::regex_constants::format_first_only),
       false},
      {"missing outcome", std::regex_replace(json, std::regex("  \"outcome\": \"[a-z]+\",\n"), ""),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_NE(c.Document, c.Valid ? "" : json);
    const fs::path file = folder / "summary-check.json";
    std::ofstream(file, std::ios::binary) << c.Document;
    const std::string command =
        "python3 -c 'import json, sys, jsonschema; "
        "jsonschema.validate(json.load(open(sys.argv[1])), "
        "json.load(open(sys.argv[2])))' '" +
        file.string() + "' '" + BUNKMERE_OCCUPANCY_SCHEMA + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()) == 0, c.Valid);
  }
}

}  // namespace
}  // namespace bunkmere

namespace bunkmere {
namespace {

// Whatever a facility's text holds, a JSON reader gets it back as the page shows it: quotes,
// back-slashes and control characters escaped, malformed bytes as U+FFFD.
TEST(Occupancy, TheSummaryCarriesAnyTextToAJsonReader) {
  struct Case {
    const char* In;
    const char* Read;  // as Python's json module reads it back, in UTF-8
  } cases[] = {
      {"say \"hi\" \\ bye", "say \"hi\" \\ bye"},
      {"tab\there\nline\x01", "tab\there\nline\x01"},
      {"</script><b>", "</script><b>"},
      {"caf\xc3\xa9 \xce\xa9", "caf\xc3\xa9 \xce\xa9"},
      {"caf\xe9", "caf\xef\xbf\xbd"},
  };
  const fs::path folder = fs::path(BUNKMERE_REPORT_DIR);
  fs::create_directories(folder);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.In);
    TOccupancyTally tally;
    tally.Start(0, "WS", false);
    tally.Facility("F1", c.In);
    tally.Finish(TPassOutcome::Completed);
    const fs::path in = folder / "text-check.json", out = folder / "text-check.txt";
    std::ofstream(in, std::ios::binary) << OccupancyJson(tally);
    const std::string command =
        "python3 -c 'import json, sys; sys.stdout.buffer.write(json.load(open(sys.argv[1], "
        "encoding=\"utf-8\"))[\"facilities\"][0][\"description\"].encode(\"utf-8\"))' '" +
        in.string() + "' >'" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadAll(out), c.Read);
  }
}

}  // namespace
}  // namespace bunkmere
