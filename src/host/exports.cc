// The entry points the host resolves by name. Everything else in the module is hidden.
#include <cstddef>

#include "host/host_abi.h"
#include "host/lifecycle.h"
#include "host/tables.h"
#include "io/system.h"

// The build exports exactly these: through exports.def on Windows (by their plain names, with
// no @N decoration of the 32-bit calling convention), through the default visibility
// elsewhere, where everything else is hidden.
#ifdef _WIN32
#define VX_EXPORT extern "C"
#else
#define VX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using vellix::kActionCount;
using vellix::kConditionCount;
using vellix::kExpressionCount;

VX_EXPORT int VX_CALL GetInfos(int code) {
  switch (code) {
    case VX_INFO_VERSION:
      return VX_INFO_VERSION_ANSWER;
    case VX_INFO_PLUGIN:
      return VX_INFO_PLUGIN_ANSWER;
    case VX_INFO_PRODUCT:
      return VX_INFO_PRODUCT_ANSWER;
    case VX_INFO_BUILD:
      return VX_INFO_BUILD_ANSWER;
    default:
      return 0;
  }
}

VX_EXPORT int VX_CALL GetRunObjectInfos(void*, VxDescription* d) {
  if (d == nullptr) return 1;
  d->conditions = vellix::kConditions;
  d->actions = vellix::kActions;
  d->expressions = vellix::kExpressions;
  d->conditionCount = kConditionCount;
  d->actionCount = kActionCount;
  d->expressionCount = kExpressionCount;
  d->editDataSize = VX_EDIT_DATA_SIZE;
  d->objectFlags = VX_OBJECT_FLAGS;
  d->priority = VX_PRIORITY;
  d->editorOptions = VX_EDITOR_OPTIONS;
  d->identifier = VX_IDENTIFIER;
  d->version = VX_DESCRIPTION_VERSION;
  return 1;
}

VX_EXPORT int VX_CALL GetRunObjectDataSize(VxRunHeader*, const void*) { return VX_RUN_OBJECT_SIZE; }

// No exception may cross into the host (see tables.h).
VX_EXPORT int VX_CALL CreateRunObject(VxObjectHeader* object, const void* editData, void*) try {
  if (object == nullptr || editData == nullptr) return 0;
  vellix::CreateRunObject(object, static_cast<const uint8_t*>(editData));
  return 0;
} catch (...) {
  return 0;
}

VX_EXPORT int VX_CALL DestroyRunObject(VxObjectHeader* object, int) try {
  if (object != nullptr) vellix::DestroyRunObject(object);
  return 0;
} catch (...) {
  return 0;
}

VX_EXPORT int VX_CALL HandleRunObject(VxObjectHeader*) { return 1; }

VX_EXPORT void VX_CALL StartApp(const VxHostServices* host, VxApplication* app) try {
  vellix::StartApplication(host, app);
} catch (...) {
}

VX_EXPORT void VX_CALL EndApp(const VxHostServices* host, VxApplication* app) try {
  vellix::EndApplication(host, app);
} catch (...) {
}

// The default file is reported to the host only when it is an absolute path.
VX_EXPORT void VX_CALL UpdateFileNames(void*, void* hostValue, const void* editData,
                                       VxFileNameRoutine routine) {
  if (editData == nullptr || routine == nullptr) return;
  const char* name = static_cast<const char*>(editData) + offsetof(VxEditData, defaultFile);
  char buffer[VX_EDIT_FIELD_SIZE(defaultFile) + 1] = {};
  for (size_t i = 0; i < VX_EDIT_FIELD_SIZE(defaultFile) && name[i] != '\0'; ++i) {
    buffer[i] = name[i];
  }
  if (vellix::IsAbsolutePath(buffer)) routine(hostValue, buffer);
}

// The editor side and the per-frame hooks of the host: inert here.
#define VX_STUB(name, value) \
  VX_EXPORT vx_word VX_CALL name(void*, void*, void*, void*) { return value; }
#define VX_VOID_STUB(name) \
  VX_EXPORT void VX_CALL name(void*, void*, void*, void*) {}

VX_STUB(DisplayRunObject, 0)
VX_STUB(PauseRunObject, 0)
VX_STUB(ContinueRunObject, 0)
VX_STUB(GetDebugTree, 0)
VX_STUB(Free, 0)
VX_VOID_STUB(EditDebugItem)
VX_STUB(CreateObject, -1)
VX_STUB(GetConditionCodeFromMenu, -1)
VX_STUB(GetActionCodeFromMenu, -1)
VX_STUB(GetExpressionCodeFromMenu, -1)
VX_STUB(GetConditionMenu, 0)
VX_STUB(GetActionMenu, 0)
VX_STUB(GetExpressionMenu, 0)
VX_STUB(GetPropValue, 0)
VX_STUB(GetPropCheck, 0)
VX_STUB(GetPropCreateParam, 0)
VX_STUB(EditProp, 0)
VX_STUB(GetProperties, 1)
VX_STUB(IsPropEnabled, 1)
VX_STUB(GetTextFont, 1)
VX_STUB(SetTextFont, 1)
VX_STUB(Initialize, 0)
VX_STUB(UsesFile, 0)
VX_STUB(GetTextCaps, 0)
VX_STUB(GetTextAlignment, 0)
VX_STUB(GetTextClr, 0)
VX_STUB(GetConditionInfos, 0)
VX_STUB(GetActionInfos, 0)
VX_STUB(GetExpressionInfos, 0)
VX_STUB(UpdateEditStructure, 0)
VX_STUB(IsTransparent, 0)
VX_STUB(LoadObject, 0)
VX_STUB(EditObject, 0)
VX_STUB(GetFilters, 0)
VX_STUB(GetHelpFileName, 0)
VX_STUB(GetDependencies, 0)
VX_VOID_STUB(UnloadObject)
VX_VOID_STUB(PrepareToWriteObject)
VX_VOID_STUB(CreateFromFile)
VX_VOID_STUB(DuplicateObject)
VX_VOID_STUB(SetTextAlignment)
VX_VOID_STUB(SetTextClr)
VX_VOID_STUB(InitParameter)
VX_VOID_STUB(EditParameter)
VX_VOID_STUB(StartFrame)
VX_VOID_STUB(EndFrame)
VX_VOID_STUB(ReleaseProperties)
VX_VOID_STUB(GetDebugItem)
VX_VOID_STUB(PutObject)
VX_VOID_STUB(RemoveObject)
VX_VOID_STUB(GetObjectRect)
VX_VOID_STUB(GetConditionString)
VX_VOID_STUB(GetActionString)
VX_VOID_STUB(GetExpressionString)
VX_VOID_STUB(GetExpressionTitle)
VX_VOID_STUB(SetPropValue)
VX_VOID_STUB(SetPropCheck)
VX_VOID_STUB(ReleasePropCreateParam)
VX_VOID_STUB(GetParameterString)
VX_VOID_STUB(GetConditionTitle)
VX_VOID_STUB(GetActionTitle)
VX_VOID_STUB(GetExpressionParam)
VX_VOID_STUB(GetObjInfos)
