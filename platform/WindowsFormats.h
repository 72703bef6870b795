#pragma once
// Windows' regional date and time pictures ("M/d/yyyy", "HH:mm:ss", "h:mm:ss tt") turned into
// the system's date-time patterns. Pure text work, so it is tested on every platform.

#include <string>
#include <string_view>

namespace bunkmere {

// APicture as a pattern of FormatDateTime. The first literal text between two numeric fields
// becomes ASeparator and is written, there and wherever it parts two numbers, as
// ASeparatorToken ("/" for dates, ":" for times); other literal text, quoted or not in the
// picture, is quoted. With ASeparatorToken '\0' all literal text is quoted (for the formats
// whose separators need not match the short ones). Era fields ("g") have no counterpart and are
// dropped together with the blanks that part them from the rest.
std::string WindowsPictureToPattern(std::string_view APicture, char ASeparatorToken,
                                    std::string& ASeparator);

}  // namespace bunkmere
