#pragma once
// The kinds of value a stored description holds. Reading code that takes over an entry asks
// for the kind of the next value before it decides how to read it.

#include <cstdint>

namespace bunkmere {

enum class TValueType : std::uint8_t {
  vaNull,  // no value (also: nothing read yet)
  vaList,  // ( value value ... )
  vaInt8,  // integers, by the smallest width that holds them
  vaInt16,
  vaInt32,
  vaExtended,  // a number with a fraction or an exponent
  vaString,    // text of at most 255 characters, each single-byte (code point below 256)
  vaIdent,     // an identifier, or a dotted identifier path (a component reference)
  vaFalse,
  vaTrue,
  vaLString,     // text of single-byte characters longer than 255 characters
  vaWString,     // text holding a character that is not single-byte
  vaNil,         // nil: no component
  vaSet,         // [ member, member ]
  vaCollection,  // < item ... end item ... end >
  vaInt64,
};

const char* ValueTypeName(TValueType AType) noexcept;

constexpr bool IsIntegerValue(TValueType t) noexcept {
  return t == TValueType::vaInt8 || t == TValueType::vaInt16 || t == TValueType::vaInt32 ||
         t == TValueType::vaInt64;
}
constexpr bool IsStringValue(TValueType t) noexcept {
  return t == TValueType::vaString || t == TValueType::vaLString || t == TValueType::vaWString;
}

}  // namespace bunkmere
