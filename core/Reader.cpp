#include "core/Reader.h"

#include <algorithm>

#include "core/ClassRegistry.h"
#include "core/Collection.h"
#include "core/Component.h"
#include "core/Exceptions.h"
#include "core/TypInfo.h"

namespace bunkmere {
namespace {

std::vector<std::string_view> SplitPath(std::string_view APath) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = APath.find('.', start);
    parts.push_back(APath.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

const char* KindName(TPropKind AKind) {
  switch (AKind) {
    case TPropKind::pkInteger:
      return "an integer";
    case TPropKind::pkBoolean:
      return "True or False";
    case TPropKind::pkString:
      return "a string";
    case TPropKind::pkFloat:
      return "a number";
    case TPropKind::pkIdent:
      return "an identifier";
    case TPropKind::pkEnum:
      return "an identifier";
    case TPropKind::pkSet:
      return "a set";
    case TPropKind::pkComponent:
      return "a component name or nil";
    case TPropKind::pkClass:
      return "its properties one by one";
    case TPropKind::pkLines:
      return "a list of strings";
    case TPropKind::pkCollection:
      return "a collection";
  }
  return "another value";
}

std::string ComponentLabel(const TDescBlock& ABlock) {
  return ABlock.Name.empty() ? ABlock.ClassName : ABlock.Name;
}

}  // namespace

// Drives one reading: the blocks, the components created, the Loaded list, and the unwinding
// when anything fails.
class TDescriptionLoader {
 public:
  explicit TDescriptionLoader(TComponent& ARoot) : FReader(ARoot), FRoot(ARoot) {}

  void Load(const TDescBlock& ABlock) {
    for (int i = 0; i < FRoot.ComponentCount(); ++i) FExisting.push_back(FRoot.Components(i));
    try {
      FReader.FComponent = ComponentLabel(ABlock);
      FReader.FLine = ABlock.Line;
      const TClassInfo* info = TClassRegistry::ClassOf(FRoot);
      if (!SameName(FRoot.ClassName(), ABlock.ClassName) &&
          (info == nullptr || !info->InheritsFrom(ABlock.ClassName)))
        FReader.Error("The description is of class " + ABlock.ClassName + ", not of " +
                      FRoot.ClassName());
      FRoot.SetLoadingState();
      if (!ABlock.Name.empty()) NameComponent(FRoot, ABlock.Name);
      ReadBlock(FRoot, ABlock);
      FLoaded.push_back(&FRoot);
      ReadChildren(ABlock, nullptr);
      FReader.ResolveFixups();
      for (TComponent* c : FLoaded) c->Loaded();
    } catch (...) {
      Unwind();
      throw;
    }
  }

 private:
  void NameComponent(TComponent& AComponent, const std::string& AName) {
    try {
      AComponent.SetName(AName);
    } catch (const Exception& e) {
      FReader.Error(e.Message());
    }
  }

  void ReadBlock(TComponent& AComponent, const TDescBlock& ABlock) {
    FReader.FComponent = ComponentLabel(ABlock);
    FReader.FLine = ABlock.Line;
    FReader.FEntries = &ABlock.Entries;
    FReader.FIndex = 0;
    FReader.FValue = nullptr;
    FReader.FValueTaken = false;
    AComponent.SetReadingState(true);
    AComponent.ReadState(FReader);
    AComponent.SetReadingState(false);
    // A ReadState that stops early would drop stored settings without a word.
    if (!FReader.EndOfList()) FReader.Error("Property " + FReader.PropertyName() + " was not read");
    FReader.FEntries = nullptr;
  }

  void ReadChildren(const TDescBlock& ABlock, TComponent* AEnclosing) {
    for (const TDescBlock& child : ABlock.Children) {
      FReader.FComponent = ComponentLabel(child);
      FReader.FLine = child.Line;
      TComponent* c = Reuse(child);
      if (c == nullptr) {
        const TClassInfo* info = TClassRegistry::FindClass(child.ClassName);
        if (info == nullptr) FReader.Error("Class " + child.ClassName + " not found");
        if (!info->CanCreate())
          FReader.Error("Class " + child.ClassName + " is not a component class");
        c = info->Create(&FRoot);
        FCreated.push_back(c);
        c->SetLoadingState();  // only now: its constructor ran as for a component made by code
        if (!child.Name.empty()) NameComponent(*c, child.Name);
      }
      if (AEnclosing != nullptr) c->SetParentComponent(AEnclosing);
      ReadBlock(*c, child);
      FLoaded.push_back(c);
      ReadChildren(child, c);
    }
  }

