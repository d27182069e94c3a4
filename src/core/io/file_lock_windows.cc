// FileLock over LockFileEx. Windows's byte-range locks are mandatory: a lock over the file's
// bytes would stop every other reader, the holder's own load and save among them. The lock
// therefore takes one byte far past any end a file can have, which no read or write touches
// and which every taker of this lock asks for. It belongs to the handle, so reading and
// closing the same file elsewhere in the process does not let it go.
//
// A path where nothing is yet holds its folder instead, opened with the right to delete it
// and without sharing that right: a second taker's open of the folder fails with a sharing
// violation until the first lets go, while others may still list the folder, make files in
// it and flush it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>

#include "io/file_io.h"
#include "io/file_lock.h"

namespace vellix {

namespace {

// The folder of a path: everything up to its last separator, or "." for a bare name.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

// The byte taken: the last one a file can have.
constexpr DWORD kLockLow = 0xFFFFFFFEu;
constexpr DWORD kLockHigh = 0x7FFFFFFFu;

bool TakeByte(int fd) {
  OVERLAPPED at{};
  at.Offset = kLockLow;
  at.OffsetHigh = kLockHigh;
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

enum class Taken { kYes, kBusy, kFailed };

// The folder held as described above; the descriptor in `fd`.
Taken TakeFolder(const std::string& folder, int& fd, int& error) {
  const int n = MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(n, 1)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(), n);
  HANDLE h = CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    if (why == ERROR_SHARING_VIOLATION) return Taken::kBusy;
    error = why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ? ENOENT
            : why == ERROR_ACCESS_DENIED                               ? EACCES
                                                                       : EIO;
    return Taken::kFailed;
  }
  fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_NOINHERIT);
  if (fd < 0) {
    CloseHandle(h);
    error = EMFILE;
    return Taken::kFailed;
  }
  return Taken::kYes;
}

}  // namespace

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Unlock();
    fd_ = other.fd_;
    error_ = other.error_;
    other.fd_ = -1;
  }
  return *this;
}

void FileLock::Unlock() {
  if (fd_ >= 0) _close(fd_);  // closing the handle releases the lock
  fd_ = -1;
}

FileLock::Result FileLock::Lock(const std::string& path, std::chrono::milliseconds wait) {
  Unlock();
  error_ = 0;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    bool folder = false;
    int fd = FileSystem().open(path.c_str(), kOpenRead | kOpenNoWait, 0);
    Taken taken = Taken::kFailed;
    if (fd >= 0) {
      taken = TakeByte(fd) ? Taken::kYes : Taken::kBusy;
      if (taken == Taken::kBusy && GetLastError() != ERROR_LOCK_VIOLATION &&
          GetLastError() != ERROR_IO_PENDING) {
        error_ = EIO;
        _close(fd);
        return Result::kFailed;
      }
    } else if (errno == ENOENT) {
      folder = true;
      taken = TakeFolder(FolderOf(path), fd, error_);
      if (taken == Taken::kFailed) return Result::kFailed;
    } else {
      error_ = errno;
      return Result::kFailed;
    }
    if (taken == Taken::kYes) {
      // Held; but is it still the lock of what the path names? A writer that held it may
      // have replaced the file, or made it, while this one waited.
      uint64_t device = 0;
      uint64_t inode = 0;
      int why = 0;
      const bool there = RegularFileIdentity(path, device, inode, why);
      FileStatus held;
      const bool current =
          folder ? !there && why == ENOENT
                 : there && FileSystem().fstat(fd, &held) == 0 && held.device == device &&
                       held.inode == inode;
      if (current) {
        fd_ = fd;
        return Result::kLocked;
      }
      _close(fd);
      if (std::chrono::steady_clock::now() >= deadline) return Result::kTimedOut;
      continue;  // look again at once: it changed, it is not held
    }
    if (fd >= 0) _close(fd);
    if (std::chrono::steady_clock::now() >= deadline) return Result::kTimedOut;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace vellix
