// Reading and writing the object's files for the tool, through the files room's own code.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "files/files.h"
#include "format/text.h"
#include "io/file_io.h"
#include "io/system.h"
#include "tool.h"

namespace vellix::cli {

bool WriteNewFile(const std::string& path, std::string_view bytes, const FileStatus* like,
                  int& error) {
  const unsigned mode = like != nullptr ? (like->mode & 0777) : 0600;
  const int fd =
      Retrying(&FileSystemCalls::open, path.c_str(), unsigned{kOpenWrite | kOpenCreateNew}, mode);
  if (fd < 0) {
    error = errno;
    return false;
  }
  if (like != nullptr) platform::CopyOwnerAndBits(fd, *like);
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ptrdiff_t n =
        Retrying(&FileSystemCalls::write, fd, static_cast<const void*>(bytes.data() + done),
                 bytes.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && Retrying(&FileSystemCalls::fsync, fd) == 0;
  error = ok ? 0 : (errno != 0 ? errno : EIO);
  if (FileSystem().close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) Retrying(&FileSystemCalls::unlink, path.c_str());
  return ok;
}

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

// Whether the bytes begin as the object's compressed block does: a length field, then the
// two-byte header of a zlib stream (which compression after enciphering leaves readable).
bool LooksCompressed(const std::string& file) {
  if (file == "-") return false;
  std::string bytes;
  if (!ReadWholeFile(file, bytes) || bytes.size() < 6) return false;
  const auto cmf = static_cast<unsigned char>(bytes[4]);
  const auto flg = static_cast<unsigned char>(bytes[5]);
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0;
}

std::string Explain(const LoadReport& report, const FileSettings& settings,
                    const std::string& file) {
  std::string why = DescribeLoadFault(report.fault);
  if (report.fault == LoadFault::kUnreadable && report.error != 0) {
    // Only regular files are read: a FIFO or a device is refused without waiting on it.
    why += std::string(": ") +
           (report.error == EINVAL ? "not a regular file" : std::strerror(report.error));
  }
  // The usual cause of each decoding fault, for the one who has to act on it.
  const DocumentSettings& s = settings.document;
  if (report.fault == LoadFault::kZeroByte || report.fault == LoadFault::kControlBytes) {
    if (!s.compressFile && LooksCompressed(file)) {
      why += " (looks compressed: try --compressed)";
    } else if (s.encrypt) {
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
// copy of a private save is never readable by others, not even for a moment. The copy is
// written to a new file of its own and renamed over FILE.bak, so whatever stands there is
// replaced, never followed: a symbolic link planted as FILE.bak in a shared folder cannot
// send the copy into a file it points to.
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
  std::string temporary;
  int error = 0;
  for (int attempt = 0; temporary.empty(); ++attempt) {
    const std::string name = backup + "." + std::to_string(platform::ProcessId() % 1000000) + "-" +
                             std::to_string(attempt);
    if (WriteNewFile(name, old, &st, error)) {
      temporary = name;
    } else if (error != EEXIST || attempt >= 100) {
      throw Failure(kIoError, backup, "cannot be written: " + SystemError(error));
    }
  }
  if (Retrying(&FileSystemCalls::rename, temporary.c_str(), backup.c_str()) != 0) {
    error = errno;
    Retrying(&FileSystemCalls::unlink, temporary.c_str());
    throw Failure(kIoError, backup, "cannot be written: " + SystemError(error));
  }
}

// The line ends of a plain text: between lines, and after the last one or not.
struct LineForm {
  std::string_view end;
  bool final = false;
};

// How a write ends its lines. The object writes CR LF between lines and none after the
// last; a file written elsewhere keeps the line ends it had (a one-value change of an LF
// file must not change every line of it), and a new file or standard output takes LF,
// every line ended, unless --newline asks for the object's form.
LineForm FormFor(const FileSettings& settings, const TextShape* shape, bool output) {
  const DocumentSettings& s = settings.document;
  if (!s.standardNewLine()) {
    // The writer uses the new-line text asked for.
    const bool lf = s.NewLineText() == "\n";
    return {s.NewLineText(), shape != nullptr ? shape->finalLineEnd : output || lf};
  }
  if (settings.newLineGiven) return {"\r\n", shape != nullptr ? shape->finalLineEnd : output};
  if (shape == nullptr) return {"\n", true};
  switch (shape->lineEnd) {
    case LineEnd::kLf:
      return {"\n", shape->finalLineEnd};
    case LineEnd::kCr:
      return {"\r", shape->finalLineEnd};
    case LineEnd::kCrLf:
    case LineEnd::kNone:
      break;
  }
  return {"\r\n", shape->finalLineEnd};
}

// Gives a text the writer made the line ends of `form`. In the standard mode the writer
// puts CR LF between lines, and no name or value holds a CR or an LF of its own (the reader
// would cut the line there, so none ever reads back so, and every command refuses to write
// one), so every CR LF is a line end. The text comes in pieces, and a piece may end between
// the CR and the LF of a line end.
class FormSink final : public TextSink {
 public:
  FormSink(ByteWriter& out, const DocumentSettings& settings, const LineForm& form)
      : out_(out), convert_(settings.standardNewLine() && form.end != "\r\n"), form_(form) {}

  bool Take(char* data, size_t size) override {
    if (size == 0) return true;
    wrote_ = true;
    if (!convert_) return out_.Append({data, size});
    piece_.clear();
    size_t in = 0;
    if (pendingCr_) {
      pendingCr_ = false;
      if (data[0] == '\n') {
        piece_.append(form_.end);
        in = 1;
      } else {
        piece_.push_back('\r');
      }
    }
    for (; in < size; ++in) {
      if (data[in] != '\r') {
        piece_.push_back(data[in]);
      } else if (in + 1 == size) {
        pendingCr_ = true;
      } else if (data[in + 1] == '\n') {
        piece_.append(form_.end);
        ++in;
      } else {
        piece_.push_back('\r');
      }
    }
    return out_.Append(piece_);
  }

  // The end of the text: a CR held back, and the last line's end when the form has one.
  bool Finish() {
    if (pendingCr_ && !out_.Append("\r")) return false;
    return !(form_.final && wrote_) || out_.Append(form_.end);
  }

 private:
  ByteWriter& out_;
  bool convert_;
  LineForm form_;
  bool pendingCr_ = false;
  bool wrote_ = false;
  std::string piece_;
};

// Gives a whole text the form, as FormSink does to a text in pieces.
void ApplyForm(std::string& text, const DocumentSettings& settings, const LineForm& form) {
  std::string formed;
  StringWriter out(formed);
  FormSink sink(out, settings, form);
  sink.Take(text.data(), text.size());
  sink.Finish();
  text.swap(formed);
}

// Standard output as a ByteWriter: it can only append.
class StdoutWriter final : public ByteWriter {
 public:
  bool Append(std::string_view bytes) override {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size()) return true;
    error = errno;
    return false;
  }
  bool Overwrite(size_t /*offset*/, std::string_view /*bytes*/) override { return false; }
  int error = 0;
};

// Passes bytes on and shows how many have gone.
class CountingWriter final : public ByteWriter {
 public:
  CountingWriter(ByteWriter& out, Progress& progress) : out_(out), progress_(progress) {}
  bool Append(std::string_view bytes) override {
    progress_.Add(bytes.size());
    return out_.Append(bytes);
  }
  bool Overwrite(size_t offset, std::string_view bytes) override {
    return out_.Overwrite(offset, bytes);
  }

 private:
  ByteWriter& out_;
  Progress& progress_;
};

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
  // Standard input can be read only once: a second reader (a whole read after a scan that
  // could not answer) gets the same bytes.
  static std::optional<std::string> standardInput;
  if (standardInput) return *standardInput;
  char buffer[1 << 16];
  // Standard input is binary (UseBinaryStandardStreams), so the bytes come as they are.
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
    bytes.append(buffer, n);
    if (n == sizeof buffer) continue;
    if (std::ferror(stdin)) throw Failure(kIoError, "-", "cannot be read: " + SystemError(errno));
    break;
  }
  standardInput = bytes;
  return bytes;
}

void LockForWriting(FileLock& lock, const std::string& file, const FileSettings& settings) {
  if (file == "-") return;
  const auto wait =
      std::chrono::milliseconds(static_cast<int64_t>(settings.lockWaitSeconds * 1000));
  switch (lock.Lock(file, wait)) {
    case FileLock::Result::kLocked:
      return;
    case FileLock::Result::kTimedOut: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", settings.lockWaitSeconds);
      throw Failure(kIoError, file,
                    std::string("another writer holds the file; waited ") + seconds +
                        " s (--lock-wait), nothing written");
    }
    case FileLock::Result::kFailed:
      // The path cannot be opened or looked at: the read or the write says why.
      return;
  }
}

