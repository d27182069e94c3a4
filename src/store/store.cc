#include "store/store.h"

#include <algorithm>

#include "undo/undo.h"

namespace vellix {

Group::~Group() {
  order_.ForEach([](Item* it) { delete it; });
}

Store::Store() : undo_(std::make_unique<UndoStacks>()) {}

Store::~Store() {
  // Nothing is saved or notified on destruction; records are dropped with the stacks.
  undoDepth = 0;
  redoDepth = 0;
  fileName.clear();
  notify = nullptr;
  groupOrder_.ForEach([](Group* g) { delete g; });
  groupOrder_.Clear();
  groups_.Clear();
}

// ---------------------------------------------------------------- lookups

bool Store::HasItem(std::string_view group, std::string_view item) const {
  return FindValue(group, item) != nullptr;
}

const std::string* Store::FindValue(std::string_view group, std::string_view item) const {
  const Group* g = FindGroup(group);
  if (g == nullptr) return nullptr;
  const Item* it = g->Find(item, caseSensitive_);
  return it ? &it->value : nullptr;
}

std::string Store::GetItem(std::string_view group, std::string_view item,
                           std::string_view def) const {
  const std::string* v = FindValue(group, item);
  return v ? *v : std::string(def);
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
  return groupOrder_.At(static_cast<size_t>(n - 1))->name;
}

std::string Store::NthGroupKey(int64_t n, std::string_view def) const {
  if (n < 1 || n > GroupCount()) return std::string(def);
  std::vector<Group*> all = groupOrder_.Nodes();
  auto nth = all.begin() + (n - 1);
  std::nth_element(all.begin(), nth, all.end(), [&](const Group* a, const Group* b) {
    return CompareKeys(a->name, b->name, caseSensitive_) < 0;
  });
  return NormalizeName((*nth)->name, caseSensitive_);
}

std::string Store::NthItemName(std::string_view group, int64_t n, std::string_view def) const {
  const Group* g = FindGroup(group);
  if (g == nullptr || n < 1 || n > static_cast<int64_t>(g->size())) return std::string(def);
  return g->At(static_cast<size_t>(n - 1)).name;
}

std::string Store::NthItemValue(std::string_view group, int64_t n, std::string_view def) const {
  const Group* g = FindGroup(group);
  if (g == nullptr || n < 1 || n > static_cast<int64_t>(g->size())) return std::string(def);
  return g->At(static_cast<size_t>(n - 1)).value;
}

GroupSnapshot Store::Snapshot(const Group& group) const {
  GroupSnapshot s;
  s.items.reserve(group.size());
  group.ForEachItem([&](const Item& it) { s.items.emplace_back(it.name, it.value); });
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
}

void Store::EraseItem(Group* g, Item* it) {
  g->index_.Erase(it, caseSensitive_);
  g->order_.Remove(it);
  delete it;
}

void Store::NotifyAll(int flags) {
  if (notify == nullptr) return;
  // A handler run by the notification may attach or detach objects: walk a copy.
  const std::vector<void*> targets = listeners;
  for (void* listener : targets) {
    if (notify == nullptr) return;
    notify(listener, flags);
  }
}

bool Store::RecordsUndo() const {
  if (undoing) return redoDepth != 0 && !undo_->redo.empty();
  return undoDepth != 0 && !undo_->undo.empty();
}

void Store::ReplaceItems(Group* g, const GroupSnapshot& snapshot) {
  g->order_.ForEach([](Item* it) { delete it; });
  g->order_.Clear();
  g->index_.Clear();
  g->index_.Reserve(snapshot.items.size());
  for (const auto& [name, value] : snapshot.items) {
    // A snapshot taken under the other case rule may hold names that now share a key:
    // the later one updates the earlier in its place rather than duplicating a key.
    if (Item* existing = g->index_.Find(name, caseSensitive_)) {
      existing->name = name;
      existing->value = value;
      continue;
    }
    auto* it = new Item{name, value, 0};
    g->index_.Insert(it, caseSensitive_);
    g->order_.PushBack(it);
  }
}

// ---------------------------------------------------------------- changes

void Store::MakeGroup(std::string_view group) {
  if (GroupExists(group)) return;
  if (RecordsUndo()) PushUndo(std::make_unique<UndoGroupMake>(std::string(group)));
  CreateGroup(group);
}

bool Store::SetItem(std::string_view group, std::string_view item, std::string_view value) {
  MakeGroup(group);
  Group* g = MutableGroup(group);
  if (Item* it = g->index_.Find(item, caseSensitive_)) {
    // Records name things as they are spelled now, so that undoing gives the old spelling
    // back, not the caller's.
    if (RecordsUndo()) PushUndo(std::make_unique<UndoSetItem>(g->name, it->name, it->value));
    if (g->name != group) g->name.assign(group);
    if (it->name != item) it->name.assign(item);
    it->value.assign(value);
  } else {
    if (g->name != group) g->name.assign(group);
    if (RecordsUndo()) {
      PushUndo(std::make_unique<UndoCreateItem>(std::string(group), std::string(item)));
    }
    auto* created = new Item{std::string(item), std::string(value), 0};
    g->index_.Insert(created, caseSensitive_);
    g->order_.PushBack(created);
    // Raised whatever quiet says: a new item is news even inside a composite operation.
    NotifyAll(kNotifyNewItem);
  }
  AfterChange();
  return true;
}

void Store::DeleteItem(std::string_view group, std::string_view item) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return;
  Item* it = g->index_.Find(item, caseSensitive_);
  if (it == nullptr) return;
  if (RecordsUndo()) {
    PushUndo(std::make_unique<UndoSetItem>(g->name, it->name, std::move(it->value)));
  }
  EraseItem(g, it);
  if (!allowEmptyGroups && g->size() == 0) DeleteGroup(group);
  AfterChange();
}

