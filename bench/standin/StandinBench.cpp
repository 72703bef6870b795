// Prints how fast sqlstandin answers through unixODBC + FreeTDS on loopback:
//   start-up      time to start a private server (what every database test pays)
//   round trips   one-row SELECT Count(...) with WHERE on an indexed column, 204,800-row table
//   fetch         rows per second reading 1,024,000 rows of 20 columns
// Usage: standin_bench [round-trip seconds, default 3]

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "standin/tds/Login7.h"
#include "standin/tds/Packet.h"
#include "standin/tds/Prelogin.h"
#include "standin/tds/Request.h"
#include "standin/tds/Tokens.h"
#include "standin/testing/StandinServer.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE h, const std::string& what) {
  SQLCHAR state[6], msg[1024];
  SQLINTEGER native;
  SQLSMALLINT len;
  std::fprintf(stderr, "%s failed\n", what.c_str());
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len) == SQL_SUCCESS; ++i)
    std::fprintf(stderr, "  %s %d %s\n", state, static_cast<int>(native), msg);
  std::exit(1);
}

struct Connection {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT st = nullptr;
  explicit Connection(const std::string& cs) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT)))
      Fail(SQL_HANDLE_DBC, dbc, "connect");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  }
  ~Connection() {
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  void Exec(const std::string& sql) {
    SQLFreeStmt(st, SQL_CLOSE);
    SQLRETURN rc = SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, st, sql.substr(0, 80));
    SQLFreeStmt(st, SQL_CLOSE);
  }
};

std::string Values(int rows, int first, const char* (*row)(int, char*)) {
  std::string sql;
  char buf[512];
  for (int i = 0; i < rows; ++i) {
    sql += i ? ",(" : "(";
    sql += row(first + i, buf);
    sql += ")";
  }
  return sql;
}

// Reads one whole response; returns its payload size, keeping the last 13 bytes (the final DONE).
std::size_t ReadResponse(int fd, std::vector<std::uint8_t>& tail) {
  std::size_t total = 0;
  std::vector<std::uint8_t> body(32768);
  for (;;) {
    std::uint8_t header[8];
    if (recv(fd, header, 8, MSG_WAITALL) != 8) return total;
    std::size_t len = static_cast<std::size_t>(header[2] << 8 | header[3]) - 8;
    if (len && recv(fd, body.data(), len, MSG_WAITALL) != static_cast<ssize_t>(len)) return total;
    total += len;
    tail.insert(tail.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(len));
    if (tail.size() > 13) tail.erase(tail.begin(), tail.end() - 13);
    if (header[1] & 1) return total;
  }
}

