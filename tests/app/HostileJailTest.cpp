// A jail whose every text holds what breaks hand-built SQL and naive logs: quotes, brackets,
// LIKE wildcards, comment and batch markers, blanks at both ends, tabs, Windows-1252 and
// non-Latin letters, NULL wherever a column allows it; keys and allowances at the 32-bit
// limits, negative and zero; bookings without a cell or a bed; two facility identifiers that
// differ only in case, and bookings naming one with trailing blanks. The pass must send each
// value quoted (or bound), log it as read, and write what the cell and bed rules give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "tests/app/JailFixture.h"
#include "tests/app/JailState.h"
#include "tests/app/SiteFolder.h"

namespace bunkmere {
namespace {

using testing::JailFixture;
using Lines = std::vector<std::string>;

// Wider and national text columns than the sample's, and identities at the 32-bit limits, so
// every hostile value fits and row keys reach the ends of their range. {TAB} stands for a tab.
const std::string kHostileJailText = std::string("CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n") +
                                     testing::kProgramLibrary + R"(CREATE TABLE CFGFACI (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FACILITYID CHAR(10) NOT NULL,
  FACILITYdesc NVARCHAR(60) NULL)
CREATE TABLE CFGDORMS (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FACILITYID CHAR(10) NOT NULL,
  DORMCODE NVARCHAR(20) NOT NULL)
CREATE TABLE CFGCELL (
  UniqueKey INT IDENTITY(-2147483648,1) NOT NULL PRIMARY KEY,
  DORMCODE NVARCHAR(20) NOT NULL,
  FACILITYID CHAR(10) NOT NULL,
  CELLKEY INT NOT NULL,
  ALLOWMANY BIT NULL,
  ALLOW INT NULL,
  ONCELL INT NULL,
  CELLNO NVARCHAR(30) NULL)
CREATE TABLE CFGBED (
  UniqueKey INT IDENTITY(2147483644,1) NOT NULL PRIMARY KEY,
  CELLKEY INT NOT NULL,
  BEDNO INT NOT NULL,
  BEDDESC NVARCHAR(40) NULL,
  AVAILABLE BIT NULL)
CREATE TABLE DETENTIA (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  BOOKNO NVARCHAR(30) NOT NULL,
  NAMERELEAS INT NOT NULL,
  FACICODE VARCHAR(12) NULL,
  CELLKEY INT NULL,
  BED VARCHAR(12) NULL,
  CHARGES TEXT NULL)
GO
INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES
  (' é''[%_]--;', N'  Крыло ''Nord'' [A]; 100%_ -- é€{TAB}  '),
  ('x''Y', N'Ünit{TAB}"2"'),
  ('X''y', NULL)
INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES
  (' é''[%_]--;', N' Δ''[;]% '),
  ('x''Y', N'_--')
INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) VALUES
  (N' Δ''[;]% ', ' é''[%_]--;', 2147483647, 0, 2147483647, NULL, N'  №1 ''top''; --{TAB}'),
  (N' Δ''[;]%', ' é''[%_]--;', -2147483648, NULL, -2147483648, 5, NULL),
  (N'_--', 'x''Y', 0, 1, -1, NULL, N'%'),
  (N'_--', 'x''Y', -1, 0, NULL, 7, N'C;4')
INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES
  (2147483647, 2147483647, N'上段 ''A'' [x]', NULL),
  (2147483647, 0, NULL, 0),
  (-2147483648, -2147483648, N' ;--''" ', 1),
  (0, 0, N'{TAB}x', NULL)
INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED, CHARGES) VALUES
  (N' Б''1]; --{TAB}', 0, ' é''[%_]--; ', 2147483647, '2147483647', 'x'),
  (N'日本 "X"', 0, ' é''[%_]--;', 2147483647, '2147483647', NULL),
  (N'no bed', 0, ' é''[%_]--;', 2147483647, NULL, NULL),
  (N'no cell', 0, ' é''[%_]--;', NULL, '0', NULL),
  (N'released', -1, ' é''[%_]--;', 2147483647, '0', NULL),
  (N'Ω%_[x]', 0, ' é''[%_]--;', -2147483648, '-2147483648', NULL),
  (N'Ω2 ''é''', 0, ' é''[%_]--;', -2147483648, '-2147483648', NULL),
  (N'y1', 0, 'X''y', 0, '0', NULL),
  (N'y2', 0, 'x''Y  ', 0, NULL, NULL),
  (N'no facility', 0, NULL, 0, '0', NULL),
  (N'released 2', 2147483647, 'x''Y', 0, '0', NULL),
  (N'{TAB};DROP TABLE CFGBED;--', 0, 'x''Y', -1, NULL, NULL)
GO
)";

std::string HostileJail() {
  std::string script = kHostileJailText;
  for (std::size_t at; (at = script.find("{TAB}")) != std::string::npos;)
    script.replace(at, 5, "\t");
  return script;
}

