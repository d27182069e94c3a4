// A variable set for the length of a scope and put back on every way out of it.
//
// Flags such as the store's quiet state, the undo room's replaying state or an object's
// raisingEvent hold for the length of one operation. Set and cleared by hand, a flag stays
// set for good when the operation ends early (an allocation fails, and the routine frame
// swallows the exception): from then on nothing notifies or saves. Every such flag is set
// through this guard instead.
#pragma once

#include <utility>

namespace vellix {

template <class T>
class [[nodiscard]] ScopedValue {
 public:
  // Sets `target` to `during`; the scope's end sets it to `after`.
  ScopedValue(T& target, T during, T after) : target_(target), after_(std::move(after)) {
    target_ = std::move(during);
  }
  // Sets `target` to `during`; the scope's end puts the value it had back.
  ScopedValue(T& target, T during) : ScopedValue(target, std::move(during), T(target)) {}
  ~ScopedValue() { target_ = std::move(after_); }

  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& target_;
  T after_;
};

}  // namespace vellix