  // A component the root owned before reading began, named by the block.
  TComponent* Reuse(const TDescBlock& ABlock) {
    if (ABlock.Name.empty()) return nullptr;
    TComponent* existing = FRoot.FindComponent(ABlock.Name);
    if (existing == nullptr) return nullptr;
    const bool wasThere =
        std::find(FExisting.begin(), FExisting.end(), existing) != FExisting.end();
    const bool taken = std::find(FReused.begin(), FReused.end(), existing) != FReused.end();
    if (!wasThere || taken) FReader.Error("A component named " + ABlock.Name + " already exists");
    const TClassInfo* info = TClassRegistry::ClassOf(*existing);
    if (!SameName(existing->ClassName(), ABlock.ClassName) &&
        (info == nullptr || !info->InheritsFrom(ABlock.ClassName)))
      FReader.Error("Component " + ABlock.Name + " is a " + existing->ClassName() + ", not a " +
                    ABlock.ClassName);
    FReused.push_back(existing);
    existing->SetLoadingState();
    return existing;
  }

  void Unwind() noexcept {
    for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) delete *it;
    FReused.push_back(&FRoot);
    for (TComponent* c : FReused) {
      c->SetLoadingState(false);
      c->SetReadingState(false);
    }
  }

  TReader FReader;
  TComponent& FRoot;
  std::vector<TComponent*> FExisting;  // owned by the root before reading began
  std::vector<TComponent*> FCreated;   // made by this reading, in creation order
  std::vector<TComponent*> FReused;
  std::vector<TComponent*> FLoaded;  // root first, then in stored order
};

void ReadComponentDescription(TComponent& ARoot, std::string_view AText) {
  RegisterCoreClasses();
  const TDescBlock block = ParseDescription(AText);
  TDescriptionLoader(ARoot).Load(block);
}

namespace {

TComponent* CreateRoot(TComponent* AOwner, const TDescBlock& ABlock) {
  const TClassInfo* info = TClassRegistry::FindClass(ABlock.ClassName);
  if (info == nullptr || !info->CanCreate())
    throw Exception(DescriptionErrorText(
        info == nullptr ? "Class " + ABlock.ClassName + " not found"
                        : "Class " + ABlock.ClassName + " is not a component class",
        ABlock.Line, ComponentLabel(ABlock)));
  return info->Create(AOwner);
}

}  // namespace

TComponent* CreateComponentFromDescription(TComponent& AOwner, std::string_view AText) {
  RegisterCoreClasses();
  const TDescBlock block = ParseDescription(AText);
  std::unique_ptr<TComponent> root(CreateRoot(&AOwner, block));
  TDescriptionLoader(*root).Load(block);
  return root.release();  // AOwner owns it
}

std::unique_ptr<TComponent> CreateComponentFromDescription(std::string_view AText) {
  RegisterCoreClasses();
  const TDescBlock block = ParseDescription(AText);
  std::unique_ptr<TComponent> root(CreateRoot(nullptr, block));
  TDescriptionLoader(*root).Load(block);
  return root;
}

// --- TReader ---------------------------------------------------------------------------------

bool TReader::EndOfList() const noexcept {
  return FEntries == nullptr || FIndex >= FEntries->size();
}

const std::string& TReader::PropertyName() const {
  if (EndOfList()) Error("No property left to read");
  return (*FEntries)[FIndex].Path;
}

int TReader::Line() const noexcept {
  return FLine;
}

void TReader::ReadProperties(TPersistent& AInstance) {
  while (!EndOfList()) ReadProperty(AInstance);
}

void TReader::ReadProperty(TPersistent& AInstance) {
  if (EndOfList()) Error("No property left to read");
  const TDescEntry& entry = (*FEntries)[FIndex];
  ApplyEntry(AInstance, entry);
  ++FIndex;
  FValueTaken = false;
}

void TReader::SkipProperty() {
  if (EndOfList()) Error("No property left to read");
  ++FIndex;
  FValueTaken = false;
}

const TDescValue& TReader::Value() const {
  if (FValue != nullptr) return *FValue;
  if (EndOfList()) Error("No value left to read");
  return (*FEntries)[FIndex].Value;
}

TValueType TReader::NextValue() const {
  if (FValueTaken) return TValueType::vaNull;
  return Value().Type;
}

std::string TReader::ReadIdent() {
  const TDescValue& v = Value();
  switch (v.Type) {
    case TValueType::vaIdent:
    case TValueType::vaTrue:
    case TValueType::vaFalse:
    case TValueType::vaNil:
    case TValueType::vaNull:
      if (FValueTaken) break;
      FValueTaken = true;
      return v.Text;
    default:
      break;
  }
  Error(FValueTaken ? "Value already read" : "Identifier expected");
}

std::string TReader::ReadString() {
  const TDescValue& v = Value();
  if (FValueTaken || !IsStringValue(v.Type))
    Error(FValueTaken ? "Value already read" : "String expected");
  FValueTaken = true;
  return v.Text;
}

std::int64_t TReader::ReadInteger() {
  const TDescValue& v = Value();
  if (FValueTaken || !IsIntegerValue(v.Type))
    Error(FValueTaken ? "Value already read" : "Integer expected");
  FValueTaken = true;
  return v.Integer;
}

bool TReader::ReadBoolean() {
  const TDescValue& v = Value();
  if (FValueTaken || (v.Type != TValueType::vaTrue && v.Type != TValueType::vaFalse))
    Error(FValueTaken ? "Value already read" : "True or False expected");
  FValueTaken = true;
  return v.Type == TValueType::vaTrue;
}

double TReader::ReadFloat() {
  const TDescValue& v = Value();
  if (FValueTaken || (v.Type != TValueType::vaExtended && !IsIntegerValue(v.Type)))
    Error(FValueTaken ? "Value already read" : "Number expected");
  FValueTaken = true;
  return v.Type == TValueType::vaExtended ? v.Float : static_cast<double>(v.Integer);
}

void TReader::Error(std::string_view AMessage) const {
  throw Exception(DescriptionErrorText(AMessage, FLine, FComponent));
}

void TReader::ApplyEntry(TPersistent& AInstance, const TDescEntry& AEntry) {
  FLine = AEntry.Line;
  const std::vector<std::string_view> parts = SplitPath(AEntry.Path);
  TPersistent* object = &AInstance;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const TClassInfo* info = TClassRegistry::ClassOf(*object);
    const TPropInfo* prop = info == nullptr ? nullptr : info->FindProperty(parts[i]);
    if (prop == nullptr || prop->Kind != TPropKind::pkClass)
      Error("Property " + AEntry.Path + " does not exist");
    object = prop->GetObject(*object);
    if (object == nullptr) Error("Property " + AEntry.Path + " does not exist");
  }
  const TClassInfo* info = TClassRegistry::ClassOf(*object);
  if (info == nullptr) Error("Class " + std::string(object->ClassName()) + " is not registered");
  if (const TCustomEntry* custom = info->FindCustomEntry(parts.back())) {
    const TDescValue* savedValue = FValue;
    const bool savedTaken = FValueTaken;
    FValue = &AEntry.Value;
    FValueTaken = false;
    custom->Read(*object, *this);
    FValue = savedValue;
    FValueTaken = savedTaken;
    return;
  }
  const TPropInfo* prop = info->FindProperty(parts.back());
  if (prop == nullptr) Error("Property " + AEntry.Path + " does not exist");
  if (prop->IsReadOnly()) Error("Property " + AEntry.Path + " is read-only");
  ApplyValue(*object, *prop, AEntry);
}

