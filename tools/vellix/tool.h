// vellix, the command-line tool for the object's files: what its parts share.
//
// The tool is a thin layer over the module's own store, format and files code: documents
// are read with LoadFile/LoadBytes and written with EncodeDocument and ReplaceFile, so the
// tool and the object agree on every setting. It links no host code.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "files/files.h"
#include "store/settings.h"
#include "store/store.h"

namespace vellix::cli {

// Exit codes.
enum Exit : int { kOk = 0, kNotFound = 1, kUsage = 2, kUndecodable = 3, kIoError = 4 };

// A failure that ends the command: one line on standard error, "vellix: FILE: reason",
// and the exit code.
struct Failure : std::runtime_error {
  Failure(int code, std::string file, const std::string& reason)
      : std::runtime_error(reason), code(code), file(std::move(file)) {}
  int code;
  std::string file;
};

// How a file is read and written: the document's format settings and its key.
struct FileSettings {
  DocumentSettings document;
  bool caseSensitive = false;
  // Control bytes in the text are taken for a wrong or missing key unless this is set.
  bool controlBytes = false;
};

// How names and values that are not valid UTF-8 travel in JSON (docs/cli.md): by default
// such a text becomes {"latin1": "..."}, each byte the code point of the same number; with
// latin1 every text is read that way and is always a plain string.
enum class Encoding { kUtf8, kLatin1 };

// A document read from FILE ("-": standard input) with the settings. A load that did not
// take the whole file in (missing, unreadable, a bad compressed block, zero bytes in the
// text) is a Failure, so no command acts on part of a file. With `missingIsEmpty`, a FILE
// that does not exist gives an empty document instead.
// `report` (when given) receives the files room's account of the load.
std::unique_ptr<Store> ReadDocument(const std::string& file, const FileSettings& settings,
                                    bool missingIsEmpty = false, LoadReport* report = nullptr);

// Gives the document these format settings (what the writer and the parser follow).
void Adopt(Store& store, const FileSettings& settings);

// Writes the document to FILE ("-": standard output) with the settings, replacing the file
// atomically (its permission bits kept, symbolic links followed). With `backup`, the bytes
// FILE had are first kept in FILE.bak.
void WriteDocument(const Store& store, const std::string& file, const FileSettings& settings,
                   bool backup);

// Reads a whole file or standard input ("-"); a Failure when it cannot.
std::string ReadInput(const std::string& file);

// ---- JSON (json.cc)

// The whole document, or one group, as JSON text (with a final new line).
std::string DocumentToJson(const Store& store, Encoding encoding);
std::string GroupToJson(const Group& group, Encoding encoding);
using Json = nlohmann::ordered_json;
// One name or value as a JSON value, by the encoding's rule.
Json TextToJson(std::string_view text, Encoding encoding);
// Reads JSON in the form DocumentToJson (or, with `group`, GroupToJson) writes into the
// store. `source` names the input in errors. Nothing is set when the JSON is not valid.
void ImportJson(Store& store, const std::string& json, const std::string& source, Encoding encoding,
                const std::string* group);

}  // namespace vellix::cli
