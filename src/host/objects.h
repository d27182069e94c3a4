// Other objects among the host's live objects, found by name.
#pragma once

#include <functional>
#include <string_view>

#include "host/run_object.h"

namespace vellix {

// The first live object of the running application whose name, cut to 24 characters,
// equals `name` exactly (case counts) and which `accept` takes. Null when there is none.
VxLiveObject* FindLiveObject(RunObject& self, std::string_view name,
                             const std::function<bool(const VxLiveObject&)>& accept);

// The first live object of this extension whose name, cut to 24 characters, equals `name`
// exactly (case counts), passing over every object that works on `self`'s store: an
// object's own document is never its own source or target. Null when there is none.
RunObject* FindOtherObject(RunObject& self, std::string_view name);

}  // namespace vellix
