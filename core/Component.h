#pragma once
// TComponent: the owner/ownership model every non-visual and visual component builds on.
//
// A component created with an owner (`new TMSTable(this)`) belongs to that owner, which frees
// it, and every other component it owns, in reverse order of creation. A component created
// without an owner belongs to its creator (hold it in a std::unique_ptr). Deleting an owned
// component early removes it from its owner first.
//
// C++ constructors do not dispatch virtual calls to derived classes. Where a base class must
// consult a derived class during construction (an options object a subclass supplies, for
// instance) the derived class passes what it needs to a protected base constructor instead.

#include <cstdint>
#include <string>
#include <vector>

#include "core/Persistent.h"

namespace bunkmere {

class TReader;

enum class TComponentStateFlag : std::uint8_t {
  csLoading = 1 << 0,     // being read from a stored description
  csDesigning = 1 << 1,   // hosted by a form designer
  csDestroying = 1 << 2,  // its destructor has started
  csReading = 1 << 3,     // its properties are being applied by a reader
};

// A small set of component state flags.
class TComponentState {
 public:
  constexpr TComponentState() = default;
  constexpr bool Contains(TComponentStateFlag f) const { return (FBits & Bit(f)) != 0; }
  constexpr void Include(TComponentStateFlag f) { FBits |= Bit(f); }
  constexpr void Exclude(TComponentStateFlag f) { FBits &= static_cast<std::uint8_t>(~Bit(f)); }
  constexpr bool operator==(const TComponentState&) const = default;

 private:
  static constexpr std::uint8_t Bit(TComponentStateFlag f) { return static_cast<std::uint8_t>(f); }
  std::uint8_t FBits = 0;
};

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  // The class name as stored descriptions and messages spell it ("TMSTable").
  const char* ClassName() const noexcept override { return "TComponent"; }

  TComponent* Owner() const noexcept { return FOwner; }
  const std::string& Name() const noexcept { return FName; }
  // Fails with Exception when a sibling already bears the name (letter case ignored).
  virtual void SetName(const std::string& AName);

  int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int AIndex) const {
    return FComponents.at(static_cast<std::size_t>(AIndex));
  }
  // Position among the owner's components, -1 without an owner.
  int ComponentIndex() const;
  // An owned component by name, letter case ignored; nullptr when none.
  TComponent* FindComponent(const std::string& AName) const;

  TComponentState ComponentState() const noexcept { return FComponentState; }
  bool IsLoading() const noexcept {
    return FComponentState.Contains(TComponentStateFlag::csLoading);
  }
  bool IsDesigning() const noexcept {
    return FComponentState.Contains(TComponentStateFlag::csDesigning);
  }
  bool IsDestroying() const noexcept {
    return FComponentState.Contains(TComponentStateFlag::csDestroying);
  }
  // Marks this component, and optionally everything it owns, as hosted by a designer.
  void SetDesigning(bool AValue, bool ASetChildren = true);
  // The reader of stored descriptions enters and leaves the loading state through these.
  void SetLoadingState(bool AValue = true) {
    if (AValue)
      FComponentState.Include(TComponentStateFlag::csLoading);
    else
      FComponentState.Exclude(TComponentStateFlag::csLoading);
  }
  void SetReadingState(bool AValue);

  // Runs once a stored description has been applied; the base step ends the loading state.
  virtual void Loaded();
  // Applies this component's block of a stored description: the base step reads every
  // entry in stored order (AReader.ReadProperties). A class may take entries out of the
  // stream first, by name, before it hands the rest to the base step.
  virtual void ReadState(TReader& AReader);
  // Visual nesting: a block stored inside another component's block (not the root's) is
  // given that component as its parent before its own entries are read; the writer asks
  // GetParentComponent to nest blocks the same way. Both are no-ops in the base class.
  virtual void SetParentComponent(TComponent* AParent);
  virtual TComponent* GetParentComponent() const { return nullptr; }
  // Told when a component is inserted into or removed from this component's owner chain, or
  // when a component this one asked to be told about is freed. The base step forwards the
  // notice to every owned component.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Ask to be told (Notification with opRemove) when AComponent is freed, whoever owns it.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Marks the component as being destroyed; derived destructors call it first when their
  // own teardown must already see csDestroying. Idempotent.
  void Destroying();
  // Frees every owned component, last created first. Derived destructors whose owned
  // components depend on derived state call this before that state goes away.
  void DestroyComponents();

 protected:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

 private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;    // owned, in creation order
  std::vector<TComponent*> FFreeNotifies;  // mutual: each side lists the other
  TComponentState FComponentState;
};

// Checked downcast of a component reference; nullptr stays nullptr, a component of another
// class raises EInvalidCast.
template <class T>
T* ComponentCast(TComponent* AComponent);

}  // namespace bunkmere

#include "core/Exceptions.h"

template <class T>
T* bunkmere::ComponentCast(TComponent* AComponent) {
  if (AComponent == nullptr) return nullptr;
  if (auto* p = dynamic_cast<T*>(AComponent)) return p;
  throw EInvalidCast("Invalid class typecast");
}
