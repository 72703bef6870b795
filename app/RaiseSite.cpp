#include "app/RaiseSite.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <array>
#include <cstddef>

// The linker sends every throw of the program's own code here (-Wl,--wrap=__cxa_throw).
extern "C" [[noreturn]] void __real___cxa_throw(void* AObject, void* AType,
                                                void (*ADestroy)(void*));

namespace {

struct TThrow {
  const void* Object = nullptr;
  const void* Site = nullptr;
};

// A few recent throws per thread: a failure may be caught, cleaned up after (throwing and
// catching on the way) and re-raised before main sees it, so the last throw alone is not
// enough. The newest entry for an object is its own: a live object's address cannot have
// been handed out again since its throw.
thread_local std::array<TThrow, 16> tThrows;
thread_local std::size_t tNext = 0;

std::uintptr_t RelativeToModule(const void* AAddress) {
#ifdef _WIN32
  // A module's handle is its load address.
  HMODULE module = nullptr;
  if (::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(AAddress), &module) &&
      module != nullptr)
    return reinterpret_cast<std::uintptr_t>(AAddress) - reinterpret_cast<std::uintptr_t>(module);
#else
  Dl_info info{};
  if (dladdr(AAddress, &info) != 0 && info.dli_fbase != nullptr)
    return reinterpret_cast<std::uintptr_t>(AAddress) -
           reinterpret_cast<std::uintptr_t>(info.dli_fbase);
#endif
  return reinterpret_cast<std::uintptr_t>(AAddress);
}

}  // namespace

extern "C" [[noreturn]] void __wrap___cxa_throw(void* AObject, void* AType,
                                                void (*ADestroy)(void*)) {
  // One byte back from the return address: inside the call itself, so the address names the
  // throwing line rather than whatever code the compiler placed after a call that never returns.
  tThrows[tNext % tThrows.size()] = {AObject,
                                     static_cast<const char*>(__builtin_return_address(0)) - 1};
  ++tNext;
  __real___cxa_throw(AObject, AType, ADestroy);
}

namespace bunkmere {

std::uintptr_t RaiseSiteOf(const std::exception* AFailure) {
  if (AFailure != nullptr) {
    const void* object = dynamic_cast<const void*>(AFailure);
    const std::size_t seen = tNext < tThrows.size() ? tNext : tThrows.size();
    for (std::size_t i = 1; i <= seen; ++i) {
      const TThrow& t = tThrows[(tNext - i) % tThrows.size()];
      if (t.Object == object) return RelativeToModule(t.Site);
    }
  }
  return RelativeToModule(__builtin_return_address(0));
}

}  // namespace bunkmere
