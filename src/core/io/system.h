// What the systems Vellix runs on do differently, behind one interface: the process's clock,
// folders and standard streams, code pages, the shape of paths, and the file-system details
// file_io.cc needs besides its table of calls. Each system has one implementation file
// (system_posix.cc, system_windows.cc), and the build compiles the one of its target; no other
// file of the module includes a system's own headers.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

// ---- The process

// Milliseconds on a monotonic clock, wrapping around at 2^32 (the system's tick count).
uint32_t TickCount();

// The process's current directory, in the system's own form; "" when it cannot be had.
std::string CurrentDirectory();

// Folders the system itself knows. On Windows: the Windows directory, the user's application
// data and the shared application data (none of them created when missing); "" where the
// system has no such folder (POSIX) or it cannot be had.
enum class KnownFolder { kSystem, kAppData, kCommonAppData };
std::string SystemFolder(KnownFolder which);

// The handle of the module this code is linked into (its HINSTANCE on Windows); null where
// the system gives modules none.
const void* ThisModuleHandle();

// Standard input, output and error pass bytes through unchanged (no CR added before LF),
// so transcripts and piped files stay byte for byte.
void UseBinaryStandardStreams();

// ---- Code pages

// A code page's text as UTF-16, and back. A byte the code page does not define stands for
// itself; a character it lacks becomes "?" (no look-alike letter). False when the system has
// no such code page; the output is then empty.
bool CodePageToUtf16(int32_t codePage, std::string_view text, std::u16string& out);
bool Utf16ToCodePage(int32_t codePage, std::u16string_view text, std::string& out);

// ---- Paths

// The separator paths are written with: '/' on POSIX, '\' on Windows. Both are read as
// separators on both systems.
extern const char kPathSeparator;

// Whether the path is absolute. POSIX: it begins with '/' (a leading '\' is taken as a
// separator of a relative path). Windows: it begins with '\' or has ':' as its second
// character ('/' at the start is relative there, as the system's own rule says).
bool IsAbsolutePath(std::string_view path);

// The length of the path's root, the part ".." cannot climb above and that creating folders
// starts after: "/" (or a leading "\") on POSIX; "C:\", "\\server\share\", "\\?\C:\" or
// "\" on Windows; 0 for a relative path.
size_t PathRootLength(std::string_view path);

// ---- Files (for file_io.cc)

// The longest name a folder entry can have.
constexpr size_t kNameMax = 255;

// Flags added to every open: do not wait on a FIFO, do not hand the descriptor to child
// processes. 0 where the system needs neither.
extern const int kOpenNoWait;

// What an open descriptor refers to. `identity` tells two files apart: the device and inode
// on POSIX, the volume serial number and file index on Windows.
struct OpenFileInfo {
  bool regular = false;
  bool directory = false;
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  mode_t mode = 0;  // permission bits, where the system has them
};
bool DescribeOpenFile(int fd, OpenFileInfo& info);

// The identity of a regular file found at a path by the table's stat (`st`).
bool PathIdentity(const std::string& path, const struct stat& st, uint64_t& device,
                  uint64_t& inode);

// Makes a descriptor opened with kOpenNoWait wait again on reads and writes.
void ClearNoWait(int fd);

// Closes a descriptor; false when closing reports an error.
bool CloseFile(int fd);

// Moves to an offset from the start; false when it cannot.
bool SeekTo(int fd, uint64_t offset);

// Reserves space for `size` bytes without changing the file's length, where the system can:
// false only when the disk is known to be too full.
bool ReserveSpace(int fd, uint64_t size);

// Asks the disk to start writing a range now (a hint only).
void StartWriting(int fd, uint64_t offset, uint64_t size);

// The file a path finally names, symbolic links followed (a dangling one to its target).
std::string FollowLinks(const std::string& path);

// Whether this process may write the existing file (read-only files are refused).
bool MayWrite(const std::string& path);

// Gives a replacement the owner and permission bits of the file it replaces (best effort;
// nothing to do where a replacement keeps them by itself).
void TakeOwnerAndMode(int fd, const struct stat& old);

// Gives a file the permission bits (best effort).
void TakeMode(int fd, mode_t mode);

// Gives the file at a path the permission bits; false when it cannot (errno says why). On
// Windows only the write bits count: without them the file is read-only.
bool ChangeMode(const std::string& path, mode_t mode);

// Flushes the folder entry of a file just renamed into place (best effort).
void SyncFolderOf(const std::string& file);

// The names in a folder ("" for the working folder); empty when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

// Temporaries carry a tag of the process that writes them; a tag says whether its writer
// still runs. The tag is made of hex digits and '-', never '.'. A process id alone is not
// enough where ids are reused quickly (Windows): there the tag holds the process's start
// time too.
std::string WriterTag();
bool WriterGone(std::string_view tag);

}  // namespace vellix
