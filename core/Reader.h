#pragma once
// Reading stored descriptions into components.
//
// ReadComponentDescription applies a description's root block to an existing root (a window
// constructed by code) and creates the components of the nested blocks through the class
// registry, owned by the root, in stored order. The sequence:
//   1. the whole text is parsed first: a text that does not parse changes nothing;
//   2. the root enters the loading state, takes the block's name, and applies its entries
//      through its virtual ReadState;
//   3. each nested block in stored order: the component is constructed (or, when the root
//      already owned a component of that name before reading began, that one is used), then
//      enters the loading state (so its constructor ran outside it), gets its name, is given
//      its enclosing component through SetParentComponent when that is not the root, and
//      applies its entries through ReadState; its own nested blocks follow it;
//   4. component references are resolved, in stored order, once every block has been read,
//      so a reference may name a component stored later; their setters run only then;
//   5. Loaded runs on the root first, then on every component read, in stored order.
// Any failure (a description error, or an exception out of a constructor, setter or Loaded)
// frees every component the reading created, ends the loading state of the root and of the
// components reused, and passes on. Description errors are Exception with the message
// "<what> (line N, component X)"; exceptions from the components pass unchanged.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/DescriptionParser.h"
#include "core/ValueType.h"

namespace bunkmere {

class TComponent;
class TPersistent;
struct TPropInfo;

void ReadComponentDescription(TComponent& ARoot, std::string_view AText);

// Creates the root block's component through the class registry and reads the description
// into it. With an owner, the owner owns the result; without one, the caller does.
TComponent* CreateComponentFromDescription(TComponent& AOwner, std::string_view AText);
std::unique_ptr<TComponent> CreateComponentFromDescription(std::string_view AText);

// The reader as a component's ReadState and a class's custom entries see it. Entries of the
// current block are visited in stored order; a custom entry's reader is handed the reader
// positioned at the entry's value.
class TReader {
 public:
  // --- the entries of the current block (ReadState) ---
  bool EndOfList() const noexcept;
  // The current entry's dotted path as stored ("Options.Provider").
  const std::string& PropertyName() const;
  int Line() const noexcept;
  // Applies every remaining entry to AInstance.
  void ReadProperties(TPersistent& AInstance);
  // Applies the current entry to AInstance (the standard way, or the class's custom entry)
  // and moves to the next.
  void ReadProperty(TPersistent& AInstance);
  // Moves past the current entry after the caller has handled it; the value readers below
  // then read the current entry's value.
  void SkipProperty();

  // --- the current value (custom entries, or ReadState before SkipProperty) ---
  TValueType NextValue() const;
  // vaIdent, and the identifier-like values True, False, nil and Null, by their names.
  std::string ReadIdent();
  std::string ReadString();  // vaString, vaLString, vaWString
  std::int64_t ReadInteger();
  bool ReadBoolean();
  double ReadFloat();

  TComponent& Root() const noexcept { return FRoot; }
  // Fails with a description error at the current line and component.
  [[noreturn]] void Error(std::string_view AMessage) const;

 private:
  friend class TDescriptionLoader;
  explicit TReader(TComponent& ARoot) : FRoot(ARoot) {}

  struct TFixup {
    TPersistent* Instance;
    const TPropInfo* Prop;
    std::string Target;
    int Line;
    std::string Component;
  };

  const TDescValue& Value() const;
  void ApplyEntry(TPersistent& AInstance, const TDescEntry& AEntry);
  void ApplyValue(TPersistent& AObject, const TPropInfo& AProp, const TDescEntry& AEntry);
  void ResolveFixups();

  TComponent& FRoot;
  std::string FComponent;                             // name of the block being read
  const std::vector<TDescEntry>* FEntries = nullptr;  // the current block's entries
  std::size_t FIndex = 0;
  const TDescValue* FValue = nullptr;  // the value a custom reader may read
  bool FValueTaken = false;
  int FLine = 0;
  std::vector<TFixup> FFixups;
};

}  // namespace bunkmere
