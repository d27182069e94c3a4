// The POSIX side of system.h.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/file_io.h"
#include "io/system.h"

namespace vellix {

namespace {

int SystemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t SystemRead(int fd, void* data, size_t size) { return ::read(fd, data, size); }
ssize_t SystemWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int SystemFsync(int fd) { return ::fsync(fd); }
int SystemRename(const char* from, const char* to) { return ::rename(from, to); }
int SystemLink(const char* from, const char* to) { return ::link(from, to); }
int SystemMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int SystemUnlink(const char* path) { return ::unlink(path); }
int SystemStat(const char* path, struct stat* st) { return ::stat(path, st); }
int SystemFtruncate(int fd, off_t length) { return ::ftruncate(fd, length); }

}  // namespace

FileSystemCalls DefaultFileSystemCalls() {
  return FileSystemCalls{&SystemOpen, &SystemRead,  &SystemWrite,  &SystemFsync, &SystemRename,
                         &SystemLink, &SystemMkdir, &SystemUnlink, &SystemStat,  &SystemFtruncate};
}

uint32_t TickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

std::string CurrentDirectory() {
  std::string cwd(4096, '\0');
  while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE) return {};
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(std::strlen(cwd.c_str()));
  return cwd;
}

std::string SystemFolder(KnownFolder) { return {}; }

const void* ThisModuleHandle() { return nullptr; }

void UseBinaryStandardStreams() {}

namespace {

constexpr const char* kWideCode =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

std::string CodePageName(int32_t codePage) {
  if (codePage == 65001) return "UTF-8";
  return "CP" + std::to_string(codePage);
}

// Converts with iconv; at an input sequence the conversion refuses, `refused` appends what
// stands for it and says how many input bytes it took. False when iconv has no such
// conversion.
template <class Refused>
bool Convert(const std::string& to, const std::string& from, std::string_view in, std::string& out,
             Refused refused) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(in.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t used = 0;
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    out.resize(used);
    const size_t took = refused(std::string_view(src, srcLeft), out);
    used = out.size();
    out.resize(used + srcLeft * 2 + 16);
    src += took;
    srcLeft -= took;
  }
  iconv_close(cd);
  out.resize(used);
  return true;
}

}  // namespace

bool Utf16ToCodePage(int32_t codePage, std::u16string_view wide, std::string& out) {
  const std::string_view bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  const bool ok = Convert(CodePageName(codePage), kWideCode, bytes, out,
                          [](std::string_view rest, std::string& o) {
                            o.push_back('?');
                            char16_t unit = 0;
                            std::memcpy(&unit, rest.data(), std::min<size_t>(2, rest.size()));
                            // A surrogate pair is one character.
                            const bool pair = unit >= 0xD800 && unit < 0xDC00 && rest.size() >= 4;
                            return std::min<size_t>(pair ? 4 : 2, rest.size());
                          });
  if (!ok) out.clear();
  return ok;
}

bool CodePageToUtf16(int32_t codePage, std::string_view narrow, std::u16string& out) {
  std::string bytes;
  const bool ok = Convert(kWideCode, CodePageName(codePage), narrow, bytes,
                          [](std::string_view rest, std::string& o) {
                            const char16_t unit = static_cast<unsigned char>(rest[0]);
                            char two[2];
                            std::memcpy(two, &unit, 2);
                            o.append(two, 2);
                            return size_t{1};
                          });
  out.clear();
  if (!ok) return false;
  out.resize(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return true;
}

const char kPathSeparator = '/';

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

// A leading "\" is a root too, as "/" (a path written for Windows); only "/" makes a path
// absolute.
size_t PathRootLength(std::string_view path) {
  return !path.empty() && (path.front() == '/' || path.front() == '\\') ? 1 : 0;
}

const int kOpenNoWait = O_NONBLOCK | O_CLOEXEC;

bool DescribeOpenFile(int fd, OpenFileInfo& info) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  info.regular = S_ISREG(st.st_mode);
  info.directory = S_ISDIR(st.st_mode);
  info.size = static_cast<uint64_t>(st.st_size);
  info.device = static_cast<uint64_t>(st.st_dev);
  info.inode = static_cast<uint64_t>(st.st_ino);
  info.mode = st.st_mode & 07777;
  return true;
}

bool PathIdentity(const std::string&, const struct stat& st, uint64_t& device, uint64_t& inode) {
  device = static_cast<uint64_t>(st.st_dev);
  inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

void ClearNoWait(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

bool CloseFile(int fd) { return ::close(fd) == 0; }

bool SeekTo(int fd, uint64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool ReserveSpace([[maybe_unused]] int fd, [[maybe_unused]] uint64_t size) {
#ifdef FALLOC_FL_KEEP_SIZE
  if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
      (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
    return false;
  }
#endif
  return true;
}

void StartWriting([[maybe_unused]] int fd, [[maybe_unused]] uint64_t offset,
                  [[maybe_unused]] uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size),
                        SYNC_FILE_RANGE_WRITE) != 0) {
    errno = 0;
  }
#endif
}

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string FollowLinks(const std::string& start) {
  std::string path = start;
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

bool MayWrite(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

void TakeOwnerAndMode(int fd, const struct stat& old) {
  // Both are best effort: only a privileged process may give a file away, and file systems
  // without permission bits refuse the change; neither is a reason to lose the save. The
  // owner goes first, as changing it clears set-id bits.
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;
  if (::fchmod(fd, old.st_mode & 07777) != 0) errno = 0;
}

void TakeMode(int fd, mode_t mode) {
  if (::fchmod(fd, mode & 07777) != 0) errno = 0;
}

bool ChangeMode(const std::string& path, mode_t mode) { return ::chmod(path.c_str(), mode) == 0; }

void SyncFolderOf(const std::string& file) {
  const int fd = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    errno = 0;
    return;
  }
  // Best effort: some file systems refuse to flush a folder.
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
  errno = 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  errno = 0;
  return names;
}

std::string WriterTag() {
  char tag[24];
  std::snprintf(tag, sizeof tag, "%lx", static_cast<unsigned long>(::getpid()));
  return tag;
}

// This process writes one save at a time, so a temporary file with its own id is left over
// too (by an earlier process that had the same id).
bool WriterGone(std::string_view tag) {
  const std::string text(tag);
  char* end = nullptr;
  const long pid = std::strtol(text.c_str(), &end, 16);
  if (end == nullptr || *end != '\0' || pid <= 0) return false;
  if (pid == static_cast<long>(::getpid())) return true;
  const bool gone = ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  errno = 0;
  return gone;
}

}  // namespace vellix
