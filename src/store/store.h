// The document: groups of items, its settings, the run objects attached to it, and the
// seams to undo and to files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "calc/md5.h"
#include "store/containers.h"
#include "store/settings.h"

namespace vellix {

class Store;
class UndoElement;
class UndoStacks;

// Called by the store with flags 1 (data modified), 2 (saving) or 4 (new item).
using NotifyFn = void (*)(void* listener, int flags);

enum NotifyFlag : int { kNotifyModified = 1, kNotifySaving = 2, kNotifyNewItem = 4 };

// The longest name or value an item holds. Items keep their lengths in 32 bits, so this is
// never above 2^32 - 1; a longer name or value is refused, never stored cut: SetItem sets
// nothing and returns false, and a load that meets one fails whole. Tests lower the limit
// to reach those refusals without gigabytes of text.
size_t& ItemLengthLimit();
bool FitsItem(std::string_view name, std::string_view value);

// An item: its display name and value in one allocation, right after this header. Its key
// is derived from the name.
class Item {
 public:
  std::string_view name() const { return {Bytes(), nameLength_}; }
  std::string_view value() const { return {Bytes() + nameLength_, valueLength_}; }

  uint32_t slot = 0;  // position in the group's order list

 private:
  friend class Store;
  friend class Group;
  Item() = default;
  ~Item() = default;
  static Item* Make(std::string_view name, std::string_view value);
  static void Free(Item* item);
  // Replaces the value; returns the item, moved to a larger block when it did not fit (the
  // old pointer is then gone).
  static Item* WithValue(Item* item, std::string_view value);
  // A spelling of the same key: same length, so it is written over the old one.
  void Respell(std::string_view name);
  const char* Bytes() const { return reinterpret_cast<const char*>(this + 1); }
  char* Bytes() { return reinterpret_cast<char*>(this + 1); }

  uint32_t nameLength_ = 0;
  uint32_t valueLength_ = 0;
  uint32_t valueCapacity_ = 0;
};

inline std::string_view KeyName(const Item& item) { return item.name(); }

// The items of a group with their creation order, as an undo snapshot or a copy keeps them.
struct GroupSnapshot {
  std::vector<std::pair<std::string, std::string>> items;  // display name, value
};

class Group {
 public:
  explicit Group(std::string displayName) : name(std::move(displayName)) {}
  ~Group();
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;

  size_t size() const { return order_.size(); }
  const Item* Find(std::string_view itemName, bool caseSensitive) const {
    return index_.Find(itemName, caseSensitive);
  }
  // 0-based position in creation order; i < size().
  const Item& At(size_t i) const { return *order_.At(i); }
  template <class F>
  void ForEachItem(F&& f) const {
    order_.ForEach([&](const Item* it) { f(*it); });
  }

  std::string name;   // display name
  uint32_t slot = 0;  // position in the store's group order

 private:
  friend class Store;
  NameIndex<Item> index_;
  OrderList<Item> order_;
};

inline std::string_view KeyName(const Group& group) { return group.name; }

// The items of one group ranked by value, as the sorted-access expressions last built them
// (store/sorting.cc); valid while the store's edits() count has not moved since.
struct RankingCache {
  const Group* group = nullptr;
  uint64_t edits = 0;
  std::vector<const Item*> ranked;
};

class Store : public DocumentSettings {
 public:
  Store();
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // ---- attached run objects (opaque to the store)
  std::vector<void*> listeners;
  const void* owner = nullptr;
  NotifyFn notify = nullptr;
  // Attaching and detaching go through these, so that a notification in progress never
  // reaches a listener that left during it. A listener attached during a notification is
  // not told of that change; it hears from the next one on.
  void Attach(void* listener);
  void Detach(void* listener);
  // Calls notify for the owner alone (flag 2, "On Save"), unless the store is already
  // delivering that flag: a save started from an "On Save" handler saves without raising
  // "On Save" again, instead of recursing without end.
  void NotifyOwner(int flag);
  // Whether a notification with this flag is being delivered right now.
  bool Delivering(int flag) const { return (delivering_ & static_cast<unsigned>(flag)) != 0; }

