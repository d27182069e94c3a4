// The edit's own use of POSIX: a private folder by mkdtemp, the editor through the shell.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tool.h"

namespace vellix::cli {

// mkdtemp makes the folder with mode 0700.
std::string MakePrivateFolder(int& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vellix-edit-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    error = errno;
    return {};
  }
  return folder;
}

// $VISUAL, else $EDITOR, else vi, through the shell (an editor may be given with options:
// "code --wait"), the path passed as the shell's own argument so that no character of it is
// taken as the shell's. The editor owns the terminal meanwhile.
int RunEditor(const std::string& path) {
  const char* editor = std::getenv("VISUAL");
  if (editor == nullptr || *editor == '\0') editor = std::getenv("EDITOR");
  if (editor == nullptr || *editor == '\0') editor = "vi";
  const std::string command = std::string(editor) + " \"$1\"";
  struct sigaction ignore {};
  struct sigaction oldInt {};
  struct sigaction oldQuit {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, &oldInt);
  ::sigaction(SIGQUIT, &ignore, &oldQuit);
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) {
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGQUIT, &oldQuit, nullptr);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), "sh", path.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = -1;
  if (child > 0) {
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGQUIT, &oldQuit, nullptr);
  if (child < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vellix::cli
