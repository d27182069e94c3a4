// Routines of the files room: the document's file, merging, whole-file compression, and the
// cipher expression.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "files/files.h"
#include "files/merge.h"
#include "host/objects.h"
#include "host/routines.h"
#include "io/blocks.h"
#include "io/file_io.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {

namespace {

// The file to merge from, read into a store of its own with this object's settings (format,
// compression, key). That store has no file of its own to save to and never auto-saves, so
// nothing done to it, down to dropping empty groups as the settings are applied, can write
// over this object's file or the file it was read from. Null when the file cannot be read.
std::unique_ptr<Store> ReadMergeSource(RunObject& ro, const std::string& path) {
  std::unique_ptr<Store> source = MakeTemporaryStore(*ro.store);
  if (!OpenFile(*source, ResolvePath(ro.baseFolder, path, Folders::kLeave), OpenMode::kAdoptFile)) {
    return nullptr;
  }
  return source;
}

}  // namespace

void MergeFromFile(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const bool allow = p.Int() != 0;
  const std::unique_ptr<Store> source = ReadMergeSource(ro, path);
  if (source == nullptr) return;
  MergeStore(*ro.store, source.get(), allow);
  ro.RaiseTrigger(VX_TRIGGER_MERGED);
}

void MergeGroupFromFile(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const std::string from = p.Text();
  const std::string to = p.Text();
  const bool allow = p.Int() != 0;
  const std::unique_ptr<Store> source = ReadMergeSource(ro, path);
  if (source == nullptr) return;
  MergeGroup(*ro.store, source.get(), from, to, allow);
  ro.RaiseTrigger(VX_TRIGGER_MERGED);
}

void MergeFromObject(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const bool allow = p.Int() != 0;
  RunObject* other = FindOtherObject(ro, name);
  if (other == nullptr) return;
  // A copy: this object's trigger handlers run while the items are set, and may change or
  // even free the other object's store.
  const std::unique_ptr<Store> source = CopyForMerge(*other->store);
  MergeStore(*ro.store, source.get(), allow);
  ro.RaiseTrigger(VX_TRIGGER_MERGED);
}

void MergeGroupFromObject(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string from = p.Text();
  const std::string to = p.Text();
  const bool allow = p.Int() != 0;
  RunObject* other = FindOtherObject(ro, name);
  if (other == nullptr) return;
  // MergeGroup takes the group's items before it sets the first one.
  MergeGroup(*ro.store, other->store, from, to, allow);
  ro.RaiseTrigger(VX_TRIGGER_MERGED);
}

void NewIni(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const bool keepData = p.Int() != 0;
  Store& store = *ro.store;
  const std::string resolved = ResolvePath(ro.baseFolder, path, ro.createFolders);
  if (keepData) {
    // The data now belongs to the new file; with auto save it is written there at once.
    store.settings().fileName = resolved;
    store.AfterChange();
    return;
  }
  // The old file is let go before clearing, so the clear cannot save an empty document
  // over it.
  store.settings().fileName.clear();
  store.ClearAll();
  store.settings().readOnly = false;
  store.settings().fileName = resolved;
}

void LoadIni(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const bool readOnly = p.Int() != 0;
  Store& store = *ro.store;
  // A file opened read-only is never written, so nothing is made for it.
  const std::string resolved =
      ResolvePath(ro.baseFolder, path, readOnly ? Folders::kLeave : ro.createFolders);
  store.settings().readOnly = readOnly;
  OpenFile(store, resolved, OpenMode::kAdoptFile);
}

void SaveIni(RunObject& ro, Params& p) {
  (void)p;
  SaveStore(*ro.store);
}

void SaveIniAs(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  SaveAs(*ro.store, ResolvePath(ro.baseFolder, path, ro.createFolders));
}

void BackupIni(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const bool compressed = p.Int() != 0;
  const std::string key = p.Text();
  // A backup is a copy: the store's file, read-only state and settings stay as they are.
  SaveFile(*ro.store, ResolvePath(ro.baseFolder, path, ro.createFolders), compressed, !key.empty(),
           key);
}

