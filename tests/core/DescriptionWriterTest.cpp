// Writing descriptions: what is stored (defaults, stored conditions, read-only properties),
// and that reading then writing gives the same text for every kind of value.

#include <gtest/gtest.h>

#include <functional>

#include "core/ClassRegistry.h"
#include "core/Exceptions.h"
#include "core/Reader.h"
#include "core/Writer.h"
#include "tests/core/TestComponents.h"

namespace bunkmere::testing {
namespace {

class DescriptionWriter : public ::testing::Test {
 protected:
  void SetUp() override { RegisterTestClasses(); }
};

TEST_F(DescriptionWriter, ReadingThenWritingGivesTheSameText) {
  const std::string text = R"(object frmMain: TTestForm
  Caption = 'Main ''window'''
  object Panel1: TTestPanel
    Count = 7
    Enabled = False
    Caption = 'caf'#233' '#8364#55357#56832#13#10'end'
    Ratio = 0.25
    Shape = shTriangle
    Styles = [fsBold, fsUnderline]
    Font.Name = 'Mono'
    Font.Size = -11
    Font.Style = [fsItalic]
    Font.Color = clBtnFace
    Options.Provider = 'NATIVE.1'
    Options.Compress = True
    Lines = (
      'select *'
      ''
      'from t')
    Items = <
      item
        Caption = 'first'
        Link = Button2
      end
      item
        Width = 3
      end>
    Buddy = Button2
    OnClick = Panel1Click
    Hidden = True
    object Button1: TTestPanel
      Count = -5
      Font.Color = -2147483649
      Options.Provider = prSQL
    end
  end
  object Button2: TTestWidget
    Count = 0
    Buddy = Button1
  end
end
)";
  TTestForm form(nullptr);
  ReadComponentDescription(form, text);
  EXPECT_EQ(WriteComponentDescription(form), text);
}

TEST_F(DescriptionWriter, StoresOnlyWhatDiffersFromDefaultsAndWhatItsConditionAllows) {
  struct Case {
    const char* what;
    std::function<void(TTestWidget&)> change;
    std::string body;  // the lines between the header and end
  } cases[] = {
      {"a new component: Count has no default, Version is read-only", [](TTestWidget&) {},
       "  Count = 0\n"},
      {"Hidden is not stored while Count <= 5, even when true",
       [](TTestWidget& w) { w.Hidden = true; }, "  Count = 0\n"},
      {"Hidden is stored once Count > 5, even when false", [](TTestWidget& w) { w.Count = 6; },
       "  Count = 6\n  Hidden = False\n"},
      {"values back at their defaults are not stored",
       [](TTestWidget& w) {
         w.Enabled = true;
         w.Font().Name = "Sans";
         w.Font().Size = 8;
         w.Ratio = 0.0;
       },
       "  Count = 0\n"},
      {"a colour with a name is written by name, others as numbers",
       [](TTestWidget& w) { w.Font().Color = 0xFF; }, "  Count = 0\n  Font.Color = clRed\n"},
      {"an empty set differs from a non-empty default only",
       [](TTestWidget& w) { w.Styles = fsItalic; }, "  Count = 0\n  Styles = [fsItalic]\n"},
      {"the custom entry writes an identifier unless it read a string",
       [](TTestWidget& w) { w.Options().Provider = 2; },
       "  Count = 0\n  Options.Provider = prNative\n"},
      {"the custom entry keeps writing a string it read, even at its default",
       [](TTestWidget& w) {
         w.Options().LoadedType = TValueType::vaString;
         w.Options().LoadedText = "SQL.1";
       },
       "  Count = 0\n  Options.Provider = 'SQL.1'\n"},
  };
  for (const Case& c : cases) {
    TTestWidget w(nullptr);
    w.SetName("W");
    c.change(w);
    EXPECT_EQ(WriteComponentDescription(w), "object W: TTestWidget\n" + c.body + "end\n") << c.what;
  }
}

TEST_F(DescriptionWriter, TheCustomEntryWritesBackTheFormItRead) {
  struct Case {
    const char* stored;
    const char* written;  // nullptr: not written
    int provider;
  } cases[] = {
      {"prSQL", "prSQL", 1},       {"'NATIVE.1'", "'NATIVE.1'", 2}, {"'SQL.1'", "'SQL.1'", 1},
      {"'UNKNOWN.9'", nullptr, 0},  // reads as auto; its text is not the auto provider's
      {"prAuto", nullptr, 0},
  };
  for (const Case& c : cases) {
    TTestWidget w(nullptr);
    ReadComponentDescription(
        w, std::string("object W: TTestWidget\n  Options.Provider = ") + c.stored + "\nend\n");
    EXPECT_EQ(w.Options().Provider, c.provider) << c.stored;
    const std::string expected =
        std::string("object W: TTestWidget\n  Count = 0\n") +
        (c.written ? std::string("  Options.Provider = ") + c.written + "\n" : "") + "end\n";
    EXPECT_EQ(WriteComponentDescription(w), expected) << c.stored;
  }
}

TEST_F(DescriptionWriter, RefusesWhatCouldNotBeReadBack) {
  struct Case {
    const char* what;
    std::function<void(TTestWidget&)> change;
  } cases[] = {
      {"a name that is not an identifier", [](TTestWidget& w) { w.SetName("two words"); }},
      {"a handler name that is not an identifier", [](TTestWidget& w) { w.OnClick = "a.b"; }},
      {"a number that is not finite", [](TTestWidget& w) { w.Ratio = 1.0 / 0.0; }},
  };
  for (const Case& c : cases) {
    TTestWidget w(nullptr);
    w.SetName("W");
    c.change(w);
    EXPECT_THROW(WriteComponentDescription(w), Exception) << c.what;
  }
}

TEST_F(DescriptionWriter, AnUnregisteredSubclassIsWrittenAsItsNearestRegisteredAncestor) {
  TUnregisteredForm form(nullptr);
  form.SetName("F");
  form.Caption = "c";
  EXPECT_EQ(WriteComponentDescription(form), "object F: TTestForm\n  Caption = 'c'\nend\n");
}

}  // namespace
}  // namespace bunkmere::testing
