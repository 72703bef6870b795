#include "platform/WindowsFormats.h"

#include <gtest/gtest.h>

namespace bunkmere {
namespace {

TEST(WindowsFormats, PicturesBecomePatterns) {
  struct Case {
    const char* picture;
    char token;
    const char* pattern;
    const char* separator;
  };
  const Case cases[] = {
      {"M/d/yyyy", '/', "m/d/yyyy", "/"},
      {"dd.MM.yyyy", '/', "dd/mm/yyyy", "."},
      {"yyyy-MM-dd", '/', "yyyy/mm/dd", "-"},
      {"d/M/yy", '/', "d/m/yy", "/"},
      {"y/M/d", '/', "yy/m/d", "/"},
      {"dddd, MMMM d, yyyy", '\0', "dddd\", \"mmmm\" \"d\", \"yyyy", "?"},
      {"ddd d MMM yyyy", '/', "ddd\" \"d\" \"mmm\" \"yyyy", "?"},  // no two numbers side by side
      {"gg yyyy/MM/dd", '/', "yyyy/mm/dd", "/"},                   // the era has no counterpart
      {"yyyy'\xE5\xB9\xB4'M'\xE6\x9C\x88'd'\xE6\x97\xA5'", '/',
       "yyyy/m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"", "\xE5\xB9\xB4"},
      {"d 'de' MMMM 'de' yyyy", '/', "d\" de \"mmmm\" de \"yyyy", "?"},
      {"h:mm:ss tt", ':', "h:nn:ss\" \"ampm", ":"},
      {"h:mm tt", '\0', "h\":\"nn\" \"ampm", "?"},
      {"HH:mm:ss", ':', "hh:nn:ss", ":"},
      {"H.mm", ':', "h:nn", "."},
      {"tt hh:mm", ':', "ampm\" \"hh:nn", ":"},
      {"HH'h'mm", ':', "hh:nn", "h"},
      {"'It''s' H", ':', "\"It's \"h", "?"},
      {"'unterminated", ':', "\"unterminated\"", "?"},
  };
  for (const Case& c : cases) {
    std::string separator = "?";  // stays when the picture has no separator
    EXPECT_EQ(WindowsPictureToPattern(c.picture, c.token, separator), c.pattern) << c.picture;
    EXPECT_EQ(separator, c.separator) << c.picture;
  }
}

}  // namespace
}  // namespace bunkmere
