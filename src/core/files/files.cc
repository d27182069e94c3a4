// Paths, and the store read from and written to files.
//
// Files travel as: text -> RC4 (when enciphered) -> compressed block (when compressed) on the
// way out, and the reverse on the way in. Neither way holds the file or its text whole. On
// the way in the file is read in pieces, each inflated and deciphered as it comes and parsed
// (the parser keeps the one line a piece leaves unfinished); the store's change journal
// takes everything back when the file turns out not to be readable after all. On the way
// out the writer hands out the text in pieces, each is enciphered in place and compressed,
// and what comes out goes straight into the temporary file. Either way a few hundred
// kilobytes beside the document suffice, whatever its size. Every write replaces its file
// atomically (file_io.h).
#include "files/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "format/text.h"
#include "io/blocks.h"
#include "io/file_io.h"
#include "io/system.h"
#include "store/name_key.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDirectory(const std::string& path) {
  FileStatus st;
  return Retrying(&FileSystemCalls::stat, path.c_str(), &st) == 0 && st.kind == FileKind::kFolder;
}

// Folds "." and ".." and repeated separators. Both "/" and "\" separate (paths written for
// the other system use the other one); the result uses the system's own (kPathSeparator).
// The root ("/" on POSIX; "C:\", "\\server\share\" or "\\?\" on Windows) is kept, and a ".."
// above it stays at it; one at the start of a relative path is kept, as it still means
// something there.
std::string Canonicalize(std::string_view path) {
  const size_t rootLength = PathRootLength(path);
  const bool absolute = rootLength > 0;
  const bool trailing = path.size() > rootLength && IsSeparator(path.back());
  std::vector<std::string_view> parts;
  size_t i = rootLength;
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) ++i;
    size_t j = i;
    while (j < path.size() && !IsSeparator(path[j])) ++j;
    const std::string_view part = path.substr(i, j - i);
    i = j;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  out.reserve(path.size() + 1);
  for (char c : path.substr(0, rootLength)) out.push_back(IsSeparator(c) ? kPathSeparator : c);
  for (size_t n = 0; n < parts.size(); ++n) {
    if (n > 0) out.push_back(kPathSeparator);
    out.append(parts[n]);
  }
  if (trailing && !parts.empty()) out.push_back(kPathSeparator);
  return out;
}

// Creates every missing folder of `folder`, outermost first, starting after its root (a
// drive or a share is not made). Failures are not checked one by one: existing levels fail
// harmlessly, and a level that cannot be made shows up when the file itself is opened.
void CreateFolders(const std::string& folder) {
  for (size_t i = std::max<size_t>(PathRootLength(folder), 1); i <= folder.size(); ++i) {
    if (i == folder.size() || IsSeparator(folder[i])) MakeFolder(folder.substr(0, i));
  }
}

// The bytes that deciphered text holds only as text: the printable ones, tab, the new-line
// bytes and zero (counted on its own). Deciphering with the wrong key turns any text into
// other bytes within its first few dozen, where saved INI text practically never holds one.
class TextBytes {
 public:
  explicit TextBytes(std::string_view newLine) {
    for (int c = 0; c < 256; ++c) {
      text_[c] = (c >= 32 && c != 127) || c == 0 || c == '\t' || c == '\r' || c == '\n';
    }
    for (unsigned char c : newLine) text_[c] = true;
  }
  bool AllText(std::string_view bytes) const {
    for (unsigned char c : bytes) {
      if (!text_[c]) return false;
    }
    return true;
  }

 private:
  bool text_[256];
};

// Records how the last load of a file went. A file whose load was not clean keeps its old
// bytes when a save is about to replace it (see SaveFile).
void RememberLoad(Store& store, const ReadInfo& info, bool clean) {
  if (!info.regular) return;
  const std::pair<uint64_t, uint64_t> id{info.device, info.inode};
  auto& unclean = store.uncleanFiles;
  const auto it = std::find(unclean.begin(), unclean.end(), id);
  if (clean && it != unclean.end()) unclean.erase(it);
  if (!clean && it == unclean.end()) unclean.push_back(id);
}

// Where the bytes of a load come from: a file, or bytes in memory.
class ByteSource {
 public:
  // The next bytes, filling `data` unless the bytes end first; 0, or the system's error.
  virtual int Read(char* data, size_t size, size_t& got) = 0;
  // Back to the first byte; 0, or the error.
  virtual int Rewind() = 0;
  // How many bytes there are, as far as known beforehand.
  virtual uint64_t size() const = 0;

