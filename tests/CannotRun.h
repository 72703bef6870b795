#pragma once
// For a test that cannot run here: a tool, a server or a setting it needs is missing. On CI
// (CI=true) that is a failure with its reason, since a skipped test would let a green run hide
// that nothing was checked. On a developer's machine it is a skip, marked so that it stands
// out, and scripts/test still refuses the run unless tests/allowed-skips.txt lists it.
//
//   if (!Available()) BUNKMERE_CANNOT_RUN("sqlstandin is not built");
//
// The reason may be a chain of << operands; it is evaluated once, on the path taken.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace bunkmere::cannot_run {

// CI services set CI=true; "0" and "false" (any case) say it is not one.
inline bool OnCi() {
  const char* value = std::getenv("CI");
  if (value == nullptr || *value == '\0') return false;
  std::string text(value);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text != "0" && text != "false";
}

// Records the outcome in the running test; the macro returns from it right after, as
// GTEST_FAIL and GTEST_SKIP do.
inline void CannotRunHere(const char* AFile, int ALine, const ::testing::Message& AWhy) {
  const bool onCi = OnCi();
  const std::string text =
      (onCi ? "cannot run on CI: " : "NOT RUN (a failure on CI): ") + AWhy.GetString();
  ::testing::internal::AssertHelper(
      onCi ? ::testing::TestPartResult::kFatalFailure : ::testing::TestPartResult::kSkip, AFile,
      ALine, text.c_str()) = ::testing::Message();
}

}  // namespace bunkmere::cannot_run

// One statement with no else of its own, so that it sits safely under an if.
#define BUNKMERE_CANNOT_RUN(reason) \
  return ::bunkmere::cannot_run::CannotRunHere(__FILE__, __LINE__, ::testing::Message() << reason)
