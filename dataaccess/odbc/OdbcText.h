#pragma once
// Text at the edge of the driver. On Windows the driver is spoken to through its wide entry
// points with UTF-16 text: the narrow ones convert through the workstation's ANSI code page,
// which loses every character it lacks and garbles UTF-8 outright. Elsewhere FreeTDS takes
// the layer's UTF-8 as it is (its client charset), so the narrow path stays unless the build
// asks for the wide one (BUNKMERE_ODBC_WIDE).

#include "dataaccess/odbc/OdbcApi.h"

#include <string>
#include <string_view>

#include "core/Encoding.h"

namespace bunkmere::odbc {

#if defined(_WIN32) || defined(BUNKMERE_ODBC_WIDE)
inline constexpr bool kWideText = true;
#else
inline constexpr bool kWideText = false;
#endif

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver's wide text is UTF-16");

// AText as the driver's wide text (not terminated; data() of the result is).
inline std::u16string ToDriverWide(std::string_view AText) {
  return Utf8ToUtf16(AText);
}

inline SQLWCHAR* WidePointer(std::u16string& AText) {
  return reinterpret_cast<SQLWCHAR*>(AText.data());
}

// AUnits UTF-16 units of the driver's text at AText as UTF-8.
inline std::string FromDriverWide(const void* AText, std::size_t AUnits) {
  return Utf16ToUtf8(std::u16string_view(static_cast<const char16_t*>(AText), AUnits));
}

}  // namespace bunkmere::odbc