void Store::DeleteGroup(std::string_view group) {
  Group* g = MutableGroup(group);
  if (g == nullptr) return;
  if (RecordsUndo()) PushUndo(std::make_unique<UndoByRestoreGroup>(g->name, Snapshot(*g)));
  EraseGroup(g);
  AfterChange();
}

bool Store::DeleteItemEverywhere(std::string_view item) {
  quiet = true;
  // Every group present at the start is visited once, also when an earlier deletion
  // removed a group that became empty.
  std::vector<std::string> names;
  names.reserve(groupOrder_.size());
  groupOrder_.ForEach([&](const Group* g) { names.push_back(g->name); });
  for (const std::string& name : names) DeleteItem(name, item);
  quiet = false;
  AfterChange();
  return true;
}

void Store::RemoveGroupsInKeyOrder() {
  std::vector<Group*> all = groupOrder_.Nodes();
  std::sort(all.begin(), all.end(), [&](const Group* a, const Group* b) {
    return CompareKeys(a->name, b->name, caseSensitive_) < 0;
  });
  // Each removal leaves its own record, so a clear can be undone group by group.
  for (Group* g : all) DeleteGroup(std::string(g->name));
}

bool Store::ClearAll() {
  quiet = true;
  RemoveGroupsInKeyOrder();
  quiet = false;
  AfterChange();
  return true;
}

void Store::RemoveAllGroups() {
  const bool wasQuiet = quiet;
  quiet = true;
  RemoveGroupsInKeyOrder();
  quiet = wasQuiet;
}

bool Store::RenameGroup(std::string_view oldName, std::string_view newName, int32_t mode) {
  if (mode == 2 && GroupExists(newName)) return false;
  if (SameKey(oldName, newName, caseSensitive_)) return false;
  quiet = true;
  CopyGroup(oldName, newName, mode == 0 ? 0 : 1);
  if (GroupExists(oldName) && !GroupExists(newName)) MakeGroup(newName);
  Group* from = MutableGroup(oldName);
  Group* to = MutableGroup(newName);
  if (from != nullptr && to != nullptr) groupOrder_.Swap(from, to);
  DeleteGroup(oldName);
  quiet = false;
  AfterChange();
  return true;
}

void Store::RenameItem(std::string_view group, std::string_view oldName,
                       std::string_view newName, bool allowOverwrite) {
  if (SameKey(oldName, newName, caseSensitive_)) return;
  if (!HasItem(group, oldName)) return;
  if (!allowOverwrite && HasItem(group, newName)) return;
  quiet = true;
  const std::string value = GetItem(group, oldName, "");
  SetItem(group, newName, value);
  // Handlers of "On New Item" may have run: look everything up again.
  if (Group* g = MutableGroup(group)) {
    Item* a = g->index_.Find(oldName, caseSensitive_);
    Item* b = g->index_.Find(newName, caseSensitive_);
    if (a != nullptr && b != nullptr) g->order_.Swap(a, b);
  }
  DeleteItem(group, oldName);
  quiet = false;
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
  quiet = true;
  const std::string value = GetItem(sourceGroup, sourceItem, "");
  SetItem(targetGroup, targetItem, value);
  DeleteItem(sourceGroup, sourceItem);
  quiet = false;
  AfterChange();
  return true;
}

