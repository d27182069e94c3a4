// Undo records, blocks and the two stacks of a store.
//
// The store tells its UndoSink of every change it makes; the sink of this room, UndoStacks,
// keeps a record for each, which knows how to reverse that one change by calling the
// store's ordinary operations. Records are grouped in blocks (one per modifying action in
// automatic mode, or per run of actions in manual mode). Undoing a block replays its
// records, newest first, while the stacks are in undoing mode, so the operations record
// their own reversal into a block on the redo side.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "store/store.h"

namespace vellix {

class UndoElement {
 public:
  UndoElement() = default;
  UndoElement(const UndoElement&) = delete;
  UndoElement& operator=(const UndoElement&) = delete;
  virtual ~UndoElement() = default;
  virtual void Apply(Store& store) = 0;
};

// A block: its records are applied last first, each destroyed right after it is applied,
// so the block is empty afterwards. Most blocks hold a single record (one action in
// automatic mode), so the first record is kept inline and only further ones in a vector.
class UndoCompound final : public UndoElement {
 public:
  UndoCompound() = default;
  UndoCompound(UndoCompound&& other) noexcept
      : UndoElement(), first_(std::move(other.first_)), rest_(std::move(other.rest_)) {}

  void Apply(Store& store) override;
  void Add(std::unique_ptr<UndoElement> record) {
    if (first_ == nullptr && rest_.empty()) {
      first_ = std::move(record);
    } else {
      rest_.push_back(std::move(record));
    }
  }
  bool empty() const { return first_ == nullptr && rest_.empty(); }
  size_t size() const { return (first_ != nullptr ? 1 : 0) + rest_.size(); }

 private:
  std::unique_ptr<UndoElement> first_;              // the oldest record
  std::vector<std::unique_ptr<UndoElement>> rest_;  // the others, oldest first
};

// Sets an item back to a value (reverses a change of value or a deletion).
class UndoSetItem : public UndoElement {
 public:
  UndoSetItem(std::string group, std::string item, std::string value)
      : group_(std::move(group)), item_(std::move(item)), value_(std::move(value)) {}
  void Apply(Store& store) override;

 private:
  std::string group_, item_, value_;
};

// Deletes an item again (reverses its creation).
class UndoCreateItem : public UndoElement {
 public:
  UndoCreateItem(std::string group, std::string item)
      : group_(std::move(group)), item_(std::move(item)) {}
  void Apply(Store& store) override;

 private:
  std::string group_, item_;
};

// Deletes a group again (reverses its creation).
class UndoGroupMake : public UndoElement {
 public:
  explicit UndoGroupMake(std::string group) : group_(std::move(group)) {}
  void Apply(Store& store) override;

 private:
  std::string group_;
};

// Puts a group's items and their order back as they were (reverses a group deletion or a
// replacement of its items).
class UndoByRestoreGroup : public UndoElement {
 public:
  UndoByRestoreGroup(std::string group, GroupSnapshot snapshot)
      : group_(std::move(group)), snapshot_(std::move(snapshot)) {}
  void Apply(Store& store) override;

 private:
  std::string group_;
  GroupSnapshot snapshot_;
};

// Gives a group the spelling it had before a later call respelled it.
class UndoGroupSpelling : public UndoElement {
 public:
  explicit UndoGroupSpelling(std::string group) : group_(std::move(group)) {}
  void Apply(Store& store) override;

 private:
  std::string group_;
};

// The undo and redo stacks of one store, oldest block first, with their depths and modes.
// The store owns them as its UndoSink. Blocks are held by value: a million one-action
// blocks are a million records, not twice as many allocations.
class UndoStacks final : public UndoSink {
 public:
  int32_t undoDepth = 0;       // undo blocks kept: 0 none, negative unlimited
  int32_t redoDepth = 0;       // redo blocks kept, the same way
  bool autoUndoBlocks = true;  // every modifying action opens a block of its own
  // Set while an undo is applied: records then go to the redo side.
  bool undoing = false;
  // Set while a redo is applied: opening its block does not clear the redo stack.
  bool keepRedo = false;
  // Set while a block's records are being replayed. Replaying raises "On New Item" for
  // re-created items, and the handlers of that trigger may call the undo actions again;
  // those calls must not start a second replay or reshape the stacks under the first.
  bool replaying = false;
  std::deque<UndoCompound> undo;
  std::deque<UndoCompound> redo;

  bool Recording() const override;
  void GroupMade(std::string group) override;
  void ItemReplaced(std::string group, std::string item, std::string value) override;
  void ItemCreated(std::string group, std::string item) override;
  void GroupReplaced(std::string group, GroupSnapshot items) override;
  void GroupRespelled(std::string group) override;

 private:
  // Adds to the newest block of the side in use; dropped when there is none or its depth
  // is 0.
  void Push(std::unique_ptr<UndoElement> record);
};

// The store's stacks, made (empty, with depths 0) and handed to the store when it has none
// yet: a store without them records nothing, as with depths 0.
UndoStacks& UndoOf(Store& store);

// Opens a new block for the next records (each modifying action, in automatic mode).
void BeginUndoBlock(Store& store);
// Opens a new block whatever the mode ("Add undo block").
void AddUndoBlock(Store& store);
// Replays the newest undo block, or the newest redo block.
void PerformUndo(Store& store);
void PerformRedo(Store& store);
void ClearUndo(Store& store, bool undoStack, bool redoStack);
// Automatic mode opens a block per modifying action; manual mode only on request.
void SetAutomaticUndo(Store& store, bool automatic);
bool UndoAvailable(const Store& store);
bool RedoAvailable(const Store& store);

}  // namespace vellix
