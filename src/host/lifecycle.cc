// Run-object creation and destruction, notifications, and the per-application tables.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "files/files.h"
#include "format/text.h"
#include "host/global_data.h"
#include "host/lifecycle.h"
#include "host/run_object.h"
#include "io/system.h"
#include "search/search_results.h"
#include "store/scoped_value.h"
#include "store/store.h"
#include "undo/undo.h"

namespace vellix {

namespace {

// The store names the repeat modes it runs with, the contract the values hosts store: the
// edit data's modes go into the store as they are.
constexpr bool Agree(int32_t store, int contract) { return store == contract; }
static_assert(Agree(kGroupRepeatFirst, VX_GROUP_REPEAT_FIRST) &&
              Agree(kGroupRepeatLast, VX_GROUP_REPEAT_LAST) &&
              Agree(kGroupRepeatRename, VX_GROUP_REPEAT_RENAME) &&
              Agree(kGroupRepeatMerge, VX_GROUP_REPEAT_MERGE));
static_assert(Agree(kItemRepeatFirst, VX_ITEM_REPEAT_FIRST) &&
              Agree(kItemRepeatLast, VX_ITEM_REPEAT_LAST) &&
              Agree(kItemRepeatRename, VX_ITEM_REPEAT_RENAME));

// Fields of the edit data. Texts end at their first zero byte or at their field's end.
template <size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

int32_t Int32(const uint8_t (&field)[4]) {
  const uint32_t v = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
                     static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
  return static_cast<int32_t>(v);
}

const char kModuleHandleByte = 0;

// A folder as the host reports it; where it reports none, the system's own (the Windows
// directory and the special folders on Windows; none on POSIX).
std::string HostFolder(const VxHostServices* host, int which) {
  const char* f = host != nullptr && host->folder != nullptr ? host->folder(which) : nullptr;
  if (f != nullptr && f[0] != '\0') return f;
  return SystemFolder(which == VX_FOLDER_APPDATA          ? KnownFolder::kAppData
                      : which == VX_FOLDER_COMMON_APPDATA ? KnownFolder::kCommonAppData
                                                          : KnownFolder::kSystem);
}

std::string ApplicationPath(VxApplication* running) {
  if (running == nullptr) return {};
  VxApplication* top = TopLevelApplication(running);
  const bool ownPath = top->path != nullptr && top->path[0] != '\0';
  const bool runningPath = (top->flags & VX_APP_RUNNING_PATH) != 0 || !ownPath;
  const char* path = runningPath ? running->path : top->path;
  return path ? std::string(path) : std::string();
}

std::string BaseFolderFor(int32_t choice, const VxRunHeader* rh) {
  const VxHostServices* host = rh ? rh->host : nullptr;
  switch (choice) {
    case VX_BASE_SYSTEM:
      return HostFolder(host, VX_FOLDER_SYSTEM);
    case VX_BASE_CURRENT:
      return CurrentDirectory();
    case VX_BASE_APPLICATION:
      return RemoveFileSpec(ApplicationPath(rh ? rh->app : nullptr));
    case VX_BASE_APPDATA:
    case VX_BASE_COMMON_APPDATA: {
      // The system folder stays when the special folder cannot be had.
      const int which = choice == VX_BASE_APPDATA ? VX_FOLDER_APPDATA : VX_FOLDER_COMMON_APPDATA;
      std::string special = HostFolder(host, which);
      return special.empty() ? HostFolder(host, VX_FOLDER_SYSTEM) : special;
    }
    default:
      return {};
  }
}

}  // namespace

// The module's own handle where the system gives modules one (its HINSTANCE on Windows),
// else the address of a byte of its own: either way, one key per loaded module.
const void* ModuleHandle() {
  const void* handle = ThisModuleHandle();
  return handle != nullptr ? handle : &kModuleHandleByte;
}

VxApplication* TopLevelApplication(VxApplication* app) {
  while (app != nullptr && app->parent != nullptr) app = app->parent;
  return app;
}

Store& GlobalDataTable::GetOrCreate(const std::string& key) {
  auto& slot = stores[key];
  if (!slot) slot = std::make_unique<Store>(&SaveStore);
  return *slot;
}

GlobalDataTable& TableFor(const VxHostServices& host, VxApplication* app) {
  VxApplication* top = TopLevelApplication(app);
  auto* table = static_cast<GlobalDataTable*>(host.loadApplicationData(top, ModuleHandle()));
  if (table == nullptr) {
    table = new GlobalDataTable();
    host.storeApplicationData(top, ModuleHandle(), table);
  }
  return *table;
}

void NotifyRunObject(RunObject& ro, int flags) {
  // Restored rather than cleared: a notification raised from inside another one (a save
  // from an "On Data Modified" handler) must not lift the outer guard.
  const ScopedValue<bool> raising(ro.raisingEvent, true);
  if (flags & kNotifyModified) ro.RaiseTrigger(VX_TRIGGER_DATA_MODIFIED);
  if (flags & kNotifySaving) ro.RaiseTrigger(VX_TRIGGER_SAVE);
  if (flags & kNotifyNewItem) ro.RaiseTrigger(VX_TRIGGER_NEW_ITEM);
}

void RunObject::Notify(int flags) { NotifyRunObject(*this, flags); }

namespace {

void SetUp(RunObject* ro, const uint8_t* editData) {
  VxObjectHeader* header = ro->header;
  VxEditData ed;
  std::memcpy(&ed, editData, sizeof ed);
  VxRunHeader* rh = header->rh;

  ro->oneBasedIndex = ed.oneBasedIndex != 0;
  ro->autoLoad = ed.autoLoad != 0;

  if (ed.globalData != 0 && rh != nullptr && rh->host != nullptr) {
    ro->settings.emplace();
    ro->store = &TableFor(*rh->host, rh->app).GetOrCreate(Text(ed.globalDataKey));
  } else {
    ro->ownStore = std::make_unique<Store>(&SaveStore);
    ro->store = ro->ownStore.get();
  }
  Store& store = *ro->store;
  DocumentSettings& settings = store.settings();

  ro->searchResults = std::make_unique<SearchResults>();
  ro->currentGroup.clear();

  ro->createFolders = ed.createFolders != 0 ? Folders::kCreate : Folders::kLeave;
  store.HoldNotifications();
  UndoStacks& undo = UndoOf(store);
  undo.undoDepth = ed.undoDepth;
  undo.redoDepth = ed.redoDepth;

  if (ed.standardSettings != 0) {
    store.ResetToStandardSettings();
    undo.autoUndoBlocks = true;
  } else {
    if (ed.customNewLine != 0) {
      settings.SetNewLine(Text(ed.newLine));
    } else {
      settings.UseStandardNewLine();
    }
    settings.alwaysQuote = ed.alwaysQuote != 0;
    settings.groupRepeatMode = Int32(ed.groupRepeatMode);
    settings.itemRepeatMode = ed.itemRepeatMode;
    settings.saveRepeatedAsOriginal = ed.saveRepeatedAsOriginal != 0;
    settings.escapeGroups = ed.escapeGroups != 0;
    settings.escapeItemNames = ed.escapeItemNames != 0;
    settings.escapeValues = ed.escapeValues != 0;
    store.SetCaseSensitive(ed.caseSensitive != 0);
    settings.subgroups = ed.subgroups != 0;
    settings.allowEmptyGroups = ed.allowEmptyGroups != 0;
    if (!settings.allowEmptyGroups) {
      store.RemoveEmptyGroups();
      store.AfterChange();
    }
  }
  settings.compressFile = ed.compression != 0;
  settings.encrypt = ed.encryption != 0;
  settings.encryptionKey = Text(ed.encryptionKey);
  settings.autoSave = ed.autoSave != 0;

  ro->baseFolder = BaseFolderFor(Int32(ed.baseFolder), rh);

  const std::string initial = Text(ed.initialData);
  if (!initial.empty()) {
    BeginUndoBlock(store);
    ParseText(store, initial);
  }

  const std::string defaultFile = Text(ed.defaultFile);
  if (ed.loadDefaultFile != 0 && !defaultFile.empty()) {
    BeginUndoBlock(store);
    settings.fileName = ResolvePath(ro->baseFolder, defaultFile, ro->createFolders);
    LoadFile(store, settings.fileName, settings.compressFile, settings.encrypt,
             settings.encryptionKey);
    if (ed.defaultReadOnly != 0) settings.readOnly = true;
    store.AfterChange();
  }

  store.Attach(*ro);
  ro->raisingEvent = false;
  if (ro->settings) store.SaveSettingsBack(*ro->settings);
}

}  // namespace

void CreateRunObject(VxObjectHeader* header, const uint8_t* editData) {
  auto* ro = new (reinterpret_cast<unsigned char*>(header) + kRunObjectOffset) RunObject();
  ro->header = header;
  try {
    SetUp(ro, editData);
  } catch (...) {
    // An object that could not be made whole (out of memory) is left without a store, so
    // that every routine of it does nothing (tables.h), and holds nothing: a store of its
    // own goes, a shared one forgets it.
    if (ro->store != nullptr) ro->store->Detach(*ro);
    ro->~RunObject();
    new (ro) RunObject();
    ro->header = header;
    throw;
  }
}

void DestroyRunObject(VxObjectHeader* header) {
  RunObject& ro = RunObjectOf(header);
  if (ro.store == nullptr) return;
  // Detached at once: when a handler destroys this object while the store is notifying,
  // the rest of that round must not reach it. Another object still attached to a shared
  // store keeps receiving its notifications; the shared store stays in its table.
  ro.store->Detach(ro);
  ro.store = nullptr;
  ro.~RunObject();
}

void StartApplication(const VxHostServices* host, VxApplication* app) {
  if (host == nullptr || app == nullptr || app->parent != nullptr) return;
  delete static_cast<GlobalDataTable*>(host->loadApplicationData(app, ModuleHandle()));
  host->storeApplicationData(app, ModuleHandle(), new GlobalDataTable());
}

void EndApplication(const VxHostServices* host, VxApplication* app) {
  if (host == nullptr || app == nullptr || app->parent != nullptr) return;
  auto* table = static_cast<GlobalDataTable*>(host->loadApplicationData(app, ModuleHandle()));
  if (table == nullptr) return;
  delete table;
  host->storeApplicationData(app, ModuleHandle(), nullptr);
}

}  // namespace vellix