void TReader::ApplyValue(TPersistent& AObject, const TPropInfo& AProp, const TDescEntry& AEntry) {
  const TDescValue& v = AEntry.Value;
  auto wrongKind = [&] {
    Error("Invalid value for " + AEntry.Path + ": " + ValueTypeName(v.Type) + " where " +
          KindName(AProp.Kind) + " is expected");
  };
  switch (AProp.Kind) {
    case TPropKind::pkInteger:
      if (IsIntegerValue(v.Type)) {
        if (v.Integer < AProp.MinValue || v.Integer > AProp.MaxValue)
          Error("Value " + std::to_string(v.Integer) + " out of range for " + AEntry.Path);
        AProp.SetOrdinal(AObject, v.Integer);
        return;
      }
      if (v.Type == TValueType::vaIdent && AProp.Idents != nullptr) {
        for (const auto& [name, value] : *AProp.Idents)
          if (SameName(name, v.Text)) {
            AProp.SetOrdinal(AObject, value);
            return;
          }
        Error("Unknown identifier " + v.Text + " for " + AEntry.Path);
      }
      wrongKind();
      return;
    case TPropKind::pkBoolean:
      if (v.Type != TValueType::vaTrue && v.Type != TValueType::vaFalse) wrongKind();
      AProp.SetOrdinal(AObject, v.Type == TValueType::vaTrue ? 1 : 0);
      return;
    case TPropKind::pkString:
      if (!IsStringValue(v.Type)) wrongKind();
      AProp.SetString(AObject, v.Text);
      return;
    case TPropKind::pkIdent:
      if (v.Type != TValueType::vaIdent || v.Text.find('.') != std::string::npos) wrongKind();
      AProp.SetString(AObject, v.Text);
      return;
    case TPropKind::pkFloat:
      if (v.Type == TValueType::vaExtended)
        AProp.SetFloat(AObject, v.Float);
      else if (IsIntegerValue(v.Type))
        AProp.SetFloat(AObject, static_cast<double>(v.Integer));
      else
        wrongKind();
      return;
    case TPropKind::pkEnum: {
      if (v.Type != TValueType::vaIdent || v.Text.find('.') != std::string::npos) wrongKind();
      const std::optional<int> ordinal = AProp.EnumType->Find(v.Text);
      if (!ordinal)
        Error("Unknown member " + v.Text + " of " + AProp.EnumType->Name + " for " + AEntry.Path);
      AProp.SetOrdinal(AObject, *ordinal);
      return;
    }
    case TPropKind::pkSet: {
      if (v.Type != TValueType::vaSet) wrongKind();
      std::int64_t mask = 0;
      for (const std::string& m : v.Members) {
        const std::optional<int> ordinal = AProp.EnumType->Find(m);
        if (!ordinal || *ordinal >= 63)
          Error("Unknown member " + m + " of " + AProp.EnumType->Name + " for " + AEntry.Path);
        mask |= std::int64_t{1} << *ordinal;
      }
      AProp.SetOrdinal(AObject, mask);
      return;
    }
    case TPropKind::pkComponent:
      if (v.Type == TValueType::vaNil) {
        AProp.SetComponent(AObject, nullptr);
        return;
      }
      if (v.Type != TValueType::vaIdent) wrongKind();
      // Set once every component has been read: the target may be stored later.
      FFixups.push_back(TFixup{&AObject, &AProp, v.Text, AEntry.Line, FComponent});
      return;
    case TPropKind::pkLines: {
      if (v.Type != TValueType::vaList) wrongKind();
      std::vector<std::string> lines;
      lines.reserve(v.List.size());
      for (const TDescValue& line : v.List) {
        if (!IsStringValue(line.Type)) {
          FLine = line.Line;
          Error("Invalid value in " + AEntry.Path + ": only strings may be listed");
        }
        lines.push_back(line.Text);
      }
      AProp.SetLines(AObject, lines);
      return;
    }
    case TPropKind::pkCollection: {
      if (v.Type != TValueType::vaCollection) wrongKind();
      TCollection* collection = AProp.GetCollection(AObject);
      if (collection == nullptr) Error("Property " + AEntry.Path + " has no collection");
      collection->Clear();
      for (const TDescItem& item : v.Items) {
        TCollectionItem* target = collection->Add();
        for (const TDescEntry& e : item.Entries) ApplyEntry(*target, e);
      }
      return;
    }
    case TPropKind::pkClass:
      Error("Property " + AEntry.Path + " cannot be given a value; set its properties instead");
  }
}

