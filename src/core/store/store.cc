#include "store/store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "store/scoped_value.h"

namespace vellix {

size_t& ItemLengthLimit() {
  static size_t limit = UINT32_MAX;
  return limit;
}

bool FitsItem(std::string_view name, std::string_view value) {
  const size_t limit = std::min<size_t>(ItemLengthLimit(), UINT32_MAX);
  return name.size() <= limit && value.size() <= limit;
}

namespace {

// Copies a name or a value into a new item. Most are a few bytes to a few dozen, where a
// call to memcpy costs more than the copy: those are copied inline, in overlapping words
// that never read or write past either end.
inline void CopyText(char* to, std::string_view text) {
  const char* from = text.data();
  const size_t n = text.size();
  if (n > 32) {
    std::memcpy(to, from, n);
  } else if (n >= 8) {
    uint64_t first;
    uint64_t last;
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&first, from + i, 8);
      std::memcpy(to + i, &first, 8);
    }
    std::memcpy(&last, from + n - 8, 8);
    std::memcpy(to + n - 8, &last, 8);
  } else if (n >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, from, 4);
    std::memcpy(&last, from + n - 4, 4);
    std::memcpy(to, &first, 4);
    std::memcpy(to + n - 4, &last, 4);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

}  // namespace

Item* Item::Make(ItemArena& arena, std::string_view name, std::string_view value) {
  // The store refuses longer texts before they get here; a cut length would lose data.
  if (name.size() > UINT32_MAX || value.size() > UINT32_MAX) throw std::length_error("item");
  const size_t bytes = sizeof(Item) + name.size() + value.size();
  void* raw = arena.Allocate(bytes);
  auto* item = new (raw) Item();
  item->nameLength_ = static_cast<uint32_t>(name.size());
  item->valueLength_ = static_cast<uint32_t>(value.size());
  // The arena's rounding is room for a longer value later, written in place. Only short
  // items are rounded, so the capacity stays within 32 bits.
  item->valueCapacity_ =
      static_cast<uint32_t>(ItemArena::Usable(bytes) - sizeof(Item) - name.size());
  CopyText(item->Bytes(), name);
  CopyText(item->Bytes() + name.size(), value);
  return item;
}

void Item::Free(ItemArena& arena, Item* item) {
  const size_t bytes = sizeof(Item) + item->nameLength_ + item->valueCapacity_;
  item->~Item();
  arena.Release(item, bytes);
}

Item* Item::WithValue(ItemArena& arena, Item* item, std::string_view value) {
  if (value.size() > UINT32_MAX) throw std::length_error("item");
  if (value.size() <= item->valueCapacity_) {
    if (!value.empty()) std::memmove(item->Bytes() + item->nameLength_, value.data(), value.size());
    item->valueLength_ = static_cast<uint32_t>(value.size());
    return item;
  }
  Item* grown = Make(arena, item->name(), value);
  grown->slot = item->slot;
  return grown;
}

Item* Item::CopyInto(ItemArena& arena, Item* item) {
  const size_t bytes = sizeof(Item) + item->nameLength_ + item->valueCapacity_;
  if (!ItemArena::FromBlocks(bytes)) return item;
  void* raw = arena.Allocate(bytes);
  std::memcpy(raw, static_cast<const void*>(item), bytes);
  return static_cast<Item*>(raw);
}

void Item::Respell(std::string_view name) {
  if (name.size() == nameLength_ && !name.empty()) std::memcpy(Bytes(), name.data(), name.size());
}

Group::~Group() {
  order_.ForEach([this](Item* it) { Item::Free(*arena_, it); });
}

Store::Store(SaveHook save) : save_(save) {}

Store::~Store() {
  // Nothing is saved, notified or recorded on destruction.
  FinishChanges();
  // The items' blocks go with the arena: freeing each item onto a free list first would
  // touch every item of a large document once more on its way out. Only texts too long for
  // the blocks were allocated one by one, and then each group frees its own.
  const bool itemsGoWithTheArena = !items_.holdsLongTexts();
  groupOrder_.ForEach([itemsGoWithTheArena](Group* g) {
    if (itemsGoWithTheArena) g->order_.Clear();
    delete g;
  });
  groupOrder_.Clear();
  groups_.Clear();
}

// ---------------------------------------------------------------- lookups

bool Store::HasItem(std::string_view group, std::string_view item) const {
  return FindItem(group, item) != nullptr;
}

