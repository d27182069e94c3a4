// Whole-file reading and crash-safe replacement, over a small table of file-system calls
// that tests can swap to inject faults (a read error, a full disk after N bytes, a folder that
// refuses new files, a failing flush, close or rename, an interrupted call, a short write, a
// disk that stays broken) or to follow what reached the disk.
//
// The module is single-threaded: everything here runs on the host's thread, one call at a
// time. The table of calls is process-wide: one for every store and object of the process.
//
// This header is the whole interface of the room's platform layer. The logic (file_io.cc)
// uses nothing of the system but the table and the few best-effort helpers in `platform`;
// each system supplies both in a file of its own (file_io_posix.cc, ...).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

// What the file code needs to know about a file, as stat and fstat describe it.
enum class FileKind { kRegular, kFolder, kOther };
struct FileStatus {
  FileKind kind = FileKind::kOther;
  uint64_t size = 0;
  uint64_t device = 0;  // device and inode: the file's identity
  uint64_t inode = 0;
  uint32_t mode = 0;  // permission bits (07777)
  uint32_t owner = 0;
  uint32_t group = 0;
};

// How `open` opens; the bits combine.
enum OpenFlags : unsigned {
  kOpenRead = 1u,
  kOpenWrite = 2u,
  kOpenReadWrite = kOpenRead | kOpenWrite,
  kOpenCreateNew = 4u,  // creates the file; EEXIST when anything is at the path
  kOpenFolder = 8u,     // a folder, opened only to flush its entries
  kOpenNoWait = 16u,    // opening never waits (a FIFO with no writer); see FileControl
};

// What `fcntl` changes on an open descriptor.
enum class FileControl {
  kWait,  // ends the no-wait mode of kOpenNoWait, once the file is known to be regular
};

// The file-system calls whose outcome decides what a load takes in or what a save leaves on
// the disk. Every entry does what the POSIX call it is named after does, narrowed to what the
// file code asks of it, and reports failure the same way: -1 with an errno value (a system
// that has other error numbers translates them). Descriptors are small integers.
//   lseek      moves to `offset` from the start; returns the new offset
//   fallocate  reserves space for `length` bytes without changing the file's size;
//              EOPNOTSUPP where the file system cannot
//   access     0 when the process may write the file
//   rename     replaces `to`, when it exists, in one step
//   close      releases the descriptor also when it reports an error
// Calls that are only best effort (the owner and permission bits of a replacement, the
// removal of a killed save's leftovers) are in `platform` below.
struct FileSystemCalls {
  int (*open)(const char* path, unsigned flags, unsigned mode);
  ptrdiff_t (*read)(int fd, void* data, size_t size);
  ptrdiff_t (*write)(int fd, const void* data, size_t size);
  int64_t (*lseek)(int fd, int64_t offset);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*fstat)(int fd, FileStatus* st);
  int (*fcntl)(int fd, FileControl command);
  int (*fallocate)(int fd, int64_t length);
  int (*ftruncate)(int fd, int64_t length);
  int (*stat)(const char* path, FileStatus* st);
  int (*access)(const char* path);
  int (*rename)(const char* from, const char* to);
  int (*link)(const char* from, const char* to);
  int (*mkdir)(const char* path, unsigned mode);
  int (*unlink)(const char* path);
};

// The calls in use; tests replace entries and restore them with DefaultFileSystemCalls().
FileSystemCalls& FileSystem();
// The system's own calls (implemented once per system).
FileSystemCalls DefaultFileSystemCalls();

// What the file code asks of the system beyond the table: calls whose failure changes nothing
// a save decides, or that only look. Implemented once per system, beside the table.
namespace platform {
// The file a path finally names, following symbolic links (also a dangling one, whose target
// is then created); the path itself where it names no link or the chain does not end.
std::string FollowLinks(const std::string& path);
// Gives a new file the owner and permission bits of the file it replaces, as far as the
// process may (only a privileged one may give a file away).
void CopyOwnerAndBits(int fd, const FileStatus& from);
// Whether the process's user owns the file.
bool OwnsFile(const FileStatus& st);
// Asks the disk to start writing a range already written (a hint; a flush still follows).
void StartWriteBack(int fd, uint64_t offset, uint64_t length);
// The process's id, and whether the process with an id no longer runs.
uint64_t ProcessId();
bool ProcessGone(uint64_t id);
// The names in a folder ("" is the current folder), without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder);
}  // namespace platform

// Makes a call of the table, again for as long as a signal interrupts it (EINTR). An
// interrupted call has done nothing, so making it again is always safe; only some calls may
// be interrupted, but repeating every one keeps the rule in one place (close is the one
// exception, see file_io.cc). Short reads and writes are the callers' to continue.
template <typename Result, typename... Params, typename... Args>
Result Retrying(Result (*FileSystemCalls::*call)(Params...), Args... args) {
  Result result;
  do {
    result = (FileSystem().*call)(args...);
  } while (result < 0 && errno == EINTR);
  return result;
}

// What a read found besides the bytes.
struct ReadInfo {
  int error = 0;         // why the read failed (ENOENT: nothing there); 0 when it did not
  bool regular = false;  // a regular file is there, also when it could not be read
  uint64_t device = 0;   // its identity, when it is there
  uint64_t inode = 0;
};

