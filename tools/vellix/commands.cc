// vellix: the subcommands, each with its own options.
#include "commands.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exchange/csv.h"
#include "files/file_lookup.h"
#include "files/merge.h"
#include "format/text.h"
#include "io/blocks.h"
#include "io/file_io.h"
#include "options.h"
#include "search/search.h"
#include "search/search_results.h"
#include "tool.h"

namespace vellix::cli {

namespace {

// Adds a positional argument; an optional one is left empty when not given.
void AddArgument(CLI::App& app, const char* name, std::string& value, const char* help) {
  app.add_option(name, value, help)->required()->type_name("");
}
void AddArgument(CLI::App& app, const char* name, std::optional<std::string>& value,
                 const char* help) {
  app.add_option(name, value, help)->type_name("");
}

// ---- output

// A Output that could not be written is remembered here and ends the run with an I/O
// error (see OutputFailed).
bool outputFailed = false;

// Standard output, buffered.
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

// Adds --backup (and --force, --lock-wait) to a subcommand that writes.
struct WriteOptions {
  bool backup = false;
  bool force = false;
  double lockWait = 10;
};
void AddWriteOptions(CLI::App& app, WriteOptions& options) {
  app.add_flag("--backup", options.backup, "keep the old file as FILE.bak first")->group("Output");
  app.add_flag("--force", options.force,
               "write even when reading the file skipped, folded or overrode a line")
      ->group("Output");
  app.add_option("--lock-wait", options.lockWait,
                 "wait at most this long for another writer of the file (default 10)")
      ->type_name("SECONDS")
      ->check(CLI::NonNegativeNumber)
      ->group("Output");
}
FileSettings Writing(FileSettings settings, const WriteOptions& options) {
  settings.force = options.force;
  settings.lockWaitSeconds = options.lockWait;
  return settings;
}

// Records on standard output: each ended by a line feed, or with -z by a zero byte.
struct Records {
  bool zero = false;
  void Add(CLI::App& app) {
    app.add_flag("-z,--null", zero, "end each record with a zero byte, not a line feed")
        ->group("Output");
  }
  char end() const { return zero ? '\0' : '\n'; }
};

void PrintItems(Output& out, const PrintOptions& p, const Group& g) {
  g.ForEachItem([&](const Item& it) {
    if (p.format == "lines") {
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

void PrintGroup(Output& out, const PrintOptions& p, const FileSettings& settings,
                const Store& store, const Group& g) {
  if (p.format == "json") return out.Put(GroupToJson(g, p.Texts()));
  if (p.format == "ini") {
    const std::unique_ptr<Store> shown = MakeTemporaryStore(store);
    shown->MakeGroup(g.name());
    MergeGroup(*shown, &store, g.name(), g.name(), true);
    return out.Put(ShownText(*shown, settings));
  }
  PrintItems(out, p, g);
}

void PrintDocument(Output& out, const PrintOptions& p, const FileSettings& settings,
                   const Store& store) {
  if (p.format == "json") return out.Put(DocumentToJson(store, p.Texts()));
  if (p.format == "ini") return out.Put(ShownText(store, settings));
  store.ForEachGroup([&](const Group& g) {
    if (p.format != "lines" || g.size() == 0) out.Line("[" + g.name() + "]");
    PrintItems(out, p, g);
  });
}

// ---- get

struct GetOptions {
  std::string file;
  std::optional<std::string> group, item, fallback;
  bool all = false;
  FormatOptions format;
  PrintOptions print;
};

void PrintValue(Output& out, const GetOptions& o, const FileSettings& settings, const Store& store,
                std::string_view group, std::string_view item, std::string_view value) {
  if (o.print.format == "json") {
    out.Line(TextToJson(value, o.print.Texts()).dump());
  } else if (o.print.format == "ini") {
    const std::unique_ptr<Store> shown = MakeTemporaryStore(store);
    shown->SetItem(group, item, value);
    out.Put(ShownText(*shown, settings));
  } else if (o.print.format == "lines") {
    out.Put("[" + std::string(group) + "] ");
    out.Put(item);
    out.Put(" = ");
    out.Line(value);
  } else {
    out.Line(value);
  }
}

// Every line of an item, by scanning the file's text: a plain file as it is read, standard
// input and a compressed or enciphered file decoded in memory. kUnsure when the scan cannot answer,
// or the file cannot be read or decoded (the whole read then says why).
ItemLookup ScanEvery(const std::string& file, const FileSettings& settings,
                     const std::string& group, const std::string& item) {
  const DocumentSettings& s = settings.document;
  if (file != "-" && !s.compressFile && !s.encrypt) {
    return LookupFileItem(file, s, settings.caseSensitive, group, item, LookupValues::kEvery);
  }
  std::string text;
  if (file == "-") {
    text = ReadInput(file);
  } else if (!ReadWholeFile(file, text)) {
    return {};
  }
  if (s.compressFile) {
    std::string inflated;
    if (!DecompressBlock(text, inflated)) return {};
    text.swap(inflated);
  }
  if (s.encrypt) CipherBlock(text, s.encryptionKey);
  return LookupItem(text, s, settings.caseSensitive, group, item, LookupValues::kEvery);
}

int Get(const GetOptions& o) {
  if ((o.fallback || o.all) && !o.item) {
    throw Failure(kUsage, o.file, std::string(o.all ? "--all" : "--default") + " needs GROUP ITEM");
  }
  FileSettings settings = InputSettings(o.format);
  const auto noGroup = [&] { return Failure(kNotFound, o.file, "no group " + Quoted(*o.group)); };
  const auto noItem = [&] {
    return Failure(kNotFound, o.file,
                   "no item " + Quoted(*o.item) + " in group " + Quoted(*o.group));
  };
  // One value of a plain file is found by scanning the file as it is read, without building
  // the document; whatever the scan cannot answer for certain is read whole below.
  const DocumentSettings& s = settings.document;
  // --all lists every line of the item, which only the scan sees: a whole read keeps one
  // value, or renames repeats to ITEM.1, ITEM.2, ..., which a real item of that name would
  // be taken for (that is the way left when the scan cannot answer).
  if (o.item && (o.all || (o.file != "-" && !s.compressFile && !s.encrypt))) {
    const ItemLookup found =
        o.all ? ScanEvery(o.file, settings, *o.group, *o.item)
              : LookupFileItem(o.file, s, settings.caseSensitive, *o.group, *o.item);
    if (found.outcome == ItemLookup::Outcome::kUnsure && o.all) {
      settings.document.itemRepeatMode = kItemRepeatRename;
    }
    if (found.outcome != ItemLookup::Outcome::kUnsure) {
      Store empty;
      Adopt(empty, settings);
      empty.SetCaseSensitive(settings.caseSensitive);
      Output out;
      if (found.outcome == ItemLookup::Outcome::kFound && o.all) {
        for (const std::string& value : found.values) {
          PrintValue(out, o, settings, empty, found.group, found.item, value);
        }
      } else if (found.outcome == ItemLookup::Outcome::kFound) {
        PrintValue(out, o, settings, empty, found.group, found.item, found.value);
      } else if (o.fallback) {
        PrintValue(out, o, settings, empty, *o.group, *o.item, *o.fallback);
      } else {
        throw found.outcome == ItemLookup::Outcome::kNoGroup ? noGroup() : noItem();
      }
      return kOk;
    }
  }
  const Document document = ReadDocument(o.file, settings);
  const Store& store = *document.store;
  Output out;
  if (!o.group) {
    PrintDocument(out, o.print, settings, store);
    return kOk;
  }
  const Group* g = store.FindGroup(*o.group);
  if (g == nullptr && !o.fallback) throw noGroup();
  if (!o.item) {
    PrintGroup(out, o.print, settings, store, *g);
    return kOk;
  }
  const Item* it = g != nullptr ? g->Find(*o.item, store.caseSensitive()) : nullptr;
  if (it == nullptr) {
    if (o.fallback) {
      PrintValue(out, o, settings, store, *o.group, *o.item, *o.fallback);
      return kOk;
    }
    throw noItem();
  }
  PrintValue(out, o, settings, store, g->name(), it->name(), it->value());
  if (o.all) {
    for (size_t n = 1;; ++n) {
      const Item* repeat = g->Find(*o.item + "." + std::to_string(n), store.caseSensitive());
      if (repeat == nullptr) break;
      PrintValue(out, o, settings, store, g->name(), it->name(), repeat->value());
    }
  }
  return kOk;
}

// ---- set

struct SetOptions {
  std::string file;
  std::vector<std::string> assignments;  // GROUP ITEM VALUE, one or more times
  FormatOptions format;
  WriteOptions write;
};

int Set(const SetOptions& o) {
  if (o.assignments.size() % 3 != 0) {
    throw Failure(kUsage, o.file,
                  "GROUP ITEM VALUE come in threes; " + std::to_string(o.assignments.size()) +
                      " words were given");
  }
  const FileSettings settings = Writing(InputSettings(o.format), o.write);
  const Document document = ReadDocument(o.file, settings, Use::kChangeOrCreate);
  Store& store = *document.store;
  // The new items alone must survive the file's format, or the file would change on the
  // next read. All are set, or none: one write for the lot.
  const std::unique_ptr<Store> items = MakeTemporaryStore(store);
  for (size_t n = 0; n < o.assignments.size(); n += 3) {
    items->SetItem(o.assignments[n], o.assignments[n + 1], o.assignments[n + 2]);
  }
  CheckReadsBack(*items, o.file);
  for (size_t n = 0; n < o.assignments.size(); n += 3) {
    store.SetItem(o.assignments[n], o.assignments[n + 1], o.assignments[n + 2]);
  }
  WriteChanged(store, o.file, settings, o.write.backup, document);
  return kOk;
}

// ---- del

struct DeleteOptions {
  std::string file, group;
  std::optional<std::string> item;
  bool ifExists = false;
  FormatOptions format;
  WriteOptions write;
};

int Delete(const DeleteOptions& o) {
  const FileSettings settings = Writing(InputSettings(o.format), o.write);
  const Document document =
      ReadDocument(o.file, settings, o.ifExists ? Use::kChangeOrCreate : Use::kChange);
  Store& store = *document.store;
  // With --if-exists, what is not there is already deleted: nothing to write.
  if (!store.GroupExists(o.group)) {
    if (o.ifExists) return kOk;
    throw Failure(kNotFound, o.file, "no group " + Quoted(o.group));
  }
  if (o.item) {
    if (!store.HasItem(o.group, *o.item)) {
      if (o.ifExists) return kOk;
      throw Failure(kNotFound, o.file,
                    "no item " + Quoted(*o.item) + " in group " + Quoted(o.group));
    }
    store.DeleteItem(o.group, *o.item);
  } else {
    store.DeleteGroup(o.group);
  }
  WriteChanged(store, o.file, settings, o.write.backup, document);
  return kOk;
}

// ---- list

struct ListOptions {
  std::string file;
  std::optional<std::string> group;
  FormatOptions format;
  PrintOptions print;
  Records records;
};

int List(const ListOptions& o) {
  const Document document = ReadDocument(o.file, InputSettings(o.format));
  const Store& store = *document.store;
  std::vector<std::string_view> names;
  if (!o.group) {
    store.ForEachGroup([&](const Group& g) { names.push_back(g.name()); });
  } else {
    const Group* g = store.FindGroup(*o.group);
    if (g == nullptr) throw Failure(kNotFound, o.file, "no group " + Quoted(*o.group));
    g->ForEachItem([&](const Item& it) { names.push_back(it.name()); });
  }
  Output out;
  if (o.print.format == "json") {
    Json list = Json::array();
    for (std::string_view name : names) list.push_back(TextToJson(name, o.print.Texts()));
    out.Line(list.dump(2));
  } else {
    for (std::string_view name : names) {
      out.Put(name);
      out.Put(std::string_view(&"\n\0"[o.records.zero ? 1 : 0], 1));
    }
  }
  return kOk;
}

// ---- find

struct FindOptions {
  std::string file, groups, items, values;
  FormatOptions format;
  PrintOptions print;
  Records records;
  bool any = false, caseSensitive = false, groupsOnly = false;
};

int Find(const FindOptions& o) {
  const FileSettings settings = InputSettings(o.format);
  const Document document = ReadDocument(o.file, settings);
  const Store& store = *document.store;
  const int flags = (o.any ? kSearchMatchAny : 0) | (o.caseSensitive ? kSearchCaseSensitive : 0) |
                    (o.groupsOnly ? kSearchGroupsOnly : 0);
  SearchResults results;
  Search(store, &results, o.groups, o.items, o.values, flags, kSearchReplace);
  Output out;
  const std::string& format = o.print.format;
  if (format == "json") {
    Json list = Json::array();
    for (const SearchResult& found : results) {
      Json entry = Json::object();
      entry["group"] = TextToJson(found.group, o.print.Texts());
      if (!o.groupsOnly) {
        entry["item"] = TextToJson(found.item, o.print.Texts());
        entry["value"] = TextToJson(found.value, o.print.Texts());
      }
      list.push_back(std::move(entry));
    }
    out.Line(list.dump(2));
  } else if (format == "ini") {
    const std::unique_ptr<Store> shown = MakeTemporaryStore(store);
    for (const SearchResult& found : results) {
      if (o.groupsOnly) {
        shown->MakeGroup(found.group);
        MergeGroup(*shown, &store, found.group, found.group, true);
      } else {
        shown->SetItem(found.group, found.item, found.value);
      }
    }
    out.Put(ShownText(*shown, settings));
  } else {
    const std::string_view end(&"\n\0"[o.records.zero ? 1 : 0], 1);
    for (const SearchResult& found : results) {
      if (o.groupsOnly) {
        out.Put(format == "lines" ? "[" + found.group + "]" : found.group);
      } else if (format == "lines") {
        out.Put("[" + found.group + "] " + found.item + " = " + found.value);
      } else {
        out.Put(found.group + "\t" + found.item + "\t" + found.value);
      }
      out.Put(end);
    }
  }
  return results.empty() ? kNotFound : kOk;
}

// ---- merge

struct MergeOptions {
  std::string file, other;
  FormatOptions format;
  WriteOptions write;
  bool overwrite = false;
  std::vector<std::string> group;  // SRC DEST
};

int Merge(const MergeOptions& o) {
  const FileSettings settings = Writing(InputSettings(o.format), o.write);
  // The other file is read with the same settings, as the object merges a file; what its
  // reading lost would be lost from the merge too.
  const Document source = ReadDocument(o.other, settings, Use::kCopy);
  const Document document = ReadDocument(o.file, settings, Use::kChangeOrCreate);
  Store& store = *document.store;
  if (o.group.empty()) {
    MergeStore(store, source.store.get(), o.overwrite);
  } else {
    if (!source.store->GroupExists(o.group[0])) {
      throw Failure(kNotFound, o.other, "no group " + Quoted(o.group[0]));
    }
    MergeGroup(store, source.store.get(), o.group[0], o.group[1], o.overwrite);
  }
  WriteChanged(store, o.file, settings, o.write.backup, document);
  return kOk;
}

// ---- check

struct CheckOptions {
  std::vector<std::string> files;
  FormatOptions format;
  PrintOptions print;
};

std::string Counted(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

int Check(const CheckOptions& o) {
  const FileSettings settings = InputSettings(o.format);
  int status = kOk;
  Output out;
  Json reports = Json::array();
  for (const std::string& file : o.files) {
    try {
      const Document document = ReadDocument(file, settings);
      const Store& store = *document.store;
      const LoadReport& report = document.report;
      const size_t groups = static_cast<size_t>(store.GroupCount());
      const size_t items = static_cast<size_t>(store.TotalItems());
      if (o.print.format == "json") {
        Json entry = Json::object();
        entry["file"] = TextToJson(file, o.print.Texts());
        entry["groups"] = groups;
        entry["items"] = items;
        entry["bytes"] = report.fileBytes;
        entry["text_bytes"] = report.textBytes;
        if (report.loss.line != 0) {
          entry["lost_line"] = report.loss.line;
          entry["lost"] = TextToJson(DescribeLoss(report.loss), o.print.Texts());
        }
        reports.push_back(std::move(entry));
      } else {
        std::string line = file + ": " + Counted(groups, "group", "groups") + ", " +
                           Counted(items, "item", "items") + ", " +
                           Counted(report.fileBytes, "byte", "bytes") + " (" +
                           Counted(report.textBytes, "byte", "bytes") + " of text)";
        // Reading it lost a line: a write would refuse the file.
        if (report.loss.line != 0) line += "; " + DescribeLoss(report.loss);
        out.Line(line);
      }
      // A file a write would refuse is not clean.
      if (report.loss.line != 0 && status == kOk) status = kUndecodable;
    } catch (const Failure& failure) {
      // Every file is checked; the first failure decides the exit code.
      if (o.print.format == "json") {
        Json entry = Json::object();
        entry["file"] = TextToJson(file, o.print.Texts());
        entry["error"] = TextToJson(failure.what(), o.print.Texts());
        entry["exit"] = failure.code;
        reports.push_back(std::move(entry));
      } else {
        out.Flush();
        std::cerr << "vellix: " << failure.file << ": " << failure.what() << std::endl;
      }
      if (status == kOk) status = failure.code;
    }
  }
  if (o.print.format == "json") out.Line(reports.dump(2));
  return status;
}

// ---- convert

struct ConvertOptions {
  std::string in, out;
  FormatOptions format, outFormat;
  WriteOptions write;
};

int Convert(const ConvertOptions& o) {
  const FileSettings in = Writing(InputSettings(o.format), o.write);
  const FileSettings out = OutputSettings(o.outFormat, in);
  const Document document = ReadDocument(o.in, in, Use::kCopy);
  Adopt(*document.store, out);
  CheckReadsBack(*document.store, o.out);
  FileLock lock;
  LockForWriting(lock, o.out, in);
  // The output keeps the input's line ends.
  WriteDocument(*document.store, o.out, out, o.write.backup, &document.report.shape);
  return kOk;
}

// ---- import-json

struct ImportJsonOptions {
  std::string file, json;
  FormatOptions format;
  WriteOptions write;
  std::optional<std::string> group;
  bool replace = false;
  std::string encoding = "utf8";
};

int ImportJsonCommand(const ImportJsonOptions& o) {
  const FileSettings settings = Writing(InputSettings(o.format), o.write);
  const std::string json = ReadInput(o.json);
  const Document document = ReadDocument(o.file, settings, Use::kChangeOrCreate);
  Store& store = *document.store;
  if (o.replace && !o.group) store.RemoveAllGroups();
  if (o.group && o.replace) store.DeleteGroup(*o.group);
  ImportJson(store, json, o.json, o.encoding == "latin1" ? Encoding::kLatin1 : Encoding::kUtf8,
             o.group ? &*o.group : nullptr);
  CheckReadsBack(store, o.file);
  WriteChanged(store, o.file, settings, o.write.backup, document);
  return kOk;
}

// ---- csv

// The object's CSV layouts (the same code as its CSV actions): export writes CSV from FILE,
// import sets the CSV's items into FILE.
struct CsvOptions {
  std::string mode, file, csv;
  FormatOptions format;
  WriteOptions write;
  std::string group;
  bool table = false;
  std::string separator = ",";
};

int Csv(const CsvOptions& o) {
  const FileSettings settings = Writing(InputSettings(o.format), o.write);
  if (o.mode == "export") {
    const Document document = ReadDocument(o.file, settings);
    const Store& store = *document.store;
    const std::string text =
        o.table ? CsvTable(store, o.separator) : CsvText(store, o.group, o.separator);
    if (o.csv == "-") {
      Output out;
      out.Put(text);
    } else if (const SaveStatus saved = ReplaceFile(o.csv, text); !saved) {
      throw Failure(kIoError, o.csv,
                    std::string("cannot be written (") + DescribeSaveStep(saved.failed) +
                        "): " + std::strerror(saved.error));
    }
    return kOk;
  }
  const std::string text = ReadInput(o.csv);
  // The object ends each field at a zero byte, as it does every text from the host; the
  // tool refuses the file instead of quietly importing less than it holds.
  if (text.find('\0') != std::string::npos) {
    throw Failure(kUsage, o.csv, "has a zero byte, which the file's text cannot hold");
  }
  const Document document = ReadDocument(o.file, settings, Use::kChangeOrCreate);
  Store& store = *document.store;
  if (o.table) {
    ImportCsvTableText(store, text, o.separator);
  } else {
    ImportCsvText(store, text, o.group, o.separator);
  }
  CheckReadsBack(store, o.file);
  WriteChanged(store, o.file, settings, o.write.backup, document);
  return kOk;
}

}  // namespace

bool OutputFailed() { return outputFailed; }

Runner SetUpGet(CLI::App& app) {
  auto o = std::make_shared<GetOptions>();
  AddArgument(app, "FILE", o->file, "the file (- for standard input)");
  AddArgument(app, "GROUP", o->group, "print this group's items");
  AddArgument(app, "ITEM", o->item, "print this item's value");
  AddFormatOptions(app, o->format, false);
  AddPrintOptions(app, o->print);
  app.add_option("--default", o->fallback, "print VALUE when the group or item is not there")
      ->type_name("VALUE")
      ->group("Output");
  app.add_flag("--all", o->all, "print every value of a repeated item, in the file's order")
      ->group("Output");
  return [o] { return Get(*o); };
}

Runner SetUpSet(CLI::App& app) {
  auto o = std::make_shared<SetOptions>();
  AddArgument(app, "FILE", o->file, "the file, made when it does not exist");
  app.add_option("GROUP ITEM VALUE", o->assignments,
                 "the group, the item and its new value; more triples set more items, all "
                 "in one write")
      ->required()
      ->expected(3, -1)
      ->type_name("");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  return [o] { return Set(*o); };
}

Runner SetUpDelete(CLI::App& app) {
  auto o = std::make_shared<DeleteOptions>();
  AddArgument(app, "FILE", o->file, "the file");
  AddArgument(app, "GROUP", o->group, "the group (deleted whole without ITEM)");
  AddArgument(app, "ITEM", o->item, "the item");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  app.add_flag("--if-exists", o->ifExists,
               "exit 0 when the file, group or item is not there (nothing is written)");
  return [o] { return Delete(*o); };
}

Runner SetUpList(CLI::App& app) {
  auto o = std::make_shared<ListOptions>();
  AddArgument(app, "FILE", o->file, "the file (- for standard input)");
  AddArgument(app, "GROUP", o->group, "list this group's item names");
  AddFormatOptions(app, o->format, false);
  AddPrintOptions(app, o->print);
  o->records.Add(app);
  return [o] { return List(*o); };
}

Runner SetUpFind(CLI::App& app) {
  auto o = std::make_shared<FindOptions>();
  AddArgument(app, "FILE", o->file, "the file (- for standard input)");
  AddArgument(app, "GPAT", o->groups, "the pattern of group names");
  AddArgument(app, "IPAT", o->items, "the pattern of item names");
  AddArgument(app, "VPAT", o->values, "the pattern of values");
  AddFormatOptions(app, o->format, false);
  AddPrintOptions(app, o->print);
  o->records.Add(app);
  app.add_flag("--any", o->any, "a match of any one pattern is enough");
  app.add_flag("--case", o->caseSensitive, "compare case-sensitively");
  app.add_flag("--groups-only", o->groupsOnly, "one result per matching group");
  return [o] { return Find(*o); };
}

Runner SetUpMerge(CLI::App& app) {
  auto o = std::make_shared<MergeOptions>();
  AddArgument(app, "FILE", o->file, "the file merged into, made when it does not exist");
  AddArgument(app, "OTHER", o->other, "the file merged from");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  app.add_flag("--overwrite", o->overwrite, "values of OTHER replace existing ones");
  app.add_option("--group", o->group, "merge group SRC of OTHER into DEST")
      ->expected(2)
      ->type_name("SRC DEST");
  return [o] { return Merge(*o); };
}

Runner SetUpCheck(CLI::App& app) {
  auto o = std::make_shared<CheckOptions>();
  app.add_option("FILE", o->files, "the files")->required()->type_name("");
  AddFormatOptions(app, o->format, false);
  AddPrintOptions(app, o->print);
  return [o] { return Check(*o); };
}

Runner SetUpConvert(CLI::App& app) {
  auto o = std::make_shared<ConvertOptions>();
  AddArgument(app, "IN", o->in, "the file read (- for standard input)");
  AddArgument(app, "OUT", o->out, "the file written (- for standard output)");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  AddFormatOptions(app, o->outFormat, true);
  return [o] { return Convert(*o); };
}

Runner SetUpImportJson(CLI::App& app) {
  auto o = std::make_shared<ImportJsonOptions>();
  AddArgument(app, "FILE", o->file, "the file, made when it does not exist");
  AddArgument(app, "JSON", o->json, "the JSON document (- for standard input)");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  app.add_option("--group", o->group, "the JSON is the items of this one group");
  app.add_flag("--replace", o->replace,
               "replace the document (or, with --group, the group) instead of adding to it");
  AddEncodingOption(app, o->encoding, "how JSON strings become bytes: utf8 or latin1");
  return [o] { return ImportJsonCommand(*o); };
}

Runner SetUpEdit(CLI::App& app) {
  struct EditOptions {
    std::string file;
    FormatOptions format;
    WriteOptions write;
  };
  auto o = std::make_shared<EditOptions>();
  AddArgument(app, "FILE", o->file, "the file, made when it does not exist");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  return
      [o] { return Edit(o->file, Writing(InputSettings(o->format), o->write), o->write.backup); };
}

Runner SetUpCsv(CLI::App& app) {
  auto o = std::make_shared<CsvOptions>();
  app.add_option("MODE", o->mode, "export or import")
      ->required()
      ->check(CLI::IsMember({"export", "import"}))
      ->type_name("");
  AddArgument(app, "FILE", o->file, "the document");
  AddArgument(app, "CSV", o->csv, "the CSV file (- for standard input or output)");
  AddFormatOptions(app, o->format, false);
  AddWriteOptions(app, o->write);
  app.add_option("--group", o->group,
                 "pair layout: only this group's items (import: into this group)");
  app.add_flag("--table", o->table, "the table layout: a header of item names");
  app.add_option("--sep", o->separator, "the separator (default ,)");
  return [o] { return Csv(*o); };
}

}  // namespace vellix::cli
