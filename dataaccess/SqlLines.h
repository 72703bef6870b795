#pragma once
// A statement's text as a list of lines. The text is the lines joined, each followed by a
// carriage return and line feed; the owner hears of every change.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Persistent.h"

namespace bunkmere {

class TSqlLines : public TPersistent {
 public:
  TSqlLines() = default;
  const char* ClassName() const noexcept override { return "TStrings"; }
  int Count() const noexcept { return static_cast<int>(FLines.size()); }
  const std::string& operator[](int AIndex) const {
    return FLines.at(static_cast<std::size_t>(AIndex));
  }
  const std::vector<std::string>& Strings() const noexcept { return FLines; }

  void Clear();
  void Add(std::string_view ALine);
  void SetStrings(std::vector<std::string> ALines);
  // Splits at CR LF, lone CR or lone LF; a final line break adds no empty line.
  void SetText(std::string_view AText);
  std::string Text() const;
  bool Empty() const noexcept { return FLines.empty(); }

  std::function<void()> OnChange;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::vector<std::string> FLines;
};

}  // namespace bunkmere
