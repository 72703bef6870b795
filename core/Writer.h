#pragma once
// Writing stored descriptions. Per component, the published properties in declaration order
// whose stored condition holds and whose value differs from the default; nested objects as
// `Options.Name = ...` lines; a class's custom entries (in the place of the published
// property of the same name, or after the properties); then the components the root owns as
// nested blocks in creation order (a component whose GetParentComponent is another of the
// root's components is written inside that component's block). Reading the text back and
// writing it again gives the same text.

#include <cstdint>
#include <string>
#include <string_view>

namespace bunkmere {

class TComponent;
class TPersistent;

std::string WriteComponentDescription(const TComponent& ARoot);

// The writer as a class's custom entry sees it: the entry writes exactly one value.
class TWriter {
 public:
  void WriteIdent(std::string_view AIdent);
  void WriteString(std::string_view AText);
  void WriteInteger(std::int64_t AValue);
  void WriteBoolean(bool AValue);
  void WriteFloat(double AValue);

 private:
  friend class TDescriptionWriter;
  explicit TWriter(std::string& AOut) : FOut(AOut) {}
  void Begin();

  std::string& FOut;
  bool FWritten = false;
};

}  // namespace bunkmere
