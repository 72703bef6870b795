// Figures for the data access layer beside a raw ODBC floor, against a private stand-in:
//  1. the floor: the raw loop over a table of 1,000,000 rows of 20 mixed columns with blocks
//     of 25 rows up to thousands of rows and 64 KiB up to 4 MiB; the fastest is the floor;
//  2. opening and refreshing that table through the layer against the floor, best of five
//     runs a side taking turns; the bytes of the cached rows against the bytes of their
//     values, and peak memory during an open against the cache;
//  3. the same for a bookings-shaped table of 2,000,000 rows of 40 columns (texts of many
//     widths, dates, integers, NULLs, one TEXT column), best of three;
//  4. the pass's statement pattern (close, set connection, unprepare, set SQL, prepare, open,
//     read one value, close) 20,000 times for a SELECT Count(...) vs the same statements raw.
// BUNKMERE_BENCH_ROWS, BUNKMERE_BENCH_WIDE_ROWS (0 leaves the bookings table out),
// BUNKMERE_BENCH_RUNS, BUNKMERE_BENCH_WIDE_RUNS (3) and BUNKMERE_BENCH_STATEMENTS change the
// sizes; BUNKMERE_BENCH_SWEEP=0 skips the block sizes and takes the layer's 256 KiB for the
// floor.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

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

// Resident and peak resident memory in KiB, from /proc/self/status.
long StatusKb(const char* AField) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(AField) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  return 0;
}

// Starts a new peak: the kernel's high-water mark is set back to the current resident size.
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// CPU seconds of this process alone: the client's share, without the stand-in's.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double MiB(double AKb) {
  return AKb / 1024.0;
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
CREATE TABLE BOOKINGS (BOOKID INT NOT NULL, BOOKNO VARCHAR(20) NOT NULL, ECSOID VARCHAR(24) NULL,
  LNAME VARCHAR(25) NULL, FNAME VARCHAR(15) NULL, MNAME VARCHAR(15) NULL, DOB DATETIME NULL,
  SEX CHAR(1) NULL, RACE CHAR(1) NULL, HEIGHT VARCHAR(5) NULL, WEIGHT SMALLINT NULL,
  HAIR VARCHAR(3) NULL, EYES VARCHAR(3) NULL, BOOKDATE DATETIME NULL, RELDATE DATETIME NULL,
  NAMERELEAS INT NOT NULL, FACICODE VARCHAR(10) NULL, FACILITY VARCHAR(17) NULL, CELLKEY INT NULL,
  CELLNO VARCHAR(18) NULL, BED VARCHAR(10) NULL, ARRESTAGCY VARCHAR(30) NULL,
  OFFICER VARCHAR(30) NULL, CLASSIFY VARCHAR(10) NULL, HOLDFOR VARCHAR(30) NULL,
  ADDRESS VARCHAR(60) NULL, CITY VARCHAR(25) NULL, STATE CHAR(2) NULL, ZIP VARCHAR(10) NULL,
  SSN CHAR(11) NULL, NOTES VARCHAR(100) NULL, CHARGES TEXT NULL, LASTUPDATE DATETIME NULL,
  UPDUSER VARCHAR(20) NULL, PHOTOID INT NULL, SCARS VARCHAR(40) NULL, ALIAS VARCHAR(40) NULL,
  PROPBIN VARCHAR(8) NULL, BAILCENTS BIGINT NULL, HOLD BIT NULL)
GO
)sql";

const char* kNames[] = {"a", "b", "c", "e", "f", "g", "h", "i"};

std::string N(int ADigits) {
  std::string n;
  long scale = 1;
  for (int k = 0; k < ADigits; ++k, scale *= 10) {
    if (k) n += " + ";
    n += std::string(kNames[k]) + ".d * " + std::to_string(scale);
  }
  return "(" + n + ")";
}