 protected:
  ~ByteSource() = default;
};

class FileBytes final : public ByteSource {
 public:
  FileBytes(FileReader& file, LoadProgress progress)
      : file_(file), progress_(std::move(progress)) {}
  int Read(char* data, size_t size, size_t& got) override {
    const int error = file_.Read(data, size, got);
    done_ += got;
    if (progress_) progress_(done_, file_.size());
    return error;
  }
  int Rewind() override {
    done_ = 0;
    return file_.Rewind();
  }
  uint64_t size() const override { return file_.size(); }

 private:
  FileReader& file_;
  LoadProgress progress_;
  uint64_t done_ = 0;
};

class MemoryBytes final : public ByteSource {
 public:
  explicit MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
  int Read(char* data, size_t size, size_t& got) override {
    got = std::min(size, bytes_.size() - pos_);
    if (got > 0) std::memcpy(data, bytes_.data() + pos_, got);
    pos_ += got;
    return 0;
  }
  int Rewind() override {
    pos_ = 0;
    return 0;
  }
  uint64_t size() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

// The bytes could not be read (the error) or do not form a compressed block (the fault):
// thrown out of the parse, which takes back what it read.
struct ReadFailed {
  int error;
};
struct BlockFailed {
  BlockFault fault;
};

// About a hundred kilobytes at a time: large enough that the calls cost nothing beside
// the work, small enough to stay in the caches between reading, inflating and parsing.
constexpr size_t kLoadPiece = size_t{128} << 10;

// The text of a load, piece by piece: the bytes read, inflated when compressed and
// deciphered. It notes what a clean load asks about the decoded bytes as they pass.
class LoadText final : public TextSource {
 public:
  LoadText(ByteSource& bytes, bool compressed, std::string_view key, const TextBytes* check)
      : bytes_(bytes), cipher_(key), check_(check), input_(kLoadPiece, '\0') {
    if (compressed) {
      inflater_ = std::make_unique<BlockInflater>(bytes.size());
      output_.resize(kLoadPiece);
    }
  }

  bool Next(std::string_view& piece) override {
    if (!inflater_) {
      const size_t got = Fill();
      if (got == 0) return false;
      return Deliver(input_.data(), got, piece);
    }
    for (;;) {
      if (inflater_->fault() != BlockFault::kNone) throw BlockFailed{inflater_->fault()};
      if (inflater_->ended()) {
        // The rest of the file is read too: a read error anywhere means the file was not
        // read whole, and the length field is judged against all of it.
        while (Fill() > 0) {
        }
        inflater_->EndInput(read_);
        if (inflater_->fault() != BlockFault::kNone) throw BlockFailed{inflater_->fault()};
        return false;
      }
      if (pending_.empty()) {
        const size_t got = Fill();
        pending_ = std::string_view(input_.data(), got);
        if (got == 0) {
          inflater_->EndInput(read_);
          continue;
        }
      }
      const size_t made = inflater_->Inflate(pending_, output_.data(), output_.size());
      if (made > 0) return Deliver(output_.data(), made, piece);
    }
  }

  uint64_t ExpectedBytes() const override {
    return inflater_ ? inflater_->stated() : bytes_.size();
  }

  uint64_t read() const { return read_; }
  uint64_t decoded() const { return decoded_; }
  // The decoded bytes up to the first zero byte, and whether there is one.
  uint64_t textBytes() const { return zero_ ? beforeZero_ : decoded_; }
  bool zero() const { return zero_; }
  bool control() const { return control_; }

 private:
  // Reads the next piece; 0 at the end (a short piece is the last: the end is not asked
  // for twice).
  size_t Fill() {
    if (atEnd_) return 0;
    size_t got = 0;
    if (const int error = bytes_.Read(input_.data(), input_.size(), got); error != 0) {
      throw ReadFailed{error};
    }
    atEnd_ = got < input_.size();
    read_ += got;
    return got;
  }