  // ---- settings: those of DocumentSettings, plus case sensitivity, which changes only
  // through SetCaseSensitive; quiet holds notifications and auto-save back
  bool quiet = false;
  // Set while text is read into the store (a file load, a text load). A listener's frame
  // may clear quiet in the middle of a load; auto save still waits until the load has
  // finished, so a file is never replaced by the first part of its own content.
  bool loading = false;

  // ---- files whose last load was not clean (a read error, a decode failure, a zero byte,
  // a file that gave nothing): a save about to replace one keeps its old bytes first.
  // Kept by the files room; a file is known by its device and inode.
  std::vector<std::pair<uint64_t, uint64_t>> uncleanFiles;

  // ---- undo settings and state (stacks are kept by the undo room)
  int32_t undoDepth = 0;
  int32_t redoDepth = 0;
  bool undoing = false;
  bool keepRedo = false;
  bool autoUndoBlocks = true;

  CMD5 digest;

  bool caseSensitive() const { return caseSensitive_; }
  // The new-line text in use: CR LF in standard mode, otherwise newLine.
  std::string_view NewLineText() const {
    return (standardNewLine || newLine.empty()) ? std::string_view("\r\n") : newLine;
  }
  // newLine := text; standardNewLine := text is empty.
  void SetNewLine(std::string text) {
    standardNewLine = text.empty();
    newLine = std::move(text);
  }

  // ---- lookups
  bool GroupExists(std::string_view group) const { return FindGroup(group) != nullptr; }
  bool HasItem(std::string_view group, std::string_view item) const;
  std::string GetItem(std::string_view group, std::string_view item, std::string_view def) const;
  // The stored item, or null when it does not exist.
  const Item* FindItem(std::string_view group, std::string_view item) const;
  std::optional<std::string_view> FindValue(std::string_view group, std::string_view item) const {
    const Item* it = FindItem(group, item);
    return it ? std::optional<std::string_view>(it->value()) : std::nullopt;
  }
  int32_t GroupCount() const { return static_cast<int32_t>(groupOrder_.size()); }
  int32_t ItemCount(std::string_view group) const;
  int32_t TotalItems() const;

  // ---- indexed access, 1-based
  std::string NthGroupName(int64_t n, std::string_view def) const;
  std::string NthGroupKey(int64_t n, std::string_view def) const;
  std::string NthItemName(std::string_view group, int64_t n, std::string_view def) const;
  std::string NthItemValue(std::string_view group, int64_t n, std::string_view def) const;

  // ---- direct read access for the writer and other bulk readers
  const Group* FindGroup(std::string_view group) const {
    return groups_.Find(group, caseSensitive_);
  }
  // 0-based position in creation order; i < GroupCount().
  const Group& GroupAt(size_t i) const { return *groupOrder_.At(i); }
  template <class F>
  void ForEachGroup(F&& f) const {
    groupOrder_.ForEach([&](const Group* g) { f(*g); });
  }
  GroupSnapshot Snapshot(const Group& group) const;

