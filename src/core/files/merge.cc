#include "files/merge.h"

#include <string>

#include "store/number_text.h"
#include "store/store.h"

namespace vellix {

namespace {

void MergeItem(Store& target, std::string_view to, std::string_view name, std::string_view value,
               bool allowOverwrite) {
  // Asked item by item: two source names that this store's case rule folds together count
  // as one, and the first one set wins when overwriting is not allowed.
  if (!allowOverwrite && target.HasItem(to, name)) return;
  target.SetItem(to, name, value);
}

}  // namespace

bool MergeStore(Store& target, const Store* source, bool allowOverwrite) {
  if (source == nullptr) return false;
  const StoreChange change(target);
  // Read in place: the source is private to the caller, so no handler can change it.
  source->ForEachGroup([&](const Group& group) {
    group.ForEachItem([&](const Item& item) {
      MergeItem(target, group.name(), item.name(), item.value(), allowOverwrite);
    });
  });
  return true;
}

bool MergeGroup(Store& target, const Store* source, std::string_view from, std::string_view to,
                bool allowOverwrite) {
  if (source == nullptr) return false;
  const Group* group = source->FindGroup(from);
  if (group == nullptr) return true;
  // The items are taken before the first one is set: setting runs trigger handlers, which
  // may change another object's store.
  const GroupSnapshot items = source->Snapshot(*group);
  const StoreChange change(target);
  for (const auto& [name, value] : items.items) MergeItem(target, to, name, value, allowOverwrite);
  return true;
}

std::unique_ptr<Store> CopyForMerge(const Store& source) {
  std::unique_ptr<Store> copy = MakeTemporaryStore(source);
  // The copy has no listeners, so nothing runs while it is filled.
  MergeStore(*copy, &source, true);
  return copy;
}

void AddRepeatedItem(Store& target, std::string_view group, std::string_view item,
                     std::string_view value, int32_t mode) {
  if (!target.HasItem(group, item)) {
    target.SetItem(group, item, value);
    return;
  }
  // Mode 0 numbers the item, any other mode the group.
  const bool numberItem = mode == 0;
  std::string numbered;
  for (int64_t n = 1;; ++n) {
    numbered.assign(numberItem ? item : group);
    numbered += '.';
    numbered += IntegerText(n);
    const std::string_view g = numberItem ? group : std::string_view(numbered);
    const std::string_view k = numberItem ? std::string_view(numbered) : item;
    if (!target.HasItem(g, k)) {
      target.SetItem(g, k, value);
      return;
    }
  }
}

}  // namespace vellix
