// Connection strings come from site files and the program library table: hostile input.
// Invariants: reading never crashes; a failure is an Exception and changes nothing; text
// generated from any settings reads back to the same settings, whether the settings were read
// from the input or made from its bytes; and no message depends on a password: read after an
// unquoted password, two inputs that differ only in their password's bytes (the input's 0x01
// bytes, written as "jq" or "qj", which no name or value of the format holds) fail or succeed
// alike, with the same message.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "dataaccess/ConnectSettings.h"

using namespace bunkmere;

namespace {

void CheckRoundTrip(const TConnectSettings& ASettings, const TConnectSettings& AStart) {
  TConnectSettings again = AStart;
  ApplyConnectString(again, GenerateConnectString(ASettings));
  if (!(again == ASettings)) std::abort();
}

// Settings whose text values are pieces of the input cut at NUL bytes. The reader trims every
// value, so a value's blanks at either end are not part of what the format can carry.
TConnectSettings SettingsFromBytes(std::string_view AText) {
  TConnectSettings s;
  std::string* texts[] = {&s.Server,          &s.Database,        &s.Username,
                          &s.Password,        &s.Language,        &s.NetworkLibrary,
                          &s.InitialFileName, &s.FailoverPartner, &s.ApplicationName,
                          &s.WorkstationID};
  std::size_t start = 0;
  for (std::string* t : texts) {
    if (start > AText.size()) break;
    std::size_t end = AText.find('\0', start);
    if (end == std::string_view::npos) end = AText.size();
    *t = Trim(AText.substr(start, end - start));
    start = end + 1;
  }
  const unsigned flags = AText.empty() ? 0u : static_cast<unsigned char>(AText.back());
  s.Encrypt = flags & 1;
  s.LoginPrompt = flags & 2;
  s.AutoTranslate = flags & 4;
  s.Authentication = flags & 8 ? TMSAuthentication::auWindows : TMSAuthentication::auServer;
  s.Port = static_cast<int>(AText.size()) * 37;
  return s;
}

// The outcome of reading AText: empty on success, else the exception's class and message.
std::string Outcome(const std::string& AText) {
  TConnectSettings s;
  try {
    ApplyConnectString(s, AText);
  } catch (const EConvertError& e) {
    return "EConvertError: " + e.Message();
  } catch (const Exception& e) {
    return "Exception: " + e.Message();
  }
  return {};
}

void CheckNoSecretShown(std::string_view AText) {
  if (AText.find('\x01') == std::string_view::npos || AText.find('"') != std::string_view::npos)
    return;
  std::string a = "PWD=", b = "PWD=";
  for (char c : AText) {
    if (c == '\x01') {
      a += "jq";
      b += "qj";
    } else {
      a += c;
      b += c;
    }
  }
  if (Outcome(a) != Outcome(b)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  std::string_view text(reinterpret_cast<const char*>(AData), ASize);
  CheckRoundTrip(SettingsFromBytes(text), TConnectSettings{});
  CheckNoSecretShown(text);

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
  CheckRoundTrip(s, before);
  return 0;
}
