#include "io/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>

#include "io/system.h"

namespace vellix {

namespace {

// A descriptor closed on every way out.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    Reset(other.fd_);
    other.fd_ = -1;
    return *this;
  }
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now; false when closing reports an error (a delayed write error on some systems).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || CloseFile(fd);
  }

 private:
  void Reset(int fd) {
    if (fd_ >= 0) {
      const int saved = errno;
      CloseFile(fd_);
      errno = saved;
    }
    fd_ = fd;
  }
  int fd_ = -1;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  return Retrying(&FileSystemCalls::open, path, flags, mode);
}

int FsyncRetrying(int fd) { return Retrying(&FileSystemCalls::fsync, fd); }

void Unlink(const std::string& path) { Retrying(&FileSystemCalls::unlink, path.c_str()); }

// Opens a regular file without ever waiting: opening a FIFO returns at once, and anything
// that is not a regular file (on disk) is then refused. `st` describes the file.
Fd OpenRegular(const std::string& path, int access, OpenFileInfo& st) {
  Fd fd(OpenRetrying(path.c_str(), access | kOpenNoWait));
  if (!fd) return fd;
  if (!DescribeOpenFile(fd.get(), st)) return Fd();
  if (!st.regular) {
    errno = st.directory ? EISDIR : EINVAL;
    return Fd();
  }
  ClearNoWait(fd.get());
  return fd;
}

