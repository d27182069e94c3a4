// The undo actions and conditions. None of them is held back while the object raises its
// own triggers, and none opens an undo block through the frame.
#include "host/routines.h"
#include "store/store.h"

namespace vellix {

bool UndoAvailableCondition(RunObject& ro, Params& p) {
  (void)p;
  return ro.store != nullptr && ro.store->UndoAvailable();
}

bool RedoAvailableCondition(RunObject& ro, Params& p) {
  (void)p;
  return ro.store != nullptr && ro.store->RedoAvailable();
}

void PerformUndoAction(RunObject& ro, Params& p) {
  (void)p;
  if (ro.store != nullptr) ro.store->PerformUndo();
}

void PerformRedoAction(RunObject& ro, Params& p) {
  (void)p;
  if (ro.store != nullptr) ro.store->PerformRedo();
}

// Bit 0 of the mode clears the undo stack, bit 1 the redo stack; other bits are ignored,
// so every value has a meaning (0 clears nothing, -1 both).
void ClearUndoAction(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  if (ro.store != nullptr) ro.store->ClearUndo((mode & 1) != 0, (mode & 2) != 0);
}

void AddUndoBlockAction(RunObject& ro, Params& p) {
  (void)p;
  if (ro.store != nullptr) ro.store->AddUndoBlock();
}

// 2 is manual mode; every other value is automatic.
void SetAutomaticUndoAction(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  if (ro.store != nullptr) ro.store->SetAutomaticUndo(mode != 2);
}

}  // namespace vellix
