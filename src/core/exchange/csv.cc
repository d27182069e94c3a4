#include "exchange/csv.h"

#include <unordered_map>
#include <vector>

#include "io/file_io.h"
#include "store/name_key.h"
#include "store/store.h"

namespace vellix {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

// One group's items as name, separator, value, separator..., less the last character: with
// a one-character separator, the final separator. Without a separator nothing is cut, as
// the last character would then belong to the last value.
void AppendRow(std::string& out, const Group& group, std::string_view separator) {
  const size_t start = out.size();
  group.ForEachItem([&](const Item& item) {
    out += item.name();
    out += separator;
    out += item.value();
    out += separator;
  });
  if (out.size() > start && !separator.empty()) out.pop_back();
}

// Names compared and hashed under the store's case rule.
struct KeyHash {
  bool caseSensitive;
  size_t operator()(std::string_view name) const {
    return static_cast<size_t>(HashKey(name, caseSensitive));
  }
};
struct KeyEqual {
  bool caseSensitive;
  bool operator()(std::string_view a, std::string_view b) const {
    return SameKey(a, b, caseSensitive);
  }
};

// Calls `line` for each line of the text without its "\r\n" or "\n".
template <class F>
void ForEachLine(std::string_view text, F&& line) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t newline = text.find('\n', pos);
    const size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    std::string_view l = text.substr(pos, end - pos);
    pos = end;
    if (!l.empty() && l.back() == '\n') {
      l.remove_suffix(1);
      if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    }
    line(l);
  }
}

// The text before the first separator, which leaves the line with what follows it; the
// whole line when there is none.
std::string_view TakeField(std::string_view& line, std::string_view separator) {
  const size_t at = line.find(separator);
  if (at == std::string_view::npos) {
    const std::string_view field = line;
    line = {};
    return field;
  }
  const std::string_view field = line.substr(0, at);
  line.remove_prefix(at + separator.size());
  return field;
}

}  // namespace

std::string CsvText(const Store& store, std::string_view group, std::string_view separator) {
  std::string out;
  if (!group.empty()) {
    if (const Group* g = store.FindGroup(group)) AppendRow(out, *g, separator);
    return out;
  }
  store.ForEachGroup([&](const Group& g) {
    out += g.name();
    out += separator;
    AppendRow(out, g, separator);
    out += kLineBreak;
  });
  if (!out.empty()) out.resize(out.size() - kLineBreak.size());
  return out;
}

std::string CsvTable(const Store& store, std::string_view separator) {
  const bool cs = store.caseSensitive();
  // Columns in order of first appearance; names that share a key share a column, which a
  // store that ignores case names in lower case.
  std::unordered_map<std::string_view, size_t, KeyHash, KeyEqual> columnOf(16, KeyHash{cs},
                                                                           KeyEqual{cs});
  std::vector<std::string_view> columns;
  // Groups of one table mostly list the same names in the same order: the column at the
  // item's own position is tried before the hash.
  const auto columnFor = [&](std::string_view name, size_t position) -> size_t {
    if (position < columns.size() && SameKey(columns[position], name, cs)) return position;
    const auto [it, added] = columnOf.emplace(name, columns.size());
    if (added) columns.push_back(name);
    return it->second;
  };
  store.ForEachGroup([&](const Group& g) {
    size_t position = 0;
    g.ForEachItem([&](const Item& item) { columnFor(item.name(), position++); });
  });
  std::string out = "Group";
  for (std::string_view column : columns) {
    out += separator;
    out += cs ? std::string(column) : LowerAscii(column);
  }
  out += kLineBreak;
  std::vector<const Item*> cells;
  store.ForEachGroup([&](const Group& g) {
    cells.clear();
    size_t position = 0;
    g.ForEachItem([&](const Item& item) {
      const size_t column = columnFor(item.name(), position++);
      if (column >= cells.size()) cells.resize(column + 1, nullptr);
      cells[column] = &item;
    });
    out += g.name();
    for (const Item* cell : cells) {
      out += separator;
      if (cell != nullptr) out += cell->value();
    }
    out += kLineBreak;
  });
  return out;
}

void ImportCsvText(Store& store, std::string_view text, std::string_view group,
                   std::string_view separator) {
  // An empty separator would be found at the start of every text: there are no fields.
  if (separator.empty()) return;
  ForEachLine(text, [&](std::string_view line) {
    const std::string_view target = group.empty() ? TakeField(line, separator) : group;
    while (!line.empty()) {
      const std::string_view item = TakeField(line, separator);
      const std::string_view value = TakeField(line, separator);
      store.SetItem(target, item, value);
    }
  });
}

void ImportCsvTableText(Store& store, std::string_view text, std::string_view separator) {
  if (separator.empty()) return;
  bool header = true;
  std::vector<std::string> columns;
  ForEachLine(text, [&](std::string_view line) {
    if (header) {
      header = false;
      while (!line.empty()) columns.emplace_back(TakeField(line, separator));
      return;
    }
    const std::string_view group = TakeField(line, separator);
    for (size_t column = 1; !line.empty() && column < columns.size(); ++column) {
      const std::string_view cell = TakeField(line, separator);
      if (!cell.empty()) store.SetItem(group, columns[column], cell);
    }
  });
}

bool ExportCsv(const std::string& path, const Store& store, std::string_view group,
               std::string_view separator) {
  return ReplaceFile(path, CsvText(store, group, separator)).ok();
}

bool ExportCsvTable(const std::string& path, const Store& store, std::string_view separator) {
  return ReplaceFile(path, CsvTable(store, separator)).ok();
}

bool ImportCsv(const std::string& path, Store& store, std::string_view group,
               std::string_view separator) {
  std::string text;
  if (!ReadWholeFile(path, text)) return false;
  ImportCsvText(store, text, group, separator);
  return true;
}

bool ImportCsvTable(const std::string& path, Store& store, std::string_view separator) {
  std::string text;
  if (!ReadWholeFile(path, text)) return false;
  ImportCsvTableText(store, text, separator);
  return true;
}

}  // namespace vellix
