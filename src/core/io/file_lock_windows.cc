// FileLock over LockFileEx. Windows's byte-range locks are mandatory: a lock over the file's
// bytes would stop every other reader, the holder's own load and save among them. The lock
// therefore takes one byte far past any end a file can have, which no read or write touches
// and which every taker of this lock asks for. It belongs to the handle, so reading and
// closing the same file elsewhere in the process does not let it go.
//
// A path where nothing is yet holds its folder's lock instead. A folder cannot be locked
// (and a process's current folder cannot be opened for anything exclusive), so the folder's
// lock is a named mutex of the session, named after the folder's full path. A mutex is let
// go by the system when its holder ends, also when it crashes; as a thread may take its own
// mutex again, the process also keeps the names it holds, so that a second taker in the
// same process waits as another process would.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <map>
#include <mutex>
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

// The folder locks this process holds: the mutex and its name.
std::map<void*, std::wstring>& HeldFolders() {
  static std::map<void*, std::wstring> held;
  return held;
}
bool HeldHere(const std::wstring& name) {
  for (const auto& [mutex, held] : HeldFolders()) {
    if (held == name) return true;
  }
  return false;
}
std::mutex& HeldFoldersGuard() {
  static std::mutex guard;
  return guard;
}

// The mutex's name: the folder's full path, in one case, hashed (a name has no "\").
std::wstring FolderLockName(const std::string& folder) {
  const int n = MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(n, 1)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(), n);
  std::wstring full(32768, L'\0');
  const DWORD got =
      GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (got == 0 || got >= full.size()) {
    full = wide;
  } else {
    full.resize(got);
  }
  while (!full.empty() && (full.back() == L'\\' || full.back() == L'/' || full.back() == L'\0')) {
    full.pop_back();
  }
  if (!full.empty()) CharLowerBuffW(full.data(), static_cast<DWORD>(full.size()));
  uint64_t hash = 14695981039346656037u;  // FNV-1a
  for (const wchar_t c : full) {
    hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211u;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\vellix-folder-lock-%016llx",
                static_cast<unsigned long long>(hash));
  return name;
}

// Takes the folder's lock; the mutex in `mutex` when it is taken.
Taken TakeFolder(const std::string& folder, HANDLE& mutex, int& error) {
  FileStatus st;
  if (FileSystem().stat(folder.c_str(), &st) != 0) {
    error = errno;
    return Taken::kFailed;
  }
  if (st.kind != FileKind::kFolder) {
    error = ENOTDIR;
    return Taken::kFailed;
  }
  const std::wstring name = FolderLockName(folder);
  {
    const std::lock_guard<std::mutex> guard(HeldFoldersGuard());
    if (HeldHere(name)) return Taken::kBusy;
  }
  mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return Taken::kFailed;
  }
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    const std::lock_guard<std::mutex> guard(HeldFoldersGuard());
    HeldFolders()[mutex] = name;
    return Taken::kYes;
  }
  CloseHandle(mutex);
  mutex = nullptr;
  if (waited == WAIT_TIMEOUT) return Taken::kBusy;
  error = EIO;
  return Taken::kFailed;
}

void LetFolderGo(HANDLE mutex) {
  {
    const std::lock_guard<std::mutex> guard(HeldFoldersGuard());
    HeldFolders().erase(mutex);
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Unlock();
    fd_ = other.fd_;
    folder_ = other.folder_;
    error_ = other.error_;
    other.fd_ = -1;
    other.folder_ = nullptr;
  }
  return *this;
}

void FileLock::Unlock() {
  if (fd_ >= 0) _close(fd_);  // closing the handle releases the lock
  fd_ = -1;
  if (folder_ != nullptr) LetFolderGo(static_cast<HANDLE>(folder_));
  folder_ = nullptr;
}

FileLock::Result FileLock::Lock(const std::string& path, std::chrono::milliseconds wait) {
  Unlock();
  error_ = 0;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    int fd = FileSystem().open(path.c_str(), kOpenRead | kOpenNoWait, 0);
    HANDLE mutex = nullptr;
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
      taken = TakeFolder(FolderOf(path), mutex, error_);
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
      const bool current = mutex != nullptr ? !there && why == ENOENT
                                            : there && FileSystem().fstat(fd, &held) == 0 &&
                                                  held.device == device && held.inode == inode;
      if (current) {
        fd_ = fd;
        folder_ = mutex;
        return Result::kLocked;
      }
      if (fd >= 0) _close(fd);
      if (mutex != nullptr) LetFolderGo(mutex);
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