const Item* Store::FindItem(std::string_view group, std::string_view item) const {
  const Group* g = FindGroup(group);
  return g ? g->Find(item, caseSensitive_) : nullptr;
}

std::string Store::GetItem(std::string_view group, std::string_view item,
                           std::string_view def) const {
  const Item* it = FindItem(group, item);
  return std::string(it ? it->value() : def);
}

int32_t Store::ItemCount(std::string_view group) const {
  const Group* g = FindGroup(group);
  return g ? static_cast<int32_t>(g->size()) : 0;
}

int32_t Store::TotalItems() const {
  int64_t total = 0;
  groupOrder_.ForEach([&](const Group* g) { total += static_cast<int64_t>(g->size()); });
  return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

std::string Store::NthGroupName(int64_t n, std::string_view def) const {
  if (n < 1 || n > GroupCount()) return std::string(def);
  return groupOrder_.At(static_cast<size_t>(n - 1))->name();
}

std::string Store::NthItemName(std::string_view group, int64_t n, std::string_view def) const {
  const Group* g = FindGroup(group);
  if (g == nullptr || n < 1 || n > static_cast<int64_t>(g->size())) return std::string(def);
  return std::string(g->At(static_cast<size_t>(n - 1)).name());
}

std::string Store::NthItemValue(std::string_view group, int64_t n, std::string_view def) const {
  const Group* g = FindGroup(group);
  if (g == nullptr || n < 1 || n > static_cast<int64_t>(g->size())) return std::string(def);
  return std::string(g->At(static_cast<size_t>(n - 1)).value());
}

GroupSnapshot Store::Snapshot(const Group& group) const {
  GroupSnapshot s;
  s.items.reserve(group.size());
  group.ForEachItem([&](const Item& it) { s.items.emplace_back(it.name(), it.value()); });
  return s;
}

bool Store::Consistent() const {
  if (groups_.size() != groupOrder_.size()) return false;
  bool whole = true;
  groupOrder_.ForEach([&](const Group* g) {
    if (groups_.Find(g->name(), caseSensitive_) != g) whole = false;
    if (g->index_.size() != g->order_.size()) whole = false;
    g->order_.ForEach([&](const Item* it) {
      if (g->index_.Find(it->name(), caseSensitive_) != it) whole = false;
    });
  });
  return whole;
}

// ---------------------------------------------------------------- internals

// Records the creation for undo too, after everything it needs is allocated: a failure
// leaves neither a group nor a record.
Group* Store::CreateGroup(std::string_view displayName) {
  const bool recording = changeDepth_ > 0;
  auto* g = new Group(std::string(displayName), items_, arrays_);
  try {
    groups_.ReserveOneMore(caseSensitive_);
    groupOrder_.ReserveOneMore();
    if (recording) ReserveStep();
    if (RecordsUndo()) undo_->GroupMade(std::string(displayName));
  } catch (...) {
    delete g;
    throw;
  }
  groups_.Insert(g, caseSensitive_);
  groupOrder_.PushBack(g);
  if (recording) {
    g->fresh_ = true;
    AddStep(StepKind::kGroupMade, g);
  }
  return g;
}

void Store::EraseGroup(Group* g) {
  const bool recording = changeDepth_ > 0;
  if (recording) ReserveStep();
  groups_.Erase(g, caseSensitive_);
  groupOrder_.Remove(g, recording);
  if (recording) {
    AddStep(StepKind::kGroupErased, g);  // kept until the change is over
  } else {
    delete g;
  }
  ++generation_;
  ++edits_;
}

void Store::EraseItem(Group* g, Item* it) {
  const bool recording = Records(g);
  if (recording) ReserveStep();
  g->index_.Erase(it, caseSensitive_);
  g->order_.Remove(it, recording);
  if (recording) {
    AddStep(StepKind::kItemErased, g, it);
  } else {
    Item::Free(items_, it);
  }
  ++edits_;
}

// ---------------------------------------------------------------- all-or-nothing changes

void Store::EndChange() noexcept {
  if (--changeDepth_ == 0) FinishChanges();
}

void Store::RollBackChange(size_t mark) noexcept {
  while (journal_.size() > mark) {
    TakeBack(journal_.back());
    journal_.pop_back();
  }
  // Groups may have gone or come back, and items moved: nothing held from before may be
  // used again.
  ++generation_;
  ++edits_;
  EndChange();
}

void Store::TakeBack(Step& step) noexcept {
  Group* g = step.group;
  switch (step.kind) {
    case StepKind::kGroupMade:
      groups_.Erase(g, caseSensitive_);
      groupOrder_.PopBack(g);
      delete g;
      break;
    case StepKind::kGroupErased:
      groupOrder_.Restore(g);
      groups_.Restore(g, caseSensitive_);
      break;
    case StepKind::kGroupRespelled:
      g->name_.swap(step.extra->name);
      break;
    case StepKind::kGroupsSwapped:
      groupOrder_.Swap(g, step.otherGroup);
      break;
    case StepKind::kItemMade:
      g->index_.Erase(step.item, caseSensitive_);
      g->order_.PopBack(step.item);
      Item::Free(items_, step.item);
      break;
    case StepKind::kItemErased:
      g->order_.Restore(step.item);
      g->index_.Restore(step.item, caseSensitive_);
      break;
    case StepKind::kItemReplaced:
      g->index_.Replace(step.otherItem, step.item, caseSensitive_);
      g->order_.ReplaceAt(step.otherItem, step.item);
      Item::Free(items_, step.otherItem);
      break;
    case StepKind::kItemsSwapped:
      g->order_.Swap(step.item, step.otherItem);
      break;
    case StepKind::kItemOrderSet:
      g->order_.Reinstate(step.extra->order);
      break;
    case StepKind::kItemsReplaced:
      g->order_.ForEach([this](Item* it) { Item::Free(items_, it); });
      g->index_ = std::move(step.extra->index);
      g->order_ = std::move(step.extra->list);
      break;
    case StepKind::kGroupMovedToEnd:
      groupOrder_.MoveBack(g, step.extra->place);
      break;
  }
}

void Store::FinishChanges() noexcept {
  // Oldest first: a group made and then deleted in the change is still there when its
  // first step is read.
  for (Step& step : journal_) {
    switch (step.kind) {
      case StepKind::kGroupMade:
        step.group->fresh_ = false;
        break;
      case StepKind::kGroupErased:
        delete step.group;
        groupOrder_.Tidy();
        break;
      case StepKind::kItemErased:
        Item::Free(items_, step.item);
        step.group->order_.Tidy();  // the group is deleted, if at all, by a later step
        break;
      case StepKind::kItemReplaced:
        Item::Free(items_, step.item);
        break;
      case StepKind::kItemsReplaced:
        step.extra->list.ForEach([this](Item* it) { Item::Free(items_, it); });
        break;
      case StepKind::kGroupMovedToEnd:
        groupOrder_.Tidy();
        break;
      default:
        break;
    }
  }
  // A large load leaves a large journal: its memory goes back too.
  if (journal_.capacity() > 4096) {
    std::vector<Step>().swap(journal_);
  } else {
    journal_.clear();
  }
}

void Store::Deliver(int flags) {
  // Handlers run by the notification may destroy objects or move them to another store:
  // the round walks the live list, and Detach keeps its place right. A copy of the list
  // would reach objects that are gone.
  Round round{0, listeners_.size(), rounds_};
  const ScopedValue<Round*> inner(rounds_, &round);
  const ScopedValue<unsigned> delivering(delivering_, delivering_ | static_cast<unsigned>(flags));
  while (round.next < round.end && notifying_) {
    StoreListener* listener = listeners_[round.next++];
    listener->Notify(flags);
  }
}

void Store::NotifyOwner(int flag) {
  if (!notifying_ || owner_ == nullptr || Delivering(flag)) return;
  const ScopedValue<unsigned> delivering(delivering_, delivering_ | static_cast<unsigned>(flag));
  owner_->Notify(flag);
}

void Store::Attach(StoreListener& listener) {
  listeners_.push_back(&listener);
  owner_ = &listener;
  notifying_ = true;
}

void Store::Detach(StoreListener& listener) {
  const auto it = std::find(listeners_.begin(), listeners_.end(), &listener);
  if (it != listeners_.end()) {
    const size_t at = static_cast<size_t>(it - listeners_.begin());
    listeners_.erase(it);
    for (Round* r = rounds_; r != nullptr; r = r->outer) {
      if (at < r->end) --r->end;
      if (at < r->next) --r->next;
    }
  }
  // The owner must never name an object that is gone or works elsewhere: saves notify it,
  // and settings are compared against it. It need not be a listener (an object that came
  // by changing its data slot is not one).
  if (owner_ == &listener) owner_ = nullptr;
  if (listeners_.empty()) notifying_ = false;
}

void Store::RecordGroup(const Group& g) {
  if (RecordsUndo()) undo_->GroupReplaced(g.name(), Snapshot(g));
}

void Store::ReplaceItems(Group* g, const GroupSnapshot& snapshot) {
  // The new items are built aside and swapped in: a failure on the way leaves the group's
  // items as they were.
  const bool recording = Records(g);
  NameIndex<Item> index(&arrays_);
  OrderList<Item> order(&arrays_);
  std::unique_ptr<StepExtra> extra;
  try {
    index.Reserve(snapshot.items.size(), caseSensitive_);
    order.Reserve(snapshot.items.size());
    for (const auto& [name, value] : snapshot.items) {
      // A snapshot taken under the other case rule may hold names that now share a key:
      // the later one updates the earlier in its place rather than duplicating a key.
      if (Item* existing = index.Find(name, caseSensitive_)) {
        existing->Respell(name);
        Item* updated = Item::WithValue(items_, existing, value);
        if (updated != existing) {
          index.Replace(existing, updated, caseSensitive_);
          order.ReplaceAt(existing, updated);
          Item::Free(items_, existing);
        }
        continue;
      }
      Item* it = Item::Make(items_, name, value);
      index.Insert(it, caseSensitive_);  // room reserved above: cannot fail
      order.PushBack(it);
    }
    if (recording) {
      ReserveStep();
      extra = std::make_unique<StepExtra>();
    }
  } catch (...) {
    order.ForEach([this](Item* it) { Item::Free(items_, it); });
    throw;
  }
  ++edits_;
  std::swap(g->index_, index);
  std::swap(g->order_, order);
  if (recording) {
    extra->index = std::move(index);
    extra->list = std::move(order);
    AddStep(StepKind::kItemsReplaced, g, nullptr, nullptr, std::move(extra));
  } else {
    order.ForEach([this](Item* it) { Item::Free(items_, it); });
  }
}

// ---------------------------------------------------------------- changes

void Store::MakeGroup(std::string_view group) {
  if (GroupExists(group)) return;
  CreateGroup(group);
}

Group* Store::PrepareGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return CreateGroup(group);
  // The spelling of the latest call wins; the key stays.
  if (g->name_ != group) Respell(g, group);
  return g;
}

