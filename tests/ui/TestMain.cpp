// Tests of the window's controls run with a real Qt application on the offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/ui/RuntimeFolder.h"
#include "ui/Application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  bunkmere::testing::ProvideRuntimeFolder();
  bunkmere::TApplication app(argv[0]);
  app.SetTitle("Bunkmere");
  return RUN_ALL_TESTS();
}
