// The engine alone, without the wire: the counting statement the synchronisation pass sends
// once per cell and bed, and a wide fetch.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "standin/Engine.h"

namespace {

using namespace standin;

class NullSink : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>&) override {}
  void Row(std::span<const Value> values) override {
    ++rows;
    benchmark::DoNotOptimize(values.data());
  }
  void StatementDone(bool, std::int64_t, bool error) override { failed |= error; }
  void Message(const ServerMessage& m) override {
    if (m.severity > 10) failed = true;
  }
  void DatabaseChanged(const std::string&, const std::string&) override {}
  std::int64_t rows = 0;
  bool failed = false;
};

struct Fixture {
  std::filesystem::path dir;
  std::unique_ptr<Engine> engine;
  std::unique_ptr<Session> session;
  explicit Fixture(const char* name) {
    dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir);
    engine = Engine::Create({dir.string()});
    engine->RunScript("CREATE DATABASE JAIL");
    session = engine->OpenSession(51, "JAIL");
  }
  ~Fixture() {
    session.reset();
    engine.reset();
    std::filesystem::remove_all(dir);
  }
  void Run(const std::string& sql, NullSink& sink) { session->Execute(sql, {}, sink); }
};

// 200,000 bookings over 20,000 cells, most of them released, indexed as a site would.
Fixture& Bookings() {
  static Fixture f("standin_bench_bookings");
  static bool loaded = [] {
    std::string script =
        "USE JAIL\nCREATE TABLE DETENTIA (BOOKNO VARCHAR(12) NOT NULL PRIMARY KEY, NAMERELEAS INT, "
        "FACICODE VARCHAR(4), CELLKEY INT, BED VARCHAR(3))\n"
        "CREATE INDEX IX_CELL ON DETENTIA (FACICODE, CELLKEY, NAMERELEAS)\nGO\n";
    for (int batch = 0; batch < 200; ++batch) {
      script += "INSERT INTO DETENTIA VALUES ";
      for (int i = 0; i < 1000; ++i) {
        int n = batch * 1000 + i;
        script += (i ? ",('" : "('") + std::to_string(n) + "'," + (n % 10 ? "1" : "0") +
                  ",'MAIN'," + std::to_string(n % 20000) + ",'" + std::to_string(n % 4) + "')";
      }
      script += "\n";
    }
    f.engine->RunScript(script);
    return true;
  }();
  (void)loaded;
  return f;
}

void CountSameText(benchmark::State& state) {
  Fixture& f = Bookings();
  NullSink sink;
  const std::string sql =
      "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'MAIN' and CELLKEY "
      "= 17";
  for (auto _ : state) f.Run(sql, sink);
  if (sink.failed) state.SkipWithError("statement failed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CountSameText);

void CountPerCell(benchmark::State& state) {
  Fixture& f = Bookings();
  NullSink sink;
  int cell = 0;
  for (auto _ : state) {
    f.Run(
        "SELECT Count(CELLKEY) FROM DETENTIA WHERE NAMERELEAS = 0 and FACICODE = 'MAIN' and "
        "CELLKEY = " +
            std::to_string(cell++ % 20000),
        sink);
  }
  if (sink.failed) state.SkipWithError("statement failed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CountPerCell);

void FetchWide(benchmark::State& state) {
  static Fixture f("standin_bench_wide");
  static bool loaded = [] {
    std::string script = "USE JAIL\nCREATE TABLE W (";
    for (int c = 0; c < 20; ++c) {
      const char* type = c % 4 == 0   ? "INT"
                         : c % 4 == 1 ? "VARCHAR(20)"
                         : c % 4 == 2 ? "DATETIME"
                                      : "CHAR(6)";
      script += (c ? ", C" : "C") + std::to_string(c) + " " + type;
    }
    script += ")\nINSERT INTO W VALUES (";
    for (int c = 0; c < 20; ++c) {
      const char* value = c % 4 == 0   ? "12345"
                          : c % 4 == 1 ? "'some text'"
                          : c % 4 == 2 ? "'2024-03-01 10:20:30'"
                                       : "'ab'";
      script += (c ? ", " : "") + std::string(value);
    }
    script += ")\n";
    for (int i = 0; i < 20; ++i) script += "INSERT INTO W SELECT * FROM W\n";  // 2^20 rows
    f.engine->RunScript(script);
    return true;
  }();
  (void)loaded;
  NullSink sink;
  for (auto _ : state) f.Run("SELECT * FROM W", sink);
  if (sink.failed) state.SkipWithError("statement failed");
  state.SetItemsProcessed(sink.rows);
}
BENCHMARK(FetchWide)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
