// Creation and destruction of run objects and of the per-application tables.
#pragma once

#include <cstdint>

#include "host/host_abi.h"

namespace vellix {

void CreateRunObject(VxObjectHeader* header, const uint8_t* editData);
void DestroyRunObject(VxObjectHeader* header);
struct RunObject;

// Raises the triggers of the store's notification flags on the object.
void NotifyRunObject(RunObject& ro, int flags);
void StartApplication(const VxHostServices* host, VxApplication* app);
void EndApplication(const VxHostServices* host, VxApplication* app);

}  // namespace vellix
