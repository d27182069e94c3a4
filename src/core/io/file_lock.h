// An advisory lock on a file's read-modify-write, shared among the processes that take it.
//
// The object needs none: each of its saves replaces the file whole and atomically. A program
// that reads a file, changes the document and writes it back (the command-line tool) does:
// two such programs at once would each write what it read, and one's change would be lost.
// The lock is advisory: it holds only against other takers of this same lock.
#pragma once

#include <chrono>
#include <string>

namespace vellix {

class FileLock {
 public:
  enum class Result {
    kLocked,    // held until Unlock or destruction
    kTimedOut,  // another holder kept it for the whole wait
    kFailed,    // the path cannot be looked at or opened (error() says why); nothing held
  };

  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept : fd_(other.fd_), folder_(other.folder_) {
    other.fd_ = -1;
    other.folder_ = nullptr;
  }
  FileLock& operator=(FileLock&& other) noexcept;
  ~FileLock() { Unlock(); }

  // Takes the lock of the file at `path`, waiting at most `wait` for another holder. A file
  // replaced while this one waited (renamed over, as every save does) is locked afresh, so
  // the holder always holds the file that the path names now. A path where nothing is yet
  // holds its folder's lock instead, which every creator of a file in that folder takes.
  Result Lock(const std::string& path, std::chrono::milliseconds wait);
  void Unlock();
  bool held() const { return fd_ >= 0 || folder_ != nullptr; }
  int error() const { return error_; }

 private:
  int fd_ = -1;             // the open file (or, on POSIX, folder) whose lock is held
  void* folder_ = nullptr;  // Windows: the folder's named lock, when that is what is held
  int error_ = 0;
};

}  // namespace vellix