bool Store::SetItem(std::string_view group, std::string_view item, std::string_view value) {
  if (!FitsItem(item, value)) return false;
  Group* g = MutableGroup(group);
  if (g != nullptr && g->name_ == group) return SetItemIn(g, item, value);
  // The group is made or spelled anew first: a failure setting the item takes that back.
  const StoreChange change(*this);
  return SetItemIn(PrepareGroup(group), item, value);
}

bool Store::SetItemIn(Group* g, std::string_view item, std::string_view value) {
  if (!FitsItem(item, value)) return false;
  const uint64_t h = HashKey(item, caseSensitive_);
  const bool recording = Records(g);
  // Everything that allocates comes first (the new node, room in the index, the order and
  // the journal, the undo record); only then is the group changed, by steps that cannot fail.
  if (Item* it = g->index_.FindHashed(item, caseSensitive_, h)) {
    Item::Hold made(items_);
    // Inside a change the old node is kept for taking the step back, so the new value
    // always gets a node of its own there.
    if (recording || value.size() > it->valueCapacity_) {
      // A spelling of another length is not taken (Item::Respell).
      made.item = Item::Make(items_, item.size() == it->nameLength_ ? item : it->name(), value);
    }
    if (recording) ReserveStep();
    // Records name things as they are spelled now, so that undoing gives the old spelling
    // back, not the caller's.
    if (RecordsUndo()) {
      undo_->ItemReplaced(g->name_, std::string(it->name()), std::string(it->value()));
    }
    ++edits_;
    if (made.item != nullptr) {
      Item* updated = made.Take();
      g->index_.Replace(it, updated, caseSensitive_);
      g->order_.ReplaceAt(it, updated);
      if (recording) {
        AddStep(StepKind::kItemReplaced, g, it, updated);
      } else {
        Item::Free(items_, it);
      }
    } else {
      it->Respell(item);
      Item::WithValue(items_, it, value);  // fits: written in place
    }
  } else {
    Item::Hold made(items_);
    made.item = Item::Make(items_, item, value);
    g->index_.ReserveOneMoreWalking(caseSensitive_,
                                    [g](auto&& place) { g->order_.ForEach(place); });
    g->order_.ReserveOneMore();
    if (recording) ReserveStep();
    if (RecordsUndo()) undo_->ItemCreated(g->name_, std::string(item));
    ++edits_;
    Item* created = made.Take();
    g->index_.InsertHashed(created, caseSensitive_, h);
    g->order_.PushBack(created);
    if (recording) AddStep(StepKind::kItemMade, g, created);
    // Raised whatever quiet says: a new item is news even inside a composite operation.
    NotifyAll(kNotifyNewItem);
  }
  // The new item belongs to the group's index and order list, which keep it in tagged slots
  // the analyzer cannot follow.
  AfterChange();  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
  return true;
}

