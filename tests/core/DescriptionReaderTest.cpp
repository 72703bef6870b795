// Reading descriptions: creation order, loading state, references, Loaded order, nesting.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/ClassRegistry.h"
#include "core/Reader.h"
#include "tests/core/TestComponents.h"

namespace bunkmere::testing {
namespace {

class DescriptionReader : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    Log().clear();
  }
  TTestWidget* Widget(const char* AName) {
    return dynamic_cast<TTestWidget*>(form.FindComponent(AName));
  }
  TTestForm form{nullptr};
};

TEST_F(DescriptionReader, CreatesInStoredOrderThenResolvesReferencesThenRunsLoadedRootFirst) {
  ReadComponentDescription(form, R"(object frmMain: TTestForm
  Caption = 'Main'
  object First: TTestWidget
    Buddy = Second
  end
  object Second: TTestWidget
    Buddy = frmMain.First
  end
end
)");
  EXPECT_EQ(form.Name(), "frmMain");
  EXPECT_EQ(form.Caption, "Main");
  ASSERT_EQ(form.ComponentCount(), 2);
  EXPECT_EQ(Widget("First")->Buddy(), Widget("Second"));  // stored later than the reference
  EXPECT_EQ(Widget("Second")->Buddy(), Widget("First"));
  EXPECT_EQ(Log(), (std::vector<std::string>{"create TTestWidget", "create TTestWidget",
                                             "set First.Buddy=Second", "set Second.Buddy=First",
                                             "loaded frmMain", "loaded First", "loaded Second"}));
  EXPECT_FALSE(form.IsLoading());
  EXPECT_FALSE(Widget("First")->IsLoading());
}

TEST_F(DescriptionReader, LoadingStateStartsAfterTheConstructorAndHoldsWhilePropertiesAreSet) {
  ReadComponentDescription(
      form, "object F: TTestForm\n object W: TTestWidget\n Caption = 'x'\n end\nend");
  TTestWidget* w = Widget("W");
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->LoadingInConstructor);
  EXPECT_TRUE(w->LoadingWhileRead);
  EXPECT_FALSE(w->IsLoading());
  EXPECT_EQ(w->Owner(), &form);
}

TEST_F(DescriptionReader, NestedBlocksAreOwnedByTheRootAndParentedByTheirEnclosingBlock) {
  ReadComponentDescription(form, R"(object F: TTestForm
  object Outer: TTestPanel
    object Inner: TTestPanel
      object Leaf: TTestPanel
      end
    end
  end
end)");
  ASSERT_EQ(form.ComponentCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(form.Components(i)->Owner(), &form);
  EXPECT_EQ(form.FindComponent("Outer")->GetParentComponent(), nullptr);
  EXPECT_EQ(form.FindComponent("Inner")->GetParentComponent(), form.FindComponent("Outer"));
  EXPECT_EQ(form.FindComponent("Leaf")->GetParentComponent(), form.FindComponent("Inner"));
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "parent Inner=Outer"), 1);
}

TEST_F(DescriptionReader, AComponentTheRootAlreadyOwnsIsReusedNotCreatedAgain) {
  auto* existing = new TTestWidget(&form);
  existing->SetName("Pre");
  ReadComponentDescription(form,
                           "object F: TTestForm\n object Pre: TTestWidget\n Count = 3\n end\nend");
  ASSERT_EQ(form.ComponentCount(), 1);
  EXPECT_EQ(existing->Count, 3);
  EXPECT_NE(std::find(Log().begin(), Log().end(), "loaded Pre"), Log().end());
}

TEST_F(DescriptionReader, ANilReferenceClearsAndDefaultsStayWhenNotStored) {
  ReadComponentDescription(form,
                           "object F: TTestForm\n object W: TTestWidget\n Buddy = nil\n end\nend");
  EXPECT_EQ(Widget("W")->Buddy(), nullptr);
  EXPECT_TRUE(Widget("W")->Enabled);
  EXPECT_EQ(Widget("W")->Font().Name, "Sans");
}

TEST_F(DescriptionReader, CreateComponentFromDescriptionBuildsTheRootFromTheRegistry) {
  std::unique_ptr<TComponent> c = CreateComponentFromDescription(
      "object Solo: TTestWidget\n  Count = 4\n  Buddy = Solo\nend\n");
  auto* w = dynamic_cast<TTestWidget*>(c.get());
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Count, 4);
  EXPECT_EQ(w->Buddy(), w);
  EXPECT_FALSE(w->LoadingInConstructor);
  EXPECT_FALSE(w->IsLoading());

  TComponent* owned = CreateComponentFromDescription(form, "object Kid: TTestWidget\nend");
  EXPECT_EQ(owned->Owner(), &form);
  EXPECT_EQ(form.FindComponent("Kid"), owned);
}

TEST_F(DescriptionReader, ValuesCarryTheirKind) {
  const std::string longText(256, 'a');
  struct Case {
    std::string value;
    TValueType type;
    std::string text;
  } cases[] = {
      {"'short'", TValueType::vaString, "short"},
      {"'" + longText + "'", TValueType::vaLString, longText},
      {"'caf'#233", TValueType::vaString, "caf\xC3\xA9"},
      {"'x'#8364", TValueType::vaWString, "x\xE2\x82\xAC"},
      {"#55357#56832", TValueType::vaWString, "\xF0\x9F\x98\x80"},
      {"'it''s' +\n    ' split'", TValueType::vaString, "it's split"},
      {"prSQL", TValueType::vaIdent, "prSQL"},
  };
  for (const Case& c : cases) {
    TTestWidget w(nullptr);
    ReadComponentDescription(w, "object W: TTestWidget\n  Options.Provider = " + c.value + "\nend");
    EXPECT_EQ(w.Options().LoadedType, c.type) << c.value;
    EXPECT_EQ(w.Options().LoadedText, c.text) << c.value;
  }
}

TEST_F(DescriptionReader, AcceptsAByteOrderMarkAndWindowsLineEnds) {
  ReadComponentDescription(
      form, "\xEF\xBB\xBFobject F: TTestForm\r\n  Caption = 'a' +\r\n    'b'\r\nend\r\n");
  EXPECT_EQ(form.Caption, "ab");
}

TEST_F(DescriptionReader, ReadStateCanTakeAnEntryOutOfTheBlock) {
  ReadComponentDescription(form, R"(object F: TTestForm
  object W: TInterceptingWidget
    Count = 2
    Secret = 'hidden'
    Caption = 'shown'
  end
end)");
  auto* w = dynamic_cast<TInterceptingWidget*>(form.FindComponent("W"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Secret, "hidden");
  EXPECT_EQ(w->Count, 2);
  EXPECT_EQ(w->Caption, "shown");
}

}  // namespace
}  // namespace bunkmere::testing
