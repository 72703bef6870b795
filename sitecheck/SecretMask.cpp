#include "sitecheck/SecretMask.h"

#include <algorithm>

#include "core/StrUtils.h"

namespace bunkmere {
namespace {

bool IsPasswordName(std::string_view AName) {
  const std::string_view name = TrimView(AName);
  return SameText(name, "Password") || SameText(name, "PWD");
}

// The value as the reader takes it: trimmed, surrounding double quotes removed and trimmed
// again.
std::string_view PlainValue(std::string_view AValue) {
  std::string_view value = TrimView(AValue);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = TrimView(value.substr(1, value.size() - 2));
  return value;
}

}  // namespace

std::string TSecretMask::MaskConnectString(std::string_view AText) {
  std::string out;
  std::size_t start = 0;
  while (start <= AText.size()) {
    // The piece runs to the next ";" outside double quotes.
    std::size_t end = start;
    bool quoted = false;
    for (; end < AText.size(); ++end) {
      if (AText[end] == '"') quoted = !quoted;
      if (AText[end] == ';' && !quoted) break;
    }
    const std::string_view piece = AText.substr(start, end - start);
    const std::size_t eq = piece.find('=');
    if (eq != std::string_view::npos && IsPasswordName(piece.substr(0, eq)) &&
        !PlainValue(piece.substr(eq + 1)).empty()) {
      AddSecret(PlainValue(piece.substr(eq + 1)));
      // The raw value too: an unbalanced quote makes the reader see more than PlainValue.
      AddSecret(TrimView(piece.substr(eq + 1)));
      out.append(piece.substr(0, eq + 1)).append(kMask);
    } else {
      out.append(piece);
    }
    if (end >= AText.size()) break;
    out += ';';
    start = end + 1;
  }
  return out;
}

void TSecretMask::AddSecret(std::string_view ASecret) {
  if (ASecret.empty()) return;
  if (std::find(FSecrets.begin(), FSecrets.end(), ASecret) != FSecrets.end()) return;
  FSecrets.emplace_back(ASecret);
  // Longest first, so a password that holds a shorter one is masked whole.
  std::stable_sort(FSecrets.begin(), FSecrets.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string TSecretMask::Mask(std::string_view AText) const {
  std::string out(AText);
  for (const std::string& secret : FSecrets) out = StringReplace(out, secret, kMask);
  return out;
}

}  // namespace bunkmere
