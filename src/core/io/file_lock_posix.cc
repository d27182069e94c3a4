// FileLock over flock(2). A flock belongs to the open file description, not to the process
// as fcntl's record locks do, so reading and closing the same file elsewhere in the process
// does not let it go.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>

#include "io/file_lock.h"

namespace vellix {

namespace {

// The folder of a path: everything up to its last "/", or "." for a bare name.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
  fd_ = -1;
}

FileLock::Result FileLock::Lock(const std::string& path, std::chrono::milliseconds wait) {
  Unlock();
  error_ = 0;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    // O_NONBLOCK: a FIFO at the path must not hang the open (the load refuses it later).
    bool folder = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENOENT) {
      folder = true;
      fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0) {
      error_ = errno;
      return Result::kFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Held; but is it still the lock of what the path names? A writer that held it may
      // have replaced the file, or made it, while this one waited.
      struct stat held;
      struct stat now;
      const int looked = ::stat(path.c_str(), &now);
      const bool current = folder ? looked != 0 && errno == ENOENT
                                  : looked == 0 && ::fstat(fd, &held) == 0 && SameFile(held, now);
      if (current) {
        fd_ = fd;
        return Result::kLocked;
      }
      ::close(fd);
      if (std::chrono::steady_clock::now() >= deadline) return Result::kTimedOut;
      continue;  // look again at once: it changed, it is not held
    }
    const int why = errno;
    ::close(fd);
    if (why != EWOULDBLOCK && why != EINTR) {
      error_ = why;
      return Result::kFailed;
    }
    if (std::chrono::steady_clock::now() >= deadline) return Result::kTimedOut;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace vellix
