// Parameter reading, results and the common steps around every routine.
#include <cstring>

#include "files/files.h"
#include "host/routine.h"
#include "store/scoped_value.h"
#include "store/store.h"
#include "undo/undo.h"

namespace vellix {

vx_word Params::Read(int kind) {
  VxRunHeader* rh = header_->rh;
  int service = VX_SVC_READ_PARAMETER;
  if (expression_) {
    service = first_ ? VX_SVC_READ_FIRST_EXPR_PARAM : VX_SVC_READ_NEXT_EXPR_PARAM;
    first_ = false;
  }
  if (rh == nullptr || rh->services[service] == nullptr) return 0;
  return rh->services[service](header_, kind, 0);
}

std::string Params::Text() {
  const auto* text =
      reinterpret_cast<const char*>(Read(expression_ ? VX_KIND_TEXT : VX_KIND_STRUCTURED));
  return text ? std::string(text) : std::string();
}

int32_t Params::Int() { return static_cast<int32_t>(Read(VX_KIND_INTEGER)); }

float Params::Float() {
  const auto bits = static_cast<uint32_t>(static_cast<uintptr_t>(Read(VX_KIND_FLOAT)));
  float f = 0.0f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

const uint8_t* Params::Block() {
  const auto* record = reinterpret_cast<const uint8_t*>(Read(VX_KIND_STRUCTURED));
  return record ? record + VX_PARAM_DATA_OFFSET : nullptr;
}

std::string Params::ObjectName() {
  const auto* record = reinterpret_cast<const char*>(Read(VX_KIND_STRUCTURED));
  if (record == nullptr) return {};
  const char* name = record + VX_PARAM_DATA_OFFSET;
  return std::string(name, strnlen(name, 256));
}

void Params::Position(int16_t& first, int16_t& second) {
  const auto packed = static_cast<uint32_t>(static_cast<int32_t>(Read(VX_KIND_INTEGER)));
  first = static_cast<int16_t>(packed >> 16);
  second = static_cast<int16_t>(packed & 0xFFFFu);
}

vx_word ReturnText(VxObjectHeader* header, std::string_view text) {
  header->flags |= VX_RESULT_TEXT;
  VxRunHeader* rh = header->rh;
  if (rh == nullptr || rh->services[VX_SVC_ALLOCATE_RESULT_STRING] == nullptr) return 0;
  auto* space = reinterpret_cast<char*>(rh->services[VX_SVC_ALLOCATE_RESULT_STRING](
      header, static_cast<vx_word>(text.size() + 1), 0));
  if (space == nullptr) return 0;
  std::memcpy(space, text.data(), text.size());
  space[text.size()] = '\0';
  return reinterpret_cast<vx_word>(space);
}

void RunObject::RaiseTrigger(int condition) {
  VxRunHeader* rh = header->rh;
  if (rh == nullptr || rh->services[VX_SVC_RAISE_TRIGGER] == nullptr) return;
  const ScopedValue<uint32_t> raising(raisingTriggers, raisingTriggers | TriggerBit(condition));
  rh->services[VX_SVC_RAISE_TRIGGER](header, condition, 0);
}

void OpenFrame(RunObject& ro) {
  Store& store = *ro.store;
  if (ro.settings) store.ApplySettings(*ro.settings);
  // While the object raises its own triggers the store is in the middle of a change that
  // is not saved yet: reloading the file then would throw that change away.
  if (ro.autoLoad && !store.settings().fileName.empty() && !ro.raisingEvent) {
    OpenFile(store, store.settings().fileName, OpenMode::kAdoptFile);
  }
}

bool BeginModifying(RunObject& ro) {
  if (ro.raisingEvent) return false;
  BeginUndoBlock(*ro.store);
  return true;
}

void SaveSettingsBack(RunObject& ro) {
  if (ro.settings) ro.store->SaveSettingsBack(*ro.settings);
}

}  // namespace vellix