void Store::PrefetchItem(const Group* group, std::string_view item) const {
  group->index_.Prefetch(HashKey(item, caseSensitive_));
}

void Store::ReserveItems(Group* group, size_t count) {
  group->index_.Reserve(count, caseSensitive_);
  group->order_.Reserve(count);
}

void Store::DeleteItem(std::string_view group, std::string_view item) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return;
  Item* it = g->index_.Find(item, caseSensitive_);
  if (it == nullptr) return;
  {
    // Deleting the last item deletes the group too: both go, or neither.
    const bool last = !settings_.allowEmptyGroups && g->size() == 1;
    std::optional<StoreChange> change;
    if (last) change.emplace(*this);
    if (Records(g)) ReserveStep();
    if (RecordsUndo()) {
      undo_->ItemReplaced(g->name_, std::string(it->name()), std::string(it->value()));
    }
    EraseItem(g, it);
    if (last && g->size() == 0) DeleteGroup(group);
  }
  AfterChange();
}

void Store::DeleteGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return;
  if (changeDepth_ > 0) ReserveStep();
  RecordGroup(*g);
  EraseGroup(g);
  AfterChange();
}

bool Store::DeleteItemEverywhere(std::string_view item) {
  {
    const StoreChange change(*this);
    const ScopedValue<bool> hold(quiet, true, false);
    // Every group present at the start is visited once, also when an earlier deletion
    // removed a group that became empty.
    std::vector<std::string> names;
    names.reserve(groupOrder_.size());
    groupOrder_.ForEach([&](const Group* g) { names.push_back(g->name()); });
    for (const std::string& name : names) DeleteItem(name, item);
  }
  AfterChange();
  return true;
}

