#include "io/file_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "io/system.h"

namespace vellix {

namespace {

// The longest name a folder holds on the systems the module runs on.
constexpr size_t kNameMax = 255;

// A descriptor closed on every way out.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) FileSystem().close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Hands the descriptor over: it is no longer closed here.
  int Release() { return std::exchange(fd_, -1); }
  // Closes now; 0, or the error closing reports (a delayed write error on some systems).
  // Never made again: the descriptor is gone whatever close says, and an interrupted close
  // of a flushed file has lost nothing.
  int Close() {
    const int fd = std::exchange(fd_, -1);
    if (fd < 0 || FileSystem().close(fd) == 0 || errno == EINTR) return 0;
    return errno;
  }

 private:
  int fd_ = -1;
};

Fd Open(const std::string& path, unsigned flags, unsigned mode = 0) {
  return Fd(Retrying(&FileSystemCalls::open, path.c_str(), flags, mode));
}

// 0, or the error of a call of the table that returned -1 (read just after it).
int ErrorOf(int64_t result) { return result < 0 ? errno : 0; }

bool NoSpace(int error) {
#ifdef EDQUOT
  if (error == EDQUOT) return true;
#endif
  return error == ENOSPC || error == EFBIG;
}

// Opens a regular file without ever waiting: the no-wait mode makes opening a FIFO return at
// once, and anything that is not a regular file is then refused. `st` describes the file.
// 0, or the error.
int OpenRegular(const std::string& path, unsigned access, Fd& fd, FileStatus& st) {
  Fd opened = Open(path, access | kOpenNoWait);
  if (!opened) return errno;
  if (Retrying(&FileSystemCalls::fstat, opened.get(), &st) != 0) return errno;
  if (st.kind != FileKind::kRegular) return st.kind == FileKind::kFolder ? EISDIR : EINVAL;
  if (Retrying(&FileSystemCalls::fcntl, opened.get(), FileControl::kWait) != 0) return errno;
  fd = std::move(opened);
  return 0;
}

// Reads until `size` bytes or the end of the file; 0, or the error.
int ReadAll(int fd, char* data, size_t size, size_t& got) {
  got = 0;
  while (got < size) {
    const ptrdiff_t n = FileSystem().read(fd, data + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return 0;
}

// Writes all of `content`; 0, or the error.
int WriteAll(int fd, std::string_view content) {
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    const ptrdiff_t n = FileSystem().write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;  // a file that takes nothing more would loop forever
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

// The separators a path may have: "/", and "\" too where the system takes it (Windows).
constexpr const char* kSeparators = kPathSeparator == '/' ? "/" : "/\\";

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The folder part with its separator ("" for a bare name) and the last component.
void SplitPath(const std::string& path, std::string& folder, std::string& base) {
  const size_t slash = path.find_last_of(kSeparators);
  folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files are named ".vx" + 16 hex digits of a hash of the target's name + "." +
// the writing process's id + "." + a counter + ".tmp": about 45 bytes whatever the target's
// name, so a target of any length that can exist can be saved. The hash ties them to their
// target, and the process id tells whether their writer is still running.
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
  char rest[48];
  std::snprintf(rest, sizeof rest, "%llx.%llx.tmp",
                static_cast<unsigned long long>(platform::ProcessId()),
                static_cast<unsigned long long>(++counter));
  return folder + TemporaryPrefix(base) + rest;
}

// The folders (with the temporary prefix of a target) whose leftovers have been looked for.
std::set<std::string>& Cleaned() {
  static std::set<std::string> cleaned;
  return cleaned;
}

std::string CleanedKey(const std::string& target) {
  std::string folder, base;
  SplitPath(target, folder, base);
  return folder + TemporaryPrefix(base);
}

// Removes the temporary files of `target` whose writer no longer runs: a process killed in
// the middle of a save leaves one behind. This process writes one save at a time, so a
// temporary file with its own id is also left over (by an earlier process that had the
// same id, or by a save of this one that could not remove it). Done once per file and
// process, unless a save of this process leaves one again.
void RemoveStaleTemporaries(const std::string& target) {
  std::string folder, base;
  SplitPath(target, folder, base);
  const std::string prefix = TemporaryPrefix(base);
  if (!Cleaned().insert(folder + prefix).second) return;
  const uint64_t self = platform::ProcessId();
  for (const std::string& name : platform::FolderEntries(folder)) {
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    char* end = nullptr;
    const unsigned long long id = std::strtoull(name.c_str() + prefix.size(), &end, 16);
    if (end == nullptr || *end != '.' || id == 0) continue;
    if (id == self || platform::ProcessGone(id)) {
      if (Retrying(&FileSystemCalls::unlink, (folder + name).c_str()) != 0) {
        Cleaned().erase(folder + prefix);  // look again after the next save
      }
    }
  }
}

// Removes a file this save made and no longer needs; 0, or the error.
int Remove(const std::string& path) {
  return ErrorOf(Retrying(&FileSystemCalls::unlink, path.c_str()));
}

// Removes this save's temporary file; one that stays (a disk that stays broken) is looked
// for again after the next successful save of the target.
void RemoveTemporary(const std::string& temporary, const std::string& target) {
  if (Remove(temporary) != 0) Cleaned().erase(CleanedKey(target));
}

// Flushes the folder's entries (a rename, a new file or folder in it) to the disk. Best
// effort: some file systems refuse to flush a folder.
void SyncFolderOf(const std::string& file) {
  const Fd fd = Open(FolderOf(file), kOpenFolder);
  if (fd) Retrying(&FileSystemCalls::fsync, fd.get());
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
// already, -1 on failure with `error` set (nothing is left behind).
int CopyInto(const std::string& target, const std::string& kept, int& error) {
  FileStatus st;
  Fd from;
  if ((error = OpenRegular(target, kOpenRead, from, st)) != 0) return -1;
  Fd to = Open(kept, kOpenWrite | kOpenCreateNew, 0600);
  if (!to) {
    error = errno;
    return error == EEXIST ? 0 : -1;
  }
  std::string buffer(1 << 16, '\0');
  for (;;) {
    size_t got = 0;
    if ((error = ReadAll(from.get(), buffer.data(), buffer.size(), got)) != 0 || got == 0) break;
    if ((error = WriteAll(to.get(), std::string_view(buffer.data(), got))) != 0) break;
  }
  if (error == 0) {
    platform::CopyOwnerAndBits(to.get(), st);
    error = ErrorOf(Retrying(&FileSystemCalls::fsync, to.get()));
  }
  const int closed = to.Close();
  if (error == 0) error = closed;
  if (error == 0) return 1;
  Remove(kept);
  return -1;
}

// Keeps the file's bytes beside it under the first free NAME.unread-N; returns that name,
// or "" with `error` set when they could not be kept. With `link`, a hard link keeps them
// without copying, also for a file that cannot be read; where links cannot be made, the
// bytes are copied. A file about to be overwritten in place is always copied: a link would
// be overwritten with it.
std::string KeepOldBytes(const std::string& target, bool link, int& error) {
  for (unsigned n = 1; n < 1000000; ++n) {
    std::string kept = KeptName(target, n);
    if (link) {
      if (Retrying(&FileSystemCalls::link, target.c_str(), kept.c_str()) == 0) return kept;
      if (errno == EEXIST) continue;
    }
    const int copied = CopyInto(target, kept, error);
    if (copied > 0) return kept;
    if (copied < 0) return "";
  }
  error = EEXIST;
  return "";
}

// Overwrites the file from its start with `content`, cuts it to that length and flushes it.
// 0, or the error.
int WriteFromStart(int fd, std::string_view content) {
  const int64_t at = Retrying(&FileSystemCalls::lseek, fd, int64_t{0});
  if (at != 0) return at < 0 ? errno : EIO;
  if (const int error = WriteAll(fd, content)) return error;
  if (Retrying(&FileSystemCalls::ftruncate, fd, static_cast<int64_t>(content.size())) != 0) {
    return errno;
  }
  return ErrorOf(Retrying(&FileSystemCalls::fsync, fd));
}

// Writes a regular file over its old bytes. Where the file system can, its space is
// reserved first (without changing the file's length), so a full disk is found before the
// first old byte is overwritten. The old bytes are read first: when a write, the cut or the
// flush fails (a disk error), they are written back, so the file is not left a mix of old
// and new. After a failure, `oldBack` says whether the file holds its old bytes. Only a
// crash in the middle, or a disk that fails again, can still leave it a mix. 0, or the error.
int WriteInPlace(const std::string& path, std::string_view content, bool& oldBack) {
  oldBack = true;
  FileStatus st;
  Fd fd;
  int error = OpenRegular(path, kOpenReadWrite, fd, st);
  // A file that may be written but not read is still written, with no way back.
  const bool readable = error == 0;
  if (error == EACCES) error = OpenRegular(path, kOpenWrite, fd, st);
  if (error != 0) return error;
  std::string old;
  if (readable) {
    old.resize(static_cast<size_t>(st.size));
    size_t got = 0;
    if ((error = ReadAll(fd.get(), old.data(), old.size(), got)) != 0) return error;
    old.resize(got);
  }
  if (!content.empty() &&
      Retrying(&FileSystemCalls::fallocate, fd.get(), static_cast<int64_t>(content.size())) != 0 &&
      NoSpace(errno)) {
    return errno;
  }
  error = WriteFromStart(fd.get(), content);
  // Best effort: the disk that failed once may fail again.
  if (error != 0) oldBack = readable && WriteFromStart(fd.get(), old) == 0;
  // The new bytes are flushed: an error closing the file cannot take them back, and
  // reporting one would call a written file unwritten.
  fd.Close();
  return error;
}

// Opens a regular file for reading and says in `info` which file it is. A file that is
// there but cannot be read is not an empty file: `info` then says it is there, with the
// error.
bool OpenForReading(const std::string& path, Fd& fd, FileStatus& st, ReadInfo& info) {
  info = ReadInfo{};
  if ((info.error = OpenRegular(path, kOpenRead, fd, st)) != 0) {
    FileStatus seen;
    if (Retrying(&FileSystemCalls::stat, path.c_str(), &seen) == 0 &&
        seen.kind == FileKind::kRegular) {
      info.regular = true;
      info.device = seen.device;
      info.inode = seen.inode;
    }
    return false;
  }
  info.regular = true;
  info.device = st.device;
  info.inode = st.inode;
  return true;
}

}  // namespace

FileSystemCalls& FileSystem() {
  static FileSystemCalls calls = DefaultFileSystemCalls();
  return calls;
}

bool ReadWholeFile(const std::string& path, std::string& out, ReadInfo* info) {
  ReadInfo local;
  ReadInfo& r = info != nullptr ? *info : local;
  out.clear();
  FileStatus st;
  Fd fd;
  if (!OpenForReading(path, fd, st, r)) return false;
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
      if ((r.error = ReadAll(fd.get(), out.data() + used, capacity - used, got)) != 0) break;
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

FileReader::~FileReader() {
  if (fd_ >= 0) FileSystem().close(fd_);
}

bool FileReader::Open(const std::string& path, ReadInfo& info) {
  FileStatus st;
  Fd fd;
  if (!OpenForReading(path, fd, st, info)) return false;
  if (fd_ >= 0) FileSystem().close(fd_);
  fd_ = fd.Release();
  size_ = st.size;
  return true;
}

int FileReader::Read(char* data, size_t size, size_t& got) { return ReadAll(fd_, data, size, got); }

int FileReader::Rewind() {
  return Retrying(&FileSystemCalls::lseek, fd_, int64_t{0}) < 0 ? errno : 0;
}

bool FileReadable(const std::string& path) {
  FileStatus st;
  Fd fd;
  return OpenRegular(path, kOpenRead, fd, st) == 0;
}

bool RegularFileIdentity(const std::string& path, uint64_t& device, uint64_t& inode, int& error) {
  FileStatus st;
  error = ErrorOf(Retrying(&FileSystemCalls::stat, path.c_str(), &st));
  if (error == 0 && st.kind != FileKind::kRegular) {
    error = st.kind == FileKind::kFolder ? EISDIR : EINVAL;
  }
  if (error != 0) return false;
  device = st.device;
  inode = st.inode;
  return true;
}

int MakeFolder(const std::string& path) {
  if (Retrying(&FileSystemCalls::mkdir, path.c_str(), 0777u) != 0) return errno;
  SyncFolderOf(path);
  return 0;
}

const char* DescribeSaveStep(SaveStep step) {
  switch (step) {
    case SaveStep::kNone:
      return "saved";
    case SaveStep::kExamine:
      return "the file cannot be replaced";
    case SaveStep::kOpenTemporary:
      return "the temporary file cannot be made";
    case SaveStep::kWrite:
      return "the content cannot be written";
    case SaveStep::kFlush:
      return "the content cannot be flushed to the disk";
    case SaveStep::kRename:
      return "the temporary file cannot take the file's place";
    case SaveStep::kKeepUnread:
      return "the bytes of a file not read cleanly cannot be kept";
    case SaveStep::kWriteInPlace:
      return "the file cannot be written in place";
  }
  return "unknown step";
}

namespace {

// Appends to a descriptor through the file-system calls; Overwrite goes back and returns to
// the end. After a failure, error() says why.
//
// Where the system allows, the disk starts writing each few megabytes as soon as they are
// written, while the rest is still being produced: the flush at the end then waits only for
// the last of them instead of the whole file.
class DescriptorWriter final : public ByteWriter {
 public:
  explicit DescriptorWriter(int fd) : fd_(fd) {}
  bool Append(std::string_view bytes) override {
    if ((error_ = WriteAll(fd_, bytes)) != 0) return false;
    end_ += bytes.size();
    if (end_ - started_ >= kWriteAhead) {
      platform::StartWriteBack(fd_, started_, end_ - started_);
      started_ = end_;
    }
    return true;
  }
  bool Overwrite(size_t offset, std::string_view bytes) override {
    if (offset > end_ || bytes.size() > end_ - offset) return false;
    if (!Seek(offset)) return false;
    error_ = WriteAll(fd_, bytes);
    return Seek(end_) && error_ == 0;
  }
  int error() const { return error_; }

 private:
  bool Seek(size_t offset) {
    const int64_t at = Retrying(&FileSystemCalls::lseek, fd_, static_cast<int64_t>(offset));
    if (at == static_cast<int64_t>(offset)) return true;
    if (error_ == 0) error_ = at < 0 ? errno : EIO;
    return false;
  }

  static constexpr size_t kWriteAhead = size_t{4} << 20;
  const int fd_;
  int error_ = 0;
  size_t end_ = 0;
  size_t started_ = 0;  // the bytes before this have been handed to the disk
};

// The content of a replacement: bytes at hand, or a producer that writes them in pieces.
struct Content {
  std::string_view bytes;
  const ContentProducer* produce = nullptr;

  bool WriteTo(ByteWriter& out) const { return produce ? (*produce)(out) : out.Append(bytes); }
};

// Writes the file in place, for a folder that refuses a new entry or the rename over the old
// one; the old bytes are kept beside it first when asked.
SaveStatus ReplaceInPlace(const std::string& target, const Content& content, bool keep) {
  std::string gathered;
  std::string_view bytes = content.bytes;
  if (content.produce != nullptr) {
    StringWriter writer(gathered);
    if (!content.WriteTo(writer)) return {SaveStep::kWrite, 0};
    bytes = gathered;
  }
  std::string kept;
  if (keep) {
    int error = 0;
    if ((kept = KeepOldBytes(target, false, error)).empty()) {
      return {SaveStep::kKeepUnread, error};
    }
    // The copy's entry reaches the disk before the first old byte is overwritten.
    SyncFolderOf(target);
  }
  bool oldBack = true;
  if (const int error = WriteInPlace(target, bytes, oldBack)) {
    // A kept copy goes with the failure, unless it is now the only copy of the old bytes.
    if (oldBack && !kept.empty()) Remove(kept);
    return {SaveStep::kWriteInPlace, error};
  }
  RemoveStaleTemporaries(target);
  return {};
}

SaveStatus Replace(const std::string& path, const Content& content, OldBytes oldBytes) {
  if (path.empty()) return {SaveStep::kExamine, ENOENT};
  const std::string target = platform::FollowLinks(path);

  FileStatus old;
  const bool existed = Retrying(&FileSystemCalls::stat, target.c_str(), &old) == 0;
  // A file that is there but cannot be looked at (an I/O error) is not replaced blind: it
  // may be one whose bytes must be kept, and its permissions would be lost.
  if (!existed && errno != ENOENT) return {SaveStep::kExamine, errno};
  // Only regular files are written: a folder is no file, and a FIFO or a device would wait
  // for a reader or send the save somewhere it cannot be read back from.
  if (existed && old.kind != FileKind::kRegular) {
    return {SaveStep::kExamine, old.kind == FileKind::kFolder ? EISDIR : EINVAL};
  }
  // Renaming over a file needs only the folder's permission; a file its owner made
  // read-only is still refused, as writing it in place would be.
  if (existed && Retrying(&FileSystemCalls::access, target.c_str()) != 0) {
    return {SaveStep::kExamine, errno};
  }
  const bool keep = oldBytes == OldBytes::kKeepBeside && existed;

  std::string temporary;
  Fd fd;
  int openError = 0;
  for (unsigned attempt = 0; attempt < 16 && !fd; ++attempt) {
    temporary = TemporaryName(target);
    // A new file gets the bits the process's umask gives any ordinary creation. A
    // replacement stays private to its owner until it takes the old file's bits, so the
    // content of a file others may not read is never readable on the way.
    fd = Open(temporary, kOpenWrite | kOpenCreateNew, existed ? 0600 : 0666);
    openError = fd ? 0 : errno;
    if (!fd && openError != EEXIST) break;
  }
  // The folder refuses new entries (read-only, or sticky and someone else's) while the file
  // may be written: writing it in place keeps the save, where giving up would leave the
  // change in memory only.
  const auto refused = [](int error) { return error == EACCES || error == EPERM; };
  if (!fd) {
    if (existed && refused(openError)) return ReplaceInPlace(target, content, keep);
    return {SaveStep::kOpenTemporary, openError};
  }

  DescriptorWriter writer(fd.get());
  SaveStatus status;
  try {
    if (!content.WriteTo(writer)) {
      status = {SaveStep::kWrite, writer.error()};
    } else if (Retrying(&FileSystemCalls::fsync, fd.get()) != 0) {
      status = {SaveStep::kFlush, errno};
    }
  } catch (...) {
    RemoveTemporary(temporary, target);  // a producer out of memory leaves no temporary file
    throw;
  }
  // The replacement takes the old file's place with its owner and permission bits.
  if (status.ok() && existed) platform::CopyOwnerAndBits(fd.get(), old);
  if (const int error = fd.Close(); error != 0 && status.ok()) status = {SaveStep::kFlush, error};
  std::string kept;
  if (status.ok() && keep) {
    // A link to another user's file could not be removed again from a folder with the sticky
    // bit, should the rename be refused there: such a file's bytes are copied.
    int error = 0;
    kept = KeepOldBytes(target, platform::OwnsFile(old), error);
    if (kept.empty()) status = {SaveStep::kKeepUnread, error};
  }
  if (status.ok() && Retrying(&FileSystemCalls::rename, temporary.c_str(), target.c_str()) != 0) {
    status = {SaveStep::kRename, errno};
  }
  if (!status.ok()) {
    RemoveTemporary(temporary, target);
    // A kept link would be overwritten with the file in place: it must go first.
    const bool keptGone = kept.empty() || Remove(kept) == 0;
    // A folder with the sticky bit lets others make files but not rename over this one.
    if (status.failed == SaveStep::kRename && refused(status.error) && keptGone) {
      return ReplaceInPlace(target, content, keep);
    }
    return status;
  }
  SyncFolderOf(target);
  RemoveStaleTemporaries(target);
  return {};
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

SaveStatus ReplaceFile(const std::string& path, std::string_view content, OldBytes old) {
  return Replace(path, Content{content, nullptr}, old);
}

SaveStatus ReplaceFileWith(const std::string& path, const ContentProducer& produce, OldBytes old) {
  return Replace(path, Content{{}, &produce}, old);
}

}  // namespace vellix
