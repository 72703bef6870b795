// Bunkmere: the process entry. Starts the application, builds the main window from its stored
// description and runs the message loop until the window closes. It reads no environment of
// its own: the database is found through the site file and the program library, as every
// program of the family finds it. Without arguments it opens the window; "--sync" runs the
// same window's pass once with no display (app/UnattendedSync.h), for schedulers.
//
// A failure while the window is built (no site file, no connection information in it, a
// program library that cannot be read), or one that a handler throws past the window's own
// handling, is not the program's to handle: it ends the process with the unhandled-failure
// box ("Application Error") and exit code 1; an unattended run writes the box's text to the
// error stream only.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/BunkmereIcon.h"
#include "app/BunkmereMain.h"
#include "app/CommandLine.h"
#include "app/Console.h"
#include "app/RaiseSite.h"
#include "app/UnattendedReport.h"
#include "app/UnattendedSync.h"
#include "app/UnhandledFailure.h"
#include "platform/CrashDumps.h"
#include "ui/Application.h"
#include "ui/HeadlessPeers.h"

namespace {

// Carried by the executable so that `strings` and file managers can tell its version.
[[gnu::used]] const char kVersionInfo[] = "FileVersion=" BUNKMERE_VERSION
                                          "\0ProductVersion=9.4.0\0ProductName=Bunkmere\0"
                                          "Language=0409 (US English), code page 1252";

}  // namespace

int main(int argc, char** argv) {
  using namespace bunkmere;
  KeepMemoryOutOfCrashDumps();  // before any password is read
#ifdef _WIN32
  constexpr bool kSlashSwitches = true;
#else
  constexpr bool kSlashSwitches = false;
#endif
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::string problem;
  const std::optional<TCommandLine> line = ParseCommandLine(arguments, kSlashSwitches, problem);
  if (line && line->Mode != TCommandLine::TMode::Window) UseStartersConsole();
  if (!line) {
    UseStartersConsole();
    WriteText(stderr, "Bunkmere: " + problem + "; see --help\n");
    return kExitUsage;
  }
  if (line->Mode == TCommandLine::TMode::Help) {
    WriteText(stdout, UsageText());
    return 0;
  }
  const bool unattended = line->Mode == TCommandLine::TMode::Sync;
  // From here what an unattended run writes is also kept for its entry in the event log,
  // which is written whether or not its streams lead anywhere.
  const bool rewriteLines = unattended && TerminalRewritesLines(stdout);
  std::optional<TStreamCapture> capture;
  if (unattended) capture.emplace();
  const auto reported = [&](int AStatus) {
    if (capture) {
      capture->Finish();
      ReportUnattendedRun(AStatus, *capture);
    }
    return AStatus;
  };
  if (unattended && !line->LogFile.empty()) {
    if (const auto logProblem = LogFileProblem(line->LogFile, line->Force)) {
      std::fputs(("Bunkmere: " + *logProblem + "; see --help\n").c_str(), stderr);
      return reported(kExitUsage);
    }
  }

  // Only the program's own name reaches the toolkit. An unattended run starts no toolkit.
  TApplication application(argv[0], unattended ? &HeadlessPeerFactory() : nullptr);
  return reported(RunOrShowUnhandledFailure(
      [&] {
        // The taskbar and the task switcher show "Bunkmere", not the window's long caption.
        application.SetMainFormOnTaskBar(false);
        application.SetTitle("Bunkmere");
        application.SetIcon(std::string_view(kBunkmereIcon, sizeof(kBunkmereIcon) - 1));
        auto window = std::make_unique<TfrmSynchCellsMain>(nullptr);
        frmSynchCellsMain = window.get();
        const int code = unattended
                             ? RunUnattendedSync(*window, *line, {stdout, stderr, rewriteLines})
                             : application.Run(*window);
        window.reset();
        return code;
      },
      &RaiseSiteOf, !unattended));
}
