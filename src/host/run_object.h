// The module's part of a run object, and the host services as the routines see them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "files/files.h"
#include "host/host_abi.h"
#include "search/search_results.h"
#include "store/settings.h"
#include "store/store.h"

namespace vellix {

// The module's fields, constructed in place after the host's header inside the block the
// host allocates for every run object. The object is its store's listener: the store calls
// Notify (NotifyRunObject) while the object is attached.
struct RunObject final : StoreListener {
  VxObjectHeader* header = nullptr;
  // The store in use: ownStore, or a shared one that the application's GlobalDataTable owns.
  Store* store = nullptr;
  std::unique_ptr<Store> ownStore;
  std::unique_ptr<SearchResults> searchResults;
  std::string baseFolder;
  std::string currentGroup;
  Folders createFolders = Folders::kLeave;  // what resolving a file's path does to its folders
  std::optional<ObjectSettings> settings;   // present exactly when the store is shared
  bool oneBasedIndex = false;
  bool autoLoad = false;
  bool raisingEvent = false;
  // The trigger conditions being raised on this object right now, one bit each.
  uint32_t raisingTriggers = 0;

  void Notify(int flags) override;

  // Host services of this object.
  void RaiseTrigger(int condition);
  static uint32_t TriggerBit(int condition) {
    return condition >= 0 && condition < 32 ? uint32_t{1} << condition : 0;
  }
  bool Raising(int condition) const { return (raisingTriggers & TriggerBit(condition)) != 0; }
  VxRunHeader* runHeader() const { return header->rh; }
  const VxHostServices* host() const { return header->rh ? header->rh->host : nullptr; }
  // Store index conversion: application indexes count from 0 unless the 1-based option is on.
  int64_t StoreIndex(int32_t index) const {
    return oneBasedIndex ? static_cast<int64_t>(index) : static_cast<int64_t>(index) + 1;
  }
};

// Where the module's fields live inside the host's block.
inline constexpr size_t kRunObjectOffset =
    (sizeof(VxObjectHeader) + alignof(RunObject) - 1) / alignof(RunObject) * alignof(RunObject);
static_assert(kRunObjectOffset + sizeof(RunObject) <= VX_RUN_OBJECT_SIZE,
              "the module's fields must fit in the host's run-object block");

inline RunObject& RunObjectOf(VxObjectHeader* header) {
  return *std::launder(
      reinterpret_cast<RunObject*>(reinterpret_cast<unsigned char*>(header) + kRunObjectOffset));
}

}  // namespace vellix
