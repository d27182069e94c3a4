// Run-object creation and destruction, notifications, and the per-application tables.
#include <unistd.h>

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
#include "search/search_results.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {

namespace {

// Edit data fields. Texts end at their first zero byte or at their field's end.
struct EditData {
  const uint8_t* bytes;

  bool Flag(size_t offset) const { return bytes[offset] != 0; }
  int8_t SignedByte(size_t offset) const { return static_cast<int8_t>(bytes[offset]); }
  int32_t Int32(size_t offset) const {
    uint32_t v = static_cast<uint32_t>(bytes[offset]) |
                 static_cast<uint32_t>(bytes[offset + 1]) << 8 |
                 static_cast<uint32_t>(bytes[offset + 2]) << 16 |
                 static_cast<uint32_t>(bytes[offset + 3]) << 24;
    return static_cast<int32_t>(v);
  }
  std::string Text(size_t offset, size_t size) const {
    const char* start = reinterpret_cast<const char*>(bytes + offset);
    return std::string(start, strnlen(start, size));
  }
};

enum : size_t {
  kLoadDefaultFile = 20,
  kDefaultReadOnly = 21,
  kDefaultFile = 22, kDefaultFileSize = 260,
  kBaseFolder = 284,
  kInitialData = 288, kInitialDataSize = 3000,
  kCreateFolders = 3288,
  kAutoSave = 3289,
  kStandardSettings = 3290,
  kCompression = 3291,
  kEncryption = 3292,
  kKey = 3293, kKeySize = 128,
  kCustomNewLine = 3421,
  kNewLine = 3422, kNewLineSize = 10,
  kAlwaysQuote = 3432,
  kGroupRepeat = 3436,
  kItemRepeat = 3440,
  kUndoSize = 3441,
  kRedoSize = 3442,
  kSaveOriginal = 3444,
  kEscapeGroups = 3445,
  kEscapeNames = 3446,
  kEscapeValues = 3447,
  kCaseSensitive = 3448,
  kGlobalData = 3449,
  kOneBased = 3450,
  kAutoLoad = 3451,
  kSubgroups = 3452,
  kEmptyGroups = 3453,
  kGlobalKey = 3454, kGlobalKeySize = 34,
};

const char kModuleHandleByte = 0;

std::string HostFolder(const VxHostServices* host, int which) {
  if (host == nullptr || host->folder == nullptr) return {};
  const char* f = host->folder(which);
  return f ? std::string(f) : std::string();
}

std::string ApplicationPath(VxApplication* running) {
  if (running == nullptr) return {};
  VxApplication* top = TopLevelApplication(running);
  const bool ownPath = top->path != nullptr && top->path[0] != '\0';
  const char* path = ((top->flags & 0x8000u) != 0 || !ownPath) ? running->path : top->path;
  return path ? std::string(path) : std::string();
}

std::string BaseFolderFor(int32_t choice, const VxRunHeader* rh) {
  const VxHostServices* host = rh ? rh->host : nullptr;
  switch (choice) {
    case 0:
      return HostFolder(host, VX_FOLDER_SYSTEM);
    case 1: {
      std::string cwd(4096, '\0');
      while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) return {};
        cwd.resize(cwd.size() * 2);
      }
      cwd.resize(std::strlen(cwd.c_str()));
      return cwd;
    }
    case 2:
      return RemoveFileSpec(ApplicationPath(rh ? rh->app : nullptr));
    case 3:
    case 4: {
      // The system folder stays when the special folder cannot be had.
      std::string special =
          HostFolder(host, choice == 3 ? VX_FOLDER_APPDATA : VX_FOLDER_COMMON_APPDATA);
      return special.empty() ? HostFolder(host, VX_FOLDER_SYSTEM) : special;
    }
    default:
      return {};
  }
}

}  // namespace

const void* ModuleHandle() { return &kModuleHandleByte; }

VxApplication* TopLevelApplication(VxApplication* app) {
  while (app != nullptr && app->parent != nullptr) app = app->parent;
  return app;
}

