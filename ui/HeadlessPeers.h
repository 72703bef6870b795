#pragma once
// A backend that needs no display: every control keeps what it is told and shows nothing.
// Unattended runs build the same window on it; the memo keeps its lines, so the log reads back
// exactly as the window would have shown it. Chosen at run time (TApplication's peers), so
// the program carries it beside its toolkit's backend.

#include "ui/Peers.h"

namespace bunkmere {

// Message boxes of the headless application write their text to the standard error stream,
// one line each; a program that wants them elsewhere answers them through TMessageBoxes.
TPeerFactory& HeadlessPeerFactory();

}  // namespace bunkmere
