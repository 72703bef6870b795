// Bunkmere: the process entry. Starts the application, builds the main window from its stored
// description and runs the message loop until the window closes. It reads no arguments and no
// environment of its own: the database is found through the site file and the program
// library, as every program of the family finds it.
//
// A failure while the window is built (no site file, no connection information in it, a
// program library that cannot be read), or one that a handler throws past the window's own
// handling, is not the program's to handle: it ends the process with the unhandled-failure
// box ("Application Error") and exit code 1.

#include <memory>
#include <string_view>

#include "app/BunkmereIcon.h"
#include "app/BunkmereMain.h"
#include "app/RaiseSite.h"
#include "app/UnhandledFailure.h"
#include "platform/CrashDumps.h"
#include "ui/Application.h"

namespace {

// Carried by the executable so that `strings` and file managers can tell its version.
[[gnu::used]] const char kVersionInfo[] = "FileVersion=" BUNKMERE_VERSION
                                          "\0ProductVersion=9.4.0\0ProductName=Bunkmere\0"
                                          "Language=0409 (US English), code page 1252";

}  // namespace

int main(int /*argc*/, char** argv) {
  using namespace bunkmere;
  KeepMemoryOutOfCrashDumps();  // before any password is read
  // Only the program's own name reaches the toolkit: no argument is read.
  TApplication application(argv[0]);
  return RunOrShowUnhandledFailure(
      [&application] {
        application.SetMainFormOnTaskBar(true);
        application.SetTitle("Bunkmere");
        application.SetIcon(std::string_view(kBunkmereIcon, sizeof(kBunkmereIcon) - 1));
        auto window = std::make_unique<TfrmSynchCellsMain>(nullptr);
        frmSynchCellsMain = window.get();
        const int code = application.Run(*window);
        window.reset();
        return code;
      },
      &RaiseSiteOf);
}