void Store::RemoveGroupsInKeyOrder() {
  std::vector<Group*> all = groupOrder_.Nodes();
  std::sort(all.begin(), all.end(), [&](const Group* a, const Group* b) {
    return CompareKeys(a->name(), b->name(), caseSensitive_) < 0;
  });
  // Each removal leaves its own record, so a clear can be undone group by group.
  for (Group* g : all) DeleteGroup(std::string(g->name()));
}

bool Store::ClearAll() {
  {
    const StoreChange change(*this);
    const ScopedValue<bool> hold(quiet, true, false);
    RemoveGroupsInKeyOrder();
  }
  AfterChange();
  return true;
}

void Store::RemoveAllGroups() {
  const StoreChange change(*this);
  const ScopedValue<bool> hold(quiet, true);
  RemoveGroupsInKeyOrder();
}

bool Store::RenameGroup(std::string_view oldName, std::string_view newName, RenameMode mode) {
  if (mode == kRenameRefuse && GroupExists(newName)) return false;
  if (SameKey(oldName, newName, caseSensitive_)) return false;
  {
    const StoreChange change(*this);
    const ScopedValue<bool> hold(quiet, true, false);
    CopyGroup(oldName, newName, mode == kRenameReplace ? kCopyReplace : kCopyMerge);
    if (GroupExists(oldName) && !GroupExists(newName)) MakeGroup(newName);
    Group* from = MutableGroup(oldName);
    Group* to = MutableGroup(newName);
    if (from != nullptr && to != nullptr) SwapGroups(from, to);
    DeleteGroup(oldName);
  }
  AfterChange();
  return true;
}

void Store::RenameItem(std::string_view group, std::string_view oldName, std::string_view newName,
                       bool allowOverwrite) {
  if (SameKey(oldName, newName, caseSensitive_)) return;
  if (!HasItem(group, oldName)) return;
  if (!allowOverwrite && HasItem(group, newName)) return;
  {
    const StoreChange change(*this);
    const ScopedValue<bool> hold(quiet, true, false);
    const std::string value = GetItem(group, oldName, "");
    SetItem(group, newName, value);
    // Handlers of "On New Item" may have run: look everything up again.
    if (Group* g = MutableGroup(group)) {
      Item* a = g->index_.Find(oldName, caseSensitive_);
      Item* b = g->index_.Find(newName, caseSensitive_);
      if (a != nullptr && b != nullptr && a != b) {
        const bool recording = Records(g);
        if (recording) ReserveStep();
        g->order_.Swap(a, b);
        if (recording) AddStep(StepKind::kItemsSwapped, g, a, b);
        ++edits_;
      }
    }
    DeleteItem(group, oldName);
  }
  AfterChange();
}