void TReader::ResolveFixups() {
  for (const TFixup& f : FFixups) {
    FLine = f.Line;
    FComponent = f.Component;
    // "Name" names a component of the root (or the root itself); "Root.Name" the same.
    std::string_view target = f.Target;
    if (const std::size_t dot = target.find('.'); dot != std::string_view::npos) {
      if (!SameName(target.substr(0, dot), FRoot.Name()) ||
          target.find('.', dot + 1) != std::string_view::npos)
        Error("Unknown component " + f.Target + " for " + f.Prop->Name);
      target = target.substr(dot + 1);
    }
    TComponent* c =
        SameName(target, FRoot.Name()) ? &FRoot : FRoot.FindComponent(std::string(target));
    if (c == nullptr) Error("Unknown component " + f.Target + " for " + f.Prop->Name);
    if (!f.Prop->AcceptsComponent(c)) {
      const TClassInfo* required = TClassRegistry::FindClass(f.Prop->RequiredType);
      Error("Component " + f.Target + " is a " + c->ClassName() + ", but " + f.Prop->Name +
            " needs a " +
            (required != nullptr ? required->Name() : std::string("component of another class")));
    }
    f.Prop->SetComponent(*f.Instance, c);
  }
  FFixups.clear();
}

}  // namespace bunkmere
