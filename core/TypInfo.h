#pragma once
// Published-property information: what a stored description may set on an object of a class,
// and how. Properties are listed in declaration order with the inherited ones first, and
// both reading and writing a description walk that list, so declaration order is persistence
// order. Entries are built by the class builder (core/ClassRegistry.h); this header is what
// the reader and writer, and code that sets properties by name, work with.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <utility>
#include <vector>

namespace bunkmere {

class TPersistent;
class TComponent;
class TCollection;
class TReader;
class TWriter;
class TClassInfo;

enum class TPropKind : std::uint8_t {
  pkInteger,  // 64-bit signed; may name some values by identifier (colour constants)
  pkBoolean,
  pkString,  // UTF-8 text
  pkFloat,
  pkEnum,        // ordinal of a member of an enumeration type
  pkSet,         // bit N set when member N of the enumeration type is in the set
  pkComponent,   // a reference to a component of a required class; never owned
  pkClass,       // a nested persistent object the owner keeps: stored as `Name.Prop = ...`
  pkLines,       // a list of text lines
  pkCollection,  // a collection of items, each a persistent object
  pkIdent,       // an identifier kept as text: an event handler's name (`OnClick = btnSaveClick`)
};

// An enumeration type: its name and its members in ordinal order. Keep instances in static
// storage; property information points at them.
struct TEnumType {
  std::string Name;
  std::vector<std::string> Members;

  // The ordinal of AName (letter case ignored), or nothing.
  std::optional<int> Find(std::string_view AName) const;
};

// Identifiers that stand for integer values (a colour constant for its number).
using TIdentMap = std::vector<std::pair<std::string, std::int64_t>>;

using TStoredPredicate = std::function<bool(const TPersistent&)>;

struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::pkInteger;
  const TEnumType* EnumType = nullptr;  // pkEnum, pkSet
  const TIdentMap* Idents = nullptr;    // pkInteger, optional
  // pkInteger: the range the property's own type holds; a stored value outside it is refused
  // rather than cut down.
  std::int64_t MinValue = INT64_MIN;
  std::int64_t MaxValue = INT64_MAX;
  // pkComponent: the class a referenced component must be, checked on assignment.
  std::function<bool(const TComponent*)> AcceptsComponent;
  std::type_index RequiredType = typeid(void);

  // Accessors: only those of the property's kind are set. A property without a setter is
  // read-only: it is never stored, and a description that sets it is refused.
  std::function<std::int64_t(const TPersistent&)> GetOrdinal;  // integer, Boolean, enum, set
  std::function<void(TPersistent&, std::int64_t)> SetOrdinal;
  std::function<std::string(const TPersistent&)> GetString;  // also pkIdent
  std::function<void(TPersistent&, const std::string&)> SetString;
  std::function<double(const TPersistent&)> GetFloat;
  std::function<void(TPersistent&, double)> SetFloat;
  std::function<TComponent*(const TPersistent&)> GetComponent;
  std::function<void(TPersistent&, TComponent*)> SetComponent;
  std::function<TPersistent*(const TPersistent&)> GetObject;  // pkClass
  std::function<TCollection*(const TPersistent&)> GetCollection;
  std::function<std::vector<std::string>(const TPersistent&)> GetLines;
  std::function<void(TPersistent&, const std::vector<std::string>&)> SetLines;

  // Defaults: a value equal to the default is not stored. An integer, Boolean, enumeration
  // or set property without a default is always stored; text, component references, lines
  // and collections are not stored when empty.
  std::optional<std::int64_t> OrdinalDefault;
  std::optional<double> FloatDefault;
  std::string StringDefault;
  TStoredPredicate Stored;  // empty: always; otherwise the property is stored when it holds

  bool IsReadOnly() const noexcept;
  // Whether the writer stores this property of AInstance: the stored condition holds and the
  // value differs from the default. pkClass properties answer true; their own properties
  // decide line by line.
  bool ShouldStore(const TPersistent& AInstance) const;
};

// An entry a class reads and writes itself. When its name is also a published property's
// name, the entry takes the property's place in both reading and writing.
struct TCustomEntry {
  std::string Name;
  std::function<void(TPersistent&, TReader&)> Read;
  std::function<void(const TPersistent&, TWriter&)> Write;
  std::function<bool(const TPersistent&)> ShouldWrite;
};

using TComponentFactory = std::function<TComponent*(TComponent* AOwner)>;

class TClassInfo {
 public:
  const std::string& Name() const noexcept { return FName; }
  const TClassInfo* Parent() const noexcept { return FParent; }
  bool InheritsFrom(const TClassInfo& AClass) const noexcept;
  bool InheritsFrom(std::string_view AClassName) const noexcept;
  bool IsInstance(const TPersistent& AObject) const { return FIsInstance(AObject); }

  // Published properties, inherited first, each in declaration order; a property declared
  // again by a subclass keeps its ancestor's place.
  const std::vector<TPropInfo>& Properties() const noexcept { return FProperties; }
  const TPropInfo* FindProperty(std::string_view AName) const noexcept;
  const std::vector<TCustomEntry>& CustomEntries() const noexcept { return FCustomEntries; }
  const TCustomEntry* FindCustomEntry(std::string_view AName) const noexcept;

  // Components only: creates an instance owned by AOwner (nullptr: the caller owns it).
  bool CanCreate() const noexcept { return static_cast<bool>(FFactory); }
  TComponent* Create(TComponent* AOwner) const;

 private:
  friend class TClassRegistry;
  std::string FName;
  const TClassInfo* FParent = nullptr;
  std::type_index FType = typeid(void);
  std::function<bool(const TPersistent&)> FIsInstance;
  TComponentFactory FFactory;
  std::vector<TPropInfo> FProperties;
  std::vector<TCustomEntry> FCustomEntries;
  int FDepth = 0;
};

// Names of classes, properties, members and components compare without regard to the case of
// ASCII letters.
bool SameName(std::string_view A, std::string_view B) noexcept;

// Whether AText can be stored as an identifier: a letter or '_', then letters, digits, '_'.
bool IsValidIdent(std::string_view AText) noexcept;

// Property access by information, for the reader and writer and for tests.
const TPropInfo* FindPropInfo(const TPersistent& AObject, std::string_view AName);

}  // namespace bunkmere
