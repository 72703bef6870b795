// Feeds arbitrary bytes to the text decoders and readers and checks the properties every
// input must keep: no crash or read past the input, valid UTF-8 out, conversions agreeing
// with each other.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/Convert.h"
#include "core/DateTime.h"
#include "core/Encoding.h"
#include "core/SqlText.h"
#include "platform/PosixFormats.h"
#include "platform/PosixMounts.h"

namespace {

void Check(bool ACondition) {
  if (!ACondition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace bunkmere;
  // Copied so that AddressSanitizer catches any read past the end of the input.
  const std::string bytes(reinterpret_cast<const char*>(AData), ASize);

  const std::string sanitized = SanitizeUtf8(bytes);
  Check(IsValidUtf8(sanitized));
  Check(IsValidUtf8(bytes) == (sanitized == bytes));
  const std::u16string utf16 = Utf8ToUtf16(bytes);
  Check(Utf16Length(bytes) == utf16.size());
  Check(Utf16ToUtf8(utf16) == sanitized);

  // The same bytes read as UTF-16 units (odd lengths and lone surrogates included).
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  Check(IsValidUtf8(Utf16ToUtf8(units)));

  const std::size_t cut = ASize == 0 ? 0 : AData[0] % 40;
  const std::string left = Utf8Left(bytes, cut);
  Check(bytes.compare(0, left.size(), left) == 0);
  Check(Utf16Length(left) <= cut);

  for (unsigned codePage : {CP_UTF8, CP_WINDOWS1252}) {
    const std::string text = DecodeText(bytes, codePage);
    Check(IsValidUtf8(text));
    Check(IsValidUtf8(EncodeAnsi(text, CP_UTF8)));
    EncodeAnsi(bytes, codePage);
  }
  Check(EncodeAnsi(Windows1252ToUtf8(bytes), CP_WINDOWS1252) == bytes);

  std::int32_t number = 0;
  if (TryStrToInt(bytes, number)) {
    bool b = false;
    Check(TryStrToBool(bytes, b) && b == (number != 0));
  }
  IniStrToInt(bytes);

  for (TNameQuoting q :
       {TNameQuoting::nqUnquote, TNameQuoting::nqQuoteIfNeeded, TNameQuoting::nqQuote})
    NormalizeName(bytes, q);
  Check(UnquoteName(QuoteName(bytes)) == bytes || IsQuotedName(bytes));

  TFormatSettings settings;
  settings.ShortDateFormat = bytes;
  settings.LongTimeFormat = bytes;
  double when = 46366.5;
  if (ASize >= sizeof when) std::memcpy(&when, AData, sizeof when);
  FormatDateTime(bytes, when, settings);
  DateTimeToStr(when, settings);

  for (const TMountEntry& e : ParseMountInfo(bytes))
    Check(!e.MountPoint.empty() && e.MountPoint[0] == '/');
  std::string separator;
  const std::string pattern = StrftimeToPattern(bytes, '/', separator);
  FormatDateTime(pattern, when, settings);
  return 0;
}
