#include "core/Component.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/Reader.h"

namespace bunkmere {
namespace {

bool SameTextAscii(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Tell everyone who asked that this component goes away; each removes its link to us.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& theirs = other->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  FComponentState.Include(TComponentStateFlag::csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    Remove(last);
    delete last;
  }
}

void TComponent::SetName(const std::string& AName) {
  if (AName == FName) return;
  if (!AName.empty() && FOwner != nullptr) {
    TComponent* other = FOwner->FindComponent(AName);
    if (other != nullptr && other != this)
      throw Exception("A component named " + AName + " already exists");
  }
  FName = AName;
}

int TComponent::ComponentIndex() const {
  if (FOwner == nullptr) return -1;
  const auto& list = FOwner->FComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameTextAscii(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::SetDesigning(bool AValue, bool ASetChildren) {
  if (AValue)
    FComponentState.Include(TComponentStateFlag::csDesigning);
  else
    FComponentState.Exclude(TComponentStateFlag::csDesigning);
  if (ASetChildren)
    for (TComponent* c : FComponents) c->SetDesigning(AValue, true);
}

void TComponent::SetReadingState(bool AValue) {
  if (AValue)
    FComponentState.Include(TComponentStateFlag::csReading);
  else
    FComponentState.Exclude(TComponentStateFlag::csReading);
}

void TComponent::Loaded() {
  FComponentState.Exclude(TComponentStateFlag::csLoading);
}

void TComponent::ReadState(TReader& AReader) {
  AReader.ReadProperties(*this);
}

void TComponent::SetParentComponent(TComponent*) {}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == TOperation::opRemove && AComponent != nullptr)
    RemoveFreeNotification(AComponent);
  // Iterate by index from the end: a handler may free components of ours.
  for (int i = ComponentCount() - 1; i >= 0; --i) {
    if (i >= ComponentCount()) continue;
    FComponents[static_cast<std::size_t>(i)]->Notification(AComponent, Operation);
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& theirs = AComponent->FFreeNotifies;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                      FFreeNotifies.end());
  auto& theirs = AComponent->FFreeNotifies;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::InsertComponent(TComponent* AComponent) {
  Insert(AComponent);
  if (IsDesigning()) AComponent->SetDesigning(true);
  Notification(AComponent, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  Notification(AComponent, TOperation::opRemove);
  Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent),
                    FComponents.end());
  AComponent->FOwner = nullptr;
}

}  // namespace bunkmere
