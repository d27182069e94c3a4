// vellix, the command-line tool for the object's files: what its parts share.
//
// The tool is a thin layer over the module's own store, format and files code: documents
// are read with LoadFile/LoadBytes and written with EncodeDocument and ReplaceFile, so the
// tool and the object agree on every setting. It links no host code.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "files/files.h"
#include "io/file_io.h"
#include "io/file_lock.h"
#include "store/settings.h"
#include "store/store.h"

namespace vellix::cli {

// Exit codes.
enum Exit : int { kOk = 0, kNotFound = 1, kUsage = 2, kUndecodable = 3, kIoError = 4 };

// A failure that ends the command: one line on standard error, "vellix: FILE: reason",
// and the exit code.
struct Failure : std::runtime_error {
  Failure(int code, std::string file, const std::string& reason)
      : std::runtime_error(reason), code(code), file(std::move(file)) {}
  int code;
  std::string file;
};

// How a file is read and written: the document's format settings and its key.
struct FileSettings {
  DocumentSettings document;
  bool caseSensitive = false;
  // Control bytes in the text are taken for a wrong or missing key unless this is set.
  bool controlBytes = false;
  // --newline was given: the line ends of a write are the ones asked for, not the file's.
  bool newLineGiven = false;
  // --force: a file whose reading lost or moved a line may be written all the same.
  bool force = false;
  // --lock-wait: how long a writer waits for another writer of the same file.
  double lockWaitSeconds = 10;
};

// How names and values that are not valid UTF-8 travel in JSON (docs/cli.md): by default
// such a text becomes {"latin1": "..."}, each byte the code point of the same number; with
// latin1 every text is read that way and is always a plain string.
enum class Encoding { kUtf8, kLatin1 };

// What a command does with a document it reads.
enum class Use {
  kShow,            // only shows it: a line the reader did not take in is no matter
  kCopy,            // writes what it read elsewhere: it must have been read without loss
                    // (or --force)
  kChange,          // writes it back: the same, and the file is locked from the read on
  kChangeOrCreate,  // the same, and a FILE that does not exist gives an empty document
};

// Shows on standard error how far a long piece of work has come, when standard error is a
// terminal and the command has worked for more than a second; the line goes again at the end.
// `total` (0: unknown) gives the percentage.
class Progress {
 public:
  explicit Progress(std::string what, uint64_t total = 0);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Add(uint64_t bytes) { Show(done_ + bytes, total_); }
  void Show(uint64_t done, uint64_t total);

 private:
  std::string what_;
  uint64_t total_;
  uint64_t done_ = 0;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point next_;
};

// A document and how its file was read.
struct Document {
  std::unique_ptr<Store> store;
  LoadReport report;
  bool existed = false;  // read from a file (not made empty for a FILE that was not there)
  // A command that changes the file holds its lock from before the read until the write
  // is done, so that two writers at once cannot lose each other's change.
  FileLock lock;
};

// Takes the lock of FILE for writing it (nothing for standard output); a Failure (exit 4)
// when another writer holds it for longer than the settings' wait.
// Writes `bytes` to a new file at `path` and flushes it; EEXIST in `error` when anything is
// there. The file has the permission bits (and, as far as the process may, the owner) of
// `like` from the start, or is its owner's alone (0600). Nothing is left behind on failure.
bool WriteNewFile(const std::string& path, std::string_view bytes, const FileStatus* like,
                  int& error);

void LockForWriting(FileLock& lock, const std::string& file, const FileSettings& settings);

// A document read from FILE ("-": standard input) with the settings. A load that did not
// take the whole file in (missing, unreadable, a bad compressed block, zero bytes in the
// text) is a Failure, so no command acts on part of a file; so is, for a command that
// changes the file, a line the reader skipped, folded or overrode (unless --force).
Document ReadDocument(const std::string& file, const FileSettings& settings, Use use = Use::kShow);

// Gives the document these format settings (what the writer and the parser follow).
void Adopt(Store& store, const FileSettings& settings);

// Writes the document to FILE ("-": standard output) with the settings, replacing the file
// atomically (its permission bits kept, symbolic links followed). With `backup`, the bytes
// FILE had are first kept in FILE.bak. `shape` is how the text read had its lines end (null:
// a new file): a plain text is written with the same line ends unless --newline says
// otherwise, a new one with LF, each line ended.
void WriteDocument(const Store& store, const std::string& file, const FileSettings& settings,
                   bool backup, const TextShape* shape);

// The INI text of a document as it is shown on standard output: LF line ends (unless
// --newline asks for others), the last line ended too.
std::string ShownText(const Store& store, const FileSettings& settings);

// Whether the settings can hold this document: its text, read back with the same settings,
// gives the same groups, items and values. A value with a line break, edge blanks or
// enclosing quotes, for example, needs escapes or quoting to survive. A Failure (exit 2,
// with what would hold it) when they cannot.
void CheckReadsBack(const Store& document, const std::string& file);

// Writes a document a command changed back to the file it was read from (`read`), in the
// file's line ends. A name cut at its last dot (--save-original) may change, so the whole
// document is then read back first.
void WriteChanged(const Store& store, const std::string& file, const FileSettings& settings,
                  bool backup, const Document& read);

// vellix edit FILE (edit.cc).
int Edit(const std::string& file, const FileSettings& settings, bool backup);

// The system's own part of the edit (edit_posix.cc, edit_windows.cc).
// Makes a new folder that only the user may enter, among the system's temporary files; its
// path, or "" with the reason in `error`.
std::string MakePrivateFolder(int& error);
// Runs the user's editor on the file at `path` and waits for it to end; its exit status, or
// -1 when it could not be started. An interrupt meanwhile ends the editor, not this process.
int RunEditor(const std::string& path);

// A name in a message: in double quotes.
std::string Quoted(std::string_view name);

// Reads a whole file or standard input ("-"); a Failure when it cannot.
std::string ReadInput(const std::string& file);

// ---- JSON (json.cc)

// The whole document, or one group, as JSON text (with a final new line).
std::string DocumentToJson(const Store& store, Encoding encoding);
std::string GroupToJson(const Group& group, Encoding encoding);
using Json = nlohmann::ordered_json;
// One name or value as a JSON value, by the encoding's rule.
Json TextToJson(std::string_view text, Encoding encoding);
// Reads JSON in the form DocumentToJson (or, with `group`, GroupToJson) writes into the
// store. `source` names the input in errors. Nothing is set when the JSON is not valid.
void ImportJson(Store& store, const std::string& json, const std::string& source, Encoding encoding,
                const std::string* group);

}  // namespace vellix::cli
