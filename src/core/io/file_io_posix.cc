// The file-system calls and platform helpers of file_io.h on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "io/file_io.h"

namespace vellix {

namespace {

FileStatus StatusOf(const struct stat& st) {
  FileStatus out;
  out.kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
             : S_ISDIR(st.st_mode) ? FileKind::kFolder
                                   : FileKind::kOther;
  out.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  out.device = static_cast<uint64_t>(st.st_dev);
  out.inode = static_cast<uint64_t>(st.st_ino);
  out.mode = static_cast<uint32_t>(st.st_mode & 07777);
  out.owner = static_cast<uint32_t>(st.st_uid);
  out.group = static_cast<uint32_t>(st.st_gid);
  return out;
}

int SystemOpen(const char* path, unsigned flags, unsigned mode) {
  int access = O_RDONLY;
  if ((flags & kOpenReadWrite) == kOpenReadWrite) {
    access = O_RDWR;
  } else if ((flags & kOpenWrite) != 0) {
    access = O_WRONLY;
  }
  int how = access | O_CLOEXEC;
  if ((flags & kOpenCreateNew) != 0) how |= O_CREAT | O_EXCL;
  if ((flags & kOpenFolder) != 0) how = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if ((flags & kOpenNoWait) != 0) how |= O_NONBLOCK;
  return ::open(path, how, static_cast<mode_t>(mode));
}

ptrdiff_t SystemRead(int fd, void* data, size_t size) { return ::read(fd, data, size); }
ptrdiff_t SystemWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int64_t SystemLseek(int fd, int64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
}
int SystemFsync(int fd) { return ::fsync(fd); }
int SystemClose(int fd) { return ::close(fd); }

int SystemFstat(int fd, FileStatus* out) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  *out = StatusOf(st);
  return 0;
}

int SystemFcntl(int fd, FileControl command) {
  switch (command) {
    case FileControl::kWait: {
      const int flags = ::fcntl(fd, F_GETFL);
      return flags < 0 ? -1 : ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
  }
  errno = EINVAL;
  return -1;
}

int SystemFallocate(int fd, int64_t length) {
#ifdef FALLOC_FL_KEEP_SIZE
  return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length));
#else
  (void)fd;
  (void)length;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

int SystemFtruncate(int fd, int64_t length) { return ::ftruncate(fd, static_cast<off_t>(length)); }

int SystemStat(const char* path, FileStatus* out) {
  struct stat st;
  if (::stat(path, &st) != 0) return -1;
  *out = StatusOf(st);
  return 0;
}

// Renaming over a file needs only the folder's permission; a file its owner made read-only
// is still refused, as writing it in place would be.
int SystemAccess(const char* path) { return ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS); }
int SystemRename(const char* from, const char* to) { return ::rename(from, to); }
int SystemLink(const char* from, const char* to) { return ::link(from, to); }
int SystemMkdir(const char* path, unsigned mode) {
  return ::mkdir(path, static_cast<mode_t>(mode));
}
int SystemUnlink(const char* path) { return ::unlink(path); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

FileSystemCalls DefaultFileSystemCalls() {
  FileSystemCalls c{};
  c.open = &SystemOpen;
  c.read = &SystemRead;
  c.write = &SystemWrite;
  c.lseek = &SystemLseek;
  c.fsync = &SystemFsync;
  c.close = &SystemClose;
  c.fstat = &SystemFstat;
  c.fcntl = &SystemFcntl;
  c.fallocate = &SystemFallocate;
  c.ftruncate = &SystemFtruncate;
  c.stat = &SystemStat;
  c.access = &SystemAccess;
  c.rename = &SystemRename;
  c.link = &SystemLink;
  c.mkdir = &SystemMkdir;
  c.unlink = &SystemUnlink;
  return c;
}

namespace platform {

std::string FollowLinks(const std::string& start) {
  std::string path = start;
  // A chain long enough to be a loop is given up.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return path;
    target.resize(static_cast<size_t>(n));
    if (target.empty()) return path;
    if (target[0] != '/') target.insert(0, FolderOf(path) + "/");
    path = std::move(target);
  }
  return path;
}

void CopyOwnerAndBits(int fd, const FileStatus& from) {
  // The owner goes first, as changing it clears set-id bits. Neither change is a reason to
  // lose the save: file systems without permission bits refuse them.
  if (::fchown(fd, static_cast<uid_t>(from.owner), static_cast<gid_t>(from.group)) != 0) {
    // only a privileged process may give a file away
  }
  if (::fchmod(fd, static_cast<mode_t>(from.mode)) != 0) {
    // a file system without permission bits
  }
}

bool OwnsFile(const FileStatus& st) { return st.owner == static_cast<uint32_t>(::geteuid()); }

void StartWriteBack(int fd, uint64_t offset, uint64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                        SYNC_FILE_RANGE_WRITE) != 0) {
    // only a hint: the flush at the end is what makes the file safe
  }
#else
  (void)fd;
  (void)offset;
  (void)length;
#endif
}

uint64_t ProcessId() { return static_cast<uint64_t>(::getpid()); }

bool ProcessGone(uint64_t id) { return ::kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH; }

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace platform

}  // namespace vellix
