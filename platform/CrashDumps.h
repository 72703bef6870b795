#pragma once
// A crash dump of a process holds its memory, and so every password it read from a site file
// or a program library row. Each program turns dumps of its memory off before it reads any.

namespace bunkmere {

// POSIX: the process is made non-dumpable (no core file, no ptrace by other users). Windows:
// error reports leave the process's heap out. Best effort: a system that refuses changes
// nothing, and the program goes on.
void KeepMemoryOutOfCrashDumps() noexcept;

// Whether a core dump of this process would be written at all (POSIX); always false on Windows,
// where the heap is what is kept out.
bool ProcessMemoryIsDumpable() noexcept;

}  // namespace bunkmere
