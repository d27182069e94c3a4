// Loading the module: resolving its entry points, entering them, and asking it to describe
// itself when the host starts.
#include "host_parts.h"
#include "system.h"

namespace vxsim {
namespace {

template <class T>
T Resolve(void* module, const char* name, bool required) {
  void* symbol = ModuleSymbol(module, name);
  if (!symbol && required) throw HostError(std::string("the module does not export ") + name);
  return reinterpret_cast<T>(symbol);
}

}  // namespace

ModuleEntryPoints LoadModule(const std::string& modulePath) {
  std::string why;
  void* module = LoadModuleFile(modulePath, why);
  if (!module) throw HostError("cannot load the module " + modulePath + ": " + why);
  ModuleEntryPoints entry;
  entry.getRunObjectInfos = Resolve<VxGetRunObjectInfosFn>(module, "GetRunObjectInfos", true);
  entry.getRunObjectDataSize =
      Resolve<VxGetRunObjectDataSizeFn>(module, "GetRunObjectDataSize", true);
  entry.createRunObject = Resolve<VxCreateRunObjectFn>(module, "CreateRunObject", true);
  entry.destroyRunObject = Resolve<VxDestroyRunObjectFn>(module, "DestroyRunObject", true);
  entry.startApp = Resolve<VxAppFn>(module, "StartApp", true);
  entry.endApp = Resolve<VxAppFn>(module, "EndApp", true);
  // The module stays loaded: a module's static destructors and the leak checker's symbols
  // both need it until the process ends.
  return entry;
}

Host::Host(const std::string& modulePath, std::string workFolder)
    : Host(LoadModule(modulePath), std::move(workFolder)) {}

Host::Host(const ModuleEntryPoints& entry, std::string workFolder)
    : workFolder_(std::move(workFolder)) {
  if (g_host) throw HostError("only one simulated host can run at a time");
  if (!entry.getRunObjectInfos || !entry.getRunObjectDataSize || !entry.createRunObject ||
      !entry.destroyRunObject || !entry.startApp || !entry.endApp) {
    throw HostError("the module lacks an entry point");
  }
  entry_ = entry;
  Enter("GetRunObjectInfos", [&] { return entry_.getRunObjectInfos(nullptr, &description_); });
  if ((description_.conditionCount && !description_.conditions) ||
      (description_.actionCount && !description_.actions) ||
      (description_.expressionCount && !description_.expressions)) {
    throw HostError("the module's description has a routine count without a table");
  }

  folders_[VX_FOLDER_SYSTEM] = workFolder_ + "/system";
  folders_[VX_FOLDER_APPDATA] = workFolder_ + "/appdata";
  folders_[VX_FOLDER_COMMON_APPDATA] = workFolder_ + "/commonappdata";
  WireHostServices();

  auto main = std::make_unique<Application>();
  main->name = "main";
  apps_.push_back(std::move(main));
  running_ = apps_.front().get();
  OptionsChanged(*running_);
  g_host = this;
}

Host::~Host() {
  if (started_ && !finished_) Abandon();
  for (auto& [block, size] : blocks_) std::free(block);
  for (void* r : looseResults_) std::free(r);
  g_host = nullptr;
}

}  // namespace vxsim
