#pragma once
// The standard streams of a program that may have been started without a console. On
// Windows Bunkmere is a window program: it gets no console of its own, so an unattended run
// writes to the handles its starter redirected, and otherwise to the console of the process
// that started it, when there is one (a command prompt). Elsewhere the streams are there.

#include <cstdio>

namespace bunkmere {

// Connects stdout and stderr as said above; call before writing anything.
void UseStartersConsole();

// Whether AStream writes to a terminal (a console window on Windows).
bool IsTerminal(std::FILE* AStream);

}  // namespace bunkmere
