// Whole-file reading and crash-safe replacement, over a small table of system calls that
// tests can swap to inject faults (a full disk after N bytes, a failing flush or rename).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vellix {

// The system calls used to write files. Every entry has the signature and error convention
// of the POSIX call it is named after (-1 and errno on failure).
struct FileSystemCalls {
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};

// The calls in use; tests replace entries and restore them with DefaultFileSystemCalls().
FileSystemCalls& FileSystem();
FileSystemCalls DefaultFileSystemCalls();

// Reads a whole regular file (or any other readable non-folder) into `out`, sized from the
// file's size so that one buffer and one pass suffice. False when it cannot be opened or is
// a folder (errno then says why: EISDIR for a folder); `out` is then empty.
bool ReadWholeFile(const std::string& path, std::string& out);

// Whether the path names something that can be opened for reading as a file.
bool FileReadable(const std::string& path);

// Replaces the file with `content` atomically: a temporary file in the same folder is
// written, flushed and renamed over the old one, so the old file stays whole when anything
// fails, and no temporary file is left behind. The replaced file keeps its permission bits;
// a symbolic link is followed and its target replaced. A target that exists but is neither a
// regular file nor a folder (a device, a pipe) is written in place. False when the content
// could not be written.
bool ReplaceFile(const std::string& path, std::string_view content);

}  // namespace vellix
