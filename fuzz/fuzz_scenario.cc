// The scenario language end to end: any script either runs to its end or stops with a located
// error ("SCRIPT:LINE: ..."), and the simulated host and the module (linked in, instrumented)
// never crash on the way.
//
// Every token kind is also parsed on its own, escapes included. Before a script runs, "/" and
// "\" become "_" and ".." becomes "._", so every file the script or the module touches lies in
// a scratch folder, which is emptied after each run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "host.h"
#include "runner.h"
#include "token.h"

namespace {

std::filesystem::path scratch;

void ParseEveryToken(const std::string& script) {
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    try {
      for (const std::string& raw : vxsim::SplitLine(line)) {
        const vxsim::Token t = vxsim::ParseToken(raw);
        (void)vxsim::DescribeToken(t);
        if (t.kind == vxsim::TokenKind::Number) {
          (void)vxsim::NumberAsInt(t);
          (void)vxsim::NumberAsFloat(t);
        }
        (void)vxsim::ParseOption(raw);
      }
    } catch (const vxsim::SyntaxError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/vellix-fuzz-scenario-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
  scratch = folder;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string script(reinterpret_cast<const char*>(data), size);
  ParseEveryToken(script);

  for (char& c : script) {
    if (c == '/' || c == '\\') c = '_';
  }
  for (size_t at; (at = script.find("..")) != std::string::npos;) script[at + 1] = '_';

  static const vxsim::ModuleEntryPoints module{&GetRunObjectInfos, &GetRunObjectDataSize,
                                               &CreateRunObject,   &DestroyRunObject,
                                               &StartApp,          &EndApp};
  std::istringstream in(script);
  std::ostringstream out;
  try {
    vxsim::Host host(module, scratch.string());
    vxsim::Runner runner(host, "fuzz.vxs", out);
    runner.Run(in);
  } catch (const vxsim::ScriptError& e) {
    // A located error is the defined answer to a bad script.
    if (std::string(e.what()).rfind("fuzz.vxs:", 0) != 0) std::abort();
  }
  for (const auto& entry : std::filesystem::directory_iterator(scratch)) {
    std::filesystem::remove_all(entry.path());
  }
  return 0;
}
