// The class registry: lookup, inheritance, declaration order, redeclared properties.

#include <gtest/gtest.h>

#include "core/ClassRegistry.h"
#include "tests/core/TestComponents.h"

namespace bunkmere::testing {
namespace {

std::vector<std::string> Names(const TClassInfo& AClass) {
  std::vector<std::string> names;
  for (const TPropInfo& p : AClass.Properties()) names.push_back(p.Name);
  return names;
}

class Base : public TComponent {
 public:
  using TComponent::TComponent;
  int A = 0, B = 0;
};
class Derived : public Base {
 public:
  using Base::Base;
  int C = 0;
};

void RegisterOrderClasses() {
  static const bool done = [] {
    RegisterCoreClasses();
    Register<Base, TComponent>("TOrderBase")
        .Integer("A", &Base::A, &Base::A)
        .Integer("B", &Base::B, &Base::B)
        .Default(2000);
    // Declares B again with a new default, then adds C.
    Register<Derived, Base>("TOrderDerived")
        .Integer("C", &Derived::C, &Derived::C)
        .Integer("B", &Derived::B, &Derived::B)
        .Default(-1);
    return true;
  }();
  (void)done;
}

TEST(ClassRegistry, InheritedPropertiesComeFirstAndARedeclaredOneKeepsItsPlace) {
  RegisterOrderClasses();
  const TClassInfo* derived = TClassRegistry::FindClass("torderderived");
  ASSERT_NE(derived, nullptr);
  EXPECT_EQ(Names(*derived), (std::vector<std::string>{"Name", "A", "B", "C"}));
  EXPECT_EQ(derived->FindProperty("b")->OrdinalDefault, -1);
  EXPECT_EQ(TClassRegistry::FindClass("TOrderBase")->FindProperty("B")->OrdinalDefault, 2000);
  EXPECT_TRUE(derived->InheritsFrom("TComponent"));
  EXPECT_TRUE(derived->InheritsFrom(*TClassRegistry::FindClass("TOrderBase")));
  EXPECT_FALSE(TClassRegistry::FindClass("TOrderBase")->InheritsFrom("TOrderDerived"));
}

TEST(ClassRegistry, RegisteringAgainChangesNothing) {
  RegisterOrderClasses();
  Register<Base, TComponent>("TOrderBaseAgain").Integer("Z", &Base::A, &Base::A);
  EXPECT_EQ(TClassRegistry::FindClass("TOrderBaseAgain"), nullptr);
  EXPECT_EQ(TClassRegistry::FindClass(typeid(Base))->FindProperty("Z"), nullptr);
}

TEST(ClassRegistry, AnObjectOfAnUnregisteredClassGetsItsNearestRegisteredAncestor) {
  RegisterTestClasses();
  TUnregisteredForm form(nullptr);
  const TClassInfo* info = TClassRegistry::ClassOf(form);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Name(), "TTestForm");
}

TEST(ClassRegistry, PropertiesCanBeSetAndReadByName) {
  RegisterTestClasses();
  TTestWidget w(nullptr);
  const TPropInfo* shape = FindPropInfo(w, "Shape");
  ASSERT_NE(shape, nullptr);
  shape->SetOrdinal(w, 2);
  EXPECT_EQ(w.Shape, TShape::shTriangle);
  EXPECT_EQ(shape->GetOrdinal(w), 2);
  EXPECT_TRUE(FindPropInfo(w, "Version")->IsReadOnly());
  EXPECT_EQ(FindPropInfo(w, "Version")->GetString(w), "2.1");
  const TClassInfo* widget = TClassRegistry::FindClass("TTestWidget");
  ASSERT_TRUE(widget->CanCreate());
  std::unique_ptr<TComponent> made(widget->Create(nullptr));
  EXPECT_NE(dynamic_cast<TTestWidget*>(made.get()), nullptr);
  EXPECT_FALSE(TClassRegistry::FindClass("TTestFont")->CanCreate());
}

}  // namespace
}  // namespace bunkmere::testing