std::string From(int ADigits) {
  std::string f = " FROM ";
  for (int k = 0; k < ADigits; ++k) f += std::string(k ? ", " : "") + "D " + kNames[k];
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

// ARows bookings (rounded up to a multiple of a power of ten): one statement over
// 10^digits rows of D times a multiplier, then NULLs in every fourth row's release columns.
std::string FillWideBookings(long ARows) {
  int digits = 0;
  long scale = 1;
  while (scale * 10 <= ARows) scale *= 10, ++digits;
  const long times = (ARows + scale - 1) / scale;
  std::string n = "(" + N(digits) + " + " + kNames[digits] + ".d * " + std::to_string(scale) + ")";
  if (digits == 0) n = "(" + std::string(kNames[0]) + ".d)";
  const std::string charges =
      "'Count 1: burglary in the second degree; count 2: possession of burglary tools; count 3: "
      "resisting arrest without violence; count 4: criminal mischief; count 5: violation of "
      "probation on a prior case; held on a warrant from another county pending transport and a "
      "first appearance before the judge on the next court day'";
  return "INSERT INTO BOOKINGS SELECT " + n + ", 'B' + CAST(" + n + " AS VARCHAR(10)), 'ECSO' + " +
         "CAST(" + n + " % 99991 AS VARCHAR(10)), 'Lastname' + CAST(" + n +
         " % 5000 AS VARCHAR(10)), 'First' + CAST(" + n +
         " % 300 AS VARCHAR(5)), 'M', '1980-03-04', 'M', 'W', '5-10', " + n +
         " % 300, 'BRO', 'BLU', '2024-01-01 10:00:00', '2024-02-03 11:00:00', " + n +
         " % 3, 'MAIN', 'MAIN FACILITY', " + n + " % 500, 'C-' + CAST(" + n +
         " % 500 AS VARCHAR(5)), CAST(" + n +
         " % 4 AS VARCHAR(3)), 'County Sheriff Office', 'Officer ' + CAST(" + n +
         " % 200 AS VARCHAR(5)), 'MED', 'None', CAST(" + n +
         " % 9999 AS VARCHAR(5)) + ' Long Street Name Road', 'Springfield', 'FL', '32' + " +
         "CAST(" + n + " % 999 AS VARCHAR(5)), '123-45-6789', NULL, SUBSTRING(" + charges +
         ", 1, 20 + " + n + " % 300), '2024-05-06 07:08:09', 'user' + CAST(" + n +
         " % 20 AS VARCHAR(3)), " + n + ", NULL, 'Alias ' + CAST(" + n +
         " % 77 AS VARCHAR(5)), 'P' + CAST(" + n + " % 1000 AS VARCHAR(5)), CAST(" + n +
         " AS BIGINT) * 100, " + n + " % 2" + From(digits + 1) + " WHERE " + kNames[digits] +
         ".d < " + std::to_string(times) +
         "\nGO\nUPDATE BOOKINGS SET RELDATE = NULL, CHARGES = NULL, ALIAS = NULL WHERE BOOKID % 4 "
         "= 0"
         "\nGO\n";
}

int Digits(long ARows) {
  int d = 1;
  for (long r = 10; r < ARows; r *= 10) ++d;
  return d;
}

// Bytes of the values a dataset holds: fixed-size values at their size, texts at their length.
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

struct Block {
  std::size_t rows = 0;   // rows per fetch, or 0
  std::size_t bytes = 0;  // bytes per fetch when rows is 0
  std::string Name() const {
    if (rows) return std::to_string(rows) + " rows";
    return bytes >= 1 << 20 ? std::to_string(bytes >> 20) + " MiB"
                            : std::to_string(bytes >> 10) + " KiB";
  }
};

// The layer's open and refresh of ATable beside the floor, best of ARuns runs a side taking
// turns, with memory and cache figures from a first open.
void CompareWithFloor(TMSConnection& AConn, bench::RawOdbc& ARaw, const std::string& ATable,
                      int AColumns, const Block& AFloor, int ARuns, double ASweepBest) {
  const std::string sql = "SELECT * FROM [" + ATable + "]\r\n";
  TMSTable table(nullptr);
  table.SetConnection(&AConn);
  table.SetTableName(ATable);
  table.Options().SetQuoteNames(true);

  // Memory first, before anything else of this size has been allocated.
  ResetPeak();
  const long rssBefore = StatusKb("VmRSS");
  auto start = Clock::now();
  table.Open();
  const double firstOpen = Seconds(start);
  const long peak = StatusKb("VmHWM");
  const std::size_t cached = table.CachedBytes();
  const std::size_t values = ValueBytes(table);
  const int rows = table.RecordCount();
  table.Close();

  double rawBest = 1e9, openBest = firstOpen, refreshBest = 1e9;
  double rawCpu = 1e9, openCpu = 1e9, refreshCpu = 1e9;
  bench::FetchFigures raw;
  for (int run = 0; run < ARuns; ++run) {
    auto rawRun = [&] {
      auto t = Clock::now();
      double cpu = CpuSeconds();
      raw = ARaw.FetchAll(sql, AFloor.rows, AFloor.bytes);
      rawBest = std::min(rawBest, Seconds(t));
      rawCpu = std::min(rawCpu, CpuSeconds() - cpu);
    };
    auto layerRun = [&] {
      auto t = Clock::now();
      double cpu = CpuSeconds();
      table.Open();
      openBest = std::min(openBest, Seconds(t));
      openCpu = std::min(openCpu, CpuSeconds() - cpu);
      t = Clock::now();
      cpu = CpuSeconds();
      table.Refresh();
      refreshBest = std::min(refreshBest, Seconds(t));
      refreshCpu = std::min(refreshCpu, CpuSeconds() - cpu);
      table.Close();
    };
    if (run % 2) {
      layerRun();
      rawRun();
    } else {
      rawRun();
      layerRun();
    }
  }
  const char* lobs = !raw.largeObjects ? ""
                     : raw.boundAfterLargeObject
                         ? "; the TEXT through SQLGetData, the columns after it bound"
                         : "; the TEXT and the columns after it through SQLGetData";
  std::printf(
      "%s, %d rows x %d columns (floor: %s, %zu rows a fetch of %zu bytes each%s; %lld "
      "rows)\n",
      ATable.c_str(), rows, AColumns, AFloor.Name().c_str(), raw.blockRows, raw.rowBytes, lobs,
      static_cast<long long>(raw.rows));
  if (ASweepBest > 0)
    std::printf("  floor   : %.3f s here, %.3f s in the sweep (%+.1f%%)\n", rawBest, ASweepBest,
                100.0 * (rawBest / ASweepBest - 1.0));
  std::printf(
      "  open    : layer %.3f s, floor %.3f s, ratio %.2f; client CPU %.3f s / %.3f s, ratio "
      "%.2f\n",
      openBest, rawBest, openBest / rawBest, openCpu, rawCpu, openCpu / rawCpu);
  std::printf(
      "  refresh : layer %.3f s, floor %.3f s, ratio %.2f; client CPU %.3f s / %.3f s, ratio "
      "%.2f\n",
      refreshBest, rawBest, refreshBest / rawBest, refreshCpu, rawCpu, refreshCpu / rawCpu);
  std::printf("  cache   : %.1f MiB for %.1f MiB of values, ratio %.2f\n", cached / 1048576.0,
              values / 1048576.0, static_cast<double>(cached) / static_cast<double>(values));
  std::printf(
      "  memory  : peak during the first open %.1f MiB above the %.1f MiB before it; "
      "that is the cache + %.1f MiB\n",
      MiB(static_cast<double>(peak - rssBefore)), MiB(static_cast<double>(rssBefore)),
      MiB(static_cast<double>(peak - rssBefore)) - cached / 1048576.0);
}

}  // namespace

