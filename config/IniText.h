#pragma once
// The site file's INI text, read by the rules existing site files were written against.
//
// Every line is trimmed; empty lines and lines starting with ";" are skipped; "[name]" opens a
// section (name trimmed); inside a section, "key=value" is an entry split at the first "=",
// both sides trimmed, the value kept exactly as written (quotes included). Lines before the
// first section and lines without "=" carry nothing. Section names and keys are compared
// without regard to ASCII letter case, and when either occurs more than once the first one
// counts: a repeated section's lines are ignored as a whole, not merged into the first.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace bunkmere {

class TIniText {
 public:
  TIniText() = default;
  // AText is already decoded (UTF-8). Lines end at CR LF, LF or CR.
  explicit TIniText(std::string_view AText);
  // Raw file bytes: a byte-order mark selects UTF-8 or UTF-16, otherwise AAnsiCodePage.
  static TIniText FromBytes(std::string_view ABytes, unsigned AAnsiCodePage);

  // The value of the first entry AKey of the first section ASection; nullopt when absent.
  std::optional<std::string_view> Value(std::string_view ASection, std::string_view AKey) const;
  std::string ReadString(std::string_view ASection, std::string_view AKey,
                         std::string_view ADefault) const;

 private:
  using TEntries = std::unordered_map<std::string, std::string>;  // upper-cased key -> value
  std::unordered_map<std::string, TEntries> FSections;            // upper-cased name -> entries
};

}  // namespace bunkmere
