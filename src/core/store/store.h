// The document: groups of items, its settings, and the run objects attached to it.
//
// The store needs no other room. The rooms built on it reach in through two small seams:
// the undo room records the store's changes through an UndoSink, and the files room writes
// the document after a change (auto save) through a SaveHook.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/containers.h"
#include "store/item_arena.h"
#include "store/settings.h"

namespace vellix {

class Store;

enum NotifyFlag : int { kNotifyModified = 1, kNotifySaving = 2, kNotifyNewItem = 4 };

// A run object as its store sees it: told of the store's changes while it is attached
// (Store::Attach), and of saves while it is the store's owner.
class StoreListener {
 public:
  // Flags: kNotifyModified, kNotifySaving or kNotifyNewItem.
  virtual void Notify(int flags) = 0;

 protected:
  ~StoreListener() = default;
};

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

 private:
  friend class Store;
  friend class Group;
  template <class>
  friend class OrderList;
  Item() = default;
  ~Item() = default;
  // Items live in their document's arena (ItemArena).
  static Item* Make(ItemArena& arena, std::string_view name, std::string_view value);
  static void Free(ItemArena& arena, Item* item);
  // Replaces the value; returns the item, moved to a larger block when it did not fit (the
  // old pointer is then gone).
  static Item* WithValue(ItemArena& arena, Item* item, std::string_view value);
  // A copy in `arena`; an item of a long text is not copied but given back as it is.
  static Item* CopyInto(ItemArena& arena, Item* item);
  // A spelling of the same key: same length, so it is written over the old one.
  void Respell(std::string_view name);
  // Frees an item made ahead of a change unless the change took it.
  struct Hold {
    ItemArena& arena;
    Item* item = nullptr;
    explicit Hold(ItemArena& from) : arena(from) {}
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold() {
      if (item != nullptr) Free(arena, item);
    }
    Item* Take() { return std::exchange(item, nullptr); }
  };
  const char* Bytes() const { return reinterpret_cast<const char*>(this + 1); }
  char* Bytes() { return reinterpret_cast<char*>(this + 1); }

  uint32_t slot = 0;  // position in the group's order list (OrderList)
  uint32_t nameLength_ = 0;
  uint32_t valueLength_ = 0;
  uint32_t valueCapacity_ = 0;
};

inline std::string_view KeyName(const Item& item) { return item.name(); }

// The items of a group with their creation order, as an undo snapshot or a copy keeps them.
struct GroupSnapshot {
  std::vector<std::pair<std::string, std::string>> items;  // display name, value
};

// A group of the store. Only the store changes it: its display name is the key the store's
// index finds it by, and its items are indexed by theirs.
class Group {
 public:
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;

  const std::string& name() const { return name_; }  // display name
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

 private:
  friend class Store;
  template <class>
  friend class OrderList;
  // Items come from `arena`, the index's and order list's storage while small from `arrays`.
  Group(std::string displayName, ItemArena& arena, ItemArena& arrays)
      : name_(std::move(displayName)), arena_(&arena), index_(&arrays), order_(&arrays) {}
  ~Group();

  std::string name_;
  ItemArena* arena_;  // the store's, where the items live
  uint32_t slot = 0;  // position in the store's group order (OrderList)
  // Made inside the store change that is open now: taking the change back deletes the whole
  // group, so what happens to its items need not be recorded.
  bool fresh_ = false;
  NameIndex<Item> index_;
  OrderList<Item> order_;
};

inline std::string_view KeyName(const Group& group) { return group.name(); }

// Where a store leaves what reverses each of its changes: the undo room (undo/undo.h)
// keeps them as records on its stacks. The store calls it only while Recording() is true.
class UndoSink {
 public:
  virtual ~UndoSink() = default;
  // Whether a record made now would be kept; records that cost (group copies) are made
  // only then.
  virtual bool Recording() const = 0;
  // A group was made: reversed by deleting it.
  virtual void GroupMade(std::string group) = 0;
  // An item was set over or deleted: reversed by setting it back to its name and value.
  virtual void ItemReplaced(std::string group, std::string item, std::string value) = 0;
  // An item was created: reversed by deleting it.
  virtual void ItemCreated(std::string group, std::string item) = 0;
  // A group's items were replaced or deleted: reversed by putting these back.
  virtual void GroupReplaced(std::string group, GroupSnapshot items) = 0;
  // A group was given another spelling of its name: reversed by giving it this one again.
  virtual void GroupRespelled(std::string group) = 0;
};