bool ReadAll(int fd, char* data, size_t size, size_t& got) {
  got = 0;
  while (got < size) {
    const ssize_t n = FileSystem().read(fd, data + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, std::string_view content) {
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    const ssize_t n = FileSystem().write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // a file that takes nothing more would loop forever
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// The folder part with its separator ("" for a bare name) and the last component.
void SplitPath(const std::string& path, std::string& folder, std::string& base) {
  const size_t slash = path.find_last_of(kPathSeparator == '/' ? "/" : "/\\");
  folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files are named ".vx" + 16 hex digits of a hash of the target's name + "." +
// the writing process's tag + "." + a counter + ".tmp": at most about 60 bytes whatever the
// target's name, so a target of any length that can exist can be saved. The hash ties them
// to their target, and the tag tells whether their writer is still running (system.h).
std::string TemporaryPrefix(const std::string& base) {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : base) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, ".vx%016llx.", static_cast<unsigned long long>(h));
  return prefix;
}

std::string TemporaryName(const std::string& target) {
  static uint64_t counter = 0;
  std::string folder, base;
  SplitPath(target, folder, base);
  static const std::string tag = WriterTag();
  char rest[32];
  std::snprintf(rest, sizeof rest, ".%llx.tmp", static_cast<unsigned long long>(++counter));
  return folder + TemporaryPrefix(base) + tag + rest;
}

// Removes the temporary files of `target` whose writer no longer runs: a process killed in
// the middle of a save leaves one behind. Done once per file and process: a new leftover
// needs another killed process.
void RemoveStaleTemporaries(const std::string& target) {
  static std::set<std::string> cleaned;
  std::string folder, base;
  SplitPath(target, folder, base);
  const std::string prefix = TemporaryPrefix(base);
  if (!cleaned.insert(folder + prefix).second) return;
  for (const std::string& name : FolderEntries(folder)) {
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    const size_t dot = name.find('.', prefix.size());
    if (dot == std::string::npos || dot == prefix.size()) continue;
    if (WriterGone(std::string_view(name).substr(prefix.size(), dot - prefix.size()))) {
      Unlink(folder + name);
    }
  }
  errno = 0;
}

// NAME.unread-N beside the file; a name too long for the suffix is shortened.
std::string KeptName(const std::string& target, unsigned n) {
  std::string folder, base;
  SplitPath(target, folder, base);
  const std::string suffix = ".unread-" + std::to_string(n);
  if (base.size() + suffix.size() > kNameMax) base.resize(kNameMax - suffix.size());
  return folder + base + suffix;
}

// Copies the file's bytes into a new file `kept`. 1 when copied, 0 when `kept` exists
// already, -1 on failure (nothing is left behind).
int CopyInto(const std::string& target, const std::string& kept) {
  OpenFileInfo st;
  Fd from = OpenRegular(target, O_RDONLY, st);
  if (!from) return -1;
  Fd to(OpenRetrying(kept.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenNoWait, 0600));
  if (!to) return errno == EEXIST ? 0 : -1;
  bool ok = true;
  std::string buffer(1 << 16, '\0');
  for (;;) {
    size_t got = 0;
    if (!ReadAll(from.get(), buffer.data(), buffer.size(), got)) ok = false;
    if (!ok || got == 0) break;
    if (!WriteAll(to.get(), std::string_view(buffer.data(), got))) ok = false;
  }
  if (ok) TakeMode(to.get(), st.mode);
  ok = ok && FsyncRetrying(to.get()) == 0;
  if (!to.Close()) ok = false;
  if (!ok) Unlink(kept);
  return ok ? 1 : -1;
}

// Keeps the file's bytes beside it under the first free NAME.unread-N; returns that name,
// or "" when they could not be kept. With `link`, a hard link keeps them without copying,
// also for a file that cannot be read; where links cannot be made, the bytes are copied.
// A file about to be overwritten in place is always copied: a link would be overwritten
// with it.
std::string KeepOldBytes(const std::string& target, bool link) {
  for (unsigned n = 1; n < 1000000; ++n) {
    std::string kept = KeptName(target, n);
    if (link && Retrying(&FileSystemCalls::link, target.c_str(), kept.c_str()) == 0) return kept;
    if (link && errno == EEXIST) continue;
    const int copied = CopyInto(target, kept);
    if (copied > 0) return kept;
    if (copied < 0) return "";
  }
  return "";
}

// Overwrites the file from its start with `content`, cuts it to that length and flushes it.
bool WriteFromStart(int fd, std::string_view content) {
  return SeekTo(fd, 0) && WriteAll(fd, content) &&
         Retrying(&FileSystemCalls::ftruncate, fd, static_cast<off_t>(content.size())) == 0 &&
         FsyncRetrying(fd) == 0;
}

// Writes a regular file over its old bytes. Where the file system can, its space is
// reserved first (without changing the file's length), so a full disk is found before the
// first old byte is overwritten. The old bytes are read first: when a write, the cut or the
// flush fails (a disk error), they are written back, so the file is not left a mix of old
// and new. After a failure, `oldBack` says whether the file holds its old bytes. Only a
// crash in the middle can still leave it a mix.
bool WriteInPlace(const std::string& path, std::string_view content, bool& oldBack) {
  oldBack = true;
  OpenFileInfo st;
  Fd fd = OpenRegular(path, O_RDWR, st);
  // A file that may be written but not read is still written, with no way back.
  const bool readable = static_cast<bool>(fd);
  if (!fd && errno == EACCES) fd = OpenRegular(path, O_WRONLY, st);
  if (!fd) return false;
  std::string old;
  if (readable) {
    old.resize(static_cast<size_t>(st.size));
    size_t got = 0;
    if (!ReadAll(fd.get(), old.data(), old.size(), got)) return false;
    old.resize(got);
  }
  if (!ReserveSpace(fd.get(), content.size())) return false;
  bool ok = WriteFromStart(fd.get(), content);
  if (!ok) {
    // Best effort: the disk that failed once may fail again.
    const int error = errno;
    oldBack = readable && WriteFromStart(fd.get(), old);
    errno = error;
  }
  if (!fd.Close() && ok) {
    ok = false;
    oldBack = false;  // flushed, so most likely the new bytes
  }
  return ok;
}

}  // namespace

FileSystemCalls& FileSystem() {
  static FileSystemCalls calls = DefaultFileSystemCalls();
  return calls;
}

bool ReadWholeFile(const std::string& path, std::string& out, ReadInfo* info) {
  ReadInfo local;
  ReadInfo& r = info != nullptr ? *info : local;
  r = ReadInfo{};
  out.clear();
  OpenFileInfo st;
  Fd fd = OpenRegular(path, O_RDONLY, st);
  if (!fd) {
    r.error = errno;
    // A file that is there but cannot be read is not an empty file: say so.
    struct stat seen;
    if (Retrying(&FileSystemCalls::stat, path.c_str(), &seen) == 0 && S_ISREG(seen.st_mode)) {
      r.regular = PathIdentity(path, seen, r.device, r.inode);
    }
    errno = r.error;
    return false;
  }
  r.regular = true;
  r.device = st.device;
  r.inode = st.inode;
  try {
    // One buffer sized from the file; a file that grows while it is read grows the buffer
    // by doubling.
    size_t capacity = static_cast<size_t>(st.size) + 1;
    size_t used = 0;
    out.resize(capacity);
    for (;;) {
      if (used == capacity) {
        capacity *= 2;
        out.resize(capacity);
      }
      size_t got = 0;
      if (!ReadAll(fd.get(), out.data() + used, capacity - used, got)) {
        r.error = errno;
        out.clear();
        return false;
      }
      used += got;
      if (used < capacity) break;  // ReadAll stops short only at the end of the file
    }
    out.resize(used);
  } catch (const std::bad_alloc&) {
    r.error = ENOMEM;
  } catch (const std::length_error&) {
    r.error = ENOMEM;
  }
  if (r.error != 0) {
    std::string().swap(out);
    return false;
  }
  return true;
}

bool FileReadable(const std::string& path) {
  OpenFileInfo st;
  return static_cast<bool>(OpenRegular(path, O_RDONLY, st));
}

bool RegularFileIdentity(const std::string& path, uint64_t& device, uint64_t& inode) {
  struct stat st;
  if (Retrying(&FileSystemCalls::stat, path.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return PathIdentity(path, st, device, inode);
}

namespace {

// Appends to a descriptor through the file-system calls; Overwrite goes back and returns to
// the end.
//
// Where the system allows, the disk starts writing each few megabytes as soon as they are
// written, while the rest is still being produced: the flush at the end then waits only for
// the last of them instead of the whole file.
class DescriptorWriter final : public ByteWriter {
 public:
  explicit DescriptorWriter(int fd) : fd_(fd) {}
  bool Append(std::string_view bytes) override {
    if (!WriteAll(fd_, bytes)) return false;
    end_ += bytes.size();
    if (end_ - started_ >= kWriteAhead) {
      // Only a hint: the flush at the end is what makes the file safe.
      StartWriting(fd_, started_, end_ - started_);
      started_ = end_;
    }
    return true;
  }
  bool Overwrite(size_t offset, std::string_view bytes) override {
    if (offset > end_ || bytes.size() > end_ - offset) return false;
    if (!SeekTo(fd_, offset)) return false;
    const bool ok = WriteAll(fd_, bytes);
    return SeekTo(fd_, end_) && ok;
  }

 private:
  static constexpr size_t kWriteAhead = size_t{4} << 20;
  const int fd_;
  size_t end_ = 0;
  size_t started_ = 0;  // the bytes before this have been handed to the disk
};

// The content of a replacement: bytes at hand, or a producer that writes them in pieces.
struct Content {
  std::string_view bytes;
  const ContentProducer* produce = nullptr;

  bool WriteTo(ByteWriter& out) const { return produce ? (*produce)(out) : out.Append(bytes); }
};

bool Replace(const std::string& path, const Content& content, bool keepOld) {
  if (path.empty()) return false;
  const std::string target = FollowLinks(path);

  struct stat old;
  const bool existed = Retrying(&FileSystemCalls::stat, target.c_str(), &old) == 0;
  // A file that is there but cannot be looked at (an I/O error) is not replaced blind: it
  // may be one whose bytes must be kept, and its permissions would be lost.
  if (!existed && errno != ENOENT) return false;
  // Only regular files are written: a folder is no file, and a FIFO or a device would wait
  // for a reader or send the save somewhere it cannot be read back from.
  if (existed && !S_ISREG(old.st_mode)) return false;
  // Renaming over a file needs only the folder's permission; a file its owner made
  // read-only is still refused, as writing it in place would be.
  if (existed && !MayWrite(target)) return false;
  const bool keep = keepOld && existed;

  std::string temporary;
  Fd fd;
  int openError = 0;
  for (unsigned attempt = 0; attempt < 16 && !fd; ++attempt) {
    temporary = TemporaryName(target);
    // A new file gets the bits the process's umask gives any ordinary creation. A
    // replacement stays private to its owner until it takes the old file's bits, so the
    // content of a file others may not read is never readable on the way.
    fd = Fd(OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenNoWait,
                         existed ? 0600 : 0666));
    openError = fd ? 0 : errno;
    if (!fd && openError != EEXIST) break;
  }
  if (!fd) {
    // The folder refuses new entries (read-only, or sticky and someone else's) while the
    // file may be written: writing it in place keeps the save, where giving up would leave
    // the change in memory only.
    if (!existed || (openError != EACCES && openError != EPERM)) return false;
    std::string gathered;
    std::string_view bytes = content.bytes;
    if (content.produce != nullptr) {
      StringWriter writer(gathered);
      if (!content.WriteTo(writer)) return false;
      bytes = gathered;
    }
    std::string kept;
    if (keep && (kept = KeepOldBytes(target, false)).empty()) return false;
    bool oldBack = true;
    if (!WriteInPlace(target, bytes, oldBack)) {
      // A kept copy goes with the failure, unless it is now the only copy of the old bytes.
      if (oldBack && !kept.empty()) Unlink(kept);
      return false;
    }
    RemoveStaleTemporaries(target);
    return true;
  }

  DescriptorWriter writer(fd.get());
  bool ok = false;
  try {
    ok = content.WriteTo(writer) && FsyncRetrying(fd.get()) == 0;
  } catch (...) {
    Unlink(temporary);  // a producer out of memory leaves no temporary file
    throw;
  }
  // The replacement takes the old file's place with its owner and permission bits.
  if (ok && existed) TakeOwnerAndMode(fd.get(), old);
  if (!fd.Close()) ok = false;
  std::string kept;
  if (ok && keep) ok = !(kept = KeepOldBytes(target, true)).empty();
  if (ok) ok = Retrying(&FileSystemCalls::rename, temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    Unlink(temporary);
    if (!kept.empty()) Unlink(kept);
    return false;
  }
  SyncFolderOf(target);
  RemoveStaleTemporaries(target);
  return true;
}

}  // namespace

bool StringWriter::Append(std::string_view bytes) {
  out_.append(bytes);
  return true;
}

bool StringWriter::Overwrite(size_t offset, std::string_view bytes) {
  if (offset > out_.size() || bytes.size() > out_.size() - offset) return false;
  std::memcpy(out_.data() + offset, bytes.data(), bytes.size());
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view content, bool keepOld) {
  return Replace(path, Content{content, nullptr}, keepOld);
}

bool ReplaceFileWith(const std::string& path, const ContentProducer& produce, bool keepOld) {
  return Replace(path, Content{{}, &produce}, keepOld);
}

}  // namespace vellix
