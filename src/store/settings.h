// The settings a document runs with, and the copy an object keeps of them.
#pragma once

#include <cstdint>
#include <string>

namespace vellix {

// Format, file and policy settings of a store (case sensitivity aside: changing it re-keys
// the document, so the store keeps that one itself).
struct DocumentSettings {
  bool autoSave = true;
  bool escapeValues = false;
  bool escapeItemNames = false;
  bool escapeGroups = false;
  bool alwaysQuote = false;
  bool readOnly = false;
  bool standardNewLine = true;
  std::string newLine;
  std::string fileName;
  bool encrypt = false;
  std::string encryptionKey;
  bool compressFile = false;
  int32_t groupRepeatMode = 3;
  int32_t itemRepeatMode = 1;
  bool saveRepeatedAsOriginal = false;
  bool subgroups = false;
  bool allowEmptyGroups = true;
};

// An object's own copy of its store's settings (ObjectSettings), kept when several objects
// share one store and put back into it before each call of its owner.
struct ObjectSettings : DocumentSettings {
  bool caseSensitive = false;
  const void* owner = nullptr;  // the run object these settings belong to
};

}  // namespace vellix
