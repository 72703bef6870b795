// Connection strings come from site files and the program library table: hostile input.
// Invariants: reading never crashes; a failure is an Exception and changes nothing; text
// generated from settings that were read reads back to the same settings (when no value holds
// a double quote, which the format cannot escape).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Exceptions.h"
#include "dataaccess/ConnectSettings.h"

using namespace bunkmere;

namespace {

bool HoldsQuote(const TConnectSettings& s) {
  for (const std::string* v : {&s.Server, &s.Database, &s.Username, &s.Password, &s.Language,
                               &s.NetworkLibrary, &s.InitialFileName, &s.FailoverPartner,
                               &s.ApplicationName, &s.WorkstationID})
    if (v->find('"') != std::string::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  std::string_view text(reinterpret_cast<const char*>(AData), ASize);
  TConnectSettings s;
  s.Server = "before";
  s.LoginPrompt = false;
  const TConnectSettings before = s;
  try {
    ApplyConnectString(s, text);
  } catch (const Exception&) {
    if (!(s == before)) std::abort();
    return 0;
  }
  if (HoldsQuote(s)) return 0;
  TConnectSettings again = before;
  ApplyConnectString(again, GenerateConnectString(s));
  if (!(again == s)) std::abort();
  return 0;
}