  bool Deliver(char* data, size_t size, std::string_view& piece) {
    cipher_.Apply(data, size);
    piece = std::string_view(data, size);
    if (!zero_) {
      const void* z = std::memchr(data, 0, size);
      if (z != nullptr) {
        zero_ = true;
        beforeZero_ = decoded_ + static_cast<size_t>(static_cast<const char*>(z) - data);
      }
    }
    if (check_ != nullptr && !control_) control_ = !check_->AllText(piece);
    decoded_ += size;
    return true;
  }

  ByteSource& bytes_;
  Rc4 cipher_;
  const TextBytes* check_;
  std::string input_;
  std::string output_;
  std::string_view pending_;  // read, not yet inflated
  std::unique_ptr<BlockInflater> inflater_;
  uint64_t read_ = 0;
  uint64_t decoded_ = 0;
  uint64_t beforeZero_ = 0;
  bool zero_ = false;
  bool control_ = false;
  bool atEnd_ = false;
};

// The bytes of a file decoded and parsed into the store piece by piece; the report (when
// asked for) says what kept them from being taken in whole. Throws ReadFailed when the
// bytes cannot be read, after the store has been given back what it held.
bool TakeIn(Store& store, ByteSource& bytes, const ReadInfo& info, bool compressed, bool encrypted,
            std::string_view key, LoadReport* report) {
  LoadReport seen;
  // Room to note the file as not read cleanly, made before anything is taken in: noting it
  // after the parse must not run out of memory with the document already changed.
  if (info.regular) store.uncleanFiles.reserve(store.uncleanFiles.size() + 1);
  // Control bytes in deciphered text are most likely a wrong key; in other text they are
  // only reported (an enciphered file read without its key, most likely).
  const TextBytes textBytes(store.NewLineText());
  const TextBytes* check = encrypted || report != nullptr ? &textBytes : nullptr;
  const std::string_view cipherKey = encrypted ? key : std::string_view();
  std::optional<LoadText> text;
  ParseResult parsed;
  try {
    text.emplace(bytes, compressed, cipherKey, check);
    parsed = ParseTextFrom(store, *text);
  } catch (const BlockFailed& failed) {
    // A block that does not decompress is read as it stands (a plain file opened with
    // compression on still loads). What the parse read of it has been taken back.
    seen.fault = failed.fault == BlockFault::kBadLength ? LoadFault::kBadLength
                                                        : LoadFault::kDecompressFailed;
    if (const int error = bytes.Rewind(); error != 0) throw ReadFailed{error};
    text.reset();
    text.emplace(bytes, false, cipherKey, check);
    parsed = ParseTextFrom(store, *text);
  }
  seen.fileBytes = text->read();
  seen.textBytes = text->textBytes();
  if (seen.fault == LoadFault::kNone && text->zero()) {
    seen.fault = LoadFault::kZeroByte;  // nothing after a zero byte is read
  }
  if (seen.fault == LoadFault::kNone && text->control()) seen.fault = LoadFault::kControlBytes;
  // Not clean: the file holds more than the document that comes out of it, so writing
  // that document back over it would lose the rest.
  bool clean =
      seen.fault == LoadFault::kNone || (seen.fault == LoadFault::kControlBytes && !encrypted);
  if (parsed.refused) {
    seen.fault = LoadFault::kTooLong;
    if (report != nullptr) *report = seen;
    RememberLoad(store, info, false);
    return false;
  }
  seen.loss = parsed.loss;
  seen.shape = parsed.shape;
  if (text->decoded() > 0 && parsed.entries == 0) clean = false;
  RememberLoad(store, info, clean);
  if (report != nullptr) *report = seen;
  return true;
}

// The written text on its way into a file: each piece is enciphered in place and then
// compressed or written as it is.
class SaveStream final : public TextSink {
 public:
  SaveStream(ByteWriter& out, bool compressed, bool encrypted, std::string_view key)
      : out_(out), cipher_(encrypted ? key : std::string_view()) {
    if (compressed) {
      // Enciphered bytes hold nothing for deflate to find (blocks.cc).
      compressor_.emplace(
          encrypted && !key.empty() ? BlockContent::kEnciphered : BlockContent::kText, out);
    }
  }

  bool Take(char* data, size_t size) override {
    cipher_.Apply(data, size);
    const std::string_view piece(data, size);
    return compressor_ ? compressor_->Add(piece) : out_.Append(piece);
  }

  bool Finish() { return !compressor_ || compressor_->Finish(); }