// Writes a store to its file (files/files.h, SaveStore); true when it was written.
using SaveHook = bool (*)(Store& store);

// What RenameGroup does about a group that already has the new name. Any other value
// reads as kRenameMerge.
enum RenameMode : int32_t {
  kRenameReplace = 0,  // the renamed group's items replace the target's
  kRenameMerge = 1,    // the renamed group's items are set into the target
  kRenameRefuse = 2,   // nothing is renamed; a new name that is free reads as kRenameMerge
};

// What CopyGroup does with the target's items. Any other value reads as kCopyMerge.
enum CopyMode : int32_t {
  kCopyReplace = 0,  // the target becomes a copy of the source, order and all
  kCopyMerge = 1,    // the source's items are set into the target, in key order
};

// The items of one group ranked by value, as the sorted-access expressions last built them
// (store/sorting.cc); valid while the store's edits() count has not moved since.
struct RankingCache {
  const Group* group = nullptr;
  uint64_t edits = 0;
  std::vector<const Item*> ranked;
};

// Every change of a store is all-or-nothing. A single change (setting an item, making or
// deleting a group) allocates whatever it needs before it changes anything, so running out
// of memory leaves the store as it was. A change made of several steps (a rename, a load, a
// merge) holds a StoreChange for its length: the store then records how to take back each
// step without allocating, and when the change ends by an exception every step is taken
// back. Changes nest; only the outermost one lets go of what the steps replaced. The module
// is single-threaded: a store is changed by one caller at a time.
class Store {
 public:
  // `save` writes the document after a change when auto save is on; a store without one
  // never writes a file by itself (scratch documents, tests of the store alone).
  explicit Store(SaveHook save = nullptr);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // ---- settings
  DocumentSettings& settings() { return settings_; }
  const DocumentSettings& settings() const { return settings_; }
  bool caseSensitive() const { return caseSensitive_; }
  std::string_view NewLineText() const { return settings_.NewLineText(); }
  // Held for the length of an operation (through ScopedValue): notifications and auto save
  // wait while quiet is set.
  bool quiet = false;
  // Set while text is read into the store (a file load, a text load). A listener's frame
  // may clear quiet in the middle of a load; auto save still waits until the load has
  // finished, so a file is never replaced by the first part of its own content.
  bool loading = false;

  // ---- files whose last load was not clean (a read error, a decode failure, a zero byte,
  // a file that gave nothing): a save about to replace one keeps its old bytes first.
  // Kept by the files room; a file is known by its device and inode.
  std::vector<std::pair<uint64_t, uint64_t>> uncleanFiles;

  // ---- attached run objects
  // The listener is told of every change from the next notification on, becomes the
  // owner, and notifications are on (an object's creation ends with this).
  void Attach(StoreListener& listener);
  // The listener is told of nothing more, also by a notification in progress; when it was
  // the owner, the store has none; when no listener is left, notifications are off. Used
  // when an object is destroyed or leaves for another store.
  void Detach(StoreListener& listener);
  // Notifications are off until the next Attach: what an object's creation puts into a
  // store is news to no one.
  void HoldNotifications() { notifying_ = false; }
  const std::vector<StoreListener*>& listeners() const { return listeners_; }
  StoreListener* owner() const { return owner_; }
  // Tells the owner alone (flag 2, "On Save"), unless the store is already delivering that
  // flag: a save started from an "On Save" handler saves without raising "On Save" again,
  // instead of recursing without end.
  void NotifyOwner(int flag);
  // Whether a notification with this flag is being delivered right now.
  bool Delivering(int flag) const { return (delivering_ & static_cast<unsigned>(flag)) != 0; }

  // ---- undo: the store hands its changes to the sink (the undo room installs it)
  UndoSink* undoSink() const { return undo_.get(); }
  void SetUndoSink(std::unique_ptr<UndoSink> sink) { undo_ = std::move(sink); }

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
  // Whether the indexes and the orders agree: every listed group and item is found by its
  // name, and each index holds exactly what its order lists. For checks (tests, fuzzing).
  bool Consistent() const;

