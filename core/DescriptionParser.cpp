#include "core/DescriptionParser.h"

#include <charconv>
#include <limits>

#include "core/DescriptionText.h"
#include "core/Exceptions.h"
#include "core/TypInfo.h"

namespace bunkmere {
namespace {

// Deep enough for any real window (controls in panels in pages), shallow enough for the stack.
constexpr int kMaxDepth = 64;

enum class TTok { tEnd, tIdent, tString, tInteger, tFloat, tSymbol };

struct TToken {
  TTok Kind = TTok::tEnd;
  int Line = 1;
  char Symbol = 0;
  std::string Text;  // identifier, text value (UTF-8), or number as written
};

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  return (c | 0x20) - 'a' + 10;
}

class TParser {
 public:
  explicit TParser(std::string_view AText) : FText(AText) {
    // A description saved by a Windows editor may begin with a UTF-8 byte-order mark.
    if (FText.substr(0, 3) == "\xEF\xBB\xBF") FPos = 3;
    Next();
  }

  TDescBlock ParseRoot() {
    TDescBlock root = ParseBlock(0);
    if (FTok.Kind != TTok::tEnd) Fail("Text after the final end");
    return root;
  }

 private:
  [[noreturn]] void Fail(std::string_view AMessage) const { FailAt(AMessage, FTok.Line); }
  [[noreturn]] void FailAt(std::string_view AMessage, int ALine) const {
    throw Exception(DescriptionErrorText(AMessage, ALine, FComponent));
  }

  // --- lexer -------------------------------------------------------------------------------
  void SkipBlanks() {
    while (FPos < FText.size()) {
      const char c = FText[FPos];
      if (c == '\n') {
        ++FLine;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++FPos;
    }
  }

  void Next() {
    SkipBlanks();
    FTok = TToken{};
    FTok.Line = FLine;
    if (FPos >= FText.size()) return;
    const char c = FText[FPos];
    if (IsIdentStart(c)) {
      const std::size_t start = FPos;
      while (FPos < FText.size() && (IsIdentStart(FText[FPos]) || IsDigit(FText[FPos]))) ++FPos;
      FTok.Kind = TTok::tIdent;
      FTok.Text.assign(FText.substr(start, FPos - start));
    } else if (c == '\'' || c == '#') {
      LexString();
    } else if (IsDigit(c) || (c == '-' && FPos + 1 < FText.size() && IsDigit(FText[FPos + 1]))) {
      LexNumber();
    } else if (c == '$') {
      LexHex();
    } else if (std::string_view("=:.,[]()<>+{}").find(c) != std::string_view::npos) {
      FTok.Kind = TTok::tSymbol;
      FTok.Symbol = c;
      ++FPos;
    } else {
      Fail("Invalid character (code " + std::to_string(static_cast<unsigned char>(c)) + ")");
    }
  }

  // A text value: quoted runs and #nnn codes, adjacent without blanks.
  void LexString() {
    FTok.Kind = TTok::tString;
    std::string& out = FTok.Text;
    char32_t pendingHigh = 0;  // a high surrogate waits for its low half
    for (;;) {
      if (FPos >= FText.size()) break;
      const char c = FText[FPos];
      if (c == '\'') {
        if (pendingHigh != 0) Fail("Unpaired surrogate in character code");
        ++FPos;
        for (;;) {
          if (FPos >= FText.size() || FText[FPos] == '\n' || FText[FPos] == '\r')
            Fail("Unterminated string");
          if (FText[FPos] == '\'') {
            if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
              out += '\'';
              FPos += 2;
              continue;
            }
            ++FPos;
            break;
          }
          char32_t code = 0;
          const std::size_t len = DecodeUtf8(FText, FPos, code);
          if (len == 0) Fail("Invalid UTF-8 in string");
          out.append(FText.substr(FPos, len));
          FPos += len;
        }
      } else if (c == '#') {
        ++FPos;
        char32_t code = 0;
        bool any = false;
        const bool hex = FPos < FText.size() && FText[FPos] == '$';
        if (hex) ++FPos;
        while (FPos < FText.size() && (hex ? IsHexDigit(FText[FPos]) : IsDigit(FText[FPos]))) {
          code = code * (hex ? 16 : 10) +
                 static_cast<char32_t>(hex ? HexValue(FText[FPos]) : FText[FPos] - '0');
          if (code > 0x10FFFF) Fail("Character code out of range");
          any = true;
          ++FPos;
        }
        if (!any) Fail("Character code expected after #");
        if (pendingHigh != 0) {
          if (code < 0xDC00 || code > 0xDFFF) Fail("Unpaired surrogate in character code");
          AppendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (code - 0xDC00));
          pendingHigh = 0;
        } else if (code >= 0xD800 && code <= 0xDBFF) {
          pendingHigh = code;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
          Fail("Unpaired surrogate in character code");
        } else {
          AppendUtf8(out, code);
        }
      } else {
        break;
      }
    }
    if (pendingHigh != 0) Fail("Unpaired surrogate in character code");
  }

