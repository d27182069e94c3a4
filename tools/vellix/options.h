// vellix: the options every subcommand shares, and how they become a file's settings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace vellix::cli {

// The options that describe a file's format, kept in the order given (a later one wins).
// For convert they come twice: as given for the input, and with "out-" for the output.
struct FormatOptions {
  std::vector<std::function<void(FileSettings&)>> apply;
  std::string keyFile;
};

// Adds the format options to a subcommand: the input's, or with `output` the "--out-" ones
// (only those that matter for writing).
void AddFormatOptions(CLI::App& app, FormatOptions& options, bool output);

// The settings of the file read: the options given, the key from --key-file or VELLIX_KEY.
FileSettings InputSettings(const FormatOptions& options);

// The settings convert writes with: the input's text format, but plain (neither compressed
// nor enciphered) unless the out- options say otherwise, then every out- option given, the
// key from --out-key-file or VELLIX_OUT_KEY.
FileSettings OutputSettings(const FormatOptions& options, const FileSettings& input);

// How a subcommand that prints shows what it found.
struct PrintOptions {
  std::string format = "plain";  // plain, ini, json or lines
  std::string encoding = "utf8";
  Encoding Texts() const { return encoding == "latin1" ? Encoding::kLatin1 : Encoding::kUtf8; }
};

// --format and --encoding.
void AddPrintOptions(CLI::App& app, PrintOptions& options);
// --encoding alone, for the subcommands that read JSON.
void AddEncodingOption(CLI::App& app, std::string& encoding, const char* help);

}  // namespace vellix::cli
