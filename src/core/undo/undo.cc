// Undo records and the store's undo and redo stacks.
#include "undo/undo.h"

#include "store/scoped_value.h"

namespace vellix {

// ---------------------------------------------------------------- records

void UndoCompound::Apply(Store& store) {
  // Newest first; each record is taken out of the block before it runs, so the block never
  // holds a record that has already been applied.
  while (!rest_.empty()) {
    std::unique_ptr<UndoElement> record = std::move(rest_.back());
    rest_.pop_back();
    record->Apply(store);
  }
  if (first_ != nullptr) {
    std::unique_ptr<UndoElement> record = std::move(first_);
    record->Apply(store);
  }
}

void UndoSetItem::Apply(Store& store) { store.SetItem(group_, item_, value_); }

void UndoCreateItem::Apply(Store& store) { store.DeleteItem(group_, item_); }

void UndoGroupMake::Apply(Store& store) { store.DeleteGroup(group_); }

void UndoByRestoreGroup::Apply(Store& store) { store.RestoreGroup(group_, snapshot_); }

void UndoGroupSpelling::Apply(Store& store) { store.RespellGroup(group_); }

// ---------------------------------------------------------------- stacks

namespace {

using Stack = std::deque<UndoCompound>;

void OpenBlock(Stack& stack) { stack.emplace_back(); }

bool NewestHoldsRecords(const Stack& stack) { return !stack.empty() && !stack.back().empty(); }

// Drops the oldest blocks beyond a positive depth; zero and negative depths keep all.
void Trim(Stack& stack, int32_t depth) {
  if (depth <= 0) return;
  while (stack.size() > static_cast<size_t>(depth)) stack.pop_front();
}

// The body of BeginUndoBlock, which an undo and a redo call too (in undoing or redo mode)
// so that the replayed block's reversal has a block to go to. In manual mode a redo's
// records join the newest undo block, as every other change does.
void BeginBlock(UndoStacks& stacks) {
  if (!stacks.undoing) {
    if (!stacks.keepRedo) stacks.redo.clear();
    if (stacks.undoDepth != 0) {
      if (stacks.undo.empty() || (stacks.autoUndoBlocks && NewestHoldsRecords(stacks.undo))) {
        OpenBlock(stacks.undo);
      }
    }
  } else if (stacks.redoDepth != 0) {
    if (stacks.redo.empty() || NewestHoldsRecords(stacks.redo)) OpenBlock(stacks.redo);
  }
  // "Add undo block" appends without a depth check, so either stack may be one or more
  // blocks past its depth here; this is where it is cut back.
  Trim(stacks.undo, stacks.undoDepth);
  Trim(stacks.redo, stacks.redoDepth);
}

const UndoStacks* FindStacks(const Store& store) {
  return dynamic_cast<const UndoStacks*>(store.undoSink());
}

// Replays the newest block of one side: its records run newest first, with the store
// quiet, into a block opened on the other side. One AfterChange follows.
void Replay(Store& store, bool redo) {
  UndoStacks& stacks = UndoOf(store);
  Stack& from = redo ? stacks.redo : stacks.undo;
  if (from.empty() || stacks.replaying) return;
  {
    const ScopedValue<bool> replay(stacks.replaying, true, false);
    const ScopedValue<bool> undoing(stacks.undoing, !redo, false);
    const ScopedValue<bool> keep(stacks.keepRedo, redo, false);
    const ScopedValue<bool> hold(store.quiet, true, false);
    // The block being replayed still counts while the stacks are trimmed to their depths:
    // with one block too many on the stack, the oldest goes, never the one replayed (a
    // positive depth keeps at least the newest block).
    BeginBlock(stacks);
    // The block leaves the stack before it is replayed: whatever the trigger handlers run
    // during the replay (clearing the stacks, asking whether undo is available) then sees
    // the stacks as they will be, and nothing can destroy the block while it runs.
    UndoCompound block = std::move(from.back());
    from.pop_back();
    block.Apply(store);
  }
  store.AfterChange();
}

}  // namespace

bool UndoStacks::Recording() const {
  if (undoing) return redoDepth != 0 && !redo.empty();
  return undoDepth != 0 && !undo.empty();
}

void UndoStacks::Push(std::unique_ptr<UndoElement> record) {
  // A record with nowhere to go (depth 0, or no block opened yet) is dropped here.
  Stack& side = undoing ? redo : undo;
  if ((undoing ? redoDepth : undoDepth) != 0 && !side.empty()) side.back().Add(std::move(record));
}

void UndoStacks::GroupMade(std::string group) {
  Push(std::make_unique<UndoGroupMake>(std::move(group)));
}

void UndoStacks::ItemReplaced(std::string group, std::string item, std::string value) {
  Push(std::make_unique<UndoSetItem>(std::move(group), std::move(item), std::move(value)));
}

void UndoStacks::ItemCreated(std::string group, std::string item) {
  Push(std::make_unique<UndoCreateItem>(std::move(group), std::move(item)));
}

void UndoStacks::GroupReplaced(std::string group, GroupSnapshot items) {
  Push(std::make_unique<UndoByRestoreGroup>(std::move(group), std::move(items)));
}

void UndoStacks::GroupRespelled(std::string group) {
  Push(std::make_unique<UndoGroupSpelling>(std::move(group)));
}

UndoStacks& UndoOf(Store& store) {
  if (auto* stacks = dynamic_cast<UndoStacks*>(store.undoSink())) return *stacks;
  auto made = std::make_unique<UndoStacks>();
  UndoStacks& stacks = *made;
  store.SetUndoSink(std::move(made));
  return stacks;
}

void BeginUndoBlock(Store& store) { BeginBlock(UndoOf(store)); }

void AddUndoBlock(Store& store) {
  UndoStacks& stacks = UndoOf(store);
  // A new block in the middle of a replay would split the replayed block's reversal in two.
  if (stacks.replaying) return;
  OpenBlock(stacks.undo);
}

void PerformUndo(Store& store) { Replay(store, false); }

void PerformRedo(Store& store) { Replay(store, true); }

void ClearUndo(Store& store, bool undoStack, bool redoStack) {
  UndoStacks& stacks = UndoOf(store);
  if (undoStack) stacks.undo.clear();
  if (redoStack) stacks.redo.clear();
}

void SetAutomaticUndo(Store& store, bool automatic) {
  UndoStacks& stacks = UndoOf(store);
  stacks.autoUndoBlocks = automatic;
  if (automatic && !stacks.replaying) BeginBlock(stacks);
}

bool UndoAvailable(const Store& store) {
  const UndoStacks* stacks = FindStacks(store);
  return stacks != nullptr && !stacks->undo.empty();
}

bool RedoAvailable(const Store& store) {
  const UndoStacks* stacks = FindStacks(store);
  return stacks != nullptr && !stacks->redo.empty();
}

}  // namespace vellix
