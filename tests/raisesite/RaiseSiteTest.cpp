#include "app/RaiseSite.h"

#include <gtest/gtest.h>

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace bunkmere {
namespace {

// Each throws and does nothing else, so the throw lies within the function's first bytes.
[[gnu::noinline, gnu::noclone]] void RaiseFirst() {
  throw std::runtime_error("first");
}
[[gnu::noinline, gnu::noclone]] void RaiseSecond() {
  throw std::logic_error("second");
}

std::uintptr_t Relative(void (*AFunction)()) {
  const auto address = reinterpret_cast<std::uintptr_t>(AFunction);
#ifdef _WIN32
  return address - reinterpret_cast<std::uintptr_t>(::GetModuleHandleW(nullptr));
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(AFunction), &info) == 0) return address;
  return address - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
#endif
}

// The site lies within AFunction, which is a few instructions long.
void ExpectWithin(std::uintptr_t ASite, void (*AFunction)(), const char* AName) {
  const std::uintptr_t start = Relative(AFunction);
  EXPECT_GE(ASite, start) << AName;
  EXPECT_LT(ASite, start + 128) << AName;
}

TEST(RaiseSite, NamesTheThrowNotTheHandler) {
  try {
    RaiseFirst();
    FAIL() << "no throw";
  } catch (const std::exception& e) {
    ExpectWithin(RaiseSiteOf(&e), &RaiseFirst, "RaiseFirst");
  }
}

TEST(RaiseSite, AFailureKeepsItsSiteWhileOthersAreRaisedAndCaught) {
  try {
    RaiseFirst();
  } catch (const std::exception& first) {
    // Clean-up on the way out that throws and catches on its own.
    try {
      RaiseSecond();
    } catch (const std::exception& second) {
      ExpectWithin(RaiseSiteOf(&second), &RaiseSecond, "RaiseSecond");
    }
    ExpectWithin(RaiseSiteOf(&first), &RaiseFirst, "RaiseFirst");
  }
}

TEST(RaiseSite, AFailureNeverSeenThrownGivesTheCallersAddress) {
  const std::runtime_error unseen("made, not thrown");
  const std::uintptr_t site = RaiseSiteOf(&unseen);
  const std::uintptr_t first = Relative(&RaiseFirst);
  EXPECT_FALSE(site >= first && site < first + 128);
}

}  // namespace
}  // namespace bunkmere
