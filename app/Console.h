#pragma once
// The standard streams of a program that may have been started without a console. On
// Windows Bunkmere is a window program: it gets no console of its own, so an unattended run
// writes to the handles its starter redirected, and otherwise to the console of the process
// that started it, when there is one (a command prompt). Elsewhere the streams are there.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace bunkmere {

// Connects stdout and stderr as said above; call before writing anything.
void UseStartersConsole();

// Whether AStream writes to a terminal (a console window on Windows).
bool IsTerminal(std::FILE* AStream);

// Whether a terminal on AStream follows the escape sequences that rewrite a line in place.
// A Windows console is asked to, and older consoles refuse.
bool TerminalRewritesLines(std::FILE* AStream);

// The program's arguments in UTF-8, without its name. Windows hands a program its command
// line in UTF-16 and argv in the ANSI code page, which cannot hold every file name: there it
// is read from the UTF-16 line, split as the C runtime splits it.
std::vector<std::string> ProgramArguments(int AArgc, char** AArgv);

// Writes UTF-8 AText to AStream; a Windows console gets it as UTF-16, whatever its code page.
void WriteText(std::FILE* AStream, std::string_view AText);

}  // namespace bunkmere
