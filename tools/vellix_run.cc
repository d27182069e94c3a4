// vellix-run: runs a scenario script against the Vellix module inside the simulated host.
//
//   vellix-run [--trace] [--module PATH] SCRIPT      (SCRIPT "-" reads standard input)
//   vellix-run --help | --version
//
// Exit status 0 when the script ran to its end; 2 with "SCRIPT:LINE: what is wrong" on
// standard error for a bad line, and with a message for a bad command line or a module that
// cannot be loaded.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

#include "host.h"
#include "runner.h"
#include "system.h"

namespace {

constexpr const char* kUsage =
    "usage: vellix-run [--trace] [--module PATH] SCRIPT   (SCRIPT - reads standard input)\n";

int Usage(const std::string& why) {
  std::cerr << "vellix-run: " << why << "\n" << kUsage;
  return 2;
}

int Help() {
  std::cout
      << "vellix-run: runs a scenario script against the Vellix module in a simulated host\n"
      << kUsage
      << "\n"
         "Each line of SCRIPT is one command; what the object answers is printed on standard\n"
         "output, one line each. The run's working folder is the current folder.\n"
         "\n"
         "options:\n"
         "  --trace         begin every printed line with the number of the script line that\n"
         "                  printed it (\"4: \"; a handler's output \"4>2: \", the end's \"end: "
         "\")\n"
         "  --module PATH   the module to load (default: the one installed with this program)\n"
         "  --help          show this help and exit\n"
         "  --version       show the version and exit\n"
         "\n"
         "Exit status: 0 when the script ran to its end; 2 for a bad command line, a module\n"
         "that cannot be loaded, or a bad script line (\"SCRIPT:LINE: what is wrong\" on\n"
         "standard error; nothing after it runs).\n"
         "The scenario language is described in docs/scenarios.md.\n";
  return std::cout.flush() ? 0 : 2;
}

#ifndef VELLIX_MODULE_FILE
#define VELLIX_MODULE_FILE "libvellix.so"
#endif
#ifndef VELLIX_VERSION
#define VELLIX_VERSION "unknown"
#endif
#ifndef VELLIX_RUN_LIBDIR
#define VELLIX_RUN_LIBDIR "../lib"
#endif

// The module beside the program (the build tree), else in the library folder of the tree the
// program was installed into.
std::string DefaultModule() {
  const std::string program = vxsim::ProgramPath();
  if (program.empty()) return VELLIX_MODULE_FILE;
  const std::filesystem::path self(program);
  std::error_code ec;
  const std::filesystem::path beside = self.parent_path() / VELLIX_MODULE_FILE;
  if (std::filesystem::exists(beside, ec)) return beside.string();
  return (self.parent_path() / VELLIX_RUN_LIBDIR / VELLIX_MODULE_FILE).lexically_normal().string();
}

}  // namespace

int main(int argc, char** argv) {
  // Transcripts stay byte for byte.
  vxsim::UseBinaryStandardStreams();
  std::string module;
  std::string script;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Help();
    if (arg == "--version") {
      std::cout << "vellix-run " VELLIX_VERSION "\n";
      return std::cout.flush() ? 0 : 2;
    }
    if (arg == "--trace") {
      trace = true;
    } else if (arg == "--module") {
      if (i + 1 >= argc) return Usage("--module needs a path");
      module = argv[++i];
    } else if (arg.rfind("--module=", 0) == 0) {
      module = arg.substr(9);
    } else if (arg == "-" || arg.empty() || arg[0] != '-') {
      if (!script.empty()) return Usage("only one script can run at a time");
      script = arg;
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (script.empty()) return Usage("no script given");
  if (module.empty()) module = DefaultModule();
  // A bare file name is the one in the working folder, not one on the library search path.
  if (module.find_first_of("/\\") == std::string::npos) module = "./" + module;

  std::error_code ec;
  std::string work = std::filesystem::current_path(ec).string();
  if (ec) {
    std::cerr << "vellix-run: cannot tell the working folder: " << ec.message() << "\n";
    return 2;
  }

  std::ifstream file;
  std::istream* in = &std::cin;
  std::string scriptName = script == "-" ? "<stdin>" : script;
  if (script != "-") {
    file.open(script, std::ios::binary);
    if (!file) {
      std::cerr << "vellix-run: cannot open the script " << script << "\n";
      return 2;
    }
    in = &file;
  }

  try {
    vxsim::Host host(module, work);
    vxsim::Runner runner(host, scriptName, std::cout);
    runner.SetTrace(trace);
    runner.Run(*in);
  } catch (const vxsim::ScriptError& e) {
    std::cout.flush();
    std::cerr << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "vellix-run: " << e.what() << "\n";
    return 2;
  }
  std::cout.flush();
  return std::cout ? 0 : 2;
}