  // ---- changes
  void MakeGroup(std::string_view group);
  // True, or false when the name or value is too long to keep (ItemLengthLimit).
  bool SetItem(std::string_view group, std::string_view item, std::string_view value);
  // SetItem in two halves, for loaders that set many items into one group: PrepareGroup
  // makes the group and gives it this spelling; SetItemIn sets one item in it. The group
  // stays valid while generation() does not change (it changes whenever groups are removed
  // or re-keyed).
  Group* PrepareGroup(std::string_view group);
  bool SetItemIn(Group* group, std::string_view item, std::string_view value);
  // Hints for such loaders; neither changes what the group holds. PrefetchItem asks for the
  // place where the group looks `item` up to be fetched into the cache, for a SetItemIn a
  // few lines later: in a group larger than the caches every lookup would otherwise wait
  // for memory. ReserveItems makes room for `count` items at once, so that a group known
  // to grow large is not rebuilt at every doubling.
  void PrefetchItem(const Group* group, std::string_view item) const;
  void ReserveItems(Group* group, size_t count);
  uint64_t generation() const { return generation_; }
  // Moves whenever any group gains or loses items, an item's value or spelling changes, an
  // item order changes or a group goes: views built from items stay valid while it holds.
  uint64_t edits() const { return edits_; }
  RankingCache& rankingCache() const { return rankingCache_; }
  Group* MutableGroup(std::string_view group) { return groups_.Find(group, caseSensitive_); }
  void DeleteItem(std::string_view group, std::string_view item);
  void DeleteGroup(std::string_view group);
  bool DeleteItemEverywhere(std::string_view item);
  bool ClearAll();
  bool RenameGroup(std::string_view oldName, std::string_view newName, int32_t mode);
  void RenameItem(std::string_view group, std::string_view oldName, std::string_view newName,
                  bool allowOverwrite);
  bool MoveItem(std::string_view sourceGroup, std::string_view sourceItem,
                std::string_view targetGroup, std::string_view targetItem, bool allowOverwrite);
  void CopyGroup(std::string_view source, std::string_view target, int32_t mode);
  bool CopyItem(std::string_view sourceGroup, std::string_view sourceItem,
                std::string_view targetGroup, std::string_view targetItem);
  bool SetItemHashed(std::string_view group, std::string_view item, std::string_view text);
  bool ItemEqualsHashed(std::string_view group, std::string_view item, std::string_view def,
                        std::string_view text);
  bool SetCaseSensitive(bool flag);
  bool RemoveEmptyGroups();
  // Every group removed as ClearAll removes them, with quiet left as it is and no
  // AfterChange (loading with clear-first).
  void RemoveAllGroups();
  // Replaces a group's items and order by a snapshot (applying an UndoByRestoreGroup).
  void RestoreGroup(std::string_view group, const GroupSnapshot& snapshot);
  // Puts a group's items in the given order, which must hold exactly its items; nothing
  // else changes and no undo record is made (the in-place group operations).
  bool SetItemOrder(std::string_view group, const std::vector<const Item*>& order);

  // Notify listeners (flag 1) and auto-save, unless quiet.
  bool AfterChange();

  // ---- settings record
  void ApplySettings(const ObjectSettings& record);
  void SaveSettingsBack(ObjectSettings& record) const;
  // The reset of "Use Standard Settings?".
  void ResetToStandardSettings();

  // ---- undo (implemented in the undo room)
  void PushUndo(std::unique_ptr<UndoElement> record);
  void BeginUndoBlock();
  void AddUndoBlock();
  void PerformUndo();
  void PerformRedo();
  void ClearUndo(bool undoStack, bool redoStack);
  void SetAutomaticUndo(bool automatic);
  bool UndoAvailable() const;
  bool RedoAvailable() const;
  UndoStacks& undoStacks() { return *undo_; }
  const UndoStacks& undoStacks() const { return *undo_; }

  // ---- files (implemented in the files room): writes fileName with the store's settings
  // unless it is empty or readOnly is set.
  bool Save();

 private:
  Group* CreateGroup(std::string_view displayName);
  void EraseGroup(Group* g);
  void EraseItem(Group* g, Item* it);
  void NotifyAll(int flags);
  // Whether PushUndo would keep a record now; lets costly records (group copies) be skipped
  // when they would be destroyed at once.
  bool RecordsUndo() const;
  void RemoveGroupsInKeyOrder();
  void ReplaceItems(Group* g, const GroupSnapshot& snapshot);
  // Sets an item's value; the item may move to a larger block, and the one to use after is
  // returned.
  Item* UpdateValue(Group* g, Item* it, std::string_view value);
  void FoldItems(Group* g);
  void FoldCase();
  void UnfoldCase();

  // A notification walking `listeners`; Detach moves its place and end as entries go.
  struct Round {
    size_t next;
    size_t end;
    Round* outer;
  };
  Round* rounds_ = nullptr;  // innermost round in progress
  unsigned delivering_ = 0;  // flags of the notifications in progress

  bool caseSensitive_ = false;
  uint64_t generation_ = 0;
  uint64_t edits_ = 0;
  mutable RankingCache rankingCache_;
  NameIndex<Group> groups_;
  OrderList<Group> groupOrder_;
  std::unique_ptr<UndoStacks> undo_;
};

// A scratch store with the settings of `source`, tied to no file and never auto-saving, so
// that nothing done to it can write a file. Used wherever a temporary document is needed.
std::unique_ptr<Store> MakeTemporaryStore(const Store& source);

// Splits a text at every comma; "" gives one empty piece.
std::vector<std::string> SplitList(std::string_view text);

}  // namespace vellix