  void LexNumber() {
    const std::size_t start = FPos;
    if (FText[FPos] == '-') ++FPos;
    while (FPos < FText.size() && IsDigit(FText[FPos])) ++FPos;
    bool isFloat = false;
    if (FPos + 1 < FText.size() && FText[FPos] == '.' && IsDigit(FText[FPos + 1])) {
      isFloat = true;
      ++FPos;
      while (FPos < FText.size() && IsDigit(FText[FPos])) ++FPos;
    }
    if (FPos < FText.size() && (FText[FPos] == 'e' || FText[FPos] == 'E')) {
      std::size_t p = FPos + 1;
      if (p < FText.size() && (FText[p] == '+' || FText[p] == '-')) ++p;
      if (p < FText.size() && IsDigit(FText[p])) {
        isFloat = true;
        FPos = p;
        while (FPos < FText.size() && IsDigit(FText[FPos])) ++FPos;
      }
    }
    if (FPos < FText.size() && (IsIdentStart(FText[FPos]) || FText[FPos] == '\''))
      Fail("Invalid number");
    FTok.Kind = isFloat ? TTok::tFloat : TTok::tInteger;
    FTok.Text.assign(FText.substr(start, FPos - start));
  }

  void LexHex() {
    ++FPos;
    const std::size_t start = FPos;
    while (FPos < FText.size() && IsHexDigit(FText[FPos])) ++FPos;
    if (FPos == start) Fail("Hexadecimal digits expected after $");
    FTok.Kind = TTok::tInteger;
    FTok.Text = "$";
    FTok.Text.append(FText.substr(start, FPos - start));
  }

  // --- parser ------------------------------------------------------------------------------
  bool IsKeyword(std::string_view AWord) const {
    return FTok.Kind == TTok::tIdent && SameName(FTok.Text, AWord);
  }
  bool IsSymbol(char c) const { return FTok.Kind == TTok::tSymbol && FTok.Symbol == c; }
  void ExpectSymbol(char c) {
    if (!IsSymbol(c)) Fail(std::string("'") + c + "' expected");
    Next();
  }
  std::string ExpectIdent(std::string_view AWhat) {
    if (FTok.Kind != TTok::tIdent) Fail(std::string(AWhat) + " expected");
    std::string s = std::move(FTok.Text);
    Next();
    return s;
  }
  std::string DottedIdent(std::string_view AWhat) {
    std::string s = ExpectIdent(AWhat);
    while (IsSymbol('.')) {
      Next();
      s += '.';
      s += ExpectIdent(AWhat);
    }
    return s;
  }
  void Enter(int ADepth) const {
    if (ADepth > kMaxDepth) Fail("Description nested too deeply");
  }

  TDescBlock ParseBlock(int ADepth) {
    Enter(ADepth);
    if (IsKeyword("inherited") || IsKeyword("inline"))
      Fail("Only object blocks are supported, not " + FTok.Text);
    if (!IsKeyword("object")) Fail("object expected");
    TDescBlock block;
    block.Line = FTok.Line;
    Next();
    std::string first = ExpectIdent("Component name or class name");
    if (IsSymbol(':')) {
      Next();
      block.Name = std::move(first);
      block.ClassName = ExpectIdent("Class name");
    } else {
      block.ClassName = std::move(first);
    }
    const std::string outer = FComponent;
    FComponent = block.Name.empty() ? block.ClassName : block.Name;
    ParseEntries(block.Entries, ADepth, true, &block.Children);
    FComponent = outer;
    return block;
  }

  // Entries up to `end`; a block may hold nested blocks after its entries.
  void ParseEntries(std::vector<TDescEntry>& AEntries, int ADepth, bool AIsBlock,
                    std::vector<TDescBlock>* AChildren) {
    for (;;) {
      if (FTok.Kind == TTok::tEnd) Fail("end expected");
      if (IsKeyword("end")) {
        Next();
        return;
      }
      if (AIsBlock && (IsKeyword("object") || IsKeyword("inherited") || IsKeyword("inline"))) {
        AChildren->push_back(ParseBlock(ADepth + 1));
        continue;
      }
      if (FTok.Kind != TTok::tIdent) Fail("Property name expected");
      if (AChildren != nullptr && !AChildren->empty())
        Fail("Property " + FTok.Text + " follows a nested object");
      TDescEntry entry;
      entry.Line = FTok.Line;
      entry.Path = DottedIdent("Property name");
      for (const TDescEntry& e : AEntries)
        if (SameName(e.Path, entry.Path))
          FailAt("Property " + entry.Path + " is given twice", entry.Line);
      ExpectSymbol('=');
      entry.Value = ParseValue(ADepth + 1);
      AEntries.push_back(std::move(entry));
    }
  }