 private:
  ByteWriter& out_;
  Rc4 cipher_;
  std::optional<BlockCompressor> compressor_;
};

// SaveFile with the store's own compression and key (SaveFile copies what it is given
// before any handler runs).
SaveStatus SaveWithOwnSettings(Store& store, const std::string& path) {
  const DocumentSettings& settings = store.settings();
  return SaveFile(store, path, settings.compressFile, settings.encrypt, settings.encryptionKey);
}

}  // namespace

bool EncodeDocumentTo(const Store& store, bool compressed, bool encrypted, std::string_view key,
                      ByteWriter& out) {
  SaveStream stream(out, compressed, encrypted, key);
  return WriteTextTo(store, stream) && stream.Finish();
}

std::string ResolvePath(std::string_view baseFolder, std::string_view path, Folders folders) {
  std::string full;
  if (IsAbsolutePath(path)) {
    full.assign(path);
  } else {
    // A relative path hangs off the base folder; one leading separator that does not make
    // it absolute ("\" on POSIX, "/" on Windows) is only a separator (an empty base folder
    // therefore means the root).
    if (!path.empty() && IsSeparator(path.front())) path.remove_prefix(1);
    full.reserve(baseFolder.size() + 1 + path.size());
    full.assign(baseFolder);
    if (full.empty() || !IsSeparator(full.back())) full.push_back(kPathSeparator);
    full.append(path);
  }
  std::string canonical = Canonicalize(full);
  if (folders == Folders::kCreate) {
    const std::string folder = RemoveFileSpec(canonical);
    if (!folder.empty() && !IsDirectory(folder)) CreateFolders(folder);
  }
  return canonical;
}

std::string RemoveFileSpec(std::string_view path) {
  // A bare root stays ("/", "C:\", "\\server\share\"), and so does the root of what is in it.
  const size_t root = PathRootLength(path);
  if (path.size() <= root) return std::string(path);
  // Otherwise a trailing separator is the last component.
  if (IsSeparator(path.back())) return std::string(path.substr(0, path.size() - 1));
  size_t sep = path.size();
  while (sep > root && !IsSeparator(path[sep - 1])) --sep;
  if (sep == root) return std::string(path.substr(0, root));  // "" for a bare name
  return std::string(path.substr(0, sep - 1));
}

const char* DescribeLoadFault(LoadFault fault) {
  switch (fault) {
    case LoadFault::kNone:
      return "read whole";
    case LoadFault::kNotFound:
      return "not found";
    case LoadFault::kUnreadable:
      return "cannot be read";
    case LoadFault::kBadLength:
      return "the length field of the compressed block is bad";
    case LoadFault::kDecompressFailed:
      return "decompression failed";
    case LoadFault::kZeroByte:
      return "the text has zero bytes";
    case LoadFault::kControlBytes:
      return "the text has control bytes";
    case LoadFault::kTooLong:
      return "a name or value is too long to keep";
  }
  return "unknown fault";
}

bool LoadFile(Store& store, const std::string& path, bool compressed, bool encrypted,
              std::string_view key, LoadReport* report, const LoadProgress& progress) {
  FileReader file;
  ReadInfo info;
  const auto unread = [&] {
    if (report != nullptr) {
      *report = LoadReport{};
      report->error = info.error;
      report->fault = info.error == ENOENT ? LoadFault::kNotFound : LoadFault::kUnreadable;
    }
    // Nothing of a file that was not read whole is taken in; a file that is there but
    // could not be read still holds the user's data.
    RememberLoad(store, info, false);
    return false;
  };
  if (!file.Open(path, info)) return unread();
  // Running out of memory half way takes back what was read; the file is still kept
  // before a later save replaces it, as for any load that was not clean.
  try {
    FileBytes bytes(file, progress);
    return TakeIn(store, bytes, info, compressed, encrypted, key, report);
  } catch (const ReadFailed& failed) {
    info.error = failed.error;
    return unread();
  } catch (...) {
    RememberLoad(store, info, false);
    throw;
  }
}

bool LoadBytes(Store& store, std::string& bytes, bool compressed, bool encrypted,
               std::string_view key, LoadReport* report) {
  MemoryBytes source(bytes);
  return TakeIn(store, source, ReadInfo{}, compressed, encrypted, key, report);
}