Document ReadDocument(const std::string& file, const FileSettings& settings, Use use) {
  Document document;
  if (use == Use::kChange || use == Use::kChangeOrCreate) {
    LockForWriting(document.lock, file, settings);
  }
  document.store = EmptyDocument(settings);
  const DocumentSettings& s = settings.document;
  LoadReport& report = document.report;
  if (file == "-") {
    std::string bytes = ReadInput(file);
    LoadBytes(*document.store, bytes, s.compressFile, s.encrypt, s.encryptionKey, &report);
  } else {
    Progress progress("reading " + file);
    LoadFile(*document.store, file, s.compressFile, s.encrypt, s.encryptionKey, &report,
             [&](uint64_t read, uint64_t size) { progress.Show(read, size); });
  }
  if (report.fault == LoadFault::kNotFound && use == Use::kChangeOrCreate) {
    document.store = EmptyDocument(settings);
    return document;
  }
  const bool accepted = report.fault == LoadFault::kControlBytes && settings.controlBytes;
  if (report.fault != LoadFault::kNone && !accepted) {
    throw Failure(ExitFor(report.fault), file, Explain(report, settings, file));
  }
  document.existed = true;
  // Told LF (or CR) where the lines end in CR LF, the reader keeps a CR at the end of every
  // line, and no header reads as one.
  if (!s.standardNewLine() && (s.NewLineText() == "\n" || s.NewLineText() == "\r") &&
      report.shape.lineEnd == LineEnd::kCrLf) {
    throw Failure(kUsage, file,
                  std::string("the lines end in CR LF, not ") +
                      (s.NewLineText() == "\n" ? "LF" : "CR") +
                      " as --newline says (leave --newline out, or give --newline crlf)");
  }
  if (use != Use::kShow && report.loss.line != 0 && !settings.force) {
    std::string keeps;
    switch (report.loss.what) {
      case LineLoss::kItemReplaced:
      case LineLoss::kItemDropped:
        keeps = "--item-repeat rename --save-original keeps every value, ";
        break;
      case LineLoss::kGroupMerged:
      case LineLoss::kGroupReplaced:
      case LineLoss::kGroupDropped:
        keeps = "--group-repeat rename --save-original keeps every group, ";
        break;
      default:
        break;
    }
    throw Failure(
        kUndecodable, file,
        DescribeLoss(report.loss) + "; " + keeps + "--force writes anyway; nothing written");
  }
  return document;
}

