#pragma once
// TCollection: an ordered list of items that a persistent object owns and stores as one
// property (`Columns = < item ... end item ... end >`). Each item is a persistent object
// with published properties of its own; the collection makes new items through a factory so
// a description can add them.

#include <functional>
#include <memory>
#include <vector>

#include "core/Persistent.h"

namespace bunkmere {

class TCollection;

class TCollectionItem : public TPersistent {
 public:
  const char* ClassName() const noexcept override { return "TCollectionItem"; }
  TCollection* Collection() const noexcept { return FCollection; }
  int Index() const;

 private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
};

class TCollection : public TPersistent {
 public:
  using TItemFactory = std::function<std::unique_ptr<TCollectionItem>()>;
  explicit TCollection(TItemFactory AFactory) : FFactory(std::move(AFactory)) {}
  const char* ClassName() const noexcept override { return "TCollection"; }

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  TCollectionItem* Items(int AIndex) const {
    return FItems.at(static_cast<std::size_t>(AIndex)).get();
  }
  // Appends a new item made by the factory and returns it; the collection owns it.
  TCollectionItem* Add();
  void Delete(int AIndex);
  void Clear() noexcept { FItems.clear(); }

 private:
  TItemFactory FFactory;
  std::vector<std::unique_ptr<TCollectionItem>> FItems;
};

// A collection of items of one class, with typed access.
template <class TItem>
class TTypedCollection : public TCollection {
 public:
  TTypedCollection() : TCollection([] { return std::make_unique<TItem>(); }) {}
  TItem* Add() { return static_cast<TItem*>(TCollection::Add()); }
  TItem* Items(int AIndex) const { return static_cast<TItem*>(TCollection::Items(AIndex)); }
};

}  // namespace bunkmere
