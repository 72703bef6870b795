// Figures for the data access layer beside a raw ODBC floor, against a private stand-in:
//  1. opening a table of 1,000,000 rows of 20 mixed columns (time, bytes of the cached rows
//     against the bytes of their values, peak memory) vs fetching the same rows in blocks of 25;
//  2. the pass's statement pattern (close, set connection, unprepare, set SQL, prepare, open,
//     read one value, close) 20,000 times for a SELECT Count(...) vs the same statements raw.
// BUNKMERE_BENCH_ROWS and BUNKMERE_BENCH_STATEMENTS change the sizes.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "RawOdbc.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "standin/testing/StandinServer.h"

using namespace bunkmere;
using Clock = std::chrono::steady_clock;

namespace {

long EnvOr(const char* AName, long ADefault) {
  const char* v = std::getenv(AName);
  return v && *v ? std::atol(v) : ADefault;
}

double Seconds(Clock::time_point AStart) {
  return std::chrono::duration<double>(Clock::now() - AStart).count();
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

const char* kSchema = R"sql(
CREATE TABLE D (d INT NOT NULL)
GO
INSERT INTO D (d) VALUES (0), (1), (2), (3), (4), (5), (6), (7), (8), (9)
GO
CREATE TABLE WIDE (ID INT NOT NULL, C1 INT NULL, C2 INT NULL, C3 SMALLINT NULL, C4 BIGINT NULL,
  C5 BIT NULL, C6 BIT NULL, C7 DATETIME NULL, C8 DATETIME NULL, C9 FLOAT NULL, C10 CHAR(10) NULL,
  C11 CHAR(4) NULL, C12 VARCHAR(20) NULL, C13 VARCHAR(40) NULL, C14 VARCHAR(10) NULL,
  C15 VARCHAR(60) NULL, C16 VARCHAR(8) NULL, C17 INT NULL, C18 VARCHAR(30) NULL, C19 INT NULL)
GO
CREATE TABLE DETENTIA (BOOKNO VARCHAR(20) NOT NULL, NAMERELEAS INT NOT NULL,
  FACICODE VARCHAR(10) NOT NULL, CELLKEY INT NOT NULL, BED VARCHAR(10) NULL)
GO
)sql";

std::string N(int ADigits) {
  const char* names[] = {"a", "b", "c", "e", "f", "g", "h"};
  std::string n;
  long scale = 1;
  for (int k = 0; k < ADigits; ++k, scale *= 10) {
    if (k) n += " + ";
    n += std::string(names[k]) + ".d * " + std::to_string(scale);
  }
  return "(" + n + ")";
}

std::string From(int ADigits) {
  const char* names[] = {"a", "b", "c", "e", "f", "g", "h"};
  std::string f = " FROM ";
  for (int k = 0; k < ADigits; ++k) f += std::string(k ? ", " : "") + "D " + names[k];
  return f;
}

// Rows 0 .. 10^digits - 1, built on the server in one statement.
std::string FillWide(int ADigits) {
  std::string n = N(ADigits);
  return "INSERT INTO WIDE SELECT " + n + ", " + n + " % 97, " + n + " * 3, " + n +
         " % 30000, CAST(" + n + " AS BIGINT) * 100000, " + n +
         " % 2, 1, '2024-01-01 10:00:00', '2023-05-06', " + n +
         " * 0.5, 'FAC', 'AB', 'Name' + CAST(" + n +
         " AS VARCHAR(10)), 'A longer description of the row', 'B' + CAST(" + n +
         " % 100 AS VARCHAR(3)), 'Text of forty-five characters to fill a row..', 'x', " + n +
         " % 7, 'Booking ' + CAST(" + n + " AS VARCHAR(10)), NULL" + From(ADigits);
}

std::string FillBookings(int ADigits) {
  std::string n = N(ADigits);
  return "INSERT INTO DETENTIA SELECT 'B' + CAST(" + n + " AS VARCHAR(10)), " + n +
         " % 3, 'MAIN', " + n + " % 500, CAST(" + n + " % 4 AS VARCHAR(3))" + From(ADigits);
}

int Digits(long ARows) {
  int d = 1;
  for (long r = 10; r < ARows; r *= 10) ++d;
  return d;
}

std::size_t ValueBytes(TCustomMSDataSet& ds) {
  std::size_t total = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int c = 0; c < ds.FieldCount(); ++c) {
      TField& f = ds.Fields(c);
      if (f.IsNull()) continue;
      switch (f.Column().Kind) {
        case TColumnKind::Int32:
          total += f.Column().SqlType == 5 ? 2 : 4;
          break;
        case TColumnKind::Int64:
        case TColumnKind::Float:
        case TColumnKind::DateTime:
          total += 8;
          break;
        case TColumnKind::Boolean:
          total += 1;
          break;
        default:
          total += f.Value().s.size();
          break;
      }
    }
  }
  return total;
}

}  // namespace

