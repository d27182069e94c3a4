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

// The body of BeginUndoBlock. `alwaysSeparate` makes the undo side open a new block
// whenever the newest one holds records, as automatic mode does; redo uses it so that a
// redone block stays a block of its own in manual mode too.
void BeginBlock(Store& store, bool alwaysSeparate) {
  UndoStacks& stacks = store.undoStacks();
  if (!store.undoing) {
    if (!store.keepRedo) stacks.redo.clear();
    if (store.undoDepth != 0) {
      if (stacks.undo.empty() ||
          ((store.autoUndoBlocks || alwaysSeparate) && NewestHoldsRecords(stacks.undo))) {
        OpenBlock(stacks.undo);
      }
    }
  } else if (store.redoDepth != 0) {
    if (stacks.redo.empty() || NewestHoldsRecords(stacks.redo)) OpenBlock(stacks.redo);
  }
  Trim(stacks.undo, store.undoDepth);
  Trim(stacks.redo, store.redoDepth);
}

}  // namespace

void Store::PushUndo(std::unique_ptr<UndoElement> record) {
  // A record with nowhere to go (depth 0, or no block opened yet) is dropped here.
  if (undoing) {
    if (redoDepth != 0 && !undo_->redo.empty()) undo_->redo.back().Add(std::move(record));
  } else {
    if (undoDepth != 0 && !undo_->undo.empty()) undo_->undo.back().Add(std::move(record));
  }
}

void Store::BeginUndoBlock() { BeginBlock(*this, false); }

void Store::AddUndoBlock() {
  // A new block in the middle of a replay would split the replayed block's reversal in two.
  if (undo_->replaying) return;
  OpenBlock(undo_->undo);
}

void Store::PerformUndo() {
  UndoStacks& stacks = *undo_;
  if (stacks.undo.empty() || stacks.replaying) return;
  // The block leaves the stack before it is replayed: whatever the trigger handlers run
  // during the replay (clearing the stacks, asking whether undo is available) then sees
  // the stacks as they will be, and nothing can destroy the block while it runs.
  UndoCompound block = std::move(stacks.undo.back());
  stacks.undo.pop_back();

  {
    const ScopedValue<bool> replay(stacks.replaying, true, false);
    const ScopedValue<bool> reverse(undoing, true, false);
    const ScopedValue<bool> hold(quiet, true, false);
    BeginBlock(*this, false);  // opens the redo block the replay records into
    block.Apply(*this);
  }
  AfterChange();
}

void Store::PerformRedo() {
  UndoStacks& stacks = *undo_;
  if (stacks.redo.empty() || stacks.replaying) return;
  UndoCompound block = std::move(stacks.redo.back());
  stacks.redo.pop_back();

  {
    const ScopedValue<bool> replay(stacks.replaying, true, false);
    const ScopedValue<bool> forward(undoing, false, false);
    const ScopedValue<bool> keep(keepRedo, true, false);
    const ScopedValue<bool> hold(quiet, true, false);
    // The redone changes get a block of their own even in manual mode: merged into the
    // block below, the next undo would also reverse changes made before the undone block.
    BeginBlock(*this, true);
    block.Apply(*this);
  }
  AfterChange();
}

void Store::ClearUndo(bool undoStack, bool redoStack) {
  if (undoStack) undo_->undo.clear();
  if (redoStack) undo_->redo.clear();
}

void Store::SetAutomaticUndo(bool automatic) {
  autoUndoBlocks = automatic;
  if (automatic && !undo_->replaying) BeginUndoBlock();
}

bool Store::UndoAvailable() const { return !undo_->undo.empty(); }

bool Store::RedoAvailable() const { return !undo_->redo.empty(); }

}  // namespace vellix
