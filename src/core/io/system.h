// What the systems Vellix runs on do differently besides the file-system calls (file_io.h):
// the process's clock, folders and standard streams, code pages and the shape of paths. Each
// system has one implementation file (system_posix.cc, system_windows.cc), and the build
// compiles the one of its target; no other file of the module includes a system's own
// headers but the file-system calls' (file_io_posix.cc, file_io_windows.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Whether the path is absolute. POSIX: it begins with '/' (a leading '\' is taken as a
// separator of a relative path). Windows: it begins with '\' or has ':' as its second
// character ('/' at the start is relative there, as the system's own rule says).
bool IsAbsolutePath(std::string_view path);

// The length of the path's root, the part ".." cannot climb above and that creating folders
// starts after: "/" (or a leading "\") on POSIX; "C:\", "\\server\share\", "\\?\C:\" or
// "\" on Windows; 0 for a relative path.
size_t PathRootLength(std::string_view path);

// ---- Files

// Gives the file at a path the permission bits; false when it cannot (errno says why). On
// Windows only the write bits count: without them the file is read-only.
bool ChangeMode(const std::string& path, unsigned mode);

}  // namespace vellix
