#include "core/Writer.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "core/ClassRegistry.h"
#include "core/Collection.h"
#include "core/Component.h"
#include "core/DescriptionText.h"
#include "core/Exceptions.h"
#include "core/TypInfo.h"

namespace bunkmere {
namespace {

// A name written where the reader expects an identifier; anything else would make the text
// unreadable, so it is refused here rather than discovered when the text is read back.
const std::string& StorableIdent(const std::string& AName, std::string_view AWhere) {
  if (!IsValidIdent(AName))
    throw Exception("Cannot store '" + AName + "' in " + std::string(AWhere) +
                    ": it is not an identifier");
  return AName;
}

std::string FormatFloat(double AValue) {
  if (!std::isfinite(AValue)) throw Exception("Cannot store the number " + std::to_string(AValue));
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, AValue);
  if (ec != std::errc()) throw std::logic_error("cannot format a number");
  return std::string(buffer, end);
}

}  // namespace

void TWriter::Begin() {
  if (FWritten) throw std::logic_error("a custom entry wrote more than one value");
  FWritten = true;
}

void TWriter::WriteIdent(std::string_view AIdent) {
  Begin();
  FOut += AIdent;
}

void TWriter::WriteString(std::string_view AText) {
  Begin();
  FOut += QuoteDescriptionString(AText);
}

void TWriter::WriteInteger(std::int64_t AValue) {
  Begin();
  FOut += std::to_string(AValue);
}

void TWriter::WriteBoolean(bool AValue) {
  Begin();
  FOut += AValue ? "True" : "False";
}

void TWriter::WriteFloat(double AValue) {
  Begin();
  FOut += FormatFloat(AValue);
}

class TDescriptionWriter {
 public:
  explicit TDescriptionWriter(const TComponent& ARoot) : FRoot(ARoot) {}

  std::string Run() {
    WriteBlock(FRoot, 0);
    return std::move(FOut);
  }

 private:
  static std::string Indent(int ALevel) {
    return std::string(static_cast<std::size_t>(ALevel) * 2, ' ');
  }

  static const TClassInfo& ClassOf(const TPersistent& AObject) {
    const TClassInfo* info = TClassRegistry::ClassOf(AObject);
    if (info == nullptr)
      throw Exception(std::string("Class ") + AObject.ClassName() + " is not registered");
    return *info;
  }

  // Where a component's block goes: inside the block of its parent when the parent is one of
  // the root's components, at the top level otherwise.
  const TComponent* BlockParent(const TComponent& AComponent) const {
    const TComponent* parent = AComponent.GetParentComponent();
    if (parent == nullptr || parent == &FRoot || parent->Owner() != &FRoot) return &FRoot;
    return parent;
  }

  void WriteBlock(const TComponent& AComponent, int ALevel) {
    FOut += Indent(ALevel);
    FOut += "object ";
    if (!AComponent.Name().empty()) {
      FOut += StorableIdent(AComponent.Name(), "a block header");
      FOut += ": ";
    }
    FOut += ClassOf(AComponent).Name();
    FOut += '\n';
    WriteProperties(AComponent, "", ALevel + 1);
    for (int i = 0; i < FRoot.ComponentCount(); ++i) {
      const TComponent* child = FRoot.Components(i);
      if (child != &AComponent && BlockParent(*child) == &AComponent)
        WriteBlock(*child, ALevel + 1);
    }
    FOut += Indent(ALevel);
    FOut += "end\n";
  }

  void WriteProperties(const TPersistent& AObject, const std::string& APrefix, int ALevel) {
    const TClassInfo& info = ClassOf(AObject);
    for (const TPropInfo& prop : info.Properties()) {
      if (const TCustomEntry* custom = info.FindCustomEntry(prop.Name)) {
        WriteCustom(AObject, *custom, APrefix, ALevel);
        continue;
      }
      if (prop.Kind == TPropKind::pkClass) {
        if (const TPersistent* nested = prop.GetObject(AObject))
          WriteProperties(*nested, APrefix + prop.Name + ".", ALevel);
        continue;
      }
      if (!prop.ShouldStore(AObject)) continue;
      BeginLine(APrefix, prop.Name, ALevel);
      WriteValue(AObject, prop, ALevel);
      FOut += '\n';
    }
    for (const TCustomEntry& custom : info.CustomEntries())
      if (info.FindProperty(custom.Name) == nullptr) WriteCustom(AObject, custom, APrefix, ALevel);
  }

