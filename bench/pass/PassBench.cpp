// The synchronisation pass over a generated jail on the stand-in, beside a raw ODBC floor
// that sends the same statements in the same order. Prints wall time, statements sent,
// statements per second and the ratio of the pass to the floor (target: at most 1.15).
//
//   pass_bench [--cells N --beds N --current N --released N]   (defaults: the full jail)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "bench/pass/RawReplay.h"
#include "tests/app/JailFixture.h"
#include "ui/Application.h"

namespace {

using Clock = std::chrono::steady_clock;
using bunkmere::testing::JailFixture;

std::string GenerateJail(const std::string& AArgs) {
  std::string key = AArgs;
  for (char& c : key)
    if (c == ' ' || c == '-') c = '_';
  const std::string path = std::string(BUNKMERE_BENCH_DIR) + "/jail" + key + ".sql";
  if (!std::filesystem::exists(path)) {
    const std::string cmd = "python3 " BUNKMERE_SAMPLE_DIR "/generate_jail.py " + AArgs + " > '" +
                            path + ".tmp' && mv '" + path + ".tmp' '" + path + "'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("generator failed: " + cmd);
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

double Seconds(Clock::time_point AFrom) {
  return std::chrono::duration<double>(Clock::now() - AFrom).count();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string args;
  for (int i = 1; i < argc; ++i) args += std::string(" ") + argv[i];
  if (args.empty()) args = " --cells 4000 --beds 12000 --current 20000 --released 200000";

  bunkmere::TApplication app(argv[0]);
  app.SetTitle("Bunkmere");
  try {
    auto t = Clock::now();
    const std::string script = GenerateJail(args.substr(1));
    std::printf("jail:%s\n  script %.1f MB\n", args.c_str(), script.size() / 1e6);
    t = Clock::now();
    auto jail = JailFixture::FromScript(script);
    std::printf("  stand-in loaded it in %.1f s\n", Seconds(t));

    // Pass 1 opens the tables (and connects); pass 2 refreshes them: the steady state.
    double passSeconds[2] = {};
    std::size_t passStatements[2] = {};
    std::vector<standin::testing::LoggedStatement> recorded;
    for (int run = 0; run < 2; ++run) {
      const std::size_t before = jail->Server().Statements().size();
      t = Clock::now();
      jail->PressStart();
      passSeconds[run] = Seconds(t);
      auto all = jail->Server().Statements();
      passStatements[run] = all.size() - before;
      if (run == 0) recorded.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
      if (jail->Boxes().Texts().back() != "Cell Synchronization Completed")
        throw std::runtime_error("the pass failed: " + jail->Boxes().Texts().front());
    }
    const auto floor =
        bunkmere::bench::Replay(jail->Server().OdbcConnectionString("JAIL"), recorded);

    auto line = [](const char* AWhat, double ASeconds, std::size_t AStatements) {
      std::printf("  %-34s %8.3f s %8zu statements %9.0f statements/s\n", AWhat, ASeconds,
                  AStatements, AStatements / ASeconds);
    };
    line("pass, first run (opens, connects)", passSeconds[0], passStatements[0]);
    line("pass, second run (refreshes)", passSeconds[1], passStatements[1]);
    line("raw ODBC floor (first run's SQL)", floor.Seconds, floor.Statements);
    std::printf("  ratio pass/floor: first run %.3f, second run %.3f (target <= 1.15)\n",
                passSeconds[0] / floor.Seconds, passSeconds[1] / floor.Seconds);
    std::printf("  log lines %zu\n", jail->Log().size());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pass_bench: %s\n", e.what());
    return 1;
  }
}
