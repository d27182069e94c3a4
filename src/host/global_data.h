// Stores shared between the objects of one top-level application under a global data key.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "host/host_abi.h"

namespace vellix {

class Store;

struct GlobalDataTable {
  std::map<std::string, std::unique_ptr<Store>> stores;  // keys compare byte by byte
  Store& GetOrCreate(const std::string& key);
};

// The handle under which this module's per-application data is kept by the host.
const void* ModuleHandle();

// The application at the top of the running application's parent chain.
VxApplication* TopLevelApplication(VxApplication* app);

// The top-level application's table, created and handed to the host when there is none.
GlobalDataTable& TableFor(const VxHostServices& host, VxApplication* app);

}  // namespace vellix
