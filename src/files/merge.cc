#include "files/merge.h"

#include <string>

#include "store/number_text.h"
#include "store/store.h"

namespace vellix {

namespace {

void MergeItems(Store& target, const GroupSnapshot& items, std::string_view to,
                bool allowOverwrite) {
  for (const auto& [name, value] : items.items) {
    // Asked item by item: two source names that this store's case rule folds together
    // count as one, and the first one set wins when overwriting is not allowed.
    if (!allowOverwrite && target.HasItem(to, name)) continue;
    target.SetItem(to, name, value);
  }
}

}  // namespace

bool MergeStore(Store& target, const Store* source, bool allowOverwrite) {
  if (source == nullptr) return false;
  source->ForEachGroup([&](const Group& group) {
    MergeItems(target, source->Snapshot(group), group.name, allowOverwrite);
  });
  return true;
}

bool MergeGroup(Store& target, const Store* source, std::string_view from, std::string_view to,
                bool allowOverwrite) {
  if (source == nullptr) return false;
  const Group* group = source->FindGroup(from);
  if (group == nullptr) return true;
  // The items are taken before the first one is set: setting runs trigger handlers.
  const GroupSnapshot items = source->Snapshot(*group);
  MergeItems(target, items, to, allowOverwrite);
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
  for (int64_t n = 1;; ++n) {
    const std::string suffix = "." + IntegerText(n);
    if (mode == 0) {
      const std::string name = std::string(item) + suffix;
      if (!target.HasItem(group, name)) {
        target.SetItem(group, name, value);
        return;
      }
    } else {
      const std::string name = std::string(group) + suffix;
      if (!target.HasItem(name, item)) {
        target.SetItem(name, item, value);
        return;
      }
    }
  }
}

}  // namespace vellix