bool Store::MoveItem(std::string_view sourceGroup, std::string_view sourceItem,
                     std::string_view targetGroup, std::string_view targetItem,
                     bool allowOverwrite) {
  if (!HasItem(sourceGroup, sourceItem)) return false;
  if (!allowOverwrite && HasItem(targetGroup, targetItem)) return false;
  if (SameKey(sourceGroup, targetGroup, caseSensitive_) &&
      SameKey(sourceItem, targetItem, caseSensitive_)) {
    return false;
  }
  {
    const StoreChange change(*this);
    const ScopedValue<bool> hold(quiet, true, false);
    const std::string value = GetItem(sourceGroup, sourceItem, "");
    SetItem(targetGroup, targetItem, value);
    DeleteItem(sourceGroup, sourceItem);
  }
  AfterChange();
  return true;
}

void Store::CopyGroup(std::string_view source, std::string_view target, CopyMode mode) {
  const Group* src = FindGroup(source);
  if (src == nullptr) return;
  if (mode == kCopyReplace) {
    // The target's items become a copy of the source's, order and all.
    RestoreGroup(target, Snapshot(*src));
    return;
  }
  {
    const StoreChange change(*this);
    const ScopedValue<bool> hold(quiet, true, false);
    std::vector<const Item*> byKey;
    byKey.reserve(src->size());
    src->ForEachItem([&](const Item& it) { byKey.push_back(&it); });
    std::sort(byKey.begin(), byKey.end(), [&](const Item* a, const Item* b) {
      return CompareKeys(a->name(), b->name(), caseSensitive_) < 0;
    });
    // Copy out first: setting items notifies, and handlers must not see half-moved
    // pointers.
    std::vector<std::pair<std::string, std::string>> pairs;
    pairs.reserve(byKey.size());
    for (const Item* it : byKey) pairs.emplace_back(it->name(), it->value());
    for (const auto& [name, value] : pairs) SetItem(target, name, value);
  }
  AfterChange();
}

bool Store::CopyItem(std::string_view sourceGroup, std::string_view sourceItem,
                     std::string_view targetGroup, std::string_view targetItem) {
  const Item* it = FindItem(sourceGroup, sourceItem);
  if (it == nullptr) return false;
  const std::string value(it->value());
  SetItem(targetGroup, targetItem, value);
  return true;
}

void Store::FoldItems(Group* g) {
  std::vector<Item*> all = g->order_.Nodes();
  std::sort(all.begin(), all.end(), [](const Item* a, const Item* b) {
    return CompareKeys(a->name(), b->name(), true) < 0;
  });
  NameIndex<Item> folded;
  folded.Reserve(all.size(), false);
  // Names already in lowercase keep their keys and win over every name that folds onto
  // them; among the others the first in key order wins.
  for (Item* it : all) {
    if (IsLowerAscii(it->name())) folded.Insert(it, false);
  }
  for (Item* it : all) {
    if (IsLowerAscii(it->name())) continue;
    if (folded.Find(it->name(), false) != nullptr) {
      g->order_.Remove(it);
      Item::Free(items_, it);
    } else {
      folded.Insert(it, false);
    }
  }
  g->index_ = std::move(folded);
}

void Store::FoldCase() {
  ++edits_;
  std::vector<Group*> all = groupOrder_.Nodes();
  std::sort(all.begin(), all.end(), [](const Group* a, const Group* b) {
    return CompareKeys(a->name(), b->name(), true) < 0;
  });
  NameIndex<Group> folded;
  folded.Reserve(all.size(), false);
  for (Group* g : all) {
    if (IsLowerAscii(g->name())) folded.Insert(g, false);
  }
  for (Group* g : all) {
    FoldItems(g);
    if (IsLowerAscii(g->name())) continue;
    Group* target = folded.Find(g->name(), false);
    if (target == nullptr) {
      folded.Insert(g, false);  // re-keyed in place, display name unchanged
      continue;
    }
    // The group folds onto one that exists: its items replace that group's items, the
    // existing group keeps its name and place, and this one leaves the order.
    target->order_.ForEach([this](Item* it) { Item::Free(items_, it); });
    target->index_ = std::move(g->index_);
    target->order_ = std::move(g->order_);
    g->index_.Clear();
    g->order_.Clear();
    groupOrder_.Remove(g);
    delete g;
  }
  groups_ = std::move(folded);
  caseSensitive_ = false;
  ++generation_;
}

