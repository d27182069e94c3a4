// The edit's own use of Windows: a private folder among the user's temporary files, the
// editor through the command interpreter.
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tool.h"

namespace vellix::cli {

// The user's folder for temporary files is the user's own (its security admits no one
// else), and so is a folder made in it, which inherits that security.
std::string MakePrivateFolder(int& error) {
  char base[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) {
    error = ENOENT;
    return {};
  }
  const std::string prefix =
      std::string(base, n) + "vellix-edit-" + std::to_string(GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string folder = prefix + std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return {};
}

// %VISUAL%, else %EDITOR%, else Notepad, through the command interpreter (an editor may be
// given with options, or be a batch file: "code --wait"); the path in quotes.
int RunEditor(const std::string& path) {
  const char* editor = std::getenv("VISUAL");
  if (editor == nullptr || *editor == '\0') editor = std::getenv("EDITOR");
  if (editor == nullptr || *editor == '\0') editor = "notepad";
  const std::string command = std::string(editor) + " \"" + path + "\"";
  std::fflush(stdout);
  // An interrupt at the console reaches every process attached to it; this one ignores it
  // while the editor runs, and then still removes the plain text.
  const auto previous = std::signal(SIGINT, SIG_IGN);
  const int status = std::system(command.c_str());
  std::signal(SIGINT, previous);
  return status;
}

}  // namespace vellix::cli
