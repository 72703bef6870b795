#include "core/ClassRegistry.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "core/StrUtils.h"
#include "core/ValueType.h"

namespace bunkmere {
namespace {

struct TRegistryData {
  std::vector<std::unique_ptr<TClassInfo>> Classes;
  // Hashed, not ordered: where type names are compared as text (mingw), the order of
  // type_index is not consistent for types of anonymous namespaces, and an ordered map then
  // loses keys. Equality and hashing stay consistent there.
  std::unordered_map<std::type_index, const TClassInfo*> ByType;
  // Dynamic types found by searching for their nearest registered ancestor.
  std::unordered_map<std::type_index, const TClassInfo*> Resolved;
};

TRegistryData& Data() {
  static TRegistryData data;
  return data;
}

template <class TEntry>
void MergeOwn(std::vector<TEntry>& AAll, std::vector<TEntry> AOwn) {
  for (TEntry& e : AOwn) {
    auto same = [&](const TEntry& x) { return SameName(x.Name, e.Name); };
    auto it = std::find_if(AAll.begin(), AAll.end(), same);
    if (it != AAll.end())
      *it = std::move(e);  // declared again: keeps the ancestor's place
    else
      AAll.push_back(std::move(e));
  }
}

}  // namespace

bool SameName(std::string_view A, std::string_view B) noexcept {
  return SameText(A, B);
}

bool IsValidIdent(std::string_view AText) noexcept {
  if (AText.empty()) return false;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

const char* ValueTypeName(TValueType AType) noexcept {
  switch (AType) {
    case TValueType::vaNull:
      return "vaNull";
    case TValueType::vaList:
      return "vaList";
    case TValueType::vaInt8:
      return "vaInt8";
    case TValueType::vaInt16:
      return "vaInt16";
    case TValueType::vaInt32:
      return "vaInt32";
    case TValueType::vaExtended:
      return "vaExtended";
    case TValueType::vaString:
      return "vaString";
    case TValueType::vaIdent:
      return "vaIdent";
    case TValueType::vaFalse:
      return "vaFalse";
    case TValueType::vaTrue:
      return "vaTrue";
    case TValueType::vaLString:
      return "vaLString";
    case TValueType::vaWString:
      return "vaWString";
    case TValueType::vaNil:
      return "vaNil";
    case TValueType::vaSet:
      return "vaSet";
    case TValueType::vaCollection:
      return "vaCollection";
    case TValueType::vaInt64:
      return "vaInt64";
  }
  return "?";
}

std::optional<int> TEnumType::Find(std::string_view AName) const {
  for (std::size_t i = 0; i < Members.size(); ++i)
    if (SameName(Members[i], AName)) return static_cast<int>(i);
  return std::nullopt;
}

bool TPropInfo::IsReadOnly() const noexcept {
  switch (Kind) {
    case TPropKind::pkInteger:
    case TPropKind::pkBoolean:
    case TPropKind::pkEnum:
    case TPropKind::pkSet:
      return !SetOrdinal;
    case TPropKind::pkString:
    case TPropKind::pkIdent:
      return !SetString;
    case TPropKind::pkFloat:
      return !SetFloat;
    case TPropKind::pkComponent:
      return !SetComponent;
    case TPropKind::pkLines:
      return !SetLines;
    case TPropKind::pkClass:
    case TPropKind::pkCollection:
      return false;  // changed through the object itself
  }
  return true;
}

bool TPropInfo::ShouldStore(const TPersistent& AInstance) const {
  if (IsReadOnly()) return false;
  if (Stored && !Stored(AInstance)) return false;
  switch (Kind) {
    case TPropKind::pkInteger:
    case TPropKind::pkBoolean:
    case TPropKind::pkEnum:
    case TPropKind::pkSet:
      return !OrdinalDefault || GetOrdinal(AInstance) != *OrdinalDefault;
    case TPropKind::pkFloat:
      return !FloatDefault || GetFloat(AInstance) != *FloatDefault;
    case TPropKind::pkString:
    case TPropKind::pkIdent:
      return GetString(AInstance) != StringDefault;
    case TPropKind::pkComponent: {
      // An unnamed component cannot be named in a description.
      const TComponent* c = GetComponent(AInstance);
      return c != nullptr && !c->Name().empty();
    }
    case TPropKind::pkLines:
      return !GetLines(AInstance).empty();
    case TPropKind::pkCollection: {
      const TCollection* c = GetCollection(AInstance);
      return c != nullptr && c->Count() > 0;
    }
    case TPropKind::pkClass:
      return GetObject(AInstance) != nullptr;
  }
  return false;
}

bool TClassInfo::InheritsFrom(const TClassInfo& AClass) const noexcept {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    if (c == &AClass) return true;
  return false;
}

bool TClassInfo::InheritsFrom(std::string_view AClassName) const noexcept {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    if (SameName(c->FName, AClassName)) return true;
  return false;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view AName) const noexcept {
  for (const TPropInfo& p : FProperties)
    if (SameName(p.Name, AName)) return &p;
  return nullptr;
}

const TCustomEntry* TClassInfo::FindCustomEntry(std::string_view AName) const noexcept {
  for (const TCustomEntry& e : FCustomEntries)
    if (SameName(e.Name, AName)) return &e;
  return nullptr;
}

TComponent* TClassInfo::Create(TComponent* AOwner) const {
  if (!FFactory) throw Exception("Cannot create an instance of " + FName);
  return FFactory(AOwner);
}

const TPropInfo* FindPropInfo(const TPersistent& AObject, std::string_view AName) {
  const TClassInfo* info = TClassRegistry::ClassOf(AObject);
  return info == nullptr ? nullptr : info->FindProperty(AName);
}

const TClassInfo* TClassRegistry::FindClass(std::string_view AName) {
  for (const auto& c : Data().Classes)
    if (SameName(c->FName, AName)) return c.get();
  return nullptr;
}

const TClassInfo* TClassRegistry::FindClass(std::type_index AType) {
  auto& byType = Data().ByType;
  auto it = byType.find(AType);
  return it == byType.end() ? nullptr : it->second;
}

bool TClassRegistry::IsRegistered(std::type_index AType) {
  return FindClass(AType) != nullptr;
}

const TClassInfo* TClassRegistry::ClassOf(const TPersistent& AObject) {
  const std::type_index type = typeid(AObject);
  if (const TClassInfo* exact = FindClass(type)) return exact;
  auto& resolved = Data().Resolved;
  if (auto it = resolved.find(type); it != resolved.end()) return it->second;
  // An unregistered class (a test double, a form class): its deepest registered ancestor.
  const TClassInfo* best = nullptr;
  for (const auto& c : Data().Classes)
    if ((best == nullptr || c->FDepth > best->FDepth) && c->IsInstance(AObject)) best = c.get();
  resolved.emplace(type, best);
  return best;
}

std::unique_ptr<TClassInfo> TClassRegistry::NewInfo(
    std::string AName, std::type_index AType, std::function<bool(const TPersistent&)> AIsInstance,
    TComponentFactory AFactory) {
  auto info = std::make_unique<TClassInfo>();
  info->FName = std::move(AName);
  info->FType = AType;
  info->FIsInstance = std::move(AIsInstance);
  info->FFactory = std::move(AFactory);
  return info;
}

void TClassRegistry::Install(std::unique_ptr<TClassInfo> AInfo, std::type_index AParent,
                             std::vector<TPropInfo> AOwnProperties,
                             std::vector<TCustomEntry> AOwnEntries) {
  TRegistryData& data = Data();
  if (data.ByType.count(AInfo->FType) != 0) return;
  if (AParent != AInfo->FType) {
    const TClassInfo* parent = FindClass(AParent);
    if (parent == nullptr)
      throw std::logic_error("the parent of " + AInfo->FName + " must be registered first");
    AInfo->FParent = parent;
    AInfo->FDepth = parent->FDepth + 1;
    AInfo->FProperties = parent->FProperties;
    AInfo->FCustomEntries = parent->FCustomEntries;
  }
  MergeOwn(AInfo->FProperties, std::move(AOwnProperties));
  MergeOwn(AInfo->FCustomEntries, std::move(AOwnEntries));
  data.ByType.emplace(AInfo->FType, AInfo.get());
  data.Resolved.clear();  // an ancestor search may now find a nearer class
  data.Classes.push_back(std::move(AInfo));
}

void RegisterCoreClasses() {
  static const bool done = [] {
    auto isPersistent = [](const TPersistent&) { return true; };
    TClassRegistry::Install(
        TClassRegistry::NewInfo("TPersistent", typeid(TPersistent), isPersistent, nullptr),
        typeid(TPersistent), {}, {});
    Register<TComponent, TPersistent>("TComponent")
        .String("Name", &TComponent::Name, &TComponent::SetName)
        .Stored(false);
    Register<TCollection, TPersistent>("TCollection");
    Register<TCollectionItem, TPersistent>("TCollectionItem");
    return true;
  }();
  (void)done;
}

}  // namespace bunkmere
