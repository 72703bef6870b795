// Malformed descriptions: each fails with an Exception naming the line and the component, and
// leaves nothing the reading created alive.

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "core/Reader.h"
#include "tests/core/TestComponents.h"

namespace bunkmere::testing {
namespace {

// A valid component first, so a failure has something to free.
const std::string kHead = "object F: TTestForm\n  object A: TTestWidget\n    Buddy = W\n  end\n";

std::string Widget(const std::string& ABody, const char* AClass = "TTestWidget") {
  return kHead + "  object W: " + AClass + "\n" + ABody + "  end\nend\n";
}

std::string Nested(int ADepth) {
  std::string s = "object F: TTestForm\n";
  for (int i = 0; i < ADepth; ++i) s += "object P" + std::to_string(i) + ": TTestPanel\n";
  for (int i = 0; i <= ADepth; ++i) s += "end\n";
  return s;
}

struct ErrorCase {
  std::string text;
  std::string message;
};

// A case is named after its message ("3_Integer_out_of_range_99999999999999999999"), so it
// reads in test lists and can be picked with a filter; the index keeps names unique.
std::string CaseName(const ::testing::TestParamInfo<ErrorCase>& AInfo) {
  std::string name = std::to_string(AInfo.index) + "_";
  for (const char c : AInfo.param.message.substr(0, AInfo.param.message.find(" (line"))) {
    const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (word)
      name += c;
    else if (name.back() != '_')
      name += '_';
    if (name.size() >= 60) break;
  }
  while (name.back() == '_') name.pop_back();
  return name;
}

class DescriptionErrors : public ::testing::TestWithParam<ErrorCase> {
 protected:
  void SetUp() override { RegisterTestClasses(); }
};

TEST_P(DescriptionErrors, FailWithLineAndComponentAndFreeWhatWasCreated) {
  const ErrorCase& c = GetParam();
  const int liveBefore = LiveCount();
  TTestForm form(nullptr);
  try {
    ReadComponentDescription(form, c.text);
    FAIL() << "no error for:\n" << c.text;
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message(), c.message);
  }
  EXPECT_EQ(form.ComponentCount(), 0);
  EXPECT_EQ(LiveCount(), liveBefore);
  EXPECT_FALSE(form.IsLoading());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptionErrors,
    ::testing::Values(
        // does not parse
        ErrorCase{Widget("    Caption = 'open\n"), "Unterminated string (line 6, component W)"},
        ErrorCase{Widget("    Count = 3;\n"), "Invalid character (code 59) (line 6, component W)"},
        ErrorCase{Widget("    Count 3\n"), "'=' expected (line 6, component W)"},
        ErrorCase{Widget("    Count = 99999999999999999999\n"),
                  "Integer out of range: 99999999999999999999 (line 6, component W)"},
        ErrorCase{Widget("    Count = -2147483649\n"),
                  "Value -2147483649 out of range for Count (line 6, component W)"},
        ErrorCase{Widget("    Caption = #55357'x'\n"),
                  "Unpaired surrogate in character code (line 6, component W)"},
        ErrorCase{Widget("    Caption = 'bad \xC3('\n"),
                  "Invalid UTF-8 in string (line 6, component W)"},
        ErrorCase{Widget("    Count = {00}\n"),
                  "Binary property data is not supported (line 6, component W)"},
        ErrorCase{Widget("    Count = 1\n    Count = 2\n"),
                  "Property Count is given twice (line 7, component W)"},
        ErrorCase{kHead + "  object W: TTestPanel\n    object X: TTestPanel\n    end\n    Count = "
                          "1\n  end\nend\n",
                  "Property Count follows a nested object (line 8, component W)"},
        ErrorCase{kHead + "end\nobject G: TTestForm\nend\n", "Text after the final end (line 6)"},
        ErrorCase{kHead + "  object W: TTestWidget\n", "end expected (line 6, component W)"},
        ErrorCase{Nested(80), "Description nested too deeply (line 66, component P63)"},
        // names an unknown class, property, member or component
        ErrorCase{Widget("", "TNoSuch"), "Class TNoSuch not found (line 5, component W)"},
        ErrorCase{Widget("", "TTestFont"),
                  "Class TTestFont is not a component class (line 5, component W)"},
        ErrorCase{
            "object F: TTestWidget\nend\n",
            "The description is of class TTestWidget, not of TTestForm (line 1, component F)"},
        ErrorCase{Widget("    Colour = 3\n"),
                  "Property Colour does not exist (line 6, component W)"},
        ErrorCase{Widget("    Font.Weight = 3\n"),
                  "Property Font.Weight does not exist (line 6, component W)"},
        ErrorCase{Widget("    Count.Size = 3\n"),
                  "Property Count.Size does not exist (line 6, component W)"},
        ErrorCase{Widget("    Shape = shHexagon\n"),
                  "Unknown member shHexagon of TShape for Shape (line 6, component W)"},
        ErrorCase{Widget("    Styles = [fsBold, fsStrike]\n"),
                  "Unknown member fsStrike of TFontStyle for Styles (line 6, component W)"},
        ErrorCase{Widget("    Font.Color = clPlaid\n"),
                  "Unknown identifier clPlaid for Font.Color (line 6, component W)"},
        ErrorCase{Widget("    Buddy = Nobody\n"),
                  "Unknown component Nobody for Buddy (line 6, component W)"},
        ErrorCase{Widget("    Buddy = Other.A\n"),
                  "Unknown component Other.A for Buddy (line 6, component W)"},
        ErrorCase{Widget("    Items = <\n      item\n        Link = Ghost\n      end>\n"),
                  "Unknown component Ghost for Link (line 8, component W)"},
        ErrorCase{kHead + "  object A: TTestWidget\n  end\nend\n",
                  "A component named A already exists (line 5, component A)"},
        // gives a value of the wrong kind
        ErrorCase{
            Widget("    Count = 'three'\n"),
            "Invalid value for Count: vaString where an integer is expected (line 6, component W)"},
        ErrorCase{Widget("    Enabled = 1\n"),
                  "Invalid value for Enabled: vaInt8 where True or False is expected (line 6, "
                  "component W)"},
        ErrorCase{
            Widget("    Caption = Main\n"),
            "Invalid value for Caption: vaIdent where a string is expected (line 6, component W)"},
        ErrorCase{Widget("    Shape = 'shSquare'\n"),
                  "Invalid value for Shape: vaString where an identifier is expected (line 6, "
                  "component W)"},
        ErrorCase{Widget("    Lines = (\n      'a'\n      3)\n"),
                  "Invalid value in Lines: only strings may be listed (line 8, component W)"},
        ErrorCase{
            Widget("    Items = 3\n"),
            "Invalid value for Items: vaInt8 where a collection is expected (line 6, component W)"},
        ErrorCase{Widget("    Font = 3\n"),
                  "Property Font cannot be given a value; set its properties instead (line 6, "
                  "component W)"},
        ErrorCase{Widget("    OnClick = 'Go'\n"),
                  "Invalid value for OnClick: vaString where an identifier is expected (line 6, "
                  "component W)"},
        ErrorCase{Widget("    Buddy = 'A'\n"),
                  "Invalid value for Buddy: vaString where a component name or nil is expected "
                  "(line 6, component W)"},
        ErrorCase{
            Widget("    Buddy = F\n"),
            "Component F is a TTestForm, but Buddy needs a TTestWidget (line 6, component W)"},
        ErrorCase{Widget("    Version = '3'\n"),
                  "Property Version is read-only (line 6, component W)"},
        ErrorCase{Widget("    Options.Provider = 3\n"), "String expected (line 6, component W)"}),
    CaseName);

TEST(DescriptionFailures, AnExceptionFromAComponentPassesUnchangedAndFreesWhatWasCreated) {
  RegisterTestClasses();
  const int liveBefore = LiveCount();
  TTestForm form(nullptr);
  EXPECT_THROW(ReadComponentDescription(form, Widget("", "TFailingWidget")), EFileError);
  EXPECT_EQ(form.ComponentCount(), 0);
  EXPECT_EQ(LiveCount(), liveBefore);
}

TEST(DescriptionFailures, AReusedComponentSurvivesAFailureButLeavesTheLoadingState) {
  RegisterTestClasses();
  TTestForm form(nullptr);
  auto* pre = new TTestWidget(&form);
  pre->SetName("W");
  EXPECT_THROW(ReadComponentDescription(
                   form, "object F: TTestForm\n object W: TTestWidget\n Buddy = X\n end\nend"),
               Exception);
  ASSERT_EQ(form.ComponentCount(), 1);
  EXPECT_FALSE(pre->IsLoading());
}

}  // namespace
}  // namespace bunkmere::testing