// The same fetch with a bare TDS client that does not decode rows: what the server itself
// delivers, without the driver's per-value conversions. The row count is the server's DONE.
void RawFetch(const standin::testing::StandinServer& server) {
  using namespace standin::tds;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
  auto send = [&](PacketType type, const Bytes& payload) {
    Bytes framed = FrameMessage(type, payload, 32767);
    ::send(fd, framed.data(), framed.size(), 0);
  };
  std::vector<std::uint8_t> tail;
  send(PacketType::PreLogin, EncodePrelogin(ServerPrelogin()));
  ReadResponse(fd, tail);
  Login7 login;
  login.tdsVersion = kTds74;
  login.packetSize = 32767;
  login.userName = server.User();
  login.password = server.Password();
  login.database = "BENCH";
  send(PacketType::Login7, EncodeLogin7(login));
  ReadResponse(fd, tail);
  SqlBatch batch;
  batch.text = "SELECT * FROM WIDE";
  auto t0 = Clock::now();
  send(PacketType::SqlBatch, EncodeSqlBatch(batch, true));
  tail.clear();
  std::size_t bytes = ReadResponse(fd, tail);
  double seconds = Seconds(Clock::now() - t0);
  std::uint64_t rows = 0;
  if (tail.size() == 13 && tail[0] == 0xFD)
    for (int k = 7; k >= 0; --k) rows = rows << 8 | tail[5 + static_cast<std::size_t>(k)];
  std::printf(
      "fetch, bare TDS client, 32 KiB packets: %.0f rows per second (%llu rows, %.1f MB in %.2f "
      "s)\n",
      static_cast<double>(rows) / seconds, static_cast<unsigned long long>(rows), bytes / 1e6,
      seconds);
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const double roundTripSeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  const char* init = "CREATE DATABASE BENCH\nGO\n";

  // Start-up: what every database test pays for its own server.
  const int starts = 10;
  auto t0 = Clock::now();
  for (int i = 0; i < starts; ++i) standin::testing::StandinServer s(init);
  std::printf("start-up: %.1f ms per server (start, first line read, SIGTERM, exit; %d runs)\n",
              Seconds(Clock::now() - t0) * 1000 / starts, starts);

  standin::testing::StandinServer server(init);
  Connection db(server.OdbcConnectionString("BENCH"));

  // 200 facilities x 1024 rows: 204,800 bookings, one in eight still current.
  t0 = Clock::now();
  db.Exec(
      "CREATE TABLE DETENTIA (BOOKNO INT NOT NULL PRIMARY KEY, NAMERELEAS INT NOT NULL, "
      "FACICODE VARCHAR(10) NOT NULL, CELLKEY INT NOT NULL, BED VARCHAR(10) NULL)");
  for (int chunk = 0; chunk < 200; ++chunk) {
    db.Exec("INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES " +
            Values(1024, chunk * 1024, [](int i, char* buf) -> const char* {
              std::snprintf(buf, 512, "%d, %d, 'F%d', %d, '%d'", i, i % 8 ? 1 : 0, i % 4, i % 5000,
                            i % 3);
              return buf;
            }));
  }
  db.Exec("CREATE INDEX IX_DETENTIA_CELL ON DETENTIA (CELLKEY)");
  std::printf("load: 204,800 rows in %.2f s\n", Seconds(Clock::now() - t0));

  // Round trips: a different cell each time, as the pass counts cell after cell.
  long count = 0, checksum = 0;
  t0 = Clock::now();
  auto until = t0 + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(roundTripSeconds));
  char sql[256];
  while (Clock::now() < until) {
    for (int k = 0; k < 100; ++k, ++count) {
      std::snprintf(sql, sizeof sql,
                    "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = "
                    "'F%ld' and CELLKEY = %ld",
                    count % 4, count % 5000);
      if (!SQL_SUCCEEDED(SQLExecDirect(db.st, (SQLCHAR*)sql, SQL_NTS)))
        Fail(SQL_HANDLE_STMT, db.st, sql);
      SQLINTEGER n = 0;
      SQLLEN ind;
      if (!SQL_SUCCEEDED(SQLFetch(db.st))) Fail(SQL_HANDLE_STMT, db.st, "fetch count");
      SQLGetData(db.st, 1, SQL_C_LONG, &n, 0, &ind);
      checksum += n;
      SQLFreeStmt(db.st, SQL_CLOSE);
    }
  }
  double rtSeconds = Seconds(Clock::now() - t0);
  std::printf("round trips: %.0f per second (%ld statements in %.2f s, counted %ld bookings)\n",
              count / rtSeconds, count, rtSeconds, checksum);

  // Twenty columns of mixed types; 1,000 rows doubled ten times.
  t0 = Clock::now();
  db.Exec(
      "CREATE TABLE WIDE (I1 INT NULL, I2 INT NULL, I3 INT NULL, I4 INT NULL, I5 INT NULL, "
      "V1 VARCHAR(20) NULL, V2 VARCHAR(20) NULL, V3 VARCHAR(20) NULL, V4 VARCHAR(20) NULL, "
      "V5 VARCHAR(20) NULL, F1 FLOAT NULL, F2 FLOAT NULL, F3 FLOAT NULL, D1 DATETIME NULL, "
      "D2 DATETIME NULL, B1 BIT NULL, B2 BIT NULL, M1 DECIMAL(10,2) NULL, M2 DECIMAL(10,2) NULL, "
      "C1 CHAR(8) NULL)");
  db.Exec("INSERT INTO WIDE VALUES " + Values(1000, 0, [](int i, char* buf) -> const char* {
            std::snprintf(
                buf, 512,
                "%d, %d, %d, %d, %d, 'name %d', 'street %d', 'city', 'county', NULL, %d.5, 0.25, "
                "-1.75, '2024-01-%02d 10:11:12.123', '1999-12-31', 1, 0, %d.25, -3.50, 'C%d'",
                i, i * 2, i * 3, i % 7, -i, i, i, i, i % 28 + 1, i, i % 100);
            return buf;
          }));
  for (int d = 0; d < 10; ++d) db.Exec("INSERT INTO WIDE SELECT * FROM WIDE");
  std::printf("load: 1,024,000 wide rows in %.2f s\n", Seconds(Clock::now() - t0));

  // Block fetch, every column bound as text, as a data-access layer reading whole rows would.
  const SQLULEN block = 1000;
  const int columns = 20, width = 48;
  std::vector<char> data(block * columns * width);
  std::vector<SQLLEN> ind(block * columns);
  SQLULEN fetched = 0;
  SQLSetStmtAttr(db.st, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0);
  SQLSetStmtAttr(db.st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block), 0);
  SQLSetStmtAttr(db.st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  for (int c = 0; c < columns; ++c)
    SQLBindCol(db.st, static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR, &data[c * block * width], width,
               &ind[c * block]);
  t0 = Clock::now();
  if (!SQL_SUCCEEDED(SQLExecDirect(db.st, (SQLCHAR*)"SELECT * FROM WIDE", SQL_NTS)))
    Fail(SQL_HANDLE_STMT, db.st, "SELECT * FROM WIDE");
  long rows = 0;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(db.st))) rows += static_cast<long>(fetched);
  double fetchSeconds = Seconds(Clock::now() - t0);
  std::printf("fetch through ODBC: %.0f rows per second (%ld rows of %d columns in %.2f s)\n",
              rows / fetchSeconds, rows, columns, fetchSeconds);
  SQLFreeStmt(db.st, SQL_CLOSE);
  RawFetch(server);
  return 0;
}
