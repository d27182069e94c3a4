// vellix edit: a file in the user's editor, deciphered and decompressed for the while, and
// written back only when the edited text reads back whole.
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "format/text.h"
#include "io/file_io.h"
#include "io/system.h"
#include "tool.h"

namespace vellix::cli {

namespace {

// The plain text of a save lives in a folder of its own that only its owner may enter, as a
// file only its owner may read (0600), and both go when the edit ends, however it ends.
class PrivateCopy {
 public:
  PrivateCopy(const std::string& file, const std::string& text) {
    int error = 0;
    folder_ = MakePrivateFolder(error);
    if (folder_.empty()) {
      throw Failure(kIoError, file,
                    std::string("no private folder for the edit: ") + std::strerror(error));
    }
    // The file's own name, so that the editor knows the kind of text.
    const size_t slash = file.find_last_of(std::string{'/', kPathSeparator});
    path_ = folder_ + kPathSeparator + (slash == std::string::npos ? file : file.substr(slash + 1));
    if (!WriteNewFile(path_, text, nullptr, error)) {
      throw Failure(kIoError, file, "the text for the editor cannot be written");
    }
  }
  ~PrivateCopy() {
    // An editor's own files (a swap file, a backup) go too.
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

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
