#include "files/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vellix {

namespace {

ssize_t SystemWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int SystemFsync(int fd) { return ::fsync(fd); }
int SystemRename(const char* from, const char* to) { return ::rename(from, to); }

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
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
    if (n == 0) return false;  // a device that takes nothing more would loop forever
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a path finally names, following symbolic links (also a dangling one, whose
// target is then created). Gives up after a chain long enough to be a loop.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return path;
    target.resize(static_cast<size_t>(n));
    if (target.empty()) return path;
    path = target[0] == '/' ? target : FolderOf(path) + "/" + target;
  }
  return path;
}

// A name for the temporary file beside `target` that is unlikely to collide; the creation
// with O_EXCL settles any collision that remains.
std::string TemporaryName(const std::string& target, unsigned attempt) {
  static uint64_t counter = 0;
  const uint64_t stamp = static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  const size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%llx.%u.tmp", static_cast<long>(::getpid()),
                static_cast<unsigned long long>((stamp << 8) ^ ++counter), attempt);
  return folder + "." + base + suffix;
}

void SyncFolder(const std::string& file) {
  const int fd = OpenRetrying(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: some file systems refuse to flush a folder
  ::close(fd);
}

bool WriteInPlace(const std::string& path, std::string_view content) {
  const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, content);
  return (::close(fd) == 0) && ok;
}

}  // namespace

FileSystemCalls DefaultFileSystemCalls() {
  return FileSystemCalls{&SystemWrite, &SystemFsync, &SystemRename};
}

FileSystemCalls& FileSystem() {
  static FileSystemCalls calls = DefaultFileSystemCalls();
  return calls;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  if (!known || S_ISDIR(st.st_mode)) {
    const int error = known ? EISDIR : errno;
    ::close(fd);
    errno = error;
    return false;
  }
  // One buffer sized from the file; anything it holds beyond that (a file still growing, a
  // pipe) grows the buffer by doubling.
  size_t capacity = S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 64 * 1024;
  size_t used = 0;
  out.resize(capacity);
  for (;;) {
    if (used == capacity) {
      capacity *= 2;
      out.resize(capacity);
    }
    const ssize_t n = ::read(fd, out.data() + used, capacity - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // a read error ends the file where it stands, as a stream read would
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  out.resize(used);
  return true;
}

bool FileReadable(const std::string& path) {
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return ok;
}

bool ReplaceFile(const std::string& path, std::string_view content) {
  if (path.empty()) return false;
  const std::string target = FollowLinks(path);

  struct stat old;
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && S_ISDIR(old.st_mode)) return false;
  // Renaming over a file needs only the folder's permission; a file its owner made
  // read-only is still refused, as writing it in place would be.
  if (existed && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
  if (existed && !S_ISREG(old.st_mode)) return WriteInPlace(target, content);

  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = TemporaryName(target, attempt);
    // A new file gets the bits the process's umask gives any ordinary creation. A
    // replacement stays private to its owner until it takes the old file's bits, so the
    // content of a file others may not read is never readable on the way.
    fd = OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      existed ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, content) && FileSystem().fsync(fd) == 0;
  if (ok && existed) {
    // The replacement takes the old file's place with its owner and permission bits. Both
    // are best effort: only a privileged process may give a file away, and file systems
    // without permission bits refuse the change; neither is a reason to lose the save.
    // The owner goes first, as changing it clears set-id bits.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;
    if (::fchmod(fd, old.st_mode & 07777) != 0) errno = 0;
  }
  if (::close(fd) != 0) ok = false;
  if (ok) ok = FileSystem().rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolder(target);
  return true;
}

}  // namespace vellix