  TDescValue ParseValue(int ADepth) {
    Enter(ADepth);
    TDescValue v;
    v.Line = FTok.Line;
    switch (FTok.Kind) {
      case TTok::tString:
        v.Text = std::move(FTok.Text);
        Next();
        while (IsSymbol('+')) {
          Next();
          if (FTok.Kind != TTok::tString) Fail("String expected after +");
          v.Text += FTok.Text;
          Next();
        }
        v.Type = ClassifyText(v.Text);
        return v;
      case TTok::tInteger:
        ReadInteger(v);
        return v;
      case TTok::tFloat: {
        const char* b = FTok.Text.data();
        auto [p, ec] = std::from_chars(b, b + FTok.Text.size(), v.Float);
        if (ec != std::errc() || p != b + FTok.Text.size()) Fail("Invalid number " + FTok.Text);
        v.Type = TValueType::vaExtended;
        Next();
        return v;
      }
      case TTok::tIdent: {
        v.Text = DottedIdent("Identifier");
        if (SameName(v.Text, "True"))
          v.Type = TValueType::vaTrue;
        else if (SameName(v.Text, "False"))
          v.Type = TValueType::vaFalse;
        else if (SameName(v.Text, "nil"))
          v.Type = TValueType::vaNil;
        else if (SameName(v.Text, "Null"))
          v.Type = TValueType::vaNull;
        else
          v.Type = TValueType::vaIdent;
        return v;
      }
      case TTok::tSymbol:
        break;
      case TTok::tEnd:
        Fail("Value expected");
    }
    switch (FTok.Symbol) {
      case '[':
        v.Type = TValueType::vaSet;
        Next();
        if (!IsSymbol(']')) {
          v.Members.push_back(ExpectIdent("Set member"));
          while (IsSymbol(',')) {
            Next();
            v.Members.push_back(ExpectIdent("Set member"));
          }
        }
        ExpectSymbol(']');
        return v;
      case '(':
        v.Type = TValueType::vaList;
        Next();
        while (!IsSymbol(')')) v.List.push_back(ParseValue(ADepth + 1));
        Next();
        return v;
      case '<':
        v.Type = TValueType::vaCollection;
        Next();
        while (!IsSymbol('>')) {
          if (!IsKeyword("item")) Fail("item expected");
          TDescItem item;
          item.Line = FTok.Line;
          Next();
          ParseEntries(item.Entries, ADepth + 1, false, nullptr);
          v.Items.push_back(std::move(item));
        }
        Next();
        return v;
      case '{':
        Fail("Binary property data is not supported");
      default:
        Fail("Value expected");
    }
  }

  void ReadInteger(TDescValue& v) {
    const std::string& t = FTok.Text;
    std::int64_t value = 0;
    const char* b = t.data();
    const char* e = b + t.size();
    std::from_chars_result r{};
    if (!t.empty() && t[0] == '$') {
      std::uint64_t u = 0;
      r = std::from_chars(b + 1, e, u, 16);
      value = static_cast<std::int64_t>(u);  // $FFFFFFFFFFFFFFFF is -1, as hexadecimal literals go
    } else {
      r = std::from_chars(b, e, value);
    }
    if (r.ec != std::errc() || r.ptr != e) Fail("Integer out of range: " + t);
    v.Integer = value;
    if (value >= std::numeric_limits<std::int8_t>::min() &&
        value <= std::numeric_limits<std::int8_t>::max())
      v.Type = TValueType::vaInt8;
    else if (value >= std::numeric_limits<std::int16_t>::min() &&
             value <= std::numeric_limits<std::int16_t>::max())
      v.Type = TValueType::vaInt16;
    else if (value >= std::numeric_limits<std::int32_t>::min() &&
             value <= std::numeric_limits<std::int32_t>::max())
      v.Type = TValueType::vaInt32;
    else
      v.Type = TValueType::vaInt64;
    Next();
  }

  std::string_view FText;
  std::size_t FPos = 0;
  int FLine = 1;
  TToken FTok;
  std::string FComponent;  // the block being parsed, for messages
};

}  // namespace

std::string DescriptionErrorText(std::string_view AMessage, int ALine,
                                 std::string_view AComponent) {
  std::string s(AMessage);
  s += " (line ";
  s += std::to_string(ALine);
  if (!AComponent.empty()) {
    s += ", component ";
    s += AComponent;
  }
  s += ')';
  return s;
}

TDescBlock ParseDescription(std::string_view AText) {
  return TParser(AText).ParseRoot();
}

}  // namespace bunkmere
