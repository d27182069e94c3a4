#include "store/store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

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

Item* Item::Make(std::string_view name, std::string_view value) {
  // The store refuses longer texts before they get here; a cut length would lose data.
  if (name.size() > UINT32_MAX || value.size() > UINT32_MAX) throw std::length_error("item");
  void* raw = ::operator new(sizeof(Item) + name.size() + value.size());
  auto* item = new (raw) Item();
  item->nameLength_ = static_cast<uint32_t>(name.size());
  item->valueLength_ = static_cast<uint32_t>(value.size());
  item->valueCapacity_ = static_cast<uint32_t>(value.size());
  if (!name.empty()) std::memcpy(item->Bytes(), name.data(), name.size());
  if (!value.empty()) std::memcpy(item->Bytes() + name.size(), value.data(), value.size());
  return item;
}

void Item::Free(Item* item) {
  item->~Item();
  ::operator delete(item);
}

Item* Item::WithValue(Item* item, std::string_view value) {
  if (value.size() > UINT32_MAX) throw std::length_error("item");
  if (value.size() <= item->valueCapacity_) {
    if (!value.empty()) std::memmove(item->Bytes() + item->nameLength_, value.data(), value.size());
    item->valueLength_ = static_cast<uint32_t>(value.size());
    return item;
  }
  Item* grown = Make(item->name(), value);
  grown->slot = item->slot;
  return grown;
}

void Item::Respell(std::string_view name) {
  if (name.size() == nameLength_ && !name.empty()) std::memcpy(Bytes(), name.data(), name.size());
}

Group::~Group() {
  order_.ForEach([](Item* it) { Item::Free(it); });
}

Store::Store(SaveHook save) : save_(save) {}

Store::~Store() {
  // Nothing is saved, notified or recorded on destruction.
  groupOrder_.ForEach([](Group* g) { delete g; });
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

// ---------------------------------------------------------------- internals

Group* Store::CreateGroup(std::string_view displayName) {
  auto* g = new Group(std::string(displayName));
  groups_.Insert(g, caseSensitive_);
  groupOrder_.PushBack(g);
  return g;
}

void Store::EraseGroup(Group* g) {
  groups_.Erase(g, caseSensitive_);
  groupOrder_.Remove(g);
  delete g;
  ++generation_;
  ++edits_;
}

void Store::EraseItem(Group* g, Item* it) {
  g->index_.Erase(it, caseSensitive_);
  g->order_.Remove(it);
  Item::Free(it);
  ++edits_;
}

void Store::NotifyAll(int flags) {
  if (!notifying_) return;
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
  ++edits_;
  g->order_.ForEach([](Item* it) { Item::Free(it); });
  g->order_.Clear();
  g->index_.Clear();
  g->index_.Reserve(snapshot.items.size(), caseSensitive_);
  for (const auto& [name, value] : snapshot.items) {
    // A snapshot taken under the other case rule may hold names that now share a key:
    // the later one updates the earlier in its place rather than duplicating a key.
    if (Item* existing = g->index_.Find(name, caseSensitive_)) {
      existing->Respell(name);
      UpdateValue(g, existing, value);
      continue;
    }
    Item* it = Item::Make(name, value);
    g->index_.Insert(it, caseSensitive_);
    g->order_.PushBack(it);
  }
}

Item* Store::UpdateValue(Group* g, Item* it, std::string_view value) {
  Item* updated = Item::WithValue(it, value);
  if (updated != it) {
    g->index_.Replace(it, updated, caseSensitive_);
    g->order_.ReplaceAt(it, updated);
    Item::Free(it);
  }
  return updated;
}

// ---------------------------------------------------------------- changes

void Store::MakeGroup(std::string_view group) {
  if (GroupExists(group)) return;
  if (RecordsUndo()) undo_->GroupMade(std::string(group));
  CreateGroup(group);
}

Group* Store::PrepareGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr) {
    if (RecordsUndo()) undo_->GroupMade(std::string(group));
    return CreateGroup(group);
  }
  // The spelling of the latest call wins; the key stays. The old spelling is recorded, so
  // that an undo gives the document back as it was spelled.
  if (g->name_ != group) {
    if (RecordsUndo()) undo_->GroupRespelled(g->name_);
    g->name_.assign(group);
  }
  return g;
}

