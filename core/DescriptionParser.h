#pragma once
// Parses the text form of a stored description into a tree, without touching any component.
// The text is untrusted: any byte sequence either parses or fails with Exception naming the
// line (and the component whose block it is in); nesting is bounded so hostile input cannot
// exhaust the stack.
//
//   object dbJail: TVtSQLDatabase          a block: optional name, class
//     Database = 'JAIL'                    entries: a dotted property path and a value
//     Options.Provider = prSQL
//     object Child: TX ... end             nested blocks after the entries
//   end

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ValueType.h"

namespace bunkmere {

struct TDescEntry;

// One `item ... end` of a collection value.
struct TDescItem {
  int Line = 0;
  std::vector<TDescEntry> Entries;
};

struct TDescValue {
  TValueType Type = TValueType::vaNull;
  int Line = 0;
  std::string Text;  // identifier (dotted path) or text (UTF-8)
  std::int64_t Integer = 0;
  double Float = 0;
  std::vector<std::string> Members;  // vaSet
  std::vector<TDescValue> List;      // vaList
  std::vector<TDescItem> Items;      // vaCollection
};

struct TDescEntry {
  std::string Path;  // "Options.Provider"
  int Line = 0;
  TDescValue Value;
};

struct TDescBlock {
  std::string Name;  // may be empty
  std::string ClassName;
  int Line = 0;
  std::vector<TDescEntry> Entries;
  std::vector<TDescBlock> Children;
};

TDescBlock ParseDescription(std::string_view AText);

// "<message> (line N, component X)": the form of every description error.
std::string DescriptionErrorText(std::string_view AMessage, int ALine, std::string_view AComponent);

}  // namespace bunkmere
