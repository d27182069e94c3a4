// Everything of the module that is Windows's own: the file-system calls and platform helpers
// of file_io.h, and system.h.
//
// Paths arrive in the process's ANSI code page (the host's narrow texts) and are converted to
// UTF-16 once, here, at the system call; a path too long for the classic limit gets the
// "\\?\" prefix, so long paths work where the file system allows them. Files are opened
// with shared read, write and delete, so another process that holds a file open does not
// stop a save from replacing it, and always in binary: the C runtime's text mode never sees
// a byte. Descriptors are the C runtime's, over the handle; every read, write and seek goes
// to the handle directly.
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <windows.h>
// <windows.h> renames ReplaceFile to ReplaceFileW: file_io.h's own must keep its name.
#undef ReplaceFile

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/file_io.h"
#include "io/system.h"

namespace vellix {

namespace {

// The error number of the last failing Windows call, as the POSIX calls would give it.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return EPERM;  // hard links on a file system without them (FAT)
    case ERROR_INVALID_HANDLE:
      return EBADF;
    default:
      return EIO;
  }
}

int Fail(DWORD error = GetLastError()) {
  errno = ErrnoOf(error);
  return -1;
}

std::wstring Widen(std::string_view text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  }
  return out;
}

std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

// A path for the wide calls: converted from the ANSI code page, with the "\\?\" prefix when
// it is too long for the classic limit (such a path must be absolute and use "\" only).
std::wstring SystemPath(const char* path) {
  std::wstring wide = Widen(path);
  if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return wide;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A process holding the file (a virus scanner, an indexer, a backup) makes a replacement
// fail for a moment: it is tried again for about two seconds, waiting longer each time.
template <class Call>
BOOL WithBackOff(Call call) {
  DWORD wait = 5;
  for (int attempt = 0;; ++attempt) {
    if (call()) return TRUE;
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                      error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
    if (!held || attempt >= 8) {
      SetLastError(error);
      return FALSE;
    }
    Sleep(wait);
    wait *= 2;
  }
}

bool IsFolderHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION data;
  return GetFileInformationByHandle(h, &data) &&
         (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FileStatus StatusOf(DWORD attributes, uint64_t size) {
  FileStatus out;
  out.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kFolder : FileKind::kRegular;
  out.size = size;
  // The read-only attribute is the one permission bit the system has.
  out.mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  return out;
}

int SystemOpen(const char* path, unsigned flags, unsigned mode) {
  DWORD access = 0;
  if (flags & kOpenRead) access |= GENERIC_READ;
  if (flags & kOpenWrite) access |= GENERIC_WRITE;
  DWORD disposition = (flags & kOpenCreateNew) ? CREATE_NEW : OPEN_EXISTING;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (flags & kOpenFolder) {
    access = GENERIC_READ;
    disposition = OPEN_EXISTING;
    attributes = FILE_FLAG_BACKUP_SEMANTICS;  // a folder opens only with this flag
  } else if ((flags & kOpenCreateNew) && (mode & 0222) == 0) {
    attributes = FILE_ATTRIBUTE_READONLY;  // a new file without write permission
  }
  const std::wstring wide = SystemPath(path);
  HANDLE h =
      CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder cannot be opened as a file; say what POSIX says of it.
    const DWORD found = GetFileAttributesW(wide.c_str());
    if (error == ERROR_ACCESS_DENIED && found != INVALID_FILE_ATTRIBUTES &&
        (found & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EISDIR;
      return -1;
    }
    return Fail(error);
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
  }
  return fd;
}

ptrdiff_t SystemRead(int fd, void* data, size_t size) {
  DWORD got = 0;
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (!ReadFile(HandleOf(fd), data, want, &got, nullptr)) {
    if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) return 0;
    return Fail();
  }
  return static_cast<ptrdiff_t>(got);
}

ptrdiff_t SystemWrite(int fd, const void* data, size_t size) {
  DWORD put = 0;
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (!WriteFile(HandleOf(fd), data, want, &put, nullptr)) return Fail();
  return static_cast<ptrdiff_t>(put);
}

int64_t SystemLseek(int fd, int64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(HandleOf(fd), at, nullptr, FILE_BEGIN) ? offset : Fail();
}

// A folder's entries are kept by the file system's journal (and MOVEFILE_WRITE_THROUGH); a
// folder handle cannot be flushed, and need not be.
int SystemFsync(int fd) {
  const HANDLE h = HandleOf(fd);
  if (FlushFileBuffers(h)) return 0;
  const DWORD error = GetLastError();
  return IsFolderHandle(h) ? 0 : Fail(error);
}

int SystemClose(int fd) { return _close(fd) == 0 ? 0 : Fail(ERROR_INVALID_HANDLE); }

// Only files on a disk are files here: a pipe, a console or a device (NUL) is "other".
int SystemFstat(int fd, FileStatus* out) {
  const HANDLE h = HandleOf(fd);
  *out = FileStatus{};
  if (GetFileType(h) != FILE_TYPE_DISK) return 0;
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(h, &data)) return Fail();
  *out = StatusOf(data.dwFileAttributes,
                  (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  out->device = data.dwVolumeSerialNumber;
  out->inode = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  return 0;
}

// Opening never waits on Windows: there is no wait mode to end.
int SystemFcntl(int, FileControl) { return 0; }

// No reservation that keeps the length: a full disk shows in the write.
int SystemFallocate(int, int64_t) {
  errno = EOPNOTSUPP;
  return -1;
}

int SystemFtruncate(int fd, int64_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(HandleOf(fd), at, nullptr, FILE_BEGIN)) return Fail();
  return SetEndOfFile(HandleOf(fd)) ? 0 : Fail();
}

// The identity (volume serial number and file index) needs the file opened; the C runtime's
// inode number is 0 for every file.
int SystemStat(const char* path, FileStatus* out) {
  const std::wstring wide = SystemPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return Fail();
  *out = StatusOf(data.dwFileAttributes,
                  (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) out->kind = FileKind::kOther;
    if (GetFileInformationByHandle(h, &info)) {
      out->device = info.dwVolumeSerialNumber;
      out->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    CloseHandle(h);
  }
  return 0;
}

// Refused: a read-only file, or one whose security denies writing. Held by another process
// without sharing is no refusal.
int SystemAccess(const char* path) {
  const std::wstring wide = SystemPath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    errno = EACCES;
    return -1;
  }
  HANDLE h = CreateFileW(wide.c_str(), FILE_WRITE_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return 0;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? 0 : Fail();
}

// ReplaceFileW keeps the replaced file's attributes, security and creation time; it needs a
// file to replace, and where it cannot work (a file system without the support) the move
// replaces instead, written through to the disk before it returns.
int SystemRename(const char* from, const char* to) {
  const std::wstring source = SystemPath(from);
  const std::wstring target = SystemPath(to);
  const BOOL replaced = WithBackOff([&] {
    return ::ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                          nullptr, nullptr);
  });
  if (replaced) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    return Fail(error);  // the replaced file may be gone already: do not move blindly
  }
  const BOOL moved = WithBackOff([&] {
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  });
  return moved ? 0 : Fail();
}

