#include "core/Collection.h"

#include <algorithm>
#include <stdexcept>

namespace bunkmere {

int TCollectionItem::Index() const {
  if (FCollection == nullptr) return -1;
  for (int i = 0; i < FCollection->Count(); ++i)
    if (FCollection->Items(i) == this) return i;
  return -1;
}

TCollectionItem* TCollection::Add() {
  std::unique_ptr<TCollectionItem> item = FFactory();
  if (!item) throw std::logic_error("collection item factory returned nothing");
  item->FCollection = this;
  FItems.push_back(std::move(item));
  return FItems.back().get();
}

void TCollection::Delete(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) throw std::out_of_range("collection index out of range");
  FItems.erase(FItems.begin() + AIndex);
}

}  // namespace bunkmere
