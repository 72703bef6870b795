#include "dataaccess/SqlLines.h"

namespace bunkmere {

void TSqlLines::Clear() {
  if (FLines.empty()) return;
  FLines.clear();
  Changed();
}

void TSqlLines::Add(std::string_view ALine) {
  FLines.emplace_back(ALine);
  Changed();
}

void TSqlLines::SetStrings(std::vector<std::string> ALines) {
  FLines = std::move(ALines);
  Changed();
}

void TSqlLines::SetText(std::string_view AText) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] != '\r' && AText[i] != '\n') continue;
    lines.emplace_back(AText.substr(start, i - start));
    if (AText[i] == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < AText.size()) lines.emplace_back(AText.substr(start));
  SetStrings(std::move(lines));
}

std::string TSqlLines::Text() const {
  std::string out;
  for (const std::string& line : FLines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace bunkmere
