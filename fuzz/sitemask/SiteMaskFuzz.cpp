// A site file's connection string with a password put in by its writer: whatever surrounds it,
// what the site check prints of the string, and what any program says when it cannot read it,
// must not depend on the password. The input is the text before and after the password value,
// split at its first NUL byte; two passwords of different lengths and characters go between.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Exceptions.h"
#include "dataaccess/ConnectSettings.h"
#include "sitecheck/SecretMask.h"

using namespace bunkmere;

namespace {

std::string ReaderSays(const std::string& AText) {
  TConnectSettings s;
  try {
    ApplyConnectString(s, AText);
    return {};
  } catch (const Exception& e) {
    return e.Message();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::string_view input(reinterpret_cast<const char*>(AData), ASize);
  const std::size_t cut = input.find('\0');
  if (cut == std::string_view::npos) return 0;
  const std::string before = std::string(input.substr(0, cut)) + "Password=";
  const std::string after(input.substr(cut + 1));
  const std::string first = before + "Secr3t" + after;
  const std::string second = before + "xq7Zw9pQ2" + after;
  if (ShownConnectString(first) != ShownConnectString(second)) std::abort();
  if (ReaderSays(first) != ReaderSays(second)) std::abort();
  return 0;
}
