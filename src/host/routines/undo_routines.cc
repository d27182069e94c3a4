// The undo actions and conditions. None of them is held back while the object raises its
// own triggers, and none opens an undo block through the frame.
#include "host/routines.h"
#include "undo/undo.h"

namespace vellix {

bool UndoAvailableCondition(RunObject& ro, Params&) { return UndoAvailable(*ro.store); }

bool RedoAvailableCondition(RunObject& ro, Params&) { return RedoAvailable(*ro.store); }

void PerformUndoAction(RunObject& ro, Params&) { PerformUndo(*ro.store); }

void PerformRedoAction(RunObject& ro, Params&) { PerformRedo(*ro.store); }

// Bit 0 of the mode clears the undo stack, bit 1 the redo stack; other bits are ignored,
// so every value has a meaning (0 clears nothing, -1 both).
void ClearUndoAction(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  ClearUndo(*ro.store, (mode & 1) != 0, (mode & 2) != 0);
}

void AddUndoBlockAction(RunObject& ro, Params&) { AddUndoBlock(*ro.store); }

// 2 is manual mode; every other value is automatic.
void SetAutomaticUndoAction(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  SetAutomaticUndo(*ro.store, mode != 2);
}

}  // namespace vellix