void CloseIni(RunObject& ro, Params& p) {
  (void)p;
  Store& store = *ro.store;
  store.settings().fileName.clear();
  // Closed from an "On Data Modified" handler, the store is emptied without raising that
  // trigger again: each raise would run the handler that closes, without end.
  if (store.Delivering(kNotifyModified)) {
    store.RemoveAllGroups();
  } else {
    store.ClearAll();
  }
  store.settings().readOnly = false;
}

void CompressFileAction(RunObject& ro, Params& p) {
  const std::string source = p.Text();
  const std::string destination = p.Text();
  CompressFile(ResolvePath(ro.baseFolder, source, Folders::kLeave),
               ResolvePath(ro.baseFolder, destination, ro.createFolders));
}

void DecompressFileAction(RunObject& ro, Params& p) {
  const std::string source = p.Text();
  const std::string destination = p.Text();
  // The guard stays up until the outcome has been raised. It is put back as it was rather
  // than cleared: when this action runs from one of the object's own trigger handlers, the
  // outer trigger is still being raised and must stay guarded.
  const ScopedValue<bool> raising(ro.raisingEvent, true);
  const bool ok = DecompressFile(ResolvePath(ro.baseFolder, source, Folders::kLeave),
                                 ResolvePath(ro.baseFolder, destination, ro.createFolders));
  // Called from a handler of either outcome, it decompresses without raising an outcome
  // again: each raise would run the same handler, without end.
  if (ro.Raising(VX_TRIGGER_UNCOMPRESSED) || ro.Raising(VX_TRIGGER_UNCOMPRESS_FAILED)) return;
  ro.RaiseTrigger(ok ? VX_TRIGGER_UNCOMPRESSED : VX_TRIGGER_UNCOMPRESS_FAILED);
}

void AddRepeated(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = p.Text();
  const int32_t mode = p.Int();
  AddRepeatedItem(*ro.store, group, item, value, mode);
}

void LoadWithOptions(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const uint8_t* block = p.Block();
  // Each option is a signed byte; a missing block reads as all options 0.
  const auto option = [block](int i) { return block ? static_cast<int8_t>(block[i]) : int8_t{0}; };
  const bool skipLoad = option(VX_LOAD_OPTION_SKIP_LOAD) != 0;
  const int nameMode = option(VX_LOAD_OPTION_NAME_MODE);
  const int clearMode = option(VX_LOAD_OPTION_CLEAR_MODE);
  const int flags = option(VX_LOAD_OPTION_FLAGS);
  const bool afterChange = (flags & VX_LOAD_AFTER_CHANGE) != 0;
  const bool readOnly = (flags & VX_LOAD_READ_ONLY) != 0;

  Store& store = *ro.store;
  const bool clearIfExists = clearMode == VX_CLEAR_WHEN_FILE_EXISTS;
  const bool exists =
      clearIfExists && FileReadable(ResolvePath(ro.baseFolder, path, Folders::kLeave));
  const ScopedValue<bool> hold(store.quiet, true, false);
  if (clearMode == VX_CLEAR_ALWAYS || (clearIfExists && exists)) {
    store.RemoveAllGroups();
  }
  bool read = false;
  if (!skipLoad) {
    store.settings().readOnly = readOnly;
    const std::string resolved =
        ResolvePath(ro.baseFolder, path, readOnly ? Folders::kLeave : ro.createFolders);
    read = OpenFile(store, resolved, OpenMode::kAddItems);
  }
  // The name is the text as given, not the resolved path.
  if (nameMode == VX_NAME_ALWAYS || (nameMode == VX_NAME_WHEN_READ && read)) {
    store.settings().fileName = path;
  }
  if (afterChange) store.AfterChange();
}

Value CryptExpression(RunObject& ro, Params& p) {
  (void)ro;
  std::string text = p.Text();
  const std::string key = p.Text();
  CipherBlock(text, key);
  // The result is a host text: it ends at the first zero byte the cipher produced.
  text.resize(std::strlen(text.c_str()));
  return Value::Str(std::move(text));
}

Value FilenameExpression(RunObject& ro, Params& p) {
  (void)p;
  return Value::Str(ro.store->settings().fileName);
}

}  // namespace vellix
