// Reading and writing the object's files for the tool, through the files room's own code.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/files.h"
#include "io/file_io.h"
#include "io/system.h"
#include "tool.h"

namespace vellix::cli {

namespace {

std::string SystemError(int error) { return error != 0 ? std::strerror(error) : "failed"; }

// The exit code of a load that did not take the file in whole.
int ExitFor(LoadFault fault) {
  switch (fault) {
    case LoadFault::kNone:
      return kOk;
    case LoadFault::kNotFound:
      return kNotFound;
    case LoadFault::kUnreadable:
      return kIoError;
    case LoadFault::kBadLength:
    case LoadFault::kDecompressFailed:
    case LoadFault::kZeroByte:
    case LoadFault::kControlBytes:
    case LoadFault::kTooLong:
      return kUndecodable;
  }
  return kUndecodable;
}

std::string Explain(const LoadReport& report, const FileSettings& settings) {
  std::string why = DescribeLoadFault(report.fault);
  if (report.fault == LoadFault::kUnreadable && report.error != 0) {
    // Only regular files are read: a FIFO or a device is refused without waiting on it.
    why += std::string(": ") +
           (report.error == EINVAL ? "not a regular file" : std::strerror(report.error));
  }
  // The usual cause of each decoding fault, for the one who has to act on it.
  const DocumentSettings& s = settings.document;
  if (report.fault == LoadFault::kZeroByte || report.fault == LoadFault::kControlBytes) {
    if (s.encrypt) {
      why += " (a wrong key?)";
    } else if (!s.compressFile) {
      why +=
          " (compressed or enciphered? try --compressed, or give the key with --key-file"
          " or VELLIX_KEY)";
    } else {
      why += " (enciphered? give the key with --key-file or VELLIX_KEY)";
    }
  } else if (report.fault == LoadFault::kDecompressFailed ||
             report.fault == LoadFault::kBadLength) {
    why += " (not compressed, or cut short?)";
  }
  return why;
}

std::unique_ptr<Store> EmptyDocument(const FileSettings& settings) {
  auto store = std::make_unique<Store>();
  Adopt(*store, settings);
  store->SetCaseSensitive(settings.caseSensitive);
  return store;
}

// Keeps the bytes FILE has in FILE.bak, with FILE's permission bits from the start: the
// copy of a private save is never readable by others, not even for a moment.
void KeepBackup(const std::string& file) {
  std::string old;
  ReadInfo info;
  if (!ReadWholeFile(file, old, &info)) {
    if (info.error == ENOENT) return;  // nothing to keep yet
    throw Failure(kIoError, file, "cannot be read for the backup: " + SystemError(info.error));
  }
  FileStatus st;
  if (Retrying(&FileSystemCalls::stat, file.c_str(), &st) != 0) {
    throw Failure(kIoError, file, "cannot be read for the backup: " + SystemError(errno));
  }
  const std::string backup = file + ".bak";
  const unsigned bits = st.mode & 0777;
  const int fd =
      Retrying(&FileSystemCalls::open, backup.c_str(), kOpenWrite | kOpenCreateNew, bits);
  if (fd >= 0) {
    FileSystem().close(fd);
  } else if (errno != EEXIST || !ChangeMode(backup, bits)) {
    throw Failure(kIoError, backup, "cannot be written: " + SystemError(errno));
  }
  if (const SaveStatus saved = ReplaceFile(backup, old); !saved) {
    throw Failure(kIoError, backup, "cannot be written: " + SystemError(saved.error));
  }
}

void WriteOut(const std::string& bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
      std::fflush(stdout) != 0) {
    throw Failure(kIoError, "-", "cannot be written: " + SystemError(errno));
  }
}

}  // namespace

void Adopt(Store& store, const FileSettings& settings) {
  store.settings() = settings.document;
  // The tool writes only where a command says so; the document never saves itself (it
  // has no save hook either).
  store.settings().autoSave = false;
  store.settings().readOnly = false;
  store.settings().fileName.clear();
}

std::string ReadInput(const std::string& file) {
  std::string bytes;
  if (file != "-") {
    ReadInfo info;
    if (!ReadWholeFile(file, bytes, &info)) {
      if (info.error == ENOENT) throw Failure(kNotFound, file, "not found");
      throw Failure(kIoError, file, "cannot be read: " + SystemError(info.error));
    }
    return bytes;
  }
  char buffer[1 << 16];
  // Standard input is binary (UseBinaryStandardStreams), so the bytes come as they are.
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
    bytes.append(buffer, n);
    if (n == sizeof buffer) continue;
    if (std::ferror(stdin)) throw Failure(kIoError, "-", "cannot be read: " + SystemError(errno));
    break;
  }
  return bytes;
}

std::unique_ptr<Store> ReadDocument(const std::string& file, const FileSettings& settings,
                                    bool missingIsEmpty, LoadReport* seen) {
  auto store = EmptyDocument(settings);
  const DocumentSettings& s = settings.document;
  LoadReport local;
  LoadReport& report = seen != nullptr ? *seen : local;
  if (file == "-") {
    std::string bytes = ReadInput(file);
    LoadBytes(*store, bytes, s.compressFile, s.encrypt, s.encryptionKey, &report);
  } else {
    LoadFile(*store, file, s.compressFile, s.encrypt, s.encryptionKey, &report);
  }
  if (report.fault == LoadFault::kNotFound && missingIsEmpty) return EmptyDocument(settings);
  const bool accepted = report.fault == LoadFault::kControlBytes && settings.controlBytes;
  if (report.fault != LoadFault::kNone && !accepted) {
    throw Failure(ExitFor(report.fault), file, Explain(report, settings));
  }
  return store;
}

void WriteDocument(const Store& store, const std::string& file, const FileSettings& settings,
                   bool backup) {
  const DocumentSettings& s = settings.document;
  std::string bytes;
  if (!EncodeDocument(store, s.compressFile, s.encrypt, s.encryptionKey, bytes)) {
    throw Failure(kIoError, file, "cannot be written: the document is too large for a block");
  }
  if (file == "-") return WriteOut(bytes);
  if (backup) KeepBackup(file);
  if (const SaveStatus saved = ReplaceFile(file, bytes); !saved) {
    throw Failure(kIoError, file, "cannot be written: " + SystemError(saved.error));
  }
}

}  // namespace vellix::cli
