// Start-up of an object on the simulated host, with the module linked in so that faults
// reach the files room's file-system calls.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string>

#include "file_helpers.h"
#include "host.h"
#include "runner.h"

namespace vellix {
namespace {

// The module is linked into this test, so that the file-system seam reaches it.
std::string RunScript(const std::string& work, const std::string& script) {
  const vxsim::ModuleEntryPoints inProcess{&GetRunObjectInfos, &GetRunObjectDataSize,
                                           &CreateRunObject,   &DestroyRunObject,
                                           &StartApp,          &EndApp};
  std::ostringstream out;
  std::istringstream in(script);
  vxsim::Host host(inProcess, work);
  vxsim::Runner runner(host, "t.vxs", out);
  runner.Run(in);
  return out.str();
}

// With auto save and a default file, creation writes the file back at once, with no user
// action: a file that could not be read keeps its bytes beside it, byte for byte.
TEST(StartUp, ADefaultFileThatCannotBeReadKeepsItsBytes) {
  TempFolder dir;
  static std::string target;
  target = dir / "save.ini";
  const std::string content = IniLikeText(10, 10);
  // Backslashes of a Windows path are escaped in the script's quotes.
  std::string quoted;
  for (char c : target) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
  const std::string script = "object ini standard=1 autosave=1 loaddefault=1 file=\"" + quoted +
                             "\"\nact ini 15 \"new\" \"k\" \"v\"\n";
  const std::string printed = "trigger ini 12\ntrigger ini 10\ntrigger ini 11\n";
  FaultInjection faults;

  // A read error in the middle of the file.
  WriteBytes(target, content);
  FaultInjection::FailReadsAfter(100);
  EXPECT_EQ(RunScript(dir.path(), script), printed);
  EXPECT_EQ(ReadBytes(target), "[new]\r\nk=v");
  EXPECT_EQ(ReadBytes(target + ".unread-1"), content);

  // A file that cannot be opened for reading (mode 0200 for everyone but the superuser).
  FileSystem() = DefaultFileSystemCalls();
  WriteBytes(target, content);
  FileSystem().open = [](const char* path, unsigned flags, unsigned mode) -> int {
    // The module writes the path in the system's own form ("\" on Windows).
    const auto slashes = [](std::string p) {
      std::replace(p.begin(), p.end(), '\\', '/');
      return p;
    };
    if (slashes(target) == slashes(path) && (flags & kOpenWrite) == 0) {
      errno = EACCES;
      return -1;
    }
    return System().open(path, flags, mode);
  };
  EXPECT_EQ(RunScript(dir.path(), script), printed);
  EXPECT_EQ(ReadBytes(target), "[new]\r\nk=v");
  EXPECT_EQ(ReadBytes(target + ".unread-2"), content);
  EXPECT_EQ(ReadBytes(target + ".unread-1"), content);
  EXPECT_EQ(Entries(dir.path()).size(), 3u);
}

}  // namespace
}  // namespace vellix