  // ---- changes
  void MakeGroup(std::string_view group);
  // True, or false when the name or value is too long to keep (ItemLengthLimit).
  bool SetItem(std::string_view group, std::string_view item, std::string_view value);
  // SetItem in two halves, for loaders that set many items into one group: PrepareGroup
  // makes the group and gives it this spelling; SetItemIn sets one item in it. The group
  // stays valid while generation() does not change (it changes whenever groups are removed
  // or re-keyed). A Group* lets nothing change but through SetItemIn.
  Group* PrepareGroup(std::string_view group);
  bool SetItemIn(Group* group, std::string_view item, std::string_view value);
  // The group for SetItemIn, or null when there is none; nothing is made.
  Group* MutableGroup(std::string_view group) { return groups_.Find(group, caseSensitive_); }
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
  // Bytes the store's items hold from the system, freed and reusable ones included.
  size_t itemBytes() const { return items_.heldBytes(); }
  RankingCache& rankingCache() const { return rankingCache_; }
  void DeleteItem(std::string_view group, std::string_view item);
  void DeleteGroup(std::string_view group);
  bool DeleteItemEverywhere(std::string_view item);
  bool ClearAll();
  bool RenameGroup(std::string_view oldName, std::string_view newName, RenameMode mode);
  void RenameItem(std::string_view group, std::string_view oldName, std::string_view newName,
                  bool allowOverwrite);
  bool MoveItem(std::string_view sourceGroup, std::string_view sourceItem,
                std::string_view targetGroup, std::string_view targetItem, bool allowOverwrite);
  void CopyGroup(std::string_view source, std::string_view target, CopyMode mode);
  bool CopyItem(std::string_view sourceGroup, std::string_view sourceItem,
                std::string_view targetGroup, std::string_view targetItem);
  bool SetCaseSensitive(bool flag);
  bool RemoveEmptyGroups();
  // Every group removed as ClearAll removes them, with quiet left as it is and no
  // AfterChange (loading with clear-first).
  void RemoveAllGroups();
  // Replaces a group's items and order by a snapshot (applying an UndoByRestoreGroup).
  void RestoreGroup(std::string_view group, const GroupSnapshot& snapshot);
  // Gives the group of that key this spelling, as setting an item through it would, without
  // touching its items (applying an UndoGroupSpelling).
  void RespellGroup(std::string_view group);
  // Puts a group's items in the given order, which must hold exactly its items; nothing
  // else changes and no undo record is made (the in-place group operations).
  bool SetItemOrder(std::string_view group, const std::vector<const Item*>& order);
  // Whether a notification would reach anyone now: a listener attached and notifications on.
  bool Notifies() const { return notifying_ && !listeners_.empty(); }
  // What DeleteGroup followed by SetItem of each of the group's own items, in `order` (which
  // must hold exactly its items), gives while nobody is notified: the group at the end of
  // the groups with this spelling, its items in that order, and the same undo records in
  // the same order (the group's items replaced, the group made, each item created). The
  // items keep their nodes, so nothing is copied item by item. False, with nothing done,
  // when the group is missing, `order` is not its items, or a listener would be notified
  // (the caller then goes step by step, so that handlers see every step).
  bool RebuildGroupInOrder(std::string_view group, const std::vector<const Item*>& order);

  // Notify listeners (flag 1) and auto-save, unless quiet. False when auto save was due
  // and the file was not written.
  bool AfterChange();

  // ---- all-or-nothing changes: see StoreChange
  size_t BeginChange() {
    ++changeDepth_;
    return journal_.size();
  }
  void EndChange() noexcept;
  // Takes back every step recorded since `mark`, newest first; never allocates.
  void RollBackChange(size_t mark) noexcept;

  // ---- settings record
  void ApplySettings(const ObjectSettings& record);
  void SaveSettingsBack(ObjectSettings& record) const;
  // The reset of "Use Standard Settings?" (the undo mode is the undo room's to reset).
  void ResetToStandardSettings();

 private:
  Group* CreateGroup(std::string_view displayName);
  void Respell(Group* g, std::string_view spelling);
  void EraseGroup(Group* g);
  void SwapGroups(Group* a, Group* b);
  void EraseItem(Group* g, Item* it);
  // Checked on every change, so the checks are inline and the work is not.
  void CompactItems() noexcept {
    if (changeDepth_ == 0 && journal_.empty() && items_.WorthCompacting()) CompactNow();
  }
  void CompactNow() noexcept;
  void NotifyAll(int flags) {
    if (notifying_) Deliver(flags);
  }
  void Deliver(int flags);
  // Whether the undo sink keeps records now.
  bool RecordsUndo() const { return undo_ != nullptr && undo_->Recording(); }
  // Records the group's items before they are replaced or deleted.
  void RecordGroup(const Group& g);
  void RemoveGroupsInKeyOrder();
  void ReplaceItems(Group* g, const GroupSnapshot& snapshot);
  void FoldItems(Group* g);
  void FoldCase();
  void UnfoldCase();

