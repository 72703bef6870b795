#include "platform/CrashDumps.h"

#ifdef _WIN32
#include <windows.h>
// Declared by <werapi.h> only for a newer _WIN32_WINNT than this build targets; kernel32 has it
// from Vista on.
extern "C" HRESULT WINAPI WerSetFlags(DWORD dwFlags);
#else
#include <sys/prctl.h>
#endif

namespace bunkmere {

void KeepMemoryOutOfCrashDumps() noexcept {
#ifdef _WIN32
  // WER_FAULT_REPORTING_FLAG_NOHEAP, which this SDK's header does not name.
  constexpr DWORD kNoHeap = 1;
  WerSetFlags(kNoHeap);
#else
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

bool ProcessMemoryIsDumpable() noexcept {
#ifdef _WIN32
  return false;
#else
  return prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 1;
#endif
}

}  // namespace bunkmere