int SystemLink(const char* from, const char* to) {
  return CreateHardLinkW(SystemPath(to).c_str(), SystemPath(from).c_str(), nullptr) ? 0 : Fail();
}

int SystemMkdir(const char* path, unsigned) {
  return CreateDirectoryW(SystemPath(path).c_str(), nullptr) ? 0 : Fail();
}

int SystemUnlink(const char* path) {
  const std::wstring wide = SystemPath(path);
  if (DeleteFileW(wide.c_str())) return 0;
  DWORD error = GetLastError();
  // A read-only file is removed as POSIX removes one: its folder decides.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileW(wide.c_str())) return 0;
    error = GetLastError();
    SetFileAttributesW(wide.c_str(), attributes);
  }
  return Fail(error);
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

uint32_t TickCount() { return GetTickCount(); }

std::string CurrentDirectory() {
  const DWORD n = GetCurrentDirectoryA(0, nullptr);
  if (n == 0) return {};
  std::string cwd(n, '\0');
  const DWORD got = GetCurrentDirectoryA(n, cwd.data());
  if (got == 0 || got >= n) return {};
  cwd.resize(got);
  return cwd;
}

std::string SystemFolder(KnownFolder which) {
  char path[MAX_PATH + 1] = {};
  if (which == KnownFolder::kSystem) {
    const UINT n = GetWindowsDirectoryA(path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
  }
  const int csidl = which == KnownFolder::kAppData ? CSIDL_APPDATA : CSIDL_COMMON_APPDATA;
  // Not created when missing: the base folder of a file is where it is looked for.
  if (!SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE)) return {};
  return path;
}