void WriteDocument(const Store& store, const std::string& file, const FileSettings& settings,
                   bool backup, const TextShape* shape) {
  const DocumentSettings& s = settings.document;
  const LineForm form = FormFor(settings, file == "-" ? nullptr : shape, file == "-");
  // The text goes out in pieces as the writer makes them (a large document is never held a
  // second time as one text); only a compressed block for standard output, whose length
  // field comes first, is gathered.
  Progress progress("writing " + (file == "-" ? std::string("standard output") : file));
  const ContentProducer produce = [&](ByteWriter& out) {
    CountingWriter counted(out, progress);
    if (s.compressFile || s.encrypt) {
      // Only the object reads these, so they take its own form whatever the file was.
      return EncodeDocumentTo(store, s.compressFile, s.encrypt, s.encryptionKey, counted);
    }
    FormSink sink(counted, s, form);
    return WriteTextTo(store, sink) && sink.Finish();
  };
  if (file == "-") {
    std::string gathered;
    StringWriter memory(gathered);
    StdoutWriter stdoutWriter;
    const bool compressed = s.compressFile;
    if (!produce(compressed ? static_cast<ByteWriter&>(memory) : stdoutWriter)) {
      if (compressed) {
        throw Failure(kIoError, file, "cannot be written: the document is too large for a block");
      }
      throw Failure(kIoError, "-", "cannot be written: " + SystemError(stdoutWriter.error));
    }
    if (compressed) WriteOut(gathered);
    if (std::fflush(stdout) != 0) {
      throw Failure(kIoError, "-", "cannot be written: " + SystemError(errno));
    }
    return;
  }
  if (backup) KeepBackup(file);
  if (const SaveStatus saved = ReplaceFileWith(file, produce); !saved) {
    if (saved.error == 0 && (s.compressFile || s.encrypt)) {
      throw Failure(kIoError, file, "cannot be written: the document is too large for a block");
    }
    throw Failure(kIoError, file, "cannot be written: " + SystemError(saved.error));
  }
}

std::string ShownText(const Store& store, const FileSettings& settings) {
  std::string text = WriteText(store);
  if (text.empty()) return text;
  if (!store.settings().standardNewLine()) {
    // Ended by the document's new line, and by a line feed for the terminal when that is
    // something else.
    text += store.NewLineText();
    if (text.back() != '\n') text += '\n';
    return text;
  }
  ApplyForm(text, store.settings(), FormFor(settings, nullptr, true));
  return text;
}

// Built by appending: GCC 12 at -O3 reports a false overlap (-Wrestrict, its bug 105651)
// for a chain of operator+ starting with a literal.
std::string Quoted(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += '"';
  out.append(name);
  out += '"';
  return out;
}

