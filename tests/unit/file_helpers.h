// Helpers of the tests that work with files: scratch folders, whole-file reads and writes,
// and faults injected into the file-system calls of the files room.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "io/file_io.h"

namespace vellix {

inline std::string IniLikeText(int groups, int items) {
  std::ostringstream out;
  for (int g = 0; g < groups; ++g) {
    out << "[group" << g << "]\r\n";
    for (int i = 0; i < items; ++i) out << "item" << i << "=value " << g * items + i << "\r\n";
  }
  return out.str();
}

// The system's folder for temporary files (/tmp on POSIX), without a trailing separator.
inline std::string TemporaryFolder() {
  std::error_code ec;
  std::string folder = std::filesystem::temp_directory_path(ec).string();
  if (ec || folder.empty()) return "/tmp";
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

// A fresh folder per test, removed afterwards; in the temporary folder unless another folder
// is named.
class TempFolder {
 public:
  explicit TempFolder(const std::string& under = TemporaryFolder()) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::string candidate = under + "/vellix-files-" + std::to_string(random());
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
    }
    if (path_.empty()) std::abort();
  }
  ~TempFolder() {
    std::error_code ec;
    // Undo any permission change a test made so the whole tree can go.
    const auto all = std::filesystem::perms::owner_all;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec)) std::filesystem::permissions(it->path(), all, ec);
    }
    std::filesystem::permissions(path_, all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream out;
  out << f.rdbuf();
  return out.str();
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

inline std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The system's own file-system calls, for stand-ins that pass calls on.
inline const FileSystemCalls& System() {
  static const FileSystemCalls calls = DefaultFileSystemCalls();
  return calls;
}

// Swaps file-system calls for the duration of a test.
class FaultInjection {
 public:
  ~FaultInjection() { FileSystem() = DefaultFileSystemCalls(); }

  // The disk fills up after `bytes` bytes have been written.
  static void FailWritesAfter(size_t bytes) {
    budget() = bytes;
    FileSystem().write = [](int fd, const void* data, size_t size) -> ptrdiff_t {
      if (budget() == 0) {
        errno = ENOSPC;
        return -1;
      }
      const size_t n = size < budget() ? size : budget();
      const ptrdiff_t written = System().write(fd, data, n);
      if (written > 0) budget() -= static_cast<size_t>(written);
      return written;
    };
  }
  static void FailFsync() {
    FileSystem().fsync = [](int) -> int {
      errno = EIO;
      return -1;
    };
  }
  static void FailRename(int error = EXDEV) {
    renameError() = error;
    FileSystem().rename = [](const char*, const char*) -> int {
      errno = renameError();
      return -1;
    };
  }
  // The disk reports an error after `bytes` bytes have been read.
  static void FailReadsAfter(size_t bytes) {
    budget() = bytes;
    FileSystem().read = [](int fd, void* data, size_t size) -> ptrdiff_t {
      if (budget() == 0) {
        errno = EIO;
        return -1;
      }
      const ptrdiff_t got = System().read(fd, data, size < budget() ? size : budget());
      if (got > 0) budget() -= static_cast<size_t>(got);
      return got;
    };
  }
  // The folder refuses new entries, as a read-only or someone else's sticky folder does.
  static void RefuseNewFiles() {
    FileSystem().open = [](const char* path, unsigned flags, unsigned mode) -> int {
      if ((flags & kOpenCreateNew) != 0) {
        errno = EACCES;
        return -1;
      }
      return System().open(path, flags, mode);
    };
    FileSystem().link = [](const char*, const char*) -> int {
      errno = EACCES;
      return -1;
    };
  }

 private:
  static size_t& budget() {
    static size_t left = 0;
    return left;
  }
  static int& renameError() {
    static int error = 0;
    return error;
  }
};

}  // namespace vellix