void Store::UnfoldCase() {
  // Keys become the display names; distinct folded keys have distinct display names, so
  // nothing collides and every entry keeps its place.
  caseSensitive_ = true;
  ++generation_;
  groups_.Clear();
  groups_.Reserve(groupOrder_.size(), true);
  groupOrder_.ForEach([&](Group* g) {
    groups_.Insert(g, true);
    g->index_.Clear();
    g->index_.Reserve(g->order_.size(), true);
    g->order_.ForEach([&](Item* it) { g->index_.Insert(it, true); });
  });
}

bool Store::SetCaseSensitive(bool flag) {
  if (flag == caseSensitive_) return false;
  // Re-keying every group and item cannot be taken back step by step: a change open around
  // it keeps what was done before, and can take back only what comes after.
  if (changeDepth_ > 0) FinishChanges();
  {
    const ScopedValue<bool> hold(quiet, true, false);
    if (flag) {
      UnfoldCase();
    } else {
      FoldCase();
    }
  }
  AfterChange();
  return true;
}

bool Store::RemoveEmptyGroups() {
  if (settings_.allowEmptyGroups) return false;
  const StoreChange change(*this);
  const ScopedValue<bool> hold(quiet, true, false);
  for (size_t i = 0; i < groupOrder_.size();) {
    const Group* g = groupOrder_.At(i);
    if (g->size() == 0) {
      DeleteGroup(std::string(g->name()));
    } else {
      ++i;
    }
  }
  return true;
}

void Store::RestoreGroup(std::string_view group, const GroupSnapshot& snapshot) {
  {
    const StoreChange change(*this);
    MakeGroup(group);
    Group* g = MutableGroup(group);
    RecordGroup(*g);
    ReplaceItems(g, snapshot);
  }
  AfterChange();
}

void Store::RespellGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr || g->name_ == group) return;
  Respell(g, group);
  AfterChange();
}

// The old spelling is recorded for undo, so that an undo gives the document back as it was
// spelled, and kept as a step of an open change; everything is allocated before the name
// changes.
void Store::Respell(Group* g, std::string_view spelling) {
  std::string spelled(spelling);
  std::unique_ptr<StepExtra> extra;
  if (changeDepth_ > 0) {
    ReserveStep();
    extra = std::make_unique<StepExtra>();
  }
  if (RecordsUndo()) undo_->GroupRespelled(g->name_);
  g->name_.swap(spelled);
  if (extra) {
    extra->name = std::move(spelled);
    AddStep(StepKind::kGroupRespelled, g, nullptr, nullptr, std::move(extra));
  }
}

bool Store::SetItemOrder(std::string_view group, const std::vector<const Item*>& order) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return false;
  if (!Records(g)) {
    if (!g->order_.Assign(order)) return false;
  } else {
    ReserveStep();
    auto extra = std::make_unique<StepExtra>();
    if (!g->order_.Assign(order, &extra->order)) return false;
    AddStep(StepKind::kItemOrderSet, g, nullptr, nullptr, std::move(extra));
  }
  ++edits_;
  return true;
}

bool Store::RebuildGroupInOrder(std::string_view group, const std::vector<const Item*>& order) {
  Group* g = MutableGroup(group);
  if (g == nullptr || Notifies() || order.size() != g->size()) return false;
  // Everything that allocates comes first: the copy of the old order that taking the
  // change back needs, room for the steps and in the group order, the undo records.
  const StoreChange change(*this);
  auto moved = std::make_unique<StepExtra>();
  auto respelled = std::make_unique<StepExtra>();
  auto reordered = std::make_unique<StepExtra>();
  if (!g->order_.Assign(order, &reordered->order)) return false;
  // Assign changed nothing else: from here on it is taken back by Reinstate.
  try {
    respelled->name.assign(group);
    moved->place = g->slot;
    groupOrder_.ReserveOneMore();
    journal_.reserve(journal_.size() + 3);
    if (RecordsUndo()) {
      // The group as it was, then the new one and its items in their new order.
      GroupSnapshot before;
      before.items.reserve(reordered->order.size());
      for (const Item* it : reordered->order) {
        if (it != nullptr) before.items.emplace_back(it->name(), it->value());
      }
      undo_->GroupReplaced(g->name_, std::move(before));
      undo_->GroupMade(std::string(group));
      const std::string spelled(group);
      g->order_.ForEach(
          [&](const Item* it) { undo_->ItemCreated(spelled, std::string(it->name())); });
    }
  } catch (...) {
    g->order_.Reinstate(reordered->order);
    throw;
  }
  AddStep(StepKind::kItemOrderSet, g, nullptr, nullptr, std::move(reordered));
  groupOrder_.MoveToEnd(g);
  AddStep(StepKind::kGroupMovedToEnd, g, nullptr, nullptr, std::move(moved));
  g->name_.swap(respelled->name);
  AddStep(StepKind::kGroupRespelled, g, nullptr, nullptr, std::move(respelled));
  ++generation_;
  ++edits_;
  return true;
}

