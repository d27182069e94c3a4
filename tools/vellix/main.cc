// vellix: look inside, change, check and convert the files the Vellix object writes.
//
//   vellix SUBCOMMAND [OPTIONS] FILE ...       (vellix --help, vellix SUBCOMMAND --help)
//
// Exit codes: 0 ok, 1 not found, 2 usage, 3 the file cannot be parsed or decoded, 4 I/O.
// Errors are one line on standard error: "vellix: FILE: reason".
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "exchange/csv.h"
#include "files/merge.h"
#include "format/text.h"
#include "io/file_io.h"
#include "io/system.h"
#include "search/search.h"
#include "search/search_results.h"
#include "tool.h"

namespace vellix::cli {

namespace {

using Apply = std::function<void(FileSettings&)>;

// The options that describe a file's format. For convert they come twice: as given for the
// input, and with "out-" for the output.
struct FormatOptions {
  std::vector<Apply> apply;  // in the order given
  std::string keyFile;
};

// What the command line asked for, whatever the subcommand.
struct Request {
  FormatOptions in;
  FormatOptions out;
  std::string format = "plain";
  std::string encoding = "utf8";
  bool backup = false;
  std::vector<std::string> args;                                // positional arguments
  bool any = false, caseSensitive = false, groupsOnly = false;  // find
  bool overwrite = false;                                       // merge
  std::vector<std::string> mergeGroup;                          // merge --group SRC DEST
  std::optional<std::string> group;                             // import-json --group
  bool replace = false;                                         // import-json --replace
  std::string csvGroup;                                         // csv --group
  bool table = false;                                           // csv --table
  std::string separator = ",";                                  // csv --sep
};

const std::map<std::string, int> kGroupPolicies{
    {"first", 0}, {"last", 1}, {"rename", 2}, {"merge", 3}};
const std::map<std::string, int> kItemPolicies{{"first", 0}, {"last", 1}, {"rename", 2}};

void AddFormatOptions(CLI::App* app, FormatOptions& o, bool output) {
  const std::string p = output ? "--out-" : "--";
  const std::string no = output ? ",!--out-no-" : ",!--no-";
  const std::string group = output ? "Output format" : "File format";
  auto flag = [&](const std::string& name, const std::string& help,
                  void (*set)(FileSettings&, bool)) {
    app->add_flag_function(
           p + name + no + name,
           [&o, set](int64_t n) {
             o.apply.push_back([set, n](FileSettings& s) { set(s, n > 0); });
           },
           help)
        ->group(group);
  };
  flag("compressed", "the file is a compressed block (zlib)",
       [](FileSettings& s, bool on) { s.document.compressFile = on; });
  app->add_option(p + "key-file", o.keyFile,
                  output ? "encipher the output with the key in this file (or VELLIX_OUT_KEY)"
                         : "the file is enciphered with the key in this file (or VELLIX_KEY)")
      ->group(group);
  flag("escape-values", "escape characters in values",
       [](FileSettings& s, bool on) { s.document.escapeValues = on; });
  flag("escape-names", "escape characters in item names",
       [](FileSettings& s, bool on) { s.document.escapeItemNames = on; });
  flag("escape-groups", "escape characters in group names",
       [](FileSettings& s, bool on) { s.document.escapeGroups = on; });
  flag("quote", "values are always quoted as written (no quotes are removed on reading)",
       [](FileSettings& s, bool on) { s.document.alwaysQuote = on; });
  app->add_option_function<std::string>(
         p + "newline",
         [&o](const std::string& text) {
           o.apply.push_back([text](FileSettings& s) {
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
  app->add_option_function<int>(
         "--group-repeat",
         [&o](int mode) {
           o.apply.push_back([mode](FileSettings& s) { s.document.groupRepeatMode = mode; });
         },
         "a repeated group header: first, last, rename or merge (default)")
      ->transform(CLI::CheckedTransformer(kGroupPolicies, CLI::ignore_case))
      ->group(group);
  app->add_option_function<int>(
         "--item-repeat",
         [&o](int mode) {
           o.apply.push_back([mode](FileSettings& s) { s.document.itemRepeatMode = mode; });
         },
         "a repeated item: first, last (default) or rename")
      ->transform(CLI::CheckedTransformer(kItemPolicies, CLI::ignore_case))
      ->group(group);
}

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

FileSettings Settings(const FormatOptions& options, FileSettings base, const char* keyVariable,
                      bool keepKey) {
  for (const Apply& apply : options.apply) apply(base);
  if (!keepKey) {
    base.document.encryptionKey = ReadKey(options.keyFile, keyVariable);
    base.document.encrypt = !base.document.encryptionKey.empty();
  }
  return base;
}

FileSettings InputSettings(const Request& r) {
  return Settings(r.in, FileSettings{}, "VELLIX_KEY", false);
}

// The output of convert: the input's text format, but plain (neither compressed nor
// enciphered) unless the out- options say otherwise, then every out- option given.
FileSettings OutputSettings(const Request& r, const FileSettings& in) {
  FileSettings base = in;
  base.document.compressFile = false;
  return Settings(r.out, base, "VELLIX_OUT_KEY", false);
}

Encoding EncodingOf(const Request& r) {
  return r.encoding == "latin1" ? Encoding::kLatin1 : Encoding::kUtf8;
}

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

// ---- output

// Standard output, buffered; a write that fails is remembered and ends the run with an I/O
// error (see main).
bool outputFailed = false;

class Output {
 public:
  ~Output() { Flush(); }
  void Put(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() > (1 << 20)) Flush();
  }
  void Line(std::string_view text) {
    Put(text);
    Put("\n");
  }
  void Flush() {
    if (buffer_.empty()) return;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) != buffer_.size() ||
        std::fflush(stdout) != 0) {
      outputFailed = true;
    }
    buffer_.clear();
  }

 private:
  std::string buffer_;
};

// A document holding only what is shown, written as the file's INI text.
std::string IniOf(const Store& shown) {
  std::string text = WriteText(shown);
  if (text.empty()) return text;
  // Ended by the document's new line, and by a line feed for the terminal when that is
  // something else.
  text += shown.NewLineText();
  if (text.back() != '\n') text += '\n';
  return text;
}

void PrintItems(Output& out, const Request& r, const Group& g) {
  g.ForEachItem([&](const Item& it) {
    if (r.format == "lines") {
      out.Put("[" + g.name() + "] ");
      out.Put(it.name());
      out.Put(" = ");
    } else {
      out.Put(it.name());
      out.Put("=");
    }
    out.Line(it.value());
  });
}

void PrintGroup(Output& out, const Request& r, const Store& store, const Group& g) {
  if (r.format == "json") return out.Put(GroupToJson(g, EncodingOf(r)));
  if (r.format == "ini") {
    const std::unique_ptr<Store> shown = MakeTemporaryStore(store);
    shown->MakeGroup(g.name());
    MergeGroup(*shown, &store, g.name(), g.name(), true);
    return out.Put(IniOf(*shown));
  }
  PrintItems(out, r, g);
}

void PrintDocument(Output& out, const Request& r, const Store& store) {
  if (r.format == "json") return out.Put(DocumentToJson(store, EncodingOf(r)));
  if (r.format == "ini") return out.Put(IniOf(store));
  store.ForEachGroup([&](const Group& g) {
    if (r.format != "lines" || g.size() == 0) out.Line("[" + g.name() + "]");
    PrintItems(out, r, g);
  });
}

// Whether the settings can hold this document: its text, read back with the same
// settings, gives the same groups, items and values. A value with a line break, edge
// blanks or enclosing quotes, for example, needs escapes or quoting to survive.
void CheckReadsBack(const Store& document, const std::string& file) {
  const std::unique_ptr<Store> back = MakeTemporaryStore(document);
  ParseText(*back, WriteText(document), false, false);
  std::string difference;
  if (back->GroupCount() != document.GroupCount()) {
    difference = "the groups change";
  } else {
    for (size_t n = 0; n < static_cast<size_t>(document.GroupCount()) && difference.empty(); ++n) {
      const Group& a = document.GroupAt(n);
      const Group& b = back->GroupAt(n);
      if (a.name() != b.name() || a.size() != b.size()) {
        difference = "group " + Quoted(a.name()) + " changes";
        break;
      }
      for (size_t i = 0; i < a.size(); ++i) {
        if (a.At(i).name() != b.At(i).name() || a.At(i).value() != b.At(i).value()) {
          difference =
              "item " + Quoted(a.At(i).name()) + " of group " + Quoted(a.name()) + " changes";
          break;
        }
      }
    }
  }
  if (!difference.empty()) {
    throw Failure(kUsage, file,
                  "these settings cannot hold the document (" + difference +
                      "; line breaks, edge blanks and quotes need --escape-values, "
                      "--escape-names or --quote); nothing written");
  }
}

// ---- subcommands

int Get(const Request& r) {
  const std::string& file = r.args[0];
  const std::unique_ptr<Store> store = ReadDocument(file, InputSettings(r));
  Output out;
  if (r.args.size() == 1) {
    PrintDocument(out, r, *store);
    return kOk;
  }
  const Group* g = store->FindGroup(r.args[1]);
  if (g == nullptr) throw Failure(kNotFound, file, "no group " + Quoted(r.args[1]));
  if (r.args.size() == 2) {
    PrintGroup(out, r, *store, *g);
    return kOk;
  }
  const Item* it = g->Find(r.args[2], store->caseSensitive());
  if (it == nullptr) {
    throw Failure(kNotFound, file,
                  "no item " + Quoted(r.args[2]) + " in group " + Quoted(r.args[1]));
  }
  if (r.format == "json") {
    out.Line(TextToJson(it->value(), EncodingOf(r)).dump());
  } else if (r.format == "ini") {
    const std::unique_ptr<Store> shown = MakeTemporaryStore(*store);
    shown->SetItem(g->name(), it->name(), it->value());
    out.Put(IniOf(*shown));
  } else if (r.format == "lines") {
    out.Put("[" + g->name() + "] ");
    out.Put(it->name());
    out.Put(" = ");
    out.Line(it->value());
  } else {
    out.Line(it->value());
  }
  return kOk;
}

int Set(const Request& r) {
  const std::string& file = r.args[0];
  const FileSettings settings = InputSettings(r);
  const std::unique_ptr<Store> store = ReadDocument(file, settings, true);
  // The new item alone must survive the file's format, or the file would change on the
  // next read.
  const std::unique_ptr<Store> item = MakeTemporaryStore(*store);
  item->SetItem(r.args[1], r.args[2], r.args[3]);
  CheckReadsBack(*item, file);
  store->SetItem(r.args[1], r.args[2], r.args[3]);
  WriteDocument(*store, file, settings, r.backup);
  return kOk;
}

int Delete(const Request& r) {
  const std::string& file = r.args[0];
  const FileSettings settings = InputSettings(r);
  const std::unique_ptr<Store> store = ReadDocument(file, settings);
  if (!store->GroupExists(r.args[1])) {
    throw Failure(kNotFound, file, "no group " + Quoted(r.args[1]));
  }
  if (r.args.size() == 3) {
    if (!store->HasItem(r.args[1], r.args[2])) {
      throw Failure(kNotFound, file,
                    "no item " + Quoted(r.args[2]) + " in group " + Quoted(r.args[1]));
    }
    store->DeleteItem(r.args[1], r.args[2]);
  } else {
    store->DeleteGroup(r.args[1]);
  }
  WriteDocument(*store, file, settings, r.backup);
  return kOk;
}

int List(const Request& r) {
  const std::string& file = r.args[0];
  const std::unique_ptr<Store> store = ReadDocument(file, InputSettings(r));
  std::vector<std::string_view> names;
  if (r.args.size() == 1) {
    store->ForEachGroup([&](const Group& g) { names.push_back(g.name()); });
  } else {
    const Group* g = store->FindGroup(r.args[1]);
    if (g == nullptr) throw Failure(kNotFound, file, "no group " + Quoted(r.args[1]));
    g->ForEachItem([&](const Item& it) { names.push_back(it.name()); });
  }
  Output out;
  if (r.format == "json") {
    Json list = Json::array();
    for (std::string_view name : names) list.push_back(TextToJson(name, EncodingOf(r)));
    out.Line(list.dump(2));
  } else {
    for (std::string_view name : names) out.Line(name);
  }
  return kOk;
}

int Find(const Request& r) {
  const std::string& file = r.args[0];
  const std::unique_ptr<Store> store = ReadDocument(file, InputSettings(r));
  const int flags = (r.any ? kSearchMatchAny : 0) | (r.caseSensitive ? kSearchCaseSensitive : 0) |
                    (r.groupsOnly ? kSearchGroupsOnly : 0);
  SearchResults results;
  Search(*store, &results, r.args[1], r.args[2], r.args[3], flags, kSearchReplace);
  Output out;
  if (r.format == "json") {
    Json list = Json::array();
    for (const SearchResult& found : results) {
      Json entry = Json::object();
      entry["group"] = TextToJson(found.group, EncodingOf(r));
      if (!r.groupsOnly) {
        entry["item"] = TextToJson(found.item, EncodingOf(r));
        entry["value"] = TextToJson(found.value, EncodingOf(r));
      }
      list.push_back(std::move(entry));
    }
    out.Line(list.dump(2));
  } else if (r.format == "ini") {
    const std::unique_ptr<Store> shown = MakeTemporaryStore(*store);
    for (const SearchResult& found : results) {
      if (r.groupsOnly) {
        shown->MakeGroup(found.group);
        MergeGroup(*shown, store.get(), found.group, found.group, true);
      } else {
        shown->SetItem(found.group, found.item, found.value);
      }
    }
    out.Put(IniOf(*shown));
  } else {
    for (const SearchResult& found : results) {
      if (r.groupsOnly) {
        out.Line(r.format == "lines" ? "[" + found.group + "]" : found.group);
      } else if (r.format == "lines") {
        out.Line("[" + found.group + "] " + found.item + " = " + found.value);
      } else {
        out.Line(found.group + "\t" + found.item + "\t" + found.value);
      }
    }
  }
  return results.empty() ? kNotFound : kOk;
}

int Merge(const Request& r) {
  const std::string& file = r.args[0];
  const std::string& other = r.args[1];
  const FileSettings settings = InputSettings(r);
  // The other file is read with the same settings, as the object merges a file.
  const std::unique_ptr<Store> source = ReadDocument(other, settings);
  const std::unique_ptr<Store> store = ReadDocument(file, settings, true);
  if (r.mergeGroup.empty()) {
    MergeStore(*store, source.get(), r.overwrite);
  } else {
    if (!source->GroupExists(r.mergeGroup[0])) {
      throw Failure(kNotFound, other, "no group " + Quoted(r.mergeGroup[0]));
    }
    MergeGroup(*store, source.get(), r.mergeGroup[0], r.mergeGroup[1], r.overwrite);
  }
  WriteDocument(*store, file, settings, r.backup);
  return kOk;
}

int Check(const Request& r) {
  const FileSettings settings = InputSettings(r);
  int status = kOk;
  Output out;
  Json reports = Json::array();
  for (const std::string& file : r.args) {
    try {
      LoadReport report;
      const std::unique_ptr<Store> store = ReadDocument(file, settings, false, &report);
      if (r.format == "json") {
        Json entry = Json::object();
        entry["file"] = TextToJson(file, EncodingOf(r));
        entry["groups"] = store->GroupCount();
        entry["items"] = store->TotalItems();
        entry["bytes"] = report.fileBytes;
        entry["text_bytes"] = report.textBytes;
        reports.push_back(std::move(entry));
      } else {
        out.Line(file + ": " + std::to_string(store->GroupCount()) + " groups, " +
                 std::to_string(store->TotalItems()) + " items, " +
                 std::to_string(report.fileBytes) + " bytes (" + std::to_string(report.textBytes) +
                 " bytes of text)");
      }
    } catch (const Failure& failure) {
      // Every file is checked; the first failure decides the exit code.
      out.Flush();
      std::cerr << "vellix: " << failure.file << ": " << failure.what() << std::endl;
      if (status == kOk) status = failure.code;
    }
  }
  if (r.format == "json") out.Line(reports.dump(2));
  return status;
}

int Convert(const Request& r) {
  const FileSettings in = InputSettings(r);
  const FileSettings out = OutputSettings(r, in);
  const std::unique_ptr<Store> store = ReadDocument(r.args[0], in);
  Adopt(*store, out);
  CheckReadsBack(*store, r.args[1]);
  WriteDocument(*store, r.args[1], out, r.backup);
  return kOk;
}

int ImportJsonCommand(const Request& r) {
  const std::string& file = r.args[0];
  const std::string& source = r.args[1];
  const FileSettings settings = InputSettings(r);
  const std::string json = ReadInput(source);
  const bool fresh = r.replace && !r.group;
  std::unique_ptr<Store> store = ReadDocument(file, settings, true);
  if (fresh) store->RemoveAllGroups();
  if (r.group && r.replace) store->DeleteGroup(*r.group);
  ImportJson(*store, json, source, EncodingOf(r), r.group ? &*r.group : nullptr);
  CheckReadsBack(*store, file);
  WriteDocument(*store, file, settings, r.backup);
  return kOk;
}

// The object's CSV layouts (the same code as its CSV actions): export writes CSV from FILE,
// import sets the CSV's items into FILE.
int Csv(const Request& r) {
  const std::string& mode = r.args[0];
  const std::string& file = r.args[1];
  const std::string& csv = r.args[2];
  const FileSettings settings = InputSettings(r);
  if (mode == "export") {
    const std::unique_ptr<Store> store = ReadDocument(file, settings);
    const std::string text =
        r.table ? CsvTable(*store, r.separator) : CsvText(*store, r.csvGroup, r.separator);
    if (csv == "-") {
      Output out;
      out.Put(text);
    } else if (!ReplaceFile(csv, text)) {
      throw Failure(kIoError, csv, "cannot be written");
    }
    return kOk;
  }
  const std::string text = ReadInput(csv);
  const std::unique_ptr<Store> store = ReadDocument(file, settings, true);
  if (r.table) {
    ImportCsvTableText(*store, text, r.separator);
  } else {
    ImportCsvText(*store, text, r.csvGroup, r.separator);
  }
  CheckReadsBack(*store, file);
  WriteDocument(*store, file, settings, r.backup);
  return kOk;
}

// ---- the command line

struct Subcommand {
  const char* name;
  const char* help;
  std::vector<const char*> positionals;  // NAME, or NAME? when it may be left out
  const char* examples;
  int (*run)(const Request&);
  bool writes;  // takes --backup
  bool prints;  // takes --format and --encoding
};

const std::vector<Subcommand>& Subcommands() {
  static const std::vector<Subcommand> list = {
      {"get",
       "Print a value, the items of a group, or every group",
       {"FILE", "GROUP?", "ITEM?"},
       "  vellix get save.ini player gold            the value, or exit 1 when absent\n"
       "  vellix get save.ini player --format=json   the group as a JSON object\n"
       "  vellix get save.dat --compressed --key-file key.txt --format=ini",
       &Get,
       false,
       true},
      {"set",
       "Set an item to a value (creating the file, the group or the item)",
       {"FILE", "GROUP", "ITEM", "VALUE"},
       "  vellix set save.ini player gold 120\n"
       "  VELLIX_KEY=secret vellix set save.dat player gold 120 --compressed --backup",
       &Set,
       true,
       false},
      {"del",
       "Delete an item, or a whole group",
       {"FILE", "GROUP", "ITEM?"},
       "  vellix del save.ini player gold\n"
       "  vellix del save.ini cheats",
       &Delete,
       true,
       false},
      {"list",
       "List the group names, or the item names of a group",
       {"FILE", "GROUP?"},
       "  vellix list save.ini\n"
       "  vellix list save.ini player",
       &List,
       false,
       true},
      {"find",
       "Search with wildcard patterns: * any run, . any byte, a leading ! negates",
       {"FILE", "GPAT", "IPAT", "VPAT"},
       "  vellix find save.ini '*' 'score*' '*'        every item whose name starts with score\n"
       "  vellix find save.ini 'level.*' '*' '*' --groups-only\n"
       "  Exit 1 when nothing matches.",
       &Find,
       false,
       true},
      {"merge",
       "Merge the items of OTHER (read with the same settings) into FILE",
       {"FILE", "OTHER"},
       "  vellix merge save.ini defaults.ini              new items only\n"
       "  vellix merge save.ini patch.ini --overwrite\n"
       "  vellix merge save.ini other.ini --group player hero",
       &Merge,
       true,
       false},
      {"check",
       "Read files whole with the given settings and report groups, items, bytes",
       {"FILE..."},
       "  vellix check --compressed --key-file key.txt saves/*.dat\n"
       "  Exit 0 when every file reads whole; otherwise the first failure's code\n"
       "  (1 not found, 3 cannot be decoded, 4 cannot be read), with the reason.",
       &Check,
       false,
       true},
      {"convert",
       "Write IN to OUT under other settings (the out- options)",
       {"IN", "OUT"},
       "  vellix convert save.dat save.ini --compressed --key-file key.txt     unpack\n"
       "  vellix convert save.ini save.dat --out-compressed --out-key-file key.txt   pack\n"
       "  vellix convert old.ini new.ini --out-newline lf --out-escape-values\n"
       "  The output keeps the input's text format, plain unless --out-compressed or\n"
       "  --out-key-file (or VELLIX_OUT_KEY) say otherwise.",
       &Convert,
       true,
       false},
      {"import-json",
       "Set the groups and items of a JSON document into FILE",
       {"FILE", "JSON"},
       "  vellix get save.ini --format=json > save.json\n"
       "  vellix import-json copy.ini save.json --replace     the same bytes as save.ini\n"
       "  vellix import-json save.ini player.json --group player",
       &ImportJsonCommand,
       true,
       false},
      {"csv",
       "Export FILE as CSV, or import a CSV into FILE, in the object's two layouts",
       {"MODE", "FILE", "CSV"},
       "  vellix csv export save.ini scores.csv --group scores   one group: name,value,...\n"
       "  vellix csv export save.ini all.csv                     a line per group\n"
       "  vellix csv export save.ini table.csv --table --sep ';' a column per item name\n"
       "  vellix csv import save.ini table.csv --table\n"
       "  MODE is export or import. Nothing is quoted or escaped; lines end in CR LF.",
       &Csv,
       true,
       false},
  };
  return list;
}

int Run(int argc, char** argv) {
  CLI::App app{"vellix: look inside, change, check and convert the files of the Vellix object.",
               "vellix"};
  app.set_version_flag("--version", "vellix 1.0");
  app.require_subcommand(1);
  app.footer(
      "The key of an enciphered file never goes on the command line: --key-file FILE or the\n"
      "environment variable VELLIX_KEY. FILE - is standard input (and output where a\n"
      "command writes FILE).\n"
      "Exit codes: 0 ok, 1 not found, 2 usage, 3 cannot be parsed or decoded, 4 I/O.\n"
      "vellix SUBCOMMAND --help shows each one's options and examples.");
  Request request;
  int (*run)(const Request&) = nullptr;
  // Each subcommand's positional arguments: one slot per name, and the options that tell
  // which were given.
  struct Positionals {
    std::vector<std::string> values;
    std::vector<std::string> many;  // FILE...
    std::vector<CLI::Option*> options;
    std::vector<bool> isMany;
  };
  std::vector<Positionals> positionals(Subcommands().size());
  for (size_t n = 0; n < Subcommands().size(); ++n) {
    const Subcommand& s = Subcommands()[n];
    CLI::App* sub = app.add_subcommand(s.name, s.help);
    sub->footer(std::string("Examples:\n") + s.examples);
    Positionals& p = positionals[n];
    p.values.resize(s.positionals.size());
    for (size_t i = 0; i < s.positionals.size(); ++i) {
      std::string name = s.positionals[i];
      const bool optional = name.back() == '?';
      const bool many = name.size() > 3 && name.compare(name.size() - 3, 3, "...") == 0;
      if (optional || many) name.resize(name.size() - (many ? 3 : 1));
      CLI::Option* o = many ? sub->add_option(name, p.many) : sub->add_option(name, p.values[i]);
      o->required(!optional);
      p.options.push_back(o);
      p.isMany.push_back(many);
    }
    AddFormatOptions(sub, request.in, false);
    if (s.prints) {
      sub->add_option("--format", request.format, "plain (default), ini, json or lines")
          ->check(CLI::IsMember({"plain", "ini", "json", "lines"}))
          ->group("Output");
      sub->add_option("--encoding", request.encoding,
                      "JSON texts that are not UTF-8: utf8 (default; such a text is "
                      "{\"latin1\": ...}) or latin1 (every text read as Latin-1)")
          ->check(CLI::IsMember({"utf8", "latin1"}))
          ->group("Output");
    }
    if (s.writes) {
      sub->add_flag("--backup", request.backup, "keep the old file as FILE.bak first")
          ->group("Output");
    }
    if (s.name == std::string("find")) {
      sub->add_flag("--any", request.any, "a match of any one pattern is enough");
      sub->add_flag("--case", request.caseSensitive, "compare case-sensitively");
      sub->add_flag("--groups-only", request.groupsOnly, "one result per matching group");
    } else if (s.name == std::string("merge")) {
      sub->add_flag("--overwrite", request.overwrite, "values of OTHER replace existing ones");
      sub->add_option("--group", request.mergeGroup, "merge group SRC of OTHER into DEST")
          ->expected(2)
          ->type_name("SRC DEST");
    } else if (s.name == std::string("convert")) {
      AddFormatOptions(sub, request.out, true);
    } else if (s.name == std::string("csv")) {
      p.options.front()->check(CLI::IsMember({"export", "import"}));
      sub->add_option("--group", request.csvGroup,
                      "pair layout: only this group's items (import: into this group)");
      sub->add_flag("--table", request.table, "the table layout: a header of item names");
      sub->add_option("--sep", request.separator, "the separator (default ,)");
    } else if (s.name == std::string("import-json")) {
      sub->add_option("--group", request.group, "the JSON is the items of this one group");
      sub->add_flag("--replace", request.replace,
                    "replace the document (or, with --group, the group) instead of adding to it");
      sub->add_option("--encoding", request.encoding,
                      "how JSON strings become bytes: utf8 or latin1")
          ->check(CLI::IsMember({"utf8", "latin1"}));
    }
    sub->callback([&request, &run, &positionals, n, s] {
      run = s.run;
      const Positionals& p = positionals[n];
      for (size_t i = 0; i < p.options.size(); ++i) {
        if (p.options[i]->count() == 0) break;
        if (p.isMany[i]) {
          request.args.insert(request.args.end(), p.many.begin(), p.many.end());
        } else {
          request.args.push_back(p.values[i]);
        }
      }
    });
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::string why = e.what();
    for (char& c : why) {
      if (c == '\n') c = ' ';
    }
    std::cerr << "vellix: " << why << " (vellix --help shows the usage)" << std::endl;
    return kUsage;
  }
  const int status = run(request);
  if (outputFailed || std::fflush(stdout) != 0) {
    throw Failure(kIoError, "-", "standard output cannot be written");
  }
  return status;
}

}  // namespace

}  // namespace vellix::cli

int main(int argc, char** argv) {
  // Files and transcripts on standard output stay byte for byte.
  vellix::UseBinaryStandardStreams();
  try {
    return vellix::cli::Run(argc, argv);
  } catch (const vellix::cli::Failure& failure) {
    std::cerr << "vellix: " << failure.file << ": " << failure.what() << std::endl;
    return failure.code;
  } catch (const std::bad_alloc&) {
    std::cerr << "vellix: out of memory" << std::endl;
    return vellix::cli::kIoError;
  }
}
