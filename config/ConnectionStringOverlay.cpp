#include "config/ConnectionStringOverlay.h"

#include <optional>
#include <vector>

#include "core/StrUtils.h"

namespace bunkmere {
namespace {

// Cuts at every ";"; the part after the last ";" is a piece only when it is not empty, yet an
// empty text is one empty piece. Sites rely on both: "A=1;" has one piece, and an empty base
// string merged with "A=1" gives ";A=1".
std::vector<std::string> SplitPieces(std::string_view AText) {
  std::vector<std::string> pieces;
  if (AText.empty()) {
    pieces.emplace_back();
    return pieces;
  }
  std::size_t start = 0;
  for (std::size_t semi = AText.find(';'); semi != std::string_view::npos;
       semi = AText.find(';', start)) {
    pieces.emplace_back(AText.substr(start, semi - start));
    start = semi + 1;
  }
  if (start < AText.size()) pieces.emplace_back(AText.substr(start));
  return pieces;
}

// The text before the first "="; a piece without "=" has no name at all (which differs from
// the empty name of "=value").
std::optional<std::string_view> NameOf(std::string_view APiece) {
  const std::size_t eq = APiece.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return APiece.substr(0, eq);
}

std::string_view ValueOf(std::string_view APiece) {
  const std::size_t eq = APiece.find('=');
  return eq == std::string_view::npos ? std::string_view{} : APiece.substr(eq + 1);
}

template <class Pieces>
std::ptrdiff_t FindByName(const Pieces& APieces, std::string_view AName) {
  for (std::size_t i = 0; i < APieces.size(); ++i) {
    const auto name = NameOf(APieces[i]);
    if (name && SameText(*name, AName)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

}  // namespace

std::string ApplyConnectionStringOverlay(std::string_view AOriginal, std::string_view AOverlay) {
  std::vector<std::string> result = SplitPieces(AOriginal);
  const std::vector<std::string> overlay = SplitPieces(AOverlay);

  for (const std::string& piece : overlay) {
    const auto name = NameOf(piece);
    if (!name) continue;
    // A name repeated in the overlay always carries its first value.
    const std::string_view value =
        ValueOf(overlay[static_cast<std::size_t>(FindByName(overlay, *name))]);
    const std::ptrdiff_t at = FindByName(result, *name);
    if (!value.empty()) {
      std::string pair;
      pair.reserve(name->size() + 1 + value.size());
      pair.append(*name).append(1, '=').append(value);
      if (at >= 0)
        result[static_cast<std::size_t>(at)] = std::move(pair);
      else
        result.push_back(std::move(pair));
    } else if (at >= 0) {
      result.erase(result.begin() + at);
    }
  }

  std::string joined;
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (i > 0) joined.push_back(';');
    joined.append(result[i]);
  }
  return joined;
}

}  // namespace bunkmere