Store& GlobalDataTable::GetOrCreate(const std::string& key) {
  auto& slot = stores[key];
  if (!slot) slot = std::make_unique<Store>();
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

void NotifyRunObject(void* listener, int flags) {
  if (listener == nullptr) return;
  RunObject& ro = *static_cast<RunObject*>(listener);
  // Restored rather than cleared: a notification raised from inside another one (a save
  // from an "On Data Modified" handler) must not lift the outer guard.
  const ScopedValue<bool> raising(ro.raisingEvent, true);
  if (flags & kNotifyModified) ro.RaiseTrigger(10);
  if (flags & kNotifySaving) ro.RaiseTrigger(11);
  if (flags & kNotifyNewItem) ro.RaiseTrigger(12);
}

void CreateRunObject(VxObjectHeader* header, const uint8_t* editData) {
  auto* ro = new (reinterpret_cast<unsigned char*>(header) + kRunObjectOffset) RunObject();
  ro->header = header;
  const EditData ed{editData};
  VxRunHeader* rh = header->rh;

  ro->oneBasedIndex = ed.Flag(kOneBased);
  ro->autoLoad = ed.Flag(kAutoLoad);

  if (ed.Flag(kGlobalData) && rh != nullptr && rh->host != nullptr) {
    ro->settings = new ObjectSettings();
    ro->settings->newLine.clear();
    ro->store = &TableFor(*rh->host, rh->app).GetOrCreate(ed.Text(kGlobalKey, kGlobalKeySize));
  } else {
    ro->store = new Store();
  }
  Store& store = *ro->store;

  ro->searchResults = new SearchResults();
  ro->currentGroup.clear();

  ro->createFolders = ed.Flag(kCreateFolders);
  store.notify = nullptr;
  store.undoDepth = ed.SignedByte(kUndoSize);
  store.redoDepth = ed.SignedByte(kRedoSize);

  if (ed.Flag(kStandardSettings)) {
    store.ResetToStandardSettings();
  } else {
    if (ed.Flag(kCustomNewLine)) {
      store.SetNewLine(ed.Text(kNewLine, kNewLineSize));
    } else {
      store.standardNewLine = true;
    }
    store.alwaysQuote = ed.Flag(kAlwaysQuote);
    store.groupRepeatMode = ed.Int32(kGroupRepeat);
    store.itemRepeatMode = ed.SignedByte(kItemRepeat);
    store.saveRepeatedAsOriginal = ed.Flag(kSaveOriginal);
    store.escapeGroups = ed.Flag(kEscapeGroups);
    store.escapeItemNames = ed.Flag(kEscapeNames);
    store.escapeValues = ed.Flag(kEscapeValues);
    store.SetCaseSensitive(ed.Flag(kCaseSensitive));
    store.subgroups = ed.Flag(kSubgroups);
    store.allowEmptyGroups = ed.Flag(kEmptyGroups);
    if (!store.allowEmptyGroups) {
      store.RemoveEmptyGroups();
      store.AfterChange();
    }
  }
  store.compressFile = ed.Flag(kCompression);
  store.encrypt = ed.Flag(kEncryption);
  store.encryptionKey = ed.Text(kKey, kKeySize);
  store.autoSave = ed.Flag(kAutoSave);

  ro->baseFolder = BaseFolderFor(ed.Int32(kBaseFolder), rh);

  const std::string initial = ed.Text(kInitialData, kInitialDataSize);
  if (!initial.empty()) {
    store.BeginUndoBlock();
    ParseText(store, initial, false, false);
  }

  const std::string defaultFile = ed.Text(kDefaultFile, kDefaultFileSize);
  if (ed.Flag(kLoadDefaultFile) && !defaultFile.empty()) {
    store.BeginUndoBlock();
    store.fileName = ResolvePath(ro->baseFolder, defaultFile, ro->createFolders);
    LoadFile(store, store.fileName, store.compressFile, store.encrypt, store.encryptionKey);
    if (ed.Flag(kDefaultReadOnly)) store.readOnly = true;
    store.AfterChange();
  }

  store.Attach(ro);
  store.owner = ro;
  store.notify = &NotifyRunObject;
  ro->raisingEvent = false;
  if (ro->settings != nullptr) store.SaveSettingsBack(*ro->settings);
}

void DestroyRunObject(VxObjectHeader* header) {
  RunObject& ro = RunObjectOf(header);
  if (ro.store == nullptr) return;
  Store& store = *ro.store;
  // Detached at once: when a handler destroys this object while the store is notifying,
  // the rest of that round must not reach it.
  store.Detach(&ro);
  // Another object still attached to a shared store keeps receiving its notifications.
  if (store.listeners.empty()) store.notify = nullptr;
  // The owner must never name a destroyed object: saves notify it, and settings are
  // compared against it.
  if (store.owner == &ro) store.owner = nullptr;
  if (ro.settings == nullptr) {
    delete ro.store;
  } else {
    delete ro.settings;
  }
  ro.store = nullptr;
  ro.settings = nullptr;
  delete ro.searchResults;
  ro.searchResults = nullptr;
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