  void BeginLine(const std::string& APrefix, const std::string& AName, int ALevel) {
    FOut += Indent(ALevel);
    FOut += APrefix;
    FOut += AName;
    FOut += " = ";
  }

  void WriteCustom(const TPersistent& AObject, const TCustomEntry& AEntry,
                   const std::string& APrefix, int ALevel) {
    if (!AEntry.ShouldWrite(AObject)) return;
    BeginLine(APrefix, AEntry.Name, ALevel);
    TWriter writer(FOut);
    AEntry.Write(AObject, writer);
    if (!writer.FWritten) throw std::logic_error("custom entry " + AEntry.Name + " wrote no value");
    FOut += '\n';
  }

  void WriteValue(const TPersistent& AObject, const TPropInfo& AProp, int ALevel) {
    switch (AProp.Kind) {
      case TPropKind::pkInteger: {
        const std::int64_t value = AProp.GetOrdinal(AObject);
        if (AProp.Idents != nullptr)
          for (const auto& [name, v] : *AProp.Idents)
            if (v == value) {
              FOut += name;
              return;
            }
        FOut += std::to_string(value);
        return;
      }
      case TPropKind::pkBoolean:
        FOut += AProp.GetOrdinal(AObject) != 0 ? "True" : "False";
        return;
      case TPropKind::pkString:
        FOut += QuoteDescriptionString(AProp.GetString(AObject));
        return;
      case TPropKind::pkIdent:
        FOut += StorableIdent(AProp.GetString(AObject), AProp.Name);
        return;
      case TPropKind::pkFloat:
        FOut += FormatFloat(AProp.GetFloat(AObject));
        return;
      case TPropKind::pkEnum: {
        const std::int64_t ordinal = AProp.GetOrdinal(AObject);
        const auto& members = AProp.EnumType->Members;
        if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= members.size())
          throw Exception("Property " + AProp.Name + " holds no member of " + AProp.EnumType->Name);
        FOut += members[static_cast<std::size_t>(ordinal)];
        return;
      }
      case TPropKind::pkSet: {
        const std::int64_t mask = AProp.GetOrdinal(AObject);
        const auto& members = AProp.EnumType->Members;
        FOut += '[';
        bool first = true;
        for (std::size_t i = 0; i < members.size() && i < 63; ++i)
          if ((mask >> i) & 1) {
            if (!first) FOut += ", ";
            first = false;
            FOut += members[i];
          }
        FOut += ']';
        return;
      }
      case TPropKind::pkComponent: {
        const TComponent* c = AProp.GetComponent(AObject);
        // A component the root does not own is named through its owner.
        if (c != &FRoot && c->Owner() != &FRoot && c->Owner() != nullptr) {
          FOut += StorableIdent(c->Owner()->Name(), AProp.Name);
          FOut += '.';
        }
        FOut += StorableIdent(c->Name(), AProp.Name);
        return;
      }
      case TPropKind::pkLines: {
        const std::vector<std::string> lines = AProp.GetLines(AObject);
        FOut += '(';
        for (const std::string& line : lines) {
          FOut += '\n';
          FOut += Indent(ALevel + 1);
          FOut += QuoteDescriptionString(line);
        }
        FOut += ')';
        return;
      }
      case TPropKind::pkCollection: {
        const TCollection* collection = AProp.GetCollection(AObject);
        FOut += '<';
        for (int i = 0; i < collection->Count(); ++i) {
          FOut += '\n';
          FOut += Indent(ALevel + 1);
          FOut += "item\n";
          WriteProperties(*collection->Items(i), "", ALevel + 2);
          FOut += Indent(ALevel + 1);
          FOut += "end";
        }
        FOut += '>';
        return;
      }
      case TPropKind::pkClass:
        return;  // written property by property
    }
  }

  const TComponent& FRoot;
  std::string FOut;
};

std::string WriteComponentDescription(const TComponent& ARoot) {
  RegisterCoreClasses();
  return TDescriptionWriter(ARoot).Run();
}

}  // namespace bunkmere