const void* ThisModuleHandle() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ThisModuleHandle), &module)) {
    return nullptr;
  }
  return module;
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool CodePageToUtf16(int32_t codePage, std::string_view text, std::u16string& out) {
  out.clear();
  const UINT page = static_cast<UINT>(codePage);
  if (!IsValidCodePage(page)) return false;
  if (text.empty()) return true;
  CPINFO info;
  const bool singleByte = GetCPInfo(page, &info) && info.MaxCharSize == 1;
  const auto convert = [&](std::string_view piece, std::u16string& into) {
    const int n = MultiByteToWideChar(page, singleByte ? MB_ERR_INVALID_CHARS : 0, piece.data(),
                                      static_cast<int>(piece.size()), nullptr, 0);
    if (n <= 0) return false;
    const size_t at = into.size();
    into.resize(at + static_cast<size_t>(n));
    MultiByteToWideChar(page, singleByte ? MB_ERR_INVALID_CHARS : 0, piece.data(),
                        static_cast<int>(piece.size()), reinterpret_cast<wchar_t*>(&into[at]), n);
    return true;
  };
  if (convert(text, out)) return true;
  // A single-byte page with bytes it does not define: byte by byte, an undefined byte
  // standing for itself.
  out.clear();
  for (char c : text) {
    if (!convert(std::string_view(&c, 1), out)) out.push_back(static_cast<unsigned char>(c));
  }
  return true;
}

bool Utf16ToCodePage(int32_t codePage, std::u16string_view text, std::string& out) {
  out.clear();
  const UINT page = static_cast<UINT>(codePage);
  if (!IsValidCodePage(page)) return false;
  if (text.empty()) return true;
  // "?" for a character the page lacks, not a look-alike letter. UTF-8 has every character
  // and takes neither flag.
  const bool utf8 = page == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* missing = utf8 ? nullptr : "?";
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int n = WideCharToMultiByte(page, flags, wide, static_cast<int>(text.size()), nullptr, 0,
                                    missing, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  WideCharToMultiByte(page, flags, wide, static_cast<int>(text.size()), out.data(), n, missing,
                      nullptr);
  return true;
}

namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// The end of the next component from `at`, and past its separator when there is one.
size_t PastComponent(std::string_view path, size_t at) {
  while (at < path.size() && !IsSlash(path[at])) ++at;
  return at < path.size() ? at + 1 : at;
}

}  // namespace

bool IsAbsolutePath(std::string_view path) {
  return (!path.empty() && path.front() == '\\') || (path.size() >= 2 && path[1] == ':');
}

size_t PathRootLength(std::string_view path) {
  if (path.rfind("\\\\?\\", 0) == 0) {
    // "\\?\C:\" or "\\?\UNC\server\share\"; any other "\\?\" form keeps the prefix alone.
    const std::string_view rest = path.substr(4);
    if (rest.size() >= 2 && rest[1] == ':')
      return 4 + (rest.size() >= 3 && IsSlash(rest[2]) ? 3 : 2);
    if (rest.rfind("UNC\\", 0) == 0) return PastComponent(path, PastComponent(path, 8));
    return 4;
  }
  if (path.rfind("\\\\", 0) == 0) return PastComponent(path, PastComponent(path, 2));
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && IsSlash(path[2]) ? 3 : 2;
  if (!path.empty() && path.front() == '\\') return 1;
  return 0;
}

bool ChangeMode(const std::string& path, unsigned mode) {
  const std::wstring wide = SystemPath(path.c_str());
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail() == 0;
  const DWORD wanted = (mode & 0222) != 0 ? attributes & ~FILE_ATTRIBUTE_READONLY
                                          : attributes | FILE_ATTRIBUTE_READONLY;
  return wanted == attributes || SetFileAttributesW(wide.c_str(), wanted) || Fail() == 0;
}

namespace platform {

// Symbolic links are followed by the system itself, and ReplaceFileW replaces the file a
// path names.
std::string FollowLinks(const std::string& path) { return path; }

// ReplaceFileW gives the replacement the old file's attributes and security.
void CopyOwnerAndBits(int, const FileStatus&) {}

// Security decides who may replace a file, not an owner id: a kept copy by hard link is
// always made.
bool OwnsFile(const FileStatus&) { return true; }

void StartWriteBack(int, uint64_t, uint64_t) {}

namespace {

// The process's start time in units of 10 ms: with the id, it names one process, where an
// id alone comes back within seconds on Windows.
uint32_t StartTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  const uint64_t ticks =
      (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return static_cast<uint32_t>(ticks / 100000);
}

}  // namespace

// The id and the start time in one number: the process id in the low 32 bits.
uint64_t ProcessId() {
  return static_cast<uint64_t>(StartTime(GetCurrentProcess())) << 32 | GetCurrentProcessId();
}

bool ProcessGone(uint64_t id) {
  const auto pid = static_cast<DWORD>(id & 0xFFFFFFFFu);
  const auto started = static_cast<uint32_t>(id >> 32);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  const uint32_t start = StartTime(process);
  CloseHandle(process);
  return !running || (start != 0 && start != started);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::string pattern = folder.empty() ? std::string(".") : folder;
  if (pattern.back() != '\\' && pattern.back() != '/') pattern.push_back('\\');
  pattern.push_back('*');
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(SystemPath(pattern.c_str()).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = Narrow(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return names;
}

}  // namespace platform

}  // namespace vellix
