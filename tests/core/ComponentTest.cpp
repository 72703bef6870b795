#include "core/Component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace bunkmere {
namespace {

// Records its own destruction and every notification it receives.
class Probe : public TComponent {
 public:
  Probe(TComponent* AOwner, std::string AName, std::vector<std::string>* ALog)
      : TComponent(AOwner), FLog(ALog) {
    SetName(AName);
  }
  ~Probe() override { FLog->push_back("free " + Name()); }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove && AComponent != this)
      FLog->push_back(Name() + " told " + AComponent->Name() + " removed");
  }

 private:
  std::vector<std::string>* FLog;
};

TEST(Component, OwnerFreesItsComponentsInReverseOrderOfCreation) {
  std::vector<std::string> log;
  {
    auto owner = std::make_unique<TComponent>(nullptr);
    new Probe(owner.get(), "A", &log);
    new Probe(owner.get(), "B", &log);
    new Probe(owner.get(), "C", &log);
    ASSERT_EQ(owner->ComponentCount(), 3);
  }
  std::vector<std::string> frees;
  for (const auto& line : log)
    if (line.rfind("free ", 0) == 0) frees.push_back(line);
  EXPECT_EQ(frees, (std::vector<std::string>{"free C", "free B", "free A"}));
}

TEST(Component, DeletingAnOwnedComponentRemovesItAndTellsItsSiblings) {
  std::vector<std::string> log;
  auto owner = std::make_unique<TComponent>(nullptr);
  new Probe(owner.get(), "A", &log);
  auto* b = new Probe(owner.get(), "B", &log);
  delete b;
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->FindComponent("b"), nullptr);
  EXPECT_NE(std::find(log.begin(), log.end(), "A told B removed"), log.end());
}

TEST(Component, FreeNotificationReachesComponentsOfOtherOwners) {
  std::vector<std::string> log;
  auto ownerA = std::make_unique<TComponent>(nullptr);
  auto ownerB = std::make_unique<TComponent>(nullptr);
  auto* watcher = new Probe(ownerA.get(), "Watcher", &log);
  auto* watched = new Probe(ownerB.get(), "Watched", &log);
  watcher->FreeNotification(watched);
  ownerB.reset();
  EXPECT_NE(std::find(log.begin(), log.end(), "Watcher told Watched removed"), log.end());
  // The link is gone on both sides: freeing the watcher now must not touch the freed one.
  ownerA.reset();
}

TEST(Component, NamesAreUniqueAmongSiblingsIgnoringCase) {
  std::vector<std::string> log;
  auto owner = std::make_unique<TComponent>(nullptr);
  new Probe(owner.get(), "dbJail", &log);
  auto* other = new Probe(owner.get(), "other", &log);
  EXPECT_THROW(other->SetName("DBJAIL"), Exception);
  EXPECT_EQ(other->Name(), "other");
  EXPECT_EQ(owner->FindComponent("DBJAIL")->Name(), "dbJail");
}

TEST(Component, LoadedEndsTheLoadingState) {
  TComponent c(nullptr);
  c.SetLoadingState();
  EXPECT_TRUE(c.IsLoading());
  c.Loaded();
  EXPECT_FALSE(c.IsLoading());
}

TEST(Component, ComponentCastRefusesAnotherClass) {
  std::vector<std::string> log;
  TComponent plain(nullptr);
  EXPECT_THROW(ComponentCast<Probe>(&plain), EInvalidCast);
  EXPECT_EQ(ComponentCast<Probe>(nullptr), nullptr);
}

}  // namespace
}  // namespace bunkmere
