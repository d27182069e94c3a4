// The settings record that travels between a store and a run object (ObjectSettings).
#pragma once

#include <cstdint>
#include <string>

namespace vellix {

struct ObjectSettings {
  bool autoSave = true;
  bool caseSensitive = false;
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
  const void* owner = nullptr;  // the run object these settings belong to
  bool subgroups = false;
  bool allowEmptyGroups = true;
};

}  // namespace vellix
