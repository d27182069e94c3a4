// vellix edit: a file in the user's editor, deciphered and decompressed for the while, and
// written back only when the edited text reads back whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "format/text.h"
#include "io/file_io.h"
#include "tool.h"

namespace vellix::cli {

namespace {

// The plain text of a save lives in a folder of its own (mode 0700) as a file only its
// owner may read (0600), and both go when the edit ends, however it ends.
class PrivateCopy {
 public:
  PrivateCopy(const std::string& file, const std::string& text) {
    const char* tmp = std::getenv("TMPDIR");
    folder_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vellix-edit-XXXXXX";
    if (::mkdtemp(folder_.data()) == nullptr) {
      const int error = errno;
      folder_.clear();
      throw Failure(kIoError, file,
                    std::string("no private folder for the edit: ") + std::strerror(error));
    }
    // The file's own name, so that the editor knows the kind of text.
    const size_t slash = file.rfind('/');
    path_ = folder_ + "/" + (slash == std::string::npos ? file : file.substr(slash + 1));
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    size_t done = 0;
    while (ok && done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) throw Failure(kIoError, file, "the text for the editor cannot be written");
  }
  ~PrivateCopy() {
    if (!path_.empty()) ::unlink(path_.c_str());
    if (!folder_.empty()) {
      // An editor's own files (a swap file, a backup) go too.
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
    }
  }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

// Runs $VISUAL, else $EDITOR, else vi on the path, through the shell (an editor may be
// given with options: "code --wait"); the exit status, or -1 when it could not run. The
// editor owns the terminal meanwhile: an interrupt ends it, not this process, which then
// still removes the plain text.
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

}  // namespace

int Edit(const std::string& file, const FileSettings& settings, bool backup) {
  Document document = ReadDocument(file, settings, Use::kChangeOrCreate);
  const std::string before = ShownText(*document.store, settings);
  std::string after;
  {
    const PrivateCopy copy(file, before);
    const int status = RunEditor(copy.path());
    if (status != 0) {
      throw Failure(kIoError, file,
                    "the editor failed (exit " + std::to_string(status) + "); nothing written");
    }
    ReadInfo info;
    if (!ReadWholeFile(copy.path(), after, &info)) {
      throw Failure(kIoError, file, "the edited text cannot be read back; nothing written");
    }
  }
  if (after == before) return kOk;  // nothing changed: nothing to write
  // The edited text must read back whole with the file's settings: no zero byte, no line
  // the reader would skip, fold or override, no line too long.
  if (after.find('\0') != std::string::npos) {
    throw Failure(kUndecodable, file, "the edited text has a zero byte; nothing written");
  }
  const std::unique_ptr<Store> edited = MakeTemporaryStore(*document.store);
  edited->RemoveAllGroups();
  const ParseResult parsed = ParseText(*edited, after);
  if (parsed.refused) {
    throw Failure(kUndecodable, file, "the edited text has a line too long; nothing written");
  }
  if (parsed.loss.line != 0 && !settings.force) {
    throw Failure(kUndecodable, file,
                  "the edited text's " + DescribeLoss(parsed.loss) +
                      "; --force writes anyway; nothing written");
  }
  Adopt(*edited, settings);
  WriteChanged(*edited, file, settings, backup, document);
  return kOk;
}

}  // namespace vellix::cli