int main() {
  const long rows = EnvOr("BUNKMERE_BENCH_ROWS", 1000000);
  const long wideRows = EnvOr("BUNKMERE_BENCH_WIDE_ROWS", 2000000);
  const int runs = static_cast<int>(EnvOr("BUNKMERE_BENCH_RUNS", 5));
  const int wideRuns = static_cast<int>(EnvOr("BUNKMERE_BENCH_WIDE_RUNS", 3));
  const long statements = EnvOr("BUNKMERE_BENCH_STATEMENTS", 20000);
  const int digits = Digits(rows);

  auto start = Clock::now();
  standin::testing::StandinOptions options;
  options.startTimeoutMs = 30 * 60 * 1000;  // building millions of rows takes minutes
  options.initScript = std::string("CREATE DATABASE BENCH\nGO\nUSE BENCH\nGO\n") + kSchema +
                       FillWide(digits) + "\nGO\n" + FillBookings(4) + "\nGO\n" +
                       (wideRows > 0 ? FillWideBookings(wideRows) : "");
  standin::testing::StandinServer server(options);
  std::printf("setup: %ld + %ld rows built in %.1f s\n", static_cast<long>(std::pow(10, digits)),
              wideRows, Seconds(start));

  TMSConnection conn(nullptr);
  conn.SetServer(server.Host());
  conn.SetPort(server.Port());
  conn.SetDatabase("BENCH");
  conn.SetUsername(server.User());
  conn.SetPassword(server.Password());
  conn.SetLoginPrompt(false);
  conn.Connect();
  bench::RawOdbc raw(server.OdbcConnectionString("BENCH"));

  // 1. The floor: the raw loop's block size, chosen by measurement.
  const std::vector<Block> blocks = {{25, 0},       {100, 0},       {1000, 0},    {4000, 0},
                                     {0, 64 << 10}, {0, 256 << 10}, {0, 1 << 20}, {0, 4 << 20}};
  std::vector<double> best(blocks.size(), 1e9);
  // Without the sweep (for profiling) the floor is the 256 KiB block the layer also uses.
  const bool sweep = EnvOr("BUNKMERE_BENCH_SWEEP", 1) != 0;
  if (!sweep) best[5] = 0;
  // As many runs of each block size as the comparison below gives the floor, in both orders:
  // a best of fewer runs taken at other moments is a figure of other conditions.
  for (int run = 0; sweep && run < runs; ++run)
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      std::size_t at = run % 2 ? blocks.size() - 1 - k : k;  // both orders: load falls evenly
      auto t = Clock::now();
      raw.FetchAll("SELECT * FROM [WIDE]\r\n", blocks[at].rows, blocks[at].bytes);
      best[at] = std::min(best[at], Seconds(t));
    }
  std::size_t fastest = 0;
  std::printf("raw ODBC over WIDE by block size (best of %d):", runs);
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    std::printf("%s %s %.3f s", k ? "," : "", blocks[k].Name().c_str(), best[k]);
    if (best[k] < best[fastest]) fastest = k;
  }
  std::printf("\n");

  // 2. and 3. The layer against the floor.
  CompareWithFloor(conn, raw, "WIDE", 20, blocks[fastest], runs, sweep ? best[fastest] : 0);
  if (wideRows > 0) CompareWithFloor(conn, raw, "BOOKINGS", 40, blocks[fastest], wideRuns, 0);

  // 4. The pass's statement pattern.
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
