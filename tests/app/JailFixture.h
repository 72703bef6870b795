#pragma once
// A main window on a private stand-in holding a small jail: the schema of the housing and
// bookings tables with only the columns the pass touches, filled by the test's own rows.
// Message boxes are answered and recorded; the window finds the stand-in the way the program
// does at a site: through a site file (here in a folder made current while the window is
// built) and the program library row for "JAIL".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/BunkmereMain.h"
#include "standin/testing/StandinServer.h"
#include "tests/ui/RecordingMessageBoxes.h"

namespace bunkmere::testing {

// The housing and bookings tables with the column types a site uses.
extern const char* const kJailSchema;

// CREATE DATABASE JAIL, the schema, then ARows (T-SQL inserts).
std::string JailScript(const std::string& ARows);

class JailFixture {
 public:
  explicit JailFixture(const std::string& ARows, std::vector<std::string> AFaults = {});
  // Runs a whole script as the stand-in's init (the sample database).
  static std::unique_ptr<JailFixture> FromScript(const std::string& AScript,
                                                 std::vector<std::string> AFaults = {});
  ~JailFixture();

  TfrmSynchCellsMain& Window() { return *FWindow; }
  standin::testing::StandinServer& Server() { return *FServer; }
  RecordingMessageBoxes& Boxes() { return FBoxes; }

  // Clicks the start button as a person does.
  void PressStart();
  std::vector<std::string> Log() const;
  // The statements the pass built itself (counts and listings), in the order sent, without
  // the line break the query adds after its one line.
  std::vector<std::string> PassStatements() const;
  // Rows of ASql read over a connection of the test's own, each column as text ("NULL" for
  // NULL), columns joined by "|".
  std::vector<std::string> Query(const std::string& ASql) const;
  // Runs a statement as another workstation would.
  void Exec(const std::string& ASql) const;

 private:
  struct FromScriptTag {};
  JailFixture(FromScriptTag, const std::string& AScript, std::vector<std::string> AFaults);

  RecordingMessageBoxes FBoxes;
  std::unique_ptr<standin::testing::StandinServer> FServer;
  std::unique_ptr<TfrmSynchCellsMain> FWindow;
};

// The step the stand-in gives the first statement containing APattern in a pass over a jail
// of ARows, as a probe pass numbers it: a second pass over the same rows can fail or cut it
// there.
std::int64_t StepOfFirst(const std::string& ARows, const std::string& APattern);

// A main window built, as at a site, with a site file reaching AServer's JAIL database.
std::unique_ptr<TfrmSynchCellsMain> WindowAtSite(const standin::testing::StandinServer& AServer);

}  // namespace bunkmere::testing
