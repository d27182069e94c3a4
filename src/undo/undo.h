// Undo records, blocks and the two stacks of a store.
//
// Every change the store makes hands a record to PushUndo; a record knows how to reverse
// that one change by calling the store's ordinary operations. Records are grouped in
// blocks (one per modifying action in automatic mode, or per run of actions in manual
// mode). Undoing a block replays its records, newest first, while the store is in undoing
// mode, so the operations record their own reversal into a block on the redo side.
#pragma once

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
  std::unique_ptr<UndoElement> first_;               // the oldest record
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

// The undo and redo stacks of one store, oldest block first. Blocks are held by value: a
// million one-action blocks are a million records, not twice as many allocations.
class UndoStacks {
 public:
  std::deque<UndoCompound> undo;
  std::deque<UndoCompound> redo;
  // Set while a block's records are being replayed. Replaying raises "On New Item" for
  // re-created items, and the handlers of that trigger may call the undo actions again;
  // those calls must not start a second replay or reshape the stacks under the first.
  bool replaying = false;
};

}  // namespace vellix