  // A step of an open change, with what taking it back needs. Steps never allocate when they
  // are taken back or let go of.
  enum class StepKind : uint8_t {
    kGroupMade,        // group
    kGroupErased,      // group, kept
    kGroupRespelled,   // group; extra->name is the old spelling
    kGroupsSwapped,    // group, otherGroup
    kItemMade,         // group, item
    kItemErased,       // group, item, kept
    kItemReplaced,     // group, item (the old node, kept), otherItem (its replacement)
    kItemsSwapped,     // group, item, otherItem
    kItemOrderSet,     // group; extra->order is the old order
    kItemsReplaced,    // group; extra->index and extra->list are the old items
    kGroupMovedToEnd,  // group; extra->place is its old place in the group order
  };
  struct StepExtra {
    std::string name;
    uint32_t place = 0;
    OrderList<Item>::Storage order;
    NameIndex<Item> index;
    OrderList<Item> list;
  };
  struct Step {
    StepKind kind;
    Group* group = nullptr;
    Group* otherGroup = nullptr;
    Item* item = nullptr;
    Item* otherItem = nullptr;
    std::unique_ptr<StepExtra> extra;
  };
  // Whether a change to the items of `g` must be recorded as a step now.
  bool Records(const Group* g) const { return changeDepth_ > 0 && !g->fresh_; }
  // Room for one more step, so that recording it after the change cannot fail.
  void ReserveStep() {
    if (journal_.size() == journal_.capacity()) {
      journal_.reserve(journal_.empty() ? 16 : journal_.size() * 2);
    }
  }
  void AddStep(StepKind kind, Group* g, Item* item = nullptr, Item* otherItem = nullptr,
               std::unique_ptr<StepExtra> extra = nullptr) noexcept {
    journal_.push_back(Step{kind, g, nullptr, item, otherItem, std::move(extra)});
  }
  void TakeBack(Step& step) noexcept;
  // The outermost change is over: what its steps kept is let go of.
  void FinishChanges() noexcept;

  // A notification walking `listeners_`; Detach moves its place and end as entries go.
  struct Round {
    size_t next;
    size_t end;
    Round* outer;
  };

  DocumentSettings settings_;
  bool caseSensitive_ = false;
  SaveHook save_ = nullptr;
  std::unique_ptr<UndoSink> undo_;

  std::vector<StoreListener*> listeners_;
  StoreListener* owner_ = nullptr;
  bool notifying_ = false;
  Round* rounds_ = nullptr;  // innermost round in progress
  unsigned delivering_ = 0;  // flags of the notifications in progress

  // Declared before the journal and the groups that hold items, so that they outlive them.
  // Items are compacted now and then (CompactItems), which moves them all to a fresh arena;
  // the storage of small groups' indexes and order lists is in an arena of its own, which
  // is never moved.
  ItemArena items_;
  ItemArena arrays_;
  int changeDepth_ = 0;
  std::vector<Step> journal_;

  uint64_t generation_ = 0;
  uint64_t edits_ = 0;
  mutable RankingCache rankingCache_;
  NameIndex<Group> groups_;
  OrderList<Group> groupOrder_;
};

// Holds a change of several steps open (see Store): when the scope is left by an exception,
// every step made since it began is taken back, and the store is as it was before.
class StoreChange {
 public:
  explicit StoreChange(Store& store)
      : store_(store), mark_(store.BeginChange()), exceptions_(std::uncaught_exceptions()) {}
  ~StoreChange() {
    if (std::uncaught_exceptions() > exceptions_) {
      store_.RollBackChange(mark_);
    } else {
      store_.EndChange();
    }
  }
  StoreChange(const StoreChange&) = delete;
  StoreChange& operator=(const StoreChange&) = delete;

 private:
  Store& store_;
  size_t mark_;
  int exceptions_;
};

// A scratch store with the settings of `source`, tied to no file and never auto-saving, so
// that nothing done to it can write a file. Used wherever a temporary document is needed.
std::unique_ptr<Store> MakeTemporaryStore(const Store& source);

// Splits a text at every comma; "" gives one empty piece.
std::vector<std::string> SplitList(std::string_view text);

}  // namespace vellix
