// The host's records that the exchange routines reach: texts the host owns, global values
// and strings, and scene, array and chart objects found by name among the live objects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/host_abi.h"
#include "host/run_object.h"

namespace vellix {

// Texts the host owns (alterable strings, global strings), read and made as narrow text:
// in a wide-character application they hold 16-bit characters, converted with the
// application's code page.
class HostTexts {
 public:
  HostTexts(const VxHostServices* host, VxApplication* app);
  // The narrow text of a slot; nothing for a null slot.
  std::optional<std::string> Read(const void* text) const;
  // Puts a host copy of `narrow` into the slot and releases the text it held. False, with
  // the slot unchanged, when the host gives no memory.
  bool Replace(void*& slot, std::string_view narrow) const;

 private:
  const VxHostServices* host_;
  bool wide_ = false;
  int32_t codePage_ = 0;
};

// Live objects of the running application, the first of that name (cut to the host's 24
// characters) of the kind asked for; null when there is none.
VxLiveObject* FindSceneObject(RunObject& self, std::string_view name);
VxArrayData* FindArray(RunObject& self, std::string_view name);
const VxChartData* FindChart(RunObject& self, std::string_view name);

// Moves a live object through the host's set-position service.
void MoveObject(RunObject& self, VxLiveObject& object, int32_t x, int32_t y);

// The application whose global values (strings) the running one uses: its parent's, as
// long as it is marked as sharing them.
VxApplication* GlobalValuesOwner(VxApplication* running);
VxApplication* GlobalStringsOwner(VxApplication* running);
// Grows the application's global values (strings) to at least `count` entries through the
// host, new ones zero (null); false when the host gives no memory.
bool GrowGlobalValues(const VxHostServices& host, VxApplication& app, int32_t count);
bool GrowGlobalStrings(const VxHostServices& host, VxApplication& app, int32_t count);

}  // namespace vellix
