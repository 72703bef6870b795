// Another Bunkmere on the same database, for the tests that run passes at once: it builds the
// main window in the site folder given (offscreen), says "ready", presses start when it reads
// "go", writes each message box as a line "box: TEXT" (line breaks shown as " / ") and then
// "done", and keeps its window and connection until its input ends.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "app/BunkmereMain.h"
#include "tests/app/SiteFolder.h"
#include "tests/ui/RecordingMessageBoxes.h"
#include "tests/ui/RuntimeFolder.h"
#include "ui/Application.h"
#include "ui/StdCtrls.h"

int main(int argc, char** argv) {
  using namespace bunkmere;
  if (argc != 2) {
    std::cerr << "usage: app_pass_runner SITE-FOLDER\n";
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::ProvideRuntimeFolder();
  TApplication app(argv[0]);
  testing::RecordingMessageBoxes boxes;
  std::unique_ptr<TfrmSynchCellsMain> window;
  try {
    const testing::TCurrentDirectory inSite(argv[1]);
    window = std::make_unique<TfrmSynchCellsMain>(nullptr);
  } catch (const std::exception& e) {
    std::cout << "error: " << e.what() << std::endl;
    return 1;
  }
  std::cout << "ready" << std::endl;
  std::string line;
  if (!std::getline(std::cin, line) || line != "go") return 1;
  window->btConvertTavrichWeekenders->Click();
  for (std::string text : boxes.Texts()) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
    std::cout << "box: " << text << "\n";
  }
  std::cout << "done" << std::endl;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
