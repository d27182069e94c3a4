// The routine frame: how every condition, action and expression reads its parameters,
// returns its result and is wrapped by the common steps it needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host_abi.h"
#include "host/run_object.h"
#include "store/number_text.h"

namespace vellix {

// Reads the parameters of the running routine in order, with the kind the routine wants.
class Params {
 public:
  Params(VxObjectHeader* header, bool expression) : header_(header), expression_(expression) {}

  std::string Text();
  int32_t Int();
  float Float();
  // A custom parameter block: its bytes from offset 6 on (null when the host gave none).
  const uint8_t* Block();
  // The name an object selector carries.
  std::string ObjectName();
  // A position: the first coordinate from the high half, the second from the low half.
  void Position(int16_t& first, int16_t& second);

 private:
  vx_word Read(int kind);
  VxObjectHeader* header_;
  bool expression_;
  bool first_ = true;
};

// An expression's result.
struct Value {
  enum class Kind { Integer, Float, Text };
  Kind kind = Kind::Integer;
  int32_t i = 0;
  float f = 0.0f;
  std::string text;

  static Value Int(int32_t v) { return Value{Kind::Integer, v, 0.0f, {}}; }
  static Value Real(float v) { return Value{Kind::Float, 0, v, {}}; }
  static Value Str(std::string v) { return Value{Kind::Text, 0, 0.0f, std::move(v)}; }
  static Value FromNumber(const Number& n) { return n.isFloat ? Real(n.f) : Int(n.i); }
};

using ConditionBody = bool (*)(RunObject&, Params&);
using ActionBody = void (*)(RunObject&, Params&);
using ExpressionBody = Value (*)(RunObject&, Params&);

// The steps a routine runs around its body, declared beside it in its table.
enum class Frame : unsigned {
  None = 0,           // no opening steps at all
  Plain = 1,          // settings applied to a shared store, then auto load
  Modifying = 1 | 2,  // ... then nothing while raising events, else a new undo block
  Settings = 1 | 4,   // Plain, and the settings copied back afterwards
  ModifyingSettings = 1 | 2 | 4,
  Guarded = 2,  // raising-event guard and undo block, without the opening steps
  GuardedSettings = 2 | 4,
  UndoFirstSettings = 8 | 1 | 4,  // guard and undo block before the opening steps
};

// The opening steps: settings applied to a shared store, then auto load.
void OpenFrame(RunObject& ro);
// The guard of a modifying action: false while the object raises its own triggers;
// otherwise a new undo block is opened and true returned.
bool BeginModifying(RunObject& ro);
// Copies the store's settings back into the object's own record when the store is shared.
void SaveSettingsBack(RunObject& ro);

// Returns a text result in host-owned space.
vx_word ReturnText(VxObjectHeader* header, std::string_view text);

}  // namespace vellix
