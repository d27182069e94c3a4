// Whole-file reading and crash-safe replacement, over a small table of system calls that
// tests can swap to inject faults (a read error, a full disk after N bytes, a folder that
// refuses new files, a failing flush or rename, an interrupted call, a short write).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vellix {

// The system calls used to read and write files: every call whose failure decides what a
// load takes in or what a save leaves on the disk. Every entry has the signature and error
// convention of the POSIX call it is named after (-1 and errno on failure). Calls that are
// only best effort (the owner and permission bits of a replacement, the removal of a killed
// save's leftovers) and calls on a descriptor that cannot fail once it is open (fstat, lseek)
// are made directly.
struct FileSystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* data, size_t size);
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*link)(const char* from, const char* to);
  int (*mkdir)(const char* path, mode_t mode);
  int (*unlink)(const char* path);
  int (*stat)(const char* path, struct stat* st);
  int (*ftruncate)(int fd, off_t length);
};

// The calls in use; tests replace entries and restore them with DefaultFileSystemCalls().
FileSystemCalls& FileSystem();
FileSystemCalls DefaultFileSystemCalls();

// Makes a call of the table, again for as long as a signal interrupts it (EINTR). An
// interrupted call has done nothing, so making it again is always safe; only some calls may
// be interrupted, but repeating every one keeps the rule in one place. Short reads and
// writes are the callers' to continue.
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

// Whether the path names a regular file that can be opened for reading (never waits).
bool FileReadable(const std::string& path);

// The device and inode of the regular file the path names (links followed); false when
// there is none. errno then says why: ENOENT when nothing is there, EISDIR or EINVAL for
// something that is no regular file, anything else when the path could not be looked at.
bool RegularFileIdentity(const std::string& path, uint64_t& device, uint64_t& inode);

// Replaces the file with `content`; false when the content could not be written.
//
// The normal way is atomic: a temporary file in the same folder is written, flushed and
// renamed over the old one, so the old file stays whole whatever fails, and no temporary
// file is left behind. The temporary name has the same length whatever the target's name,
// so every name that can exist can be saved. When the folder refuses new entries (no
// permission to create in it) but the file itself may be written, the file is written in
// place instead: its space is reserved first, then it is overwritten, cut to length and
// flushed; when one of these fails, its old bytes are written back. The replaced file keeps
// its owner and permission bits; a symbolic link is followed and its target replaced. Only
// regular files are written: a folder, a FIFO, a device or a socket is refused, and so is a
// target that cannot be looked at (an I/O error), as it may be a file to keep.
//
// With `keepOld`, the bytes of an existing file are first kept beside it, as NAME.unread-1
// or the first free number after it (an earlier copy is never replaced); when they cannot
// be kept, nothing is written.
//
// After a successful save, temporary files that a process killed while saving this same
// file left in its folder are removed.
bool ReplaceFile(const std::string& path, std::string_view content, bool keepOld = false);

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

// Writes the content of a file; false when it could not be produced or written.
using ContentProducer = std::function<bool(ByteWriter&)>;

// ReplaceFile with content that `produce` writes in pieces, straight into the temporary
// file, so that a large save never holds its whole content in memory. Everything else is as
// for ReplaceFile. In-place writing (a folder that refuses new files) needs the size before
// the first old byte is overwritten, so there the content is gathered in memory first.
bool ReplaceFileWith(const std::string& path, const ContentProducer& produce, bool keepOld = false);

}  // namespace vellix
