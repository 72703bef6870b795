// Any bytes as a site file: decoding, line and section rules, lookups, and the overlay merge of
// what the file gives as the connection string.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/ConnectionStringOverlay.h"
#include "config/IniText.h"
#include "core/Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
  for (unsigned code_page : {bunkmere::CP_UTF8, bunkmere::CP_WINDOWS1252}) {
    const bunkmere::TIniText ini = bunkmere::TIniText::FromBytes(bytes, code_page);
    const auto conn = ini.Value("DataProvider", "ConnStr");
    const auto overlay = ini.Value("Paths", "LibPath");
    if (conn && overlay) bunkmere::ApplyConnectionStringOverlay(*conn, *overlay);
    if (conn) bunkmere::ApplyConnectionStringOverlay(*conn, "Server=x;Database=;A=1;a=2");
    ini.Value("Paging", "Enabled");
    ini.Value("", "");
  }
  return 0;
}
