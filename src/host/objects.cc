#include "host/objects.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace vellix {

namespace {

constexpr size_t kLiveNameLength = 24;

// A live object's name as narrow text, or false when it cannot equal a narrow name: in a
// wide-character application a character outside ASCII has no single byte to compare with,
// and cutting it to its low byte could make "Ł" (U+0141) pass for "A".
bool NarrowName(const VxLiveObject& obj, bool wide, std::string& out) {
  out.clear();
  if (!wide) {
    const auto* n = static_cast<const char*>(obj.name);
    out.assign(n, strnlen(n, kLiveNameLength));
    return true;
  }
  const auto* w = static_cast<const uint16_t*>(obj.name);
  for (size_t k = 0; k < kLiveNameLength && w[k] != 0; ++k) {
    if (w[k] > 0x7F) return false;
    out.push_back(static_cast<char>(w[k]));
  }
  return true;
}

}  // namespace

VxLiveObject* FindLiveObject(RunObject& self, std::string_view name,
                             const std::function<bool(const VxLiveObject&)>& accept) {
  VxRunHeader* rh = self.runHeader();
  if (rh == nullptr || rh->live == nullptr) return nullptr;
  const VxHostServices* host = rh->host;
  const bool wide = host != nullptr && host->general != nullptr &&
                    host->general(VX_GEN_IS_WIDE, reinterpret_cast<vx_word>(rh->app), 0, 0) != 0;
  std::string objName;
  for (int32_t i = 0; i < rh->liveCount; ++i) {
    VxLiveObject& obj = rh->live[i];
    if (obj.name == nullptr || !accept(obj)) continue;
    if (NarrowName(obj, wide, objName) && objName == name) return &obj;
  }
  return nullptr;
}

RunObject* FindOtherObject(RunObject& self, std::string_view name) {
  VxLiveObject* found = FindLiveObject(self, name, [&](const VxLiveObject& obj) {
    if (obj.identifier != VX_IDENTIFIER || obj.run == nullptr) return false;
    const RunObject& other = RunObjectOf(obj.run);
    return other.store != nullptr && other.store != self.store;
  });
  return found ? &RunObjectOf(found->run) : nullptr;
}

}  // namespace vellix
