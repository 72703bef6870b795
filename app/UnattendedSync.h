#pragma once
// One synchronisation pass with no one at the button: the window is built as for a person
// (on a display-free backend), its start button pressed once, and what a person would read
// goes to the standard streams instead. Boxes become lines on the error stream; progress
// goes to the output stream (one line rewritten in place on a terminal, a line per facility
// otherwise); the last line says what was done. The conflicts log is saved as Save Log saves
// it, or to the file named. The result is an exit status a scheduler can act on.

#include <cstdio>

#include "app/CommandLine.h"

namespace bunkmere {

class TfrmSynchCellsMain;

struct TSyncStreams {
  std::FILE* Out = stdout;
  std::FILE* Err = stderr;
  // Progress is rewritten in place only on a terminal.
  bool OutIsTerminal = false;
};

// Runs the pass of AWindow once as ALine asks and saves its log; returns the exit status
// (kExitCompleted, kExitConflicts, kExitHeld or kExitFailed).
int RunUnattendedSync(TfrmSynchCellsMain& AWindow, const TCommandLine& ALine,
                      const TSyncStreams& AStreams);

}  // namespace bunkmere
