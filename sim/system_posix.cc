// The POSIX side of system.h.
#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "system.h"

namespace vxsim {

void* LoadModuleFile(const std::string& path, std::string& why) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    why = reason ? reason : "unknown error";
  }
  return module;
}

void* ModuleSymbol(void* module, const char* name) { return dlsym(module, name); }

std::string ProgramPath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

void UseBinaryStandardStreams() {}

}  // namespace vxsim