bool Store::SetItem(std::string_view group, std::string_view item, std::string_view value) {
  if (!FitsItem(item, value)) return false;
  return SetItemIn(PrepareGroup(group), item, value);
}

bool Store::SetItemIn(Group* g, std::string_view item, std::string_view value) {
  if (!FitsItem(item, value)) return false;
  ++edits_;
  const uint64_t h = HashKey(item, caseSensitive_);
  if (Item* it = g->index_.FindHashed(item, caseSensitive_, h)) {
    // Records name things as they are spelled now, so that undoing gives the old spelling
    // back, not the caller's.
    if (RecordsUndo()) {
      undo_->ItemReplaced(g->name_, std::string(it->name()), std::string(it->value()));
    }
    it->Respell(item);
    UpdateValue(g, it, value);
  } else {
    if (RecordsUndo()) undo_->ItemCreated(g->name_, std::string(item));
    Item* created = Item::Make(item, value);
    g->index_.InsertHashed(created, caseSensitive_, h);
    g->order_.PushBack(created);
    // Raised whatever quiet says: a new item is news even inside a composite operation.
    NotifyAll(kNotifyNewItem);
  }
  AfterChange();
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
  if (RecordsUndo()) {
    undo_->ItemReplaced(g->name_, std::string(it->name()), std::string(it->value()));
  }
  EraseItem(g, it);
  if (!settings_.allowEmptyGroups && g->size() == 0) DeleteGroup(group);
  AfterChange();
}

void Store::DeleteGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return;
  RecordGroup(*g);
  EraseGroup(g);
  AfterChange();
}

bool Store::DeleteItemEverywhere(std::string_view item) {
  {
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
    const ScopedValue<bool> hold(quiet, true, false);
    RemoveGroupsInKeyOrder();
  }
  AfterChange();
  return true;
}

void Store::RemoveAllGroups() {
  const ScopedValue<bool> hold(quiet, true);
  RemoveGroupsInKeyOrder();
}

bool Store::RenameGroup(std::string_view oldName, std::string_view newName, int32_t mode) {
  if (mode == 2 && GroupExists(newName)) return false;
  if (SameKey(oldName, newName, caseSensitive_)) return false;
  {
    const ScopedValue<bool> hold(quiet, true, false);
    CopyGroup(oldName, newName, mode == 0 ? 0 : 1);
    if (GroupExists(oldName) && !GroupExists(newName)) MakeGroup(newName);
    Group* from = MutableGroup(oldName);
    Group* to = MutableGroup(newName);
    if (from != nullptr && to != nullptr) groupOrder_.Swap(from, to);
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
    const ScopedValue<bool> hold(quiet, true, false);
    const std::string value = GetItem(group, oldName, "");
    SetItem(group, newName, value);
    // Handlers of "On New Item" may have run: look everything up again.
    if (Group* g = MutableGroup(group)) {
      Item* a = g->index_.Find(oldName, caseSensitive_);
      Item* b = g->index_.Find(newName, caseSensitive_);
      if (a != nullptr && b != nullptr) {
        g->order_.Swap(a, b);
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
    const ScopedValue<bool> hold(quiet, true, false);
    const std::string value = GetItem(sourceGroup, sourceItem, "");
    SetItem(targetGroup, targetItem, value);
    DeleteItem(sourceGroup, sourceItem);
  }
  AfterChange();
  return true;
}

void Store::CopyGroup(std::string_view source, std::string_view target, int32_t mode) {
  const Group* src = FindGroup(source);
  if (src == nullptr) return;
  if (mode == 0) {
    // The target's items become a copy of the source's, order and all.
    RestoreGroup(target, Snapshot(*src));
    return;
  }
  {
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
      Item::Free(it);
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
    target->order_.ForEach([](Item* it) { Item::Free(it); });
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
  MakeGroup(group);
  Group* g = MutableGroup(group);
  RecordGroup(*g);
  ReplaceItems(g, snapshot);
  AfterChange();
}

void Store::RespellGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr || g->name_ == group) return;
  if (RecordsUndo()) undo_->GroupRespelled(g->name_);
  g->name_.assign(group);
  AfterChange();
}

bool Store::SetItemOrder(std::string_view group, const std::vector<const Item*>& order) {
  Group* g = MutableGroup(group);
  if (g == nullptr || !g->order_.Assign(order)) return false;
  ++edits_;
  return true;
}

bool Store::AfterChange() {
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
