#include "config/IniText.h"

#include "core/Encoding.h"
#include "core/StrUtils.h"

namespace bunkmere {
namespace {

// Only ASCII letters fold, so names compare the same whatever the process locale is.
std::string FoldKey(std::string_view AText) {
  return UpperCase(AText);
}

}  // namespace

TIniText::TIniText(std::string_view AText) {
  TEntries* current = nullptr;  // null before the first section and inside a repeated one
  std::size_t pos = 0;
  while (pos < AText.size()) {
    std::size_t end = AText.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = AText.size();
    const std::string_view line = TrimView(AText.substr(pos, end - pos));
    // CR LF yields an empty line in between, which is skipped like any empty line.
    pos = end + 1;

    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      auto [it, inserted] =
          FSections.try_emplace(FoldKey(TrimView(line.substr(1, line.size() - 2))));
      current = inserted ? &it->second : nullptr;
      continue;
    }
    if (current == nullptr) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    current->try_emplace(FoldKey(TrimView(line.substr(0, eq))), TrimView(line.substr(eq + 1)));
  }
}

TIniText TIniText::FromBytes(std::string_view ABytes, unsigned AAnsiCodePage) {
  return TIniText(DecodeText(ABytes, AAnsiCodePage));
}

std::optional<std::string_view> TIniText::Value(std::string_view ASection,
                                                std::string_view AKey) const {
  const auto section = FSections.find(FoldKey(ASection));
  if (section == FSections.end()) return std::nullopt;
  const auto entry = section->second.find(FoldKey(AKey));
  if (entry == section->second.end()) return std::nullopt;
  return entry->second;
}

std::string TIniText::ReadString(std::string_view ASection, std::string_view AKey,
                                 std::string_view ADefault) const {
  return std::string(Value(ASection, AKey).value_or(ADefault));
}

}  // namespace bunkmere
