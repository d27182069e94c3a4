// vellix: the shared options, and the file settings they make.
#include "options.h"

#include <cstdlib>
#include <map>

#include "io/file_io.h"
#include "store/settings.h"

namespace vellix::cli {

namespace {

// The repeat policies by the names the store gives them.
const std::map<std::string, GroupRepeatMode> kGroupPolicies{{"first", kGroupRepeatFirst},
                                                            {"last", kGroupRepeatLast},
                                                            {"rename", kGroupRepeatRename},
                                                            {"merge", kGroupRepeatMerge}};
const std::map<std::string, ItemRepeatMode> kItemPolicies{
    {"first", kItemRepeatFirst}, {"last", kItemRepeatLast}, {"rename", kItemRepeatRename}};

// The key, from the key file or else the environment; never from the command line, where
// other users could see it.
std::string ReadKey(const std::string& keyFile, const char* variable) {
  if (keyFile.empty()) {
    const char* key = std::getenv(variable);
    return key != nullptr ? key : "";
  }
  std::string key;
  ReadInfo info;
  if (!ReadWholeFile(keyFile, key, &info)) {
    throw Failure(kIoError, keyFile,
                  info.error == ENOENT ? "key file not found" : "key file cannot be read");
  }
  // A key file written by echo or an editor ends with a line break that is not the key's.
  if (!key.empty() && key.back() == '\n') key.pop_back();
  if (!key.empty() && key.back() == '\r') key.pop_back();
  if (key.empty()) throw Failure(kUsage, keyFile, "key file is empty");
  return key;
}

FileSettings Settings(const FormatOptions& options, FileSettings base, const char* keyVariable) {
  for (const auto& apply : options.apply) apply(base);
  base.document.encryptionKey = ReadKey(options.keyFile, keyVariable);
  base.document.encrypt = !base.document.encryptionKey.empty();
  return base;
}

}  // namespace

void AddFormatOptions(CLI::App& app, FormatOptions& o, bool output) {
  const std::string p = output ? "--out-" : "--";
  const std::string no = output ? ",!--out-no-" : ",!--no-";
  const std::string group = output ? "Output format" : "File format";
  auto flag = [&](const std::string& name, const std::string& help,
                  void (*set)(FileSettings&, bool)) {
    app.add_flag_function(
           p + name + no + name,
           [&o, set](int64_t n) {
             o.apply.push_back([set, n](FileSettings& s) { set(s, n > 0); });
           },
           help)
        ->group(group);
  };
  flag("compressed", "the file is a compressed block (zlib)",
       [](FileSettings& s, bool on) { s.document.compressFile = on; });
  app.add_option(p + "key-file", o.keyFile,
                 output ? "encipher the output with the key in this file (or VELLIX_OUT_KEY)"
                        : "the file is enciphered with the key in this file (or VELLIX_KEY)")
      ->type_name("FILE")
      ->group(group);
  flag("escape-values", "escape characters in values",
       [](FileSettings& s, bool on) { s.document.escapeValues = on; });
  flag("escape-names", "escape characters in item names",
       [](FileSettings& s, bool on) { s.document.escapeItemNames = on; });
  flag("escape-groups", "escape characters in group names",
       [](FileSettings& s, bool on) { s.document.escapeGroups = on; });
  flag("quote", "values are always quoted as written (no quotes are removed on reading)",
       [](FileSettings& s, bool on) { s.document.alwaysQuote = on; });
  app.add_option_function<std::string>(
         p + "newline",
         [&o](const std::string& text) {
           o.apply.push_back([text](FileSettings& s) {
             s.newLineGiven = true;
             // CR LF is the standard mode, which also reads LF and CR line ends.
             if (text == "crlf") {
               s.document.SetNewLine("");
             } else {
               s.document.SetNewLine(text == "lf" ? "\n" : text == "cr" ? "\r" : text);
             }
           });
         },
         "the new-line text: crlf (standard), lf, cr or any TEXT")
      ->type_name("crlf|lf|cr|TEXT")
      ->group(group);
  flag("subgroups", "indented groups are subgroups (a/b)",
       [](FileSettings& s, bool on) { s.document.subgroups = on; });
  flag("save-original", "names are written without their last \".N\" (repeated names)",
       [](FileSettings& s, bool on) { s.document.saveRepeatedAsOriginal = on; });
  if (output) return;  // the rest only matter when a file is read
  flag("case-sensitive", "names are compared exactly (not \"A\" as \"a\")",
       [](FileSettings& s, bool on) { s.caseSensitive = on; });
  flag("control-bytes",
       "the text may hold control bytes (otherwise taken for a wrong or missing key)",
       [](FileSettings& s, bool on) { s.controlBytes = on; });
  flag("empty-groups", "groups without items are kept (default on)",
       [](FileSettings& s, bool on) { s.document.allowEmptyGroups = on; });
  app.add_option_function<std::string>(
         "--group-repeat",
         [&o](const std::string& name) {
           const GroupRepeatMode mode = kGroupPolicies.at(name);
           o.apply.push_back([mode](FileSettings& s) { s.document.groupRepeatMode = mode; });
         },
         "a repeated group header: first (its items are dropped), last (it replaces the "
         "group), rename (it starts the group NAME.1) or merge (the default: its items join "
         "the group)")
      ->check(CLI::IsMember(kGroupPolicies, CLI::ignore_case))
      ->type_name("first|last|rename|merge")
      ->group(group);
  app.add_option_function<std::string>(
         "--item-repeat",
         [&o](const std::string& name) {
           const ItemRepeatMode mode = kItemPolicies.at(name);
           o.apply.push_back([mode](FileSettings& s) { s.document.itemRepeatMode = mode; });
         },
         "a repeated item: first (the first value stays), last (the default: the last value "
         "wins) or rename (kept as NAME.1)")
      ->check(CLI::IsMember(kItemPolicies, CLI::ignore_case))
      ->type_name("first|last|rename")
      ->group(group);
}

FileSettings InputSettings(const FormatOptions& options) {
  return Settings(options, FileSettings{}, "VELLIX_KEY");
}

FileSettings OutputSettings(const FormatOptions& options, const FileSettings& input) {
  FileSettings base = input;
  base.document.compressFile = false;
  return Settings(options, base, "VELLIX_OUT_KEY");
}

void AddPrintOptions(CLI::App& app, PrintOptions& options) {
  app.add_option("--format", options.format, "plain (default), ini, json or lines")
      ->check(CLI::IsMember({"plain", "ini", "json", "lines"}))
      ->type_name("plain|ini|json|lines")
      ->group("Output");
  AddEncodingOption(app, options.encoding,
                    "JSON texts that are not UTF-8: utf8 (default; such a text is "
                    "{\"latin1\": ...}) or latin1 (every text read as Latin-1)");
}

void AddEncodingOption(CLI::App& app, std::string& encoding, const char* help) {
  app.add_option("--encoding", encoding, help)
      ->check(CLI::IsMember({"utf8", "latin1"}))
      ->type_name("utf8|latin1")
      ->group("Output");
}

}  // namespace vellix::cli
