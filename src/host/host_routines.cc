// Triggers, the settings actions and the inert dialog actions.
#include "files/files.h"
#include "host/global_data.h"
#include "host/routines.h"
#include "store/store.h"

namespace vellix {

bool Trigger(RunObject&, Params&) { return true; }

void SetAutoSave(RunObject& ro, Params& p) {
  const bool save = p.Int() != 0;
  const bool load = p.Int() != 0;
  ro.store->settings().autoSave = save;
  ro.autoLoad = load;
}

void SetCompression(RunObject& ro, Params& p) {
  const int32_t v = p.Int();
  if (v != -1) ro.store->settings().compressFile = v != 0;
}

void SetEncryption(RunObject& ro, Params& p) {
  std::string key = p.Text();
  DocumentSettings& settings = ro.store->settings();
  settings.encrypt = !key.empty();
  settings.encryptionKey = std::move(key);
}

void SetReadOnly(RunObject& ro, Params& p) { ro.store->settings().readOnly = p.Int() != 0; }

void SetCaseSensitiveAction(RunObject& ro, Params& p) { ro.store->SetCaseSensitive(p.Int() != 0); }

void SetEscapes(RunObject& ro, Params& p) {
  const bool groups = p.Int() != 0;
  const bool names = p.Int() != 0;
  const bool values = p.Int() != 0;
  DocumentSettings& settings = ro.store->settings();
  settings.escapeGroups = groups;
  settings.escapeItemNames = names;
  settings.escapeValues = values;
}

void SetQuoteStrings(RunObject& ro, Params& p) { ro.store->settings().alwaysQuote = p.Int() != 0; }

void SetRepeatModes(RunObject& ro, Params& p) {
  const int32_t groups = p.Int();
  const int32_t items = p.Int();
  const bool original = p.Int() != 0;
  DocumentSettings& settings = ro.store->settings();
  settings.groupRepeatMode = groups;
  settings.itemRepeatMode = items;
  settings.saveRepeatedAsOriginal = original;
}

void SetNewLineString(RunObject& ro, Params& p) { ro.store->settings().SetNewLine(p.Text()); }

void SetDefaultDirectory(RunObject& ro, Params& p) { ro.baseFolder = RemoveFileSpec(p.Text()); }

// The data-browser dialog is not part of this module: its window is never opened.
void OpenDialog(RunObject&, Params&) {}
void CloseDialog(RunObject&, Params&) {}
void RefreshDialog(RunObject&, Params& p) { p.Int(); }

void SetSubgroups(RunObject& ro, Params& p) {
  const bool subgroups = p.Int() != 0;
  const bool allowEmpty = p.Int() != 0;
  Store& store = *ro.store;
  store.settings().subgroups = subgroups;
  store.settings().allowEmptyGroups = allowEmpty;
  if (!allowEmpty) {
    store.RemoveEmptyGroups();
    store.AfterChange();
  }
}

// The object leaves its store without being attached to the new one: the new store keeps
// notifying only the objects created with it.
void ChangeGlobalSlot(RunObject& ro, Params& p) {
  const std::string slot = p.Text();
  // From a handler of the object's own triggers the store is in the middle of notifying:
  // leaving it then would free an own store under the operation that is running.
  if (ro.raisingEvent) return;
  VxRunHeader* rh = ro.runHeader();
  if (rh == nullptr || rh->host == nullptr) return;
  if (!ro.settings) {
    // Leaving an own store: its settings become the object's record, its data goes.
    ro.store->SaveSettingsBack(ro.settings.emplace());
    ro.settings->owner = &ro;  // the record is this object's, whoever the store named
  }
  ro.store->Detach(ro);
  ro.ownStore.reset();
  ro.store = &TableFor(*rh->host, rh->app).GetOrCreate(slot);
}

}  // namespace vellix