void Store::CopyGroup(std::string_view source, std::string_view target, int32_t mode) {
  const Group* src = FindGroup(source);
  if (src == nullptr) return;
  if (mode == 0) {
    const GroupSnapshot copy = Snapshot(*src);
    MakeGroup(target);
    Group* dst = MutableGroup(target);
    if (RecordsUndo()) {
      PushUndo(std::make_unique<UndoByRestoreGroup>(dst->name, Snapshot(*dst)));
    }
    ReplaceItems(dst, copy);
    AfterChange();
    return;
  }
  quiet = true;
  std::vector<const Item*> byKey;
  byKey.reserve(src->size());
  src->ForEachItem([&](const Item& it) { byKey.push_back(&it); });
  std::sort(byKey.begin(), byKey.end(), [&](const Item* a, const Item* b) {
    return CompareKeys(a->name, b->name, caseSensitive_) < 0;
  });
  // Copy out first: setting items notifies, and handlers must not see half-moved pointers.
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(byKey.size());
  for (const Item* it : byKey) pairs.emplace_back(it->name, it->value);
  for (const auto& [name, value] : pairs) SetItem(target, name, value);
  quiet = false;
  AfterChange();
}

bool Store::CopyItem(std::string_view sourceGroup, std::string_view sourceItem,
                     std::string_view targetGroup, std::string_view targetItem) {
  const std::string* v = FindValue(sourceGroup, sourceItem);
  if (v == nullptr) return false;
  const std::string value = *v;
  SetItem(targetGroup, targetItem, value);
  return true;
}

bool Store::SetItemHashed(std::string_view group, std::string_view item,
                          std::string_view text) {
  digest.Compute(std::string(text).c_str());
  const std::string hex = digest.Hex();
  return SetItem(group, item, hex);
}

bool Store::ItemEqualsHashed(std::string_view group, std::string_view item,
                             std::string_view def, std::string_view text) {
  digest.Compute(std::string(text).c_str());
  const std::string h = digest.Hex();
  digest.Compute(std::string(def).c_str());
  const std::string d = digest.Hex();
  const std::string* stored = FindValue(group, item);
  return (stored ? *stored : d) == h;
}

void Store::FoldItems(Group* g) {
  std::vector<Item*> all = g->order_.Nodes();
  std::sort(all.begin(), all.end(),
            [](const Item* a, const Item* b) { return CompareKeys(a->name, b->name, true) < 0; });
  NameIndex<Item> folded;
  folded.Reserve(all.size());
  // Names already in lowercase keep their keys and win over every name that folds onto
  // them; among the others the first in key order wins.
  for (Item* it : all) {
    if (IsLowerAscii(it->name)) folded.Insert(it, false);
  }
  for (Item* it : all) {
    if (IsLowerAscii(it->name)) continue;
    if (folded.Find(it->name, false) != nullptr) {
      g->order_.Remove(it);
      delete it;
    } else {
      folded.Insert(it, false);
    }
  }
  g->index_ = std::move(folded);
}

void Store::FoldCase() {
  std::vector<Group*> all = groupOrder_.Nodes();
  std::sort(all.begin(), all.end(), [](const Group* a, const Group* b) {
    return CompareKeys(a->name, b->name, true) < 0;
  });
  NameIndex<Group> folded;
  folded.Reserve(all.size());
  for (Group* g : all) {
    if (IsLowerAscii(g->name)) folded.Insert(g, false);
  }
  for (Group* g : all) {
    FoldItems(g);
    if (IsLowerAscii(g->name)) continue;
    Group* target = folded.Find(g->name, false);
    if (target == nullptr) {
      folded.Insert(g, false);  // re-keyed in place, display name unchanged
      continue;
    }
    // The group folds onto one that exists: its items replace that group's items, the
    // existing group keeps its name and place, and this one leaves the order.
    target->order_.ForEach([](Item* it) { delete it; });
    target->index_ = std::move(g->index_);
    target->order_ = std::move(g->order_);
    g->index_.Clear();
    g->order_.Clear();
    groupOrder_.Remove(g);
    delete g;
  }
  groups_ = std::move(folded);
  caseSensitive_ = false;
}

void Store::UnfoldCase() {
  // Keys become the display names; distinct folded keys have distinct display names, so
  // nothing collides and every entry keeps its place.
  caseSensitive_ = true;
  groups_.Clear();
  groups_.Reserve(groupOrder_.size());
  groupOrder_.ForEach([&](Group* g) {
    groups_.Insert(g, true);
    g->index_.Clear();
    g->index_.Reserve(g->order_.size());
    g->order_.ForEach([&](Item* it) { g->index_.Insert(it, true); });
  });
}

bool Store::SetCaseSensitive(bool flag) {
  if (flag == caseSensitive_) return false;
  quiet = true;
  if (flag) {
    UnfoldCase();
  } else {
    FoldCase();
  }
  quiet = false;
  AfterChange();
  return true;
}