int main() {
  const long rows = EnvOr("BUNKMERE_BENCH_ROWS", 1000000);
  const long statements = EnvOr("BUNKMERE_BENCH_STATEMENTS", 20000);
  const int digits = Digits(rows);

  auto start = Clock::now();
  standin::testing::StandinOptions options;
  options.initScript = std::string("CREATE DATABASE BENCH\nGO\nUSE BENCH\nGO\n") + kSchema +
                       FillWide(digits) + "\nGO\n" + FillBookings(4);
  standin::testing::StandinServer server(options);
  std::printf("setup: %ld rows built in %.1f s\n", static_cast<long>(std::pow(10, digits)),
              Seconds(start));

  TMSConnection conn(nullptr);
  conn.SetServer(server.Host());
  conn.SetPort(server.Port());
  conn.SetDatabase("BENCH");
  conn.SetUsername(server.User());
  conn.SetPassword(server.Password());
  conn.SetLoginPrompt(false);
  conn.Connect();
  bench::RawOdbc raw(server.OdbcConnectionString("BENCH"));

  // 1. Opening the wide table.
  double rawBest = 1e9, layerBest = 1e9;
  std::int64_t rawRows = 0;
  long rssBefore = 0, rssAfter = 0;
  std::size_t cached = 0, values = 0;
  int layerRows = 0;
  for (int run = 0; run < 3; ++run) {
    auto rawRun = [&] {
      auto t = Clock::now();
      rawRows = raw.FetchAll("SELECT * FROM [WIDE]\r\n", 25);
      rawBest = std::min(rawBest, Seconds(t));
    };
    if (run != 1) rawRun();

    TMSTable table(nullptr);
    table.SetConnection(&conn);
    table.SetTableName("WIDE");
    table.Options().SetQuoteNames(true);
    if (run == 0) rssBefore = PeakRssKb();
    start = Clock::now();
    table.Open();
    layerBest = std::min(layerBest, Seconds(start));
    if (run == 0) rssAfter = PeakRssKb();
    layerRows = table.RecordCount();
    if (run == 0) {
      cached = table.CachedBytes();
      values = ValueBytes(table);
    }
    table.Close();
    if (run == 1) rawRun();
  }
  std::printf(
      "open %d rows x 20 columns: layer %.3f s, raw ODBC (blocks of 25) %.3f s (%lld rows), ratio "
      "%.2f\n",
      layerRows, layerBest, rawBest, static_cast<long long>(rawRows), layerBest / rawBest);
  std::printf("cached rows: %zu bytes for %zu bytes of values, ratio %.2f\n", cached, values,
              static_cast<double>(cached) / static_cast<double>(values));
  std::printf("peak resident memory: %.1f MB before the first open, %.1f MB after\n",
              rssBefore / 1024.0, rssAfter / 1024.0);

  // 2. The pass's statement pattern.
  auto statement = [](long k) {
    return "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'MAIN' and "
           "CELLKEY = " +
           std::to_string(k % 500);
  };
  // Layer and raw loops alternate in slices, so that load from other processes on the machine
  // falls on both alike.
  TMSQuery query(nullptr);
  double layerPass = 0, rawPass = 0;
  long long checkLayer = 0, checkRaw = 0;
  const long slice = 500;
  for (long from = 0, turn = 0; from < statements; from += slice, ++turn) {
    const long to = std::min(statements, from + slice);
    auto layerSlice = [&] {
      auto t = Clock::now();
      for (long k = from; k < to; ++k) {
        query.Close();
        query.SetConnection(&conn);
        query.UnPrepare();
        query.SQL().Clear();
        query.SQL().Add(statement(k));
        query.Prepare();
        query.Open();
        checkLayer += query.Fields(0).AsInteger();
        query.Close();
      }
      layerPass += Seconds(t);
    };
    auto rawSlice = [&] {
      auto t = Clock::now();
      for (long k = from; k < to; ++k) checkRaw += raw.ScalarInt(statement(k) + "\r\n");
      rawPass += Seconds(t);
    };
    if (turn % 2 == 0) {
      layerSlice();
      rawSlice();
    } else {
      rawSlice();
      layerSlice();
    }
  }
  std::printf("pass pattern x %ld: layer %.3f s, raw ODBC %.3f s, ratio %.2f (sums %lld / %lld)\n",
              statements, layerPass, rawPass, layerPass / rawPass, checkLayer, checkRaw);
  return checkLayer == checkRaw ? 0 : 1;
}