void Store::SwapGroups(Group* a, Group* b) {
  if (a == b) return;
  const bool recording = changeDepth_ > 0;
  if (recording) ReserveStep();
  groupOrder_.Swap(a, b);
  if (recording) journal_.push_back(Step{StepKind::kGroupsSwapped, a, b, nullptr, nullptr, {}});
}

// Deleted items leave their room on the arena's free lists, where new items of the same
// size take it again. A document that loses many items for good, or whose values change
// length, would keep that room for ever: once it is half of what the live items use,
// they are copied into a fresh arena in document order and the old one goes. Only between
// changes, when nothing but the groups holds an item; views built from items see edits()
// move. When memory for the copy runs out, nothing has changed and the room stays.
void Store::CompactNow() noexcept {
  ItemArena fresh;
  std::vector<Item*> moved;
  try {
    size_t total = 0;
    groupOrder_.ForEach([&](const Group* g) { total += g->size(); });
    moved.reserve(total);
    groupOrder_.ForEach([&](const Group* g) {
      g->order_.ForEach([&](Item* it) { moved.push_back(Item::CopyInto(fresh, it)); });
    });
  } catch (const std::bad_alloc&) {
    return;
  }
  // Nothing below can fail. Each index is filled again from its order list, read in
  // the order the copies lie in memory.
  size_t next = 0;
  groupOrder_.ForEach([&](Group* g) {
    g->order_.Forward([&](Item*) { return moved[next++]; });
    g->index_.Refill(caseSensitive_, [g](auto&& place) { g->order_.ForEach(place); });
  });
  items_.Swap(fresh);
  ++edits_;
}

bool Store::AfterChange() {
  CompactItems();
  if (!quiet) NotifyAll(kNotifyModified);
  if (settings_.autoSave && !quiet && !settings_.readOnly && !loading) {
    return save_ != nullptr && save_(*this);
  }
  return true;
}

// ---------------------------------------------------------------- settings

void Store::ApplySettings(const ObjectSettings& r) {
  if (r.owner == owner_) return;
  settings_ = r.document;
  owner_ = r.owner;
  if (!settings_.allowEmptyGroups) {
    RemoveEmptyGroups();
    AfterChange();
  }
  SetCaseSensitive(r.caseSensitive);
}

void Store::SaveSettingsBack(ObjectSettings& r) const {
  r.document = settings_;
  r.caseSensitive = caseSensitive_;
  r.owner = owner_;
}

void Store::ResetToStandardSettings() {
  // The reset leaves the custom new-line text alone (only the standard flag is set).
  std::string keptNewLine = settings_.newLine();
  settings_ = DocumentSettings{};
  settings_.SetNewLine(std::move(keptNewLine));
  settings_.UseStandardNewLine();
  owner_ = nullptr;
  quiet = false;
  // A shared store may already hold data: folding keeps its keys consistent, where a bare
  // assignment of the flag would leave case-sensitive keys under a case-insensitive rule.
  if (caseSensitive_) {
    if (groupOrder_.empty()) {
      caseSensitive_ = false;
    } else {
      FoldCase();
    }
  }
}

// ---------------------------------------------------------------- helpers

std::unique_ptr<Store> MakeTemporaryStore(const Store& source) {
  // No save hook either: whatever its settings become, it writes no file by itself.
  auto temp = std::make_unique<Store>();
  temp->settings() = source.settings();
  temp->settings().fileName.clear();
  temp->settings().autoSave = false;
  temp->SetCaseSensitive(source.caseSensitive());
  return temp;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

}  // namespace vellix
