// The eleven group operations of "%0 group %1".
#include <algorithm>
#include <string>
#include <vector>

#include "store/number_text.h"
#include "store/scoped_value.h"
#include "store/sorting.h"

namespace vellix {

namespace {

std::vector<const Item*> ItemsInOrder(const Group& g) {
  std::vector<const Item*> items;
  items.reserve(g.size());
  g.ForEachItem([&](const Item& it) { items.push_back(&it); });
  return items;
}

// What a sorting code sorts an item by.
std::string_view SortKey(GroupOperationCode code, std::string_view name, std::string_view value) {
  if (code == kSortByName) return name;
  // The first piece the comma split gives: the text up to the first comma.
  if (code == kSortByFirstField) return value.substr(0, value.find(','));
  return value;
}

// The rebuilding codes: the entries are copied out, put in their new order, the group is
// deleted and every entry set again, so that undo records and "On New Item" follow each
// step as for any other deletion and creation. A sort that nobody is notified of keeps the
// nodes and only reorders them (Store::RebuildGroupInOrder), with the same records.
void Rebuild(Store& store, GroupOperationCode code, int kind, std::string_view group) {
  const Group* g = store.FindGroup(group);
  // A group without items stays: there is nothing to sort or renumber, and deleting it
  // would only lose the group.
  if (g == nullptr || g->size() == 0) return;

  const bool sorting = code == kSortByValue || code == kSortByName || code == kSortByFirstField;
  if (sorting && !store.Notifies()) {
    // Nobody sees the steps: the group's own nodes are put in their new order underneath,
    // with the records the steps would leave.
    const std::vector<const Item*> items = ItemsInOrder(*g);
    std::vector<std::string_view> keys;
    keys.reserve(items.size());
    for (const Item* it : items) keys.push_back(SortKey(code, it->name(), it->value()));
    const std::vector<uint32_t> order = SortedPositions(keys, kind);
    std::vector<const Item*> sorted;
    sorted.reserve(order.size());
    for (uint32_t i : order) sorted.push_back(items[i]);
    if (store.RebuildGroupInOrder(group, sorted)) return;
  }

  struct Entry {
    std::string name;
    std::string value;
  };
  std::vector<Entry> entries;
  entries.reserve(g->size());
  g->ForEachItem([&](const Item& it) {
    entries.push_back({std::string(it.name()), std::string(it.value())});
  });

  std::vector<uint32_t> order;
  if (sorting) {
    std::vector<std::string_view> keys;
    keys.reserve(entries.size());
    for (const Entry& e : entries) keys.push_back(SortKey(code, e.name, e.value));
    order = SortedPositions(keys, kind);
  } else {
    order.resize(entries.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  }

  store.DeleteGroup(group);
  uint32_t number = 0;
  for (uint32_t i : order) {
    const Entry& e = entries[i];
    if (code == kSwapNamesAndValues) {
      store.SetItem(group, e.value, e.name);
    } else if (code == kRenumberItems) {
      store.SetItem(group, IntegerText(++number), e.value);
    } else {
      store.SetItem(group, e.name, e.value);
    }
  }
}

// The in-place codes: only the group's item order changes.
void Reorder(Store& store, GroupOperationCode code, std::string_view group, uint32_t seed) {
  const Group* g = store.FindGroup(group);
  if (g == nullptr || g->size() == 0) return;
  std::vector<const Item*> items = ItemsInOrder(*g);
  switch (code) {
    case kShuffle:
      items = ShuffledOrder(items, seed);
      break;
    case kFirstItemToEnd:
      std::rotate(items.begin(), items.begin() + 1, items.end());
      break;
    case kLastItemToFront:
      std::rotate(items.begin(), items.end() - 1, items.end());
      break;
    case kReverseItems:
      std::reverse(items.begin(), items.end());
      break;
    default:
      return;
  }
  store.SetItemOrder(group, items);
}

// Which of the remaining positions are still free, with the k-th free one found in
// O(log n): drawing and removing from a plain list would make a large shuffle quadratic.
class FreePositions {
 public:
  explicit FreePositions(size_t n) : tree_(n + 1, 0) {
    for (size_t i = 1; i <= n; ++i) {
      tree_[i] += 1;
      const size_t parent = i + (i & (~i + 1));
      if (parent <= n) tree_[parent] += tree_[i];
    }
    top_ = 1;
    while (top_ * 2 <= n) top_ *= 2;
  }

  // Takes the k-th (0-based) free position and returns it.
  size_t Take(size_t k) {
    size_t pos = 0;
    size_t remaining = k + 1;
    for (size_t step = top_; step > 0; step /= 2) {
      const size_t next = pos + step;
      if (next < tree_.size() && tree_[next] < remaining) {
        pos = next;
        remaining -= tree_[next];
      }
    }
    for (size_t i = pos + 1; i < tree_.size(); i += i & (~i + 1)) --tree_[i];
    return pos;
  }

 private:
  std::vector<uint32_t> tree_;
  size_t top_ = 1;
};

}  // namespace

std::vector<const Item*> ShuffledOrder(const std::vector<const Item*>& items, uint32_t seed) {
  ShuffleGenerator random(seed);
  FreePositions free(items.size());
  std::vector<const Item*> out;
  out.reserve(items.size());
  for (size_t remaining = items.size(); remaining > 0; --remaining) {
    out.push_back(items[free.Take(random.Draw() % remaining)]);
  }
  return out;
}

void ApplyGroupOperation(Store& store, GroupOperationCode code, int option, std::string_view group,
                         uint32_t seed) {
  {
    const StoreChange change(store);
    // Notifications and auto-save wait for the end, which runs AfterChange once.
    const ScopedValue<bool> quiet(store.quiet, true, false);
    switch (code) {
      case kSortByValue:
      case kSwapNamesAndValues:
      case kRenumberItems:
      case kSortByName:
      case kSortByFirstField:
        Rebuild(store, code, 2 - option, group);
        break;
      case kShuffle:
      case kFirstItemToEnd:
      case kLastItemToFront:
      case kReverseItems:
        Reorder(store, code, group, seed);
        break;
      case kDeleteFirstItem:
        store.DeleteItem(group, store.NthItemName(group, 1, ""));
        break;
      case kDeleteLastItem:
        store.DeleteItem(group, store.NthItemName(group, store.ItemCount(group), ""));
        break;
      default:
        break;
    }
  }
  store.AfterChange();
}

}  // namespace vellix