// Reads a whole regular file into `out`. Only regular files are read (a symbolic link to one
// is followed): a FIFO, a device or a socket is refused without waiting on it, so a pipe no
// one writes to cannot hang a load and an endless source (/dev/zero) cannot fill memory. A
// read error fails the read, as does a file too large for memory: a part of a file is never
// passed off as the whole. False when the file was not read whole; `out` is then empty.
bool ReadWholeFile(const std::string& path, std::string& out, ReadInfo* info = nullptr);

// A regular file read in pieces from its start, with the checks of ReadWholeFile (only
// regular files, never waiting on one), so that a large file need not be held whole.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens the file; false when it cannot be, with `info` as ReadWholeFile gives it.
  bool Open(const std::string& path, ReadInfo& info);
  // Its size when it was opened.
  uint64_t size() const { return size_; }
  // Reads the next bytes, filling `data` unless the file ends first; 0, or the error.
  int Read(char* data, size_t size, size_t& got);
  // Goes back to the start; 0, or the error.
  int Rewind();

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Whether the path names a regular file that can be opened for reading (never waits).
bool FileReadable(const std::string& path);

// The device and inode of the regular file the path names (links followed). When there is
// none, `error` says why: ENOENT when nothing is there, EISDIR or EINVAL for something that is
// no regular file, anything else when the path could not be looked at.
bool RegularFileIdentity(const std::string& path, uint64_t& device, uint64_t& inode, int& error);

// Makes a folder and flushes its entry in the folder above, so that a file saved into it
// survives a power cut with it. 0, or the error (EEXIST when something is there).
int MakeFolder(const std::string& path);

// The step at which a save failed.
enum class SaveStep {
  kNone,           // nothing failed: the file holds the new content
  kExamine,        // the target cannot be looked at, is no regular file or may not be written
  kOpenTemporary,  // the temporary file beside the target could not be made
  kWrite,          // the content could not be written (error 0: it could not be produced)
  kFlush,          // what was written could not be flushed or closed
  kRename,         // the temporary file could not take the target's place
  kKeepUnread,     // the bytes of a file not read cleanly could not be kept beside it
  kWriteInPlace,   // writing over the file (in a folder that refuses new files) failed
};

// How a save went: the step that failed and the system's error number (0 when none applies).
// The object reports nothing to the application; the tool and the tests read this.
struct SaveStatus {
  SaveStep failed = SaveStep::kNone;
  int error = 0;

  bool ok() const { return failed == SaveStep::kNone; }
  explicit operator bool() const { return ok(); }
};

// The step in words, for messages ("the temporary file cannot be made").
const char* DescribeSaveStep(SaveStep step);

// What happens to the bytes of the file a save replaces.
enum class OldBytes {
  kReplace,     // they go
  kKeepBeside,  // they are kept beside it first, as NAME.unread-N
};

// Replaces the file with `content`.
//
// The normal way is atomic: a temporary file in the same folder is written, flushed and
// renamed over the old one, and the folder is flushed, so the old file stays whole whatever
// fails, and no temporary file is left behind. The temporary name has the same length
// whatever the target's name, so every name that can exist can be saved. When the folder
// refuses new entries, or refuses the rename over the old file (a folder with the sticky bit
// that belongs to someone else), but the file itself may be written, the file is written in
// place instead: its space is reserved first, then it is overwritten, cut to length and
// flushed; when one of these fails, its old bytes are written back. The replaced file keeps
// its owner and permission bits; a symbolic link is followed and its target replaced. Only
// regular files are written: a folder, a FIFO, a device or a socket is refused, and so is a
// target that cannot be looked at (an I/O error), as it may be a file to keep.
//
// With OldBytes::kKeepBeside, the bytes of an existing file are first kept beside it, as
// NAME.unread-1 or the first free number after it (an earlier copy is never replaced); when
// they cannot be kept, nothing is written.
//
// After a successful save, temporary files that a process killed while saving this same
// file left in its folder are removed.
SaveStatus ReplaceFile(const std::string& path, std::string_view content,
                       OldBytes old = OldBytes::kReplace);

// Where content produced in pieces goes. Append adds bytes at the end; Overwrite replaces
// bytes appended before (a length field known only at the end). Both are false when the
// bytes could not be written, and the producer then stops.
class ByteWriter {
 public:
  virtual bool Append(std::string_view bytes) = 0;
  virtual bool Overwrite(size_t offset, std::string_view bytes) = 0;

 protected:
  ~ByteWriter() = default;
};

// A ByteWriter that appends to a string in memory.
class StringWriter final : public ByteWriter {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  bool Append(std::string_view bytes) override;
  bool Overwrite(size_t offset, std::string_view bytes) override;

 private:
  std::string& out_;
};

// Writes the content of a file; false when it could not be produced or written. It may be
// called a second time for the same save, and must then write the same bytes.
using ContentProducer = std::function<bool(ByteWriter&)>;

// ReplaceFile with content that `produce` writes in pieces, straight into the temporary
// file, so that a large save never holds its whole content in memory. Everything else is as
// for ReplaceFile. In-place writing needs the size before the first old byte is overwritten,
// so there the content is gathered in memory (produced again, when the rename was refused).
SaveStatus ReplaceFileWith(const std::string& path, const ContentProducer& produce,
                           OldBytes old = OldBytes::kReplace);

}  // namespace vellix