TEST(HostileJail, EveryValueIsQuotedLoggedAsReadAndWrittenByTheRules) {
  auto jail = JailFixture::FromScript(HostileJail());
  const testing::THousing before = testing::ReadHousing(jail->Server());
  jail->PressStart();
  ASSERT_EQ(jail->Boxes().Texts(), Lines{"Cell Synchronization Completed"});

  // Facility, cell and bed texts as the lockable tables read them: trailing blanks and tabs
  // cut, everything else kept.
  const std::string a = "Facility :  Крыло 'Nord' [A]; 100%_ -- é€ DormCode :  Δ'[;]%";
  const std::string c4 = " DormCode : _-- CellNo : C;4 Allow 0 but 1 are assign to it";
  EXPECT_EQ(jail->Log(),
            (Lines{a + " CellNo :   №1 'top'; -- Bed : 上段 'A' [x] had more than one inmate "
                       "assign to it",
                   "----Inmates On Bed----",
                   "  Б'1]; --",
                   " 日本 \"X\"",
                   "----End----",
                   a + " CellNo :  Allow -2147483648 but 2 are assign to it",
                   "----Inmates On Cell----",
                   " Ω%_[x]",
                   " Ω2 'é'",
                   "----End----",
                   a + " CellNo :  Bed :  ;--'\" had more than one inmate assign to it",
                   "----Inmates On Bed----",
                   " Ω%_[x]",
                   " Ω2 'é'",
                   "----End----",
                   "Facility :Ünit\t\"2\"" + c4,
                   "----Inmates On Cell----",
                   " \t;DROP TABLE CFGBED;--",
                   "----End----",
                   "Facility :" + c4,
                   "----Inmates On Cell----",
                   " \t;DROP TABLE CFGBED;--",
                   "----End----"}));

  const std::string wa = " WHERE NAMERELEAS = 0 and facicode = ' é''[%_]--;' and cellkey = ";
  auto facility = [](const std::string& AQuotedId) {
    const std::string w = " WHERE NAMERELEAS = 0 and facicode = " + AQuotedId + " and cellkey = ";
    // Cell 0 is written, so counted again under its lock; cell -1 is reported.
    const std::string cell0 =
        "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = " + AQuotedId +
        " and CELLKEY = 0";
    const std::string cellM1 =
        "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and "
        "FACICODE = " +
        AQuotedId + " and CELLKEY = -1";
    return Lines{cell0,  cell0,  "SELECT Count(bed) FROM DETENTIA" + w + "0 and bed = '0'",
                 cellM1, cellM1, "SELECT BOOKNO FROM DETENTIA" + w + "-1"};
  };
  // Each cell's counts travel in one request, the cell's twice (as the table holds it, then
  // under its lock), its beds' after them; the listings of its conflicts follow, in order.
  const std::string cellMax =
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = ' é''[%_]--;' "
      "and CELLKEY = 2147483647";
  const std::string cellMin =
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = ' é''[%_]--;' "
      "and CELLKEY = -2147483648";
  Lines expected = {cellMax,
                    cellMax,
                    "SELECT Count(bed) FROM DETENTIA" + wa + "2147483647 and bed = '2147483647'",
                    "SELECT Count(bed) FROM DETENTIA" + wa + "2147483647 and bed = '0'",
                    "SELECT BOOKNO FROM DETENTIA" + wa + "2147483647 and bed = '2147483647'",
                    cellMin,
                    cellMin,
                    "SELECT Count(bed) FROM DETENTIA" + wa + "-2147483648 and bed = '-2147483648'",
                    "SELECT BOOKNO FROM DETENTIA" + wa + "-2147483648",
                    "SELECT BOOKNO FROM DETENTIA" + wa + "-2147483648 and bed = '-2147483648'"};
  for (const char* id : {"'x''Y'", "'X''y'"}) {
    const Lines more = facility(id);
    expected.insert(expected.end(), more.begin(), more.end());
  }
  EXPECT_EQ(jail->PassStatements(), expected);

  // Only the cell and bed columns the rules name change; every other value is as it was.
  testing::THousing after = before;
  auto set = [&](const std::string& ARow, std::size_t AColumn, const std::string& AValue) {
    std::string& row = after.at(ARow);
    std::size_t from = 0;
    for (std::size_t i = 0; i < AColumn; ++i) from = row.find('|', from) + 1;
    row.replace(from, row.find('|', from) - from, AValue);
  };
  const std::size_t kOnCell = 6, kAllow = 5, kAvailable = 4;
  set("CFGCELL.-2147483648", kOnCell, "3");  // three current bookings, one without a bed
  set("CFGCELL.-2147483646", kOnCell, "2");  // over its allowance of -1, many allowed
  set("CFGCELL.-2147483646", kAllow, "0");
  set("CFGBED.2147483644", kAvailable, "False");
  set("CFGBED.2147483645", kAvailable, "True");
  set("CFGBED.2147483646", kAvailable, "False");
  set("CFGBED.2147483647", kAvailable, "False");
  EXPECT_EQ(testing::ReadHousing(jail->Server()), after);
  EXPECT_EQ(testing::LockTablesLeft(jail->Server()), Lines{});
  EXPECT_EQ(jail->Query("SELECT Count(*) FROM CFGBED"), Lines{"4"});
}

}  // namespace
}  // namespace bunkmere
