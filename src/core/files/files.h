// Paths, loading and saving files, and whole-file compression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "format/text.h"
#include "io/file_io.h"

namespace vellix {

class Store;

// Why a load did not take a file in whole. The object loads what it can and reports nothing;
// callers that must not act on part of a file (the command-line tool) ask for a LoadReport.
enum class LoadFault {
  kNone,
  kNotFound,          // nothing at the path
  kUnreadable,        // there, but it cannot be opened or read (a folder, no permission)
  kBadLength,         // compressed: the block's length field is bad
  kDecompressFailed,  // compressed: the zlib stream is broken or cut short
  kZeroByte,          // the text has zero bytes: nothing after the first one is read
  kControlBytes,      // the text has control bytes that saved text does not hold (below
                      // 32 but tab, CR, LF and the new-line text's own): a wrong or
                      // missing key, most likely; the text is still read
  kTooLong,           // a name or value is too long to keep: nothing is taken in
};

struct LoadReport {
  LoadFault fault = LoadFault::kNone;
  int error = 0;         // the system's error number for kNotFound and kUnreadable
  size_t fileBytes = 0;  // bytes read
  size_t textBytes = 0;  // bytes of text parsed (after decompressing and deciphering)
  // The first line the reader did not take in as it stands (a hand-written file's repeated
  // key, say), and how the text's lines end: the object's own files have no such line.
  ParseLoss loss;
  TextShape shape;
};

// The fault in words, for messages ("the length field is bad").
const char* DescribeLoadFault(LoadFault fault);

// What resolving a path does to the folders it names.
enum class Folders {
  kLeave,   // nothing is created
  kCreate,  // the missing folders of the path's folder are created, outermost first
};

// A path made absolute against the base folder and canonicalised ("." and ".." folded).
std::string ResolvePath(std::string_view baseFolder, std::string_view path, Folders folders);

// The path without its last component (a trailing separator counts as the last component).
std::string RemoveFileSpec(std::string_view path);

// Told after each piece a load reads how many bytes of the file it has read, and how many
// the file has (what a progress display needs).
using LoadProgress = std::function<void(uint64_t read, uint64_t size)>;
// Reads a file into the store without clearing it; false when it cannot be opened. With a
// report, also says whether the whole file was taken in.
bool LoadFile(Store& store, const std::string& path, bool compressed, bool encrypted,
              std::string_view key, LoadReport* report = nullptr,
              const LoadProgress& progress = {});
// The steps of LoadFile after the read, for bytes that come from elsewhere (a pipe):
// decompressed, deciphered and parsed into the store (`bytes` stay as they are). False when
// nothing could be taken in (kTooLong).
bool LoadBytes(Store& store, std::string& bytes, bool compressed, bool encrypted,
               std::string_view key, LoadReport* report = nullptr);
// The bytes SaveFile writes for the store: its text, enciphered and compressed as asked.
// False when no compressed block could be made (out of memory, more than a block holds).
bool EncodeDocument(const Store& store, bool compressed, bool encrypted, std::string_view key,
                    std::string& out);
// The same bytes written in pieces as they are made, so that the whole is never held.
bool EncodeDocumentTo(const Store& store, bool compressed, bool encrypted, std::string_view key,
                      ByteWriter& out);
// What OpenFile does with the store before it reads.
enum class OpenMode {
  kAddItems,   // the file's groups and items are added to what the store holds
  kAdoptFile,  // the store is emptied first and tied to the path (its fileName)
};

// Loads with the store's own compression and key.
bool OpenFile(Store& store, const std::string& path, OpenMode mode);
// Writes the whole store, raising "On Save" on the owner first; says whether and where it
// failed.
SaveStatus SaveFile(Store& store, const std::string& path, bool compressed, bool encrypted,
                    std::string_view key);
// SaveFile with the store's settings, then the path becomes fileName and readOnly clears.
SaveStatus SaveAs(Store& store, const std::string& path);
// Writes fileName with the store's settings unless it is empty or readOnly is set; true when
// it was written. The store's save hook: auto save calls it after a change.
bool SaveStore(Store& store);
// Writes the compressed block of a whole file to another file.
bool CompressFile(const std::string& source, const std::string& destination);
// Writes the content of a compressed-block file to another file; false when it fails.
bool DecompressFile(const std::string& source, const std::string& destination);

}  // namespace vellix
