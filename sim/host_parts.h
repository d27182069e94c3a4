// The simulated host's own pieces shared by its four files (module.cc, apps.cc, calls.cc,
// services.cc); nothing else includes it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host.h"

namespace vxsim {

// The host the C services reach. One host runs at a time in a process.
extern Host* g_host;

// Where a bad read gets its "zero" pointer: an empty text, and an empty parameter record.
alignas(16) inline constexpr uint8_t kZeroRecord[256] = {};

// Runs an entry point of the module. Its entry points have C linkage: a C++ exception that
// escapes one is a fault of the module, reported as such rather than as the host's own.
template <class F>
auto Enter(const std::string& what, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const HostError&) {
    throw;
  } catch (const std::exception& e) {
    throw HostError("an exception escaped the module from " + what + ": " + e.what());
  } catch (...) {
    throw HostError("an exception escaped the module from " + what);
  }
}

// A routine call in progress: its arguments, how many the routine has read, and what the
// host made for it (parameter records, result strings), freed when the call returns.
struct Host::CallFrame {
  Object* object = nullptr;
  RoutineKind kind = RoutineKind::Action;
  int index = 0;
  std::string_view signature;
  const std::vector<Token>* args = nullptr;
  size_t next = 0;
  std::vector<std::unique_ptr<uint8_t[]>> records;
  std::vector<std::pair<char*, size_t>> results;  // result strings, freed with the frame

  ~CallFrame() {
    for (auto& r : results) std::free(r.first);
  }
  std::string Where() const {
    return std::string(RoutineKindName(kind)) + " " + std::to_string(index);
  }
};

}  // namespace vxsim