// What lets the settings hold the document's texts: the escapes of the new-line text
// cover a line feed of its own only when that is the new-line text.
namespace {
std::string Advice(const Store& document) {
  bool bareLineFeed = false;
  bool lineBreak = false;
  document.ForEachGroup([&](const Group& g) {
    const auto look = [&](std::string_view text) {
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') lineBreak = true;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) bareLineFeed = true;
      }
    };
    look(g.name());
    g.ForEachItem([&](const Item& it) {
      look(it.name());
      look(it.value());
    });
  });
  const bool standard = document.settings().standardNewLine();
  if (bareLineFeed && standard) {
    return "a line feed on its own needs --newline lf with --escape-values or --escape-names";
  }
  if (lineBreak) return "line breaks need --escape-values, --escape-names or --escape-groups";
  return "edge blanks and quotes need --quote, --escape-values or --escape-names";
}

}  // namespace

// Whether the settings can hold this document (see tool.h): its text, read back with the same
// settings, gives the same groups, items and values. A value with a line break, edge
// blanks or enclosing quotes, for example, needs escapes or quoting to survive.
namespace {

// The first way `back` differs from `document` in groups, items and values ("" when none).
std::string Difference(const Store& document, const Store& back) {
  if (back.GroupCount() != document.GroupCount()) return "the groups change";
  for (size_t n = 0; n < static_cast<size_t>(document.GroupCount()); ++n) {
    const Group& a = document.GroupAt(n);
    const Group& b = back.GroupAt(n);
    if (a.name() != b.name() || a.size() != b.size()) {
      return "group " + Quoted(a.name()) + " changes";
    }
    for (size_t i = 0; i < a.size(); ++i) {
      if (a.At(i).name() != b.At(i).name() || a.At(i).value() != b.At(i).value()) {
        return "item " + Quoted(a.At(i).name()) + " of group " + Quoted(a.name()) + " changes";
      }
    }
  }
  return {};
}

// The document's text read back whole.
std::string WholeDifference(const Store& document) {
  const std::unique_ptr<Store> back = MakeTemporaryStore(document);
  ParseText(*back, WriteText(document));
  return Difference(document, *back);
}

// The same answer a slice of a few thousand items at a time, so that a large document is
// never held twice. Without subgroups and without names cut at their last dot, a group's
// lines read back the same wherever they stand, and a group's items the same under their
// header whatever items stand beside them: every name is kept (checked), so no header or
// item of one slice can meet a repeat in another.
std::string SlicedDifference(const Store& document) {
  constexpr size_t kSlice = 4096;
  const std::unique_ptr<Store> slice = MakeTemporaryStore(document);
  const std::unique_ptr<Store> back = MakeTemporaryStore(document);
  std::string text;
  size_t items = 0;
  const auto check = [&] {
    WriteText(*slice, text);
    back->RemoveAllGroups();
    ParseText(*back, text);
    std::string difference = Difference(*slice, *back);
    slice->RemoveAllGroups();
    items = 0;
    return difference;
  };
  for (size_t n = 0; n < static_cast<size_t>(document.GroupCount()); ++n) {
    const Group& g = document.GroupAt(n);
    Group* into = slice->PrepareGroup(g.name());
    for (size_t i = 0; i < g.size(); ++i) {
      if (into == nullptr || !slice->SetItemIn(into, g.At(i).name(), g.At(i).value())) {
        return WholeDifference(document);  // a slice that cannot be made: the whole way
      }
      if (++items >= kSlice) {
        if (std::string difference = check(); !difference.empty()) return difference;
        if (i + 1 < g.size()) into = slice->PrepareGroup(g.name());
      }
    }
  }
  return items != 0 || slice->GroupCount() != 0 ? check() : std::string();
}

}  // namespace

void CheckReadsBack(const Store& document, const std::string& file) {
  const DocumentSettings& s = document.settings();
  const std::string difference = s.subgroups || s.saveRepeatedAsOriginal
                                     ? WholeDifference(document)
                                     : SlicedDifference(document);
  if (!difference.empty()) {
    throw Failure(kUsage, file,
                  "these settings cannot hold the document (" + difference + "; " +
                      Advice(document) + "); nothing written");
  }
}

void WriteChanged(const Store& store, const std::string& file, const FileSettings& settings,
                  bool backup, const Document& read) {
  if (settings.document.saveRepeatedAsOriginal) CheckReadsBack(store, file);
  WriteDocument(store, file, settings, backup, read.existed ? &read.report.shape : nullptr);
}

}  // namespace vellix::cli
