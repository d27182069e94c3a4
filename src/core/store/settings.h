// The settings a document runs with, and the copy an object keeps of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace vellix {

class StoreListener;

// What reading a group header that the document already has does (groupRepeatMode). Any
// other value is kept as given; the items under such a header go to the group before it.
enum GroupRepeatMode : int32_t {
  kGroupRepeatFirst = 0,   // the repeated header's items are dropped
  kGroupRepeatLast = 1,    // the group is read afresh
  kGroupRepeatRename = 2,  // the header starts the first free group "name.N"
  kGroupRepeatMerge = 3,   // the items go into the group that is there
};

// What reading an item name that its group already has does (itemRepeatMode). Any other
// value is kept as given and reads as kItemRepeatLast.
enum ItemRepeatMode : int32_t {
  kItemRepeatFirst = 0,   // the first value stays
  kItemRepeatLast = 1,    // the last value wins
  kItemRepeatRename = 2,  // the repeat is kept as the first free item "name.N"
};

// Format, file and policy settings of a document: one record, owned by its store, copied
// whole into and out of an object's ObjectSettings. Every switch takes any value; the one
// pair that must agree, the new-line text and its standard mode, changes only through the
// setters. Case sensitivity is not here: changing it re-keys the document, so the store
// keeps it and changes it only through Store::SetCaseSensitive.
class DocumentSettings {
 public:
  bool autoSave = true;          // the file is written after every change
  bool readOnly = false;         // the file is never written
  std::string fileName;          // the file the document is tied to; empty: none
  bool compressFile = false;     // the file is a compressed block
  bool encrypt = false;          // the file is enciphered with encryptionKey
  std::string encryptionKey;     // the key of the file's cipher
  bool escapeValues = false;     // item values are read and written with escapes
  bool escapeItemNames = false;  // item names are read and written with escapes
  bool escapeGroups = false;     // group names are read and written with escapes
  bool alwaysQuote = false;      // quotes around a value belong to it, read or written
  int32_t groupRepeatMode = kGroupRepeatMerge;  // a repeated group header (GroupRepeatMode)
  int32_t itemRepeatMode = kItemRepeatLast;     // a repeated item name (ItemRepeatMode)
  bool saveRepeatedAsOriginal = false;  // names are written without the part from their last dot
  bool subgroups = false;               // indented groups are read and written as subgroups
  bool allowEmptyGroups = true;         // a group may be left without items

  // The text lines end with: CR LF in standard mode, otherwise the custom text.
  std::string_view NewLineText() const {
    return standardNewLine_ ? std::string_view("\r\n") : std::string_view(newLine_);
  }
  bool standardNewLine() const { return standardNewLine_; }
  // The custom text; it is kept while standard mode is on.
  const std::string& newLine() const { return newLine_; }
  // The custom text becomes `text`; standard mode is on exactly when it is empty.
  void SetNewLine(std::string text) {
    standardNewLine_ = text.empty();
    newLine_ = std::move(text);
  }
  // Standard mode on; the custom text stays as it is.
  void UseStandardNewLine() { standardNewLine_ = true; }

 private:
  bool standardNewLine_ = true;  // never off while newLine_ is empty
  std::string newLine_;
};

// An object's own copy of its store's settings, kept when several objects share one store
// and put back into it before each call of an object that is not its owner.
struct ObjectSettings {
  DocumentSettings document;       // the store's settings record
  bool caseSensitive = false;      // the store's case rule
  StoreListener* owner = nullptr;  // the object these settings belong to
};

}  // namespace vellix
