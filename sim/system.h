// What the simulated host does differently on each system: loading the module and finding
// its entry points, and binary standard streams. One implementation file per system
// (system_posix.cc, system_windows.cc), chosen by the build.
#ifndef VELLIX_SIM_SYSTEM_H
#define VELLIX_SIM_SYSTEM_H

#include <string>

namespace vxsim {

// Loads a module (dlopen, LoadLibrary); null with the system's reason in `why` when it
// cannot. The module stays loaded until the process ends.
void* LoadModuleFile(const std::string& path, std::string& why);

// The address of an exported entry point, by its plain name; null when there is none.
void* ModuleSymbol(void* module, const char* name);

// The path of the running program; "" when it cannot be told.
std::string ProgramPath();

// Standard input, output and error pass bytes unchanged (no CR added before LF).
void UseBinaryStandardStreams();

}  // namespace vxsim

#endif
