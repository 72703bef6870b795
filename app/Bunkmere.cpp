// Bunkmere: the process entry. Starts the application, builds the main window from its stored
// description and runs the message loop until the window closes. It reads no arguments and no
// environment of its own (the demo build aside, see app/DemoServer.h).
//
// A failure while the window is built is not the program's to handle: it ends the process
// with the unhandled-failure box ("Application Error") and exit code 1.

#include <dlfcn.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "app/BunkmereIcon.h"
#include "app/BunkmereMain.h"
#include "app/UnhandledFailure.h"
#include "ui/Application.h"

#ifdef BUNKMERE_DEMO_SERVER_HOOK
#include "app/DemoServer.h"
#endif

namespace {

// Carried by the executable so that `strings` and file managers can tell its version.
[[gnu::used]] const char kVersionInfo[] = "FileVersion=" BUNKMERE_VERSION
                                          "\0ProductVersion=9.4.0\0ProductName=Bunkmere\0"
                                          "Language=0409 (US English), code page 1252";

// The address, relative to the executable's load address, of the code that met the failure.
[[gnu::noinline]] std::uintptr_t CodeAddress() {
  void* here = __builtin_return_address(0);
  Dl_info info{};
  if (dladdr(here, &info) != 0 && info.dli_fbase != nullptr)
    return reinterpret_cast<std::uintptr_t>(here) -
           reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return reinterpret_cast<std::uintptr_t>(here);
}

}  // namespace

int main(int /*argc*/, char** argv) {
  using namespace bunkmere;
  // Only the program's own name reaches the toolkit: no argument is read.
  TApplication application(argv[0]);
  try {
    application.SetMainFormOnTaskBar(true);
    application.SetTitle("Bunkmere");
    application.SetIcon(std::string_view(kBunkmereIcon, sizeof(kBunkmereIcon) - 1));
    auto window = std::make_unique<TfrmSynchCellsMain>(nullptr);
    frmSynchCellsMain = window.get();
#ifdef BUNKMERE_DEMO_SERVER_HOOK
    PointAtDemoServer(*window);
#endif
    const int code = application.Run(*window);
    window.reset();
    return code;
  } catch (const std::exception& e) {
    return ShowUnhandledFailure(FailureClassName(e), e.what(), CodeAddress());
  } catch (...) {
    return ShowUnhandledFailure("Unknown", "Unknown failure", CodeAddress());
  }
}