bool OpenFile(Store& store, const std::string& path, OpenMode mode) {
  // The caller may pass the store's own fileName, which the load changes.
  const std::string target = path;  // NOLINT(performance-unnecessary-copy-initialization)
  const ScopedValue<bool> loading(store.loading, true);
  const ScopedValue<bool> hold(store.quiet, true, false);
  DocumentSettings& settings = store.settings();
  if (mode == OpenMode::kAdoptFile) {
    store.RemoveAllGroups();
    settings.fileName = target;
  }
  const std::string key = settings.encryptionKey;
  return LoadFile(store, target, settings.compressFile, settings.encrypt, key);
}

SaveStatus SaveFile(Store& store, const std::string& path, bool compressed, bool encrypted,
                    std::string_view key) {
  // "On Save" runs the application's events before anything is written, and they may change
  // the store's settings, the very texts these arguments refer to: take copies first.
  const std::string target = path;  // NOLINT(performance-unnecessary-copy-initialization)
  const std::string cipherKey(key);
  store.NotifyOwner(kNotifySaving);
  // More than a block can describe (4 GiB - 1 bytes of text), or memory running out in
  // zlib, stops the stream: the old file is kept rather than replaced by a broken one.
  const ContentProducer produce = [&](ByteWriter& out) {
    return EncodeDocumentTo(store, compressed, encrypted, cipherKey, out);
  };
  // A file whose last load was not clean keeps its old bytes beside it before it is
  // replaced (OldBytes::kKeepBeside); after that the file holds what this save wrote.
  std::pair<uint64_t, uint64_t> id;
  auto& unclean = store.uncleanFiles;
  int error = 0;
  const bool there = RegularFileIdentity(target, id.first, id.second, error);
  // A path that cannot be looked at (an I/O error) may hold a file whose bytes must be kept;
  // anything there that is no regular file is refused by ReplaceFileWith as well.
  if (!there && error != ENOENT) return {SaveStep::kExamine, error};
  const bool keepOld = there && std::find(unclean.begin(), unclean.end(), id) != unclean.end();
  const SaveStatus status =
      ReplaceFileWith(target, produce, keepOld ? OldBytes::kKeepBeside : OldBytes::kReplace);
  if (status.ok() && keepOld) std::erase(unclean, id);
  return status;
}

bool EncodeDocument(const Store& store, bool compressed, bool encrypted, std::string_view key,
                    std::string& out) {
  out.clear();
  StringWriter writer(out);
  return EncodeDocumentTo(store, compressed, encrypted, key, writer);
}

SaveStatus SaveAs(Store& store, const std::string& path) {
  // "On Save" handlers may change the text `path` refers to (the store's own fileName).
  const std::string target = path;  // NOLINT(performance-unnecessary-copy-initialization)
  const SaveStatus status = SaveWithOwnSettings(store, target);
  store.settings().fileName = target;
  store.settings().readOnly = false;
  return status;
}

bool CompressFile(const std::string& source, const std::string& destination) {
  std::string bytes;
  if (!ReadWholeFile(source, bytes)) return false;
  // The block goes straight into the file, the same bytes CompressBlock gives.
  return ReplaceFileWith(destination,
                         [&](ByteWriter& out) {
                           return BlockCompressor(BlockContent::kAny, out).Finish(bytes);
                         })
      .ok();
}

bool DecompressFile(const std::string& source, const std::string& destination) {
  FileReader file;
  ReadInfo info;
  if (!file.Open(source, info)) return false;
  // The block is inflated piece by piece straight into the destination's temporary file; a
  // block found bad on the way (also at its very end) stops the save, and the destination
  // stays as it was. (Produced again from the start when the file is written in place.)
  const ContentProducer produce = [&](ByteWriter& out) {
    try {
      if (const int error = file.Rewind(); error != 0) return false;
      FileBytes bytes(file, {});
      LoadText plain(bytes, true, {}, nullptr);
      std::string_view piece;
      while (plain.Next(piece)) {
        if (!out.Append(piece)) return false;
      }
      return true;
    } catch (const BlockFailed&) {
      return false;
    } catch (const ReadFailed&) {
      return false;
    }
  };
  return ReplaceFileWith(destination, produce).ok();
}

bool SaveStore(Store& store) {
  const DocumentSettings& settings = store.settings();
  if (settings.fileName.empty() || settings.readOnly) return false;
  return SaveWithOwnSettings(store, settings.fileName).ok();
}

}  // namespace vellix
