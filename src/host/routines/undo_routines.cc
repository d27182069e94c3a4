// The undo actions and conditions. None of them is held back while the object raises its
// own triggers, and none opens an undo block through the frame.
#include "host/routines.h"
#include "undo/undo.h"

namespace vellix {

bool UndoAvailableCondition(RunObject& ro, Params&) { return UndoAvailable(*ro.store); }

bool RedoAvailableCondition(RunObject& ro, Params&) { return RedoAvailable(*ro.store); }

void PerformUndoAction(RunObject& ro, Params&) { PerformUndo(*ro.store); }

void PerformRedoAction(RunObject& ro, Params&) { PerformRedo(*ro.store); }

// The mode's bits say which stacks go; other bits are ignored, so every value has a meaning
// (0 clears nothing, -1 both).
void ClearUndoAction(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  ClearUndo(*ro.store, (mode & VX_CLEAR_UNDO_STACK) != 0, (mode & VX_CLEAR_REDO_STACK) != 0);
}

void AddUndoBlockAction(RunObject& ro, Params&) { AddUndoBlock(*ro.store); }

// Manual mode has one number; every other value is automatic.
void SetAutomaticUndoAction(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  SetAutomaticUndo(*ro.store, mode != VX_UNDO_BLOCKS_MANUAL);
}

}  // namespace vellix
