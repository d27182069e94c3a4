// The table entries: each wraps a routine body in the frame declared for it.
#pragma once

#include <cstring>

#include "host/routine.h"

namespace vellix {

inline constexpr int kConditionCount = VX_CONDITION_COUNT;
inline constexpr int kActionCount = VX_ACTION_COUNT;
inline constexpr int kExpressionCount = VX_EXPRESSION_COUNT;

extern const VxRoutine kConditions[kConditionCount];
extern const VxRoutine kActions[kActionCount];
extern const VxRoutine kExpressions[kExpressionCount];

// Runs the opening steps a frame asks for; false when a modifying routine must do nothing
// because its object is raising its own triggers.
inline bool EnterFrame(RunObject& ro, Frame frame) {
  // An object whose creation failed has no store, and does nothing.
  if (ro.store == nullptr) return false;
  const unsigned bits = static_cast<unsigned>(frame);
  if (bits & 8u) {
    // Guard and undo block first, so that an auto load lands in this action's block.
    if (!BeginModifying(ro)) return false;
    OpenFrame(ro);
    return true;
  }
  if (bits & 1u) OpenFrame(ro);
  if (bits & 2u) return BeginModifying(ro);
  return true;
}

inline void LeaveFrame(RunObject& ro, Frame frame) {
  if (static_cast<unsigned>(frame) & 4u) SaveSettingsBack(ro);
}

// No exception may cross into the host, which is C and would end the whole application,
// unsaved data and all: a routine that runs out of memory answers false, nothing or 0.
template <ConditionBody Body, Frame F>
vx_word VX_CALL Condition(VxObjectHeader* header, vx_word, vx_word) try {
  RunObject& ro = RunObjectOf(header);
  Params params(header, false);
  if (!EnterFrame(ro, F)) return 0;
  const bool result = Body(ro, params);
  LeaveFrame(ro, F);
  return result ? 1 : 0;
} catch (...) {
  return 0;
}

template <ActionBody Body, Frame F>
vx_word VX_CALL Action(VxObjectHeader* header, vx_word, vx_word) try {
  RunObject& ro = RunObjectOf(header);
  Params params(header, false);
  if (!EnterFrame(ro, F)) return 0;
  Body(ro, params);
  LeaveFrame(ro, F);
  return 0;
} catch (...) {
  return 0;
}

template <ExpressionBody Body, Frame F>
vx_word VX_CALL Expression(VxObjectHeader* header, vx_word, vx_word) try {
  RunObject& ro = RunObjectOf(header);
  Params params(header, true);
  if (ro.store == nullptr) return 0;  // an object whose creation failed
  EnterFrame(ro, F);
  const Value v = Body(ro, params);
  switch (v.kind) {
    case Value::Kind::Integer:
      return static_cast<vx_word>(v.i);
    case Value::Kind::Float: {
      uint32_t bits = 0;
      std::memcpy(&bits, &v.f, sizeof bits);
      header->flags |= VX_RESULT_FLOAT;
      return static_cast<vx_word>(bits);
    }
    case Value::Kind::Text:
      break;
  }
  return ReturnText(header, v.text);
} catch (...) {
  return 0;
}

}  // namespace vellix