bool Store::RemoveEmptyGroups() {
  if (allowEmptyGroups) return false;
  quiet = true;
  for (size_t i = 0; i < groupOrder_.size();) {
    const Group* g = groupOrder_.At(i);
    if (g->size() == 0) {
      DeleteGroup(std::string(g->name));
    } else {
      ++i;
    }
  }
  quiet = false;
  return true;
}

void Store::RestoreGroup(std::string_view group, const GroupSnapshot& snapshot) {
  MakeGroup(group);
  Group* g = MutableGroup(group);
  if (RecordsUndo()) {
    PushUndo(std::make_unique<UndoByRestoreGroup>(g->name, Snapshot(*g)));
  }
  ReplaceItems(g, snapshot);
  AfterChange();
}

std::vector<const Item*> Store::ItemOrder(std::string_view group) const {
  std::vector<const Item*> out;
  if (const Group* g = FindGroup(group)) {
    out.reserve(g->size());
    g->ForEachItem([&](const Item& it) { out.push_back(&it); });
  }
  return out;
}

void Store::SetItemOrder(std::string_view group, const std::vector<const Item*>& order) {
  Group* g = MutableGroup(group);
  if (g == nullptr || order.size() != g->size()) return;
  std::vector<Item*> nodes;
  nodes.reserve(order.size());
  for (const Item* it : order) nodes.push_back(const_cast<Item*>(it));
  g->order_.Assign(nodes);
}

bool Store::AfterChange() {
  if (!quiet) NotifyAll(kNotifyModified);
  if (autoSave && !quiet && !readOnly) return Save();
  return true;
}

// ---------------------------------------------------------------- settings

void Store::ApplySettings(const ObjectSettings& r) {
  if (r.owner == owner) return;
  autoSave = r.autoSave;
  escapeValues = r.escapeValues;
  escapeItemNames = r.escapeItemNames;
  escapeGroups = r.escapeGroups;
  alwaysQuote = r.alwaysQuote;
  readOnly = r.readOnly;
  standardNewLine = r.standardNewLine;
  newLine = r.newLine;
  fileName = r.fileName;
  encrypt = r.encrypt;
  encryptionKey = r.encryptionKey;
  compressFile = r.compressFile;
  groupRepeatMode = r.groupRepeatMode;
  itemRepeatMode = r.itemRepeatMode;
  saveRepeatedAsOriginal = r.saveRepeatedAsOriginal;
  owner = r.owner;
  subgroups = r.subgroups;
  allowEmptyGroups = r.allowEmptyGroups;
  if (!allowEmptyGroups) {
    RemoveEmptyGroups();
    AfterChange();
  }
  SetCaseSensitive(r.caseSensitive);
}

void Store::SaveSettingsBack(ObjectSettings& r) const {
  r.autoSave = autoSave;
  r.caseSensitive = caseSensitive_;
  r.escapeValues = escapeValues;
  r.escapeItemNames = escapeItemNames;
  r.escapeGroups = escapeGroups;
  r.alwaysQuote = alwaysQuote;
  r.readOnly = readOnly;
  r.standardNewLine = standardNewLine;
  r.newLine = newLine;
  r.fileName = fileName;
  r.encrypt = encrypt;
  r.encryptionKey = encryptionKey;
  r.compressFile = compressFile;
  r.groupRepeatMode = groupRepeatMode;
  r.itemRepeatMode = itemRepeatMode;
  r.saveRepeatedAsOriginal = saveRepeatedAsOriginal;
  r.owner = owner;
  r.subgroups = subgroups;
  r.allowEmptyGroups = allowEmptyGroups;
}

void Store::ResetToStandardSettings() {
  owner = nullptr;
  autoSave = true;
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
  escapeValues = escapeItemNames = escapeGroups = false;
  alwaysQuote = false;
  readOnly = false;
  standardNewLine = true;
  groupRepeatMode = 3;
  itemRepeatMode = 1;
  saveRepeatedAsOriginal = false;
  subgroups = false;
  compressFile = false;
  encrypt = false;
  encryptionKey.clear();
  fileName.clear();
  allowEmptyGroups = true;
  autoUndoBlocks = true;
}

// ---------------------------------------------------------------- helpers

std::unique_ptr<Store> MakeTemporaryStore(const Store& source) {
  auto temp = std::make_unique<Store>();
  ObjectSettings record;
  source.SaveSettingsBack(record);
  record.fileName.clear();
  record.autoSave = false;
  // An owner the new store does not have yet, so that every setting is copied.
  record.owner = temp.get();
  temp->ApplySettings(record);
  temp->owner = nullptr;
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
