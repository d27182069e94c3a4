// The INI text writer: the whole store as one text, built in one growing string, or handed
// out in pieces of about the same size as it is written.
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "format/text.h"
#include "store/name_key.h"
#include "store/store.h"

namespace vellix {
namespace {

// A name written "as original": up to its last ".", or whole when it has none.
std::string_view Original(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

class Writer {
 public:
  Writer(const Store& store, std::string& out, TextSink* sink)
      : store_(store),
        settings_(store.settings()),
        newLine_(settings_.NewLineText()),
        out_(out),
        sink_(sink) {}

  // False when the sink stopped the text.
  bool Run() {
    out_.clear();
    if (sink_ != nullptr) {
      out_.reserve(kPiece + kPiece / 4);
    } else {
      Reserve();
    }
    store_.ForEachGroup([&](const Group& g) {
      if (!stopped_) WriteGroup(g);
    });
    if (stopped_) return false;
    // No new line after the last line.
    if (out_.size() >= newLine_.size()) out_.resize(out_.size() - newLine_.size());
    if (sink_ != nullptr && !out_.empty() && !sink_->Take(out_.data(), out_.size())) return false;
    return true;
  }

 private:
  // The size of the pieces handed to a sink: large enough that passing them costs nothing
  // much, small enough that they stay in the cache while the sink enciphers and compresses
  // them.
  static constexpr size_t kPiece = size_t{128} << 10;

  // Hands what is written to the sink once a piece has gathered. Called only at the end of
  // a line; the last new line stays behind, as it is not written when no line follows.
  void LineDone() {
    if (sink_ == nullptr || out_.size() < kPiece) return;
    const size_t ready = out_.size() - newLine_.size();
    if (!sink_->Take(out_.data(), ready)) {
      stopped_ = true;
      return;
    }
    out_.erase(0, ready);
  }

  // The exact size of the plain form; escapes and quotes add a little, which the string's
  // own growth absorbs.
  void Reserve() {
    size_t total = 0;
    const size_t nl = newLine_.size();
    store_.ForEachGroup([&](const Group& g) {
      total += g.name().size() + 2 + nl;
      g.ForEachItem(
          [&](const Item& it) { total += it.name().size() + it.value().size() + 1 + nl; });
    });
    if (settings_.escapeGroups || settings_.escapeItemNames || settings_.escapeValues) {
      total += total / 16;
    }
    out_.reserve(total + 64);
  }

  void Indent(size_t level) { out_.append(level, '\t'); }

  void WriteGroup(const Group& g) {
    std::string_view e = g.name();
    if (settings_.escapeGroups) {
      groupScratch_.clear();
      AppendEscaped(groupScratch_, g.name(), false, false, newLine_);
      e = groupScratch_;
    }
    size_t level = 0;
    std::string_view header = e;
    if (settings_.subgroups) {
      level = PlaceSubgroup(e, header);
    }
    Indent(level);
    out_.push_back('[');
    if (settings_.saveRepeatedAsOriginal) {
      // Only the last piece of a path loses its suffix.
      const size_t dot = header.rfind('.');
      const size_t slash = header.rfind('/');
      if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        header = header.substr(0, dot);
      }
    }
    out_.append(header);
    out_.push_back(']');
    out_.append(newLine_);
    if (settings_.subgroups) {
      path_.resize(level);
      path_.emplace_back(header);
    }
    LineDone();
    g.ForEachItem([&](const Item& it) {
      if (stopped_) return;
      WriteItem(it, level);
      LineDone();
    });
  }

  // Decides how a group whose encoded name is `e` is placed under subgroups: which parent
  // lines are needed, at what indent the header goes and what it says.
  //
  // The reader knows a group's parents only from the headers just above it: the full name
  // of a header at indent d is the path of the last headers at indents 0 to d-1 joined with
  // "/". So the writer keeps the path the reader will have (path_) and writes parent lines
  // only for the part of the name that path does not already give. A parent that is a
  // group of its own, or that was already written as a parent line, is not written again:
  // reading its header a second time would be a repeated group (renamed, emptied or
  // skipped under the repeat policies). The rest of the name then goes into the header
  // itself, "/" included, which the reader joins to the same full name.
  //
  // Lines are indented by at most kMaxIndent tabs; deeper pieces go into the header the
  // same way. Every level of a path otherwise costs one more tab on every line below it,
  // so a short name of many pieces would make a text many times the document's size.
  static constexpr size_t kMaxIndent = 32;

  size_t PlaceSubgroup(std::string_view e, std::string_view& header) {
    // The deepest level whose path is a parent of e.
    size_t matched = 0;
    size_t pos = 0;
    while (matched < path_.size() && matched < kMaxIndent) {
      const std::string& piece = path_[matched];
      if (e.size() <= pos + piece.size() || e.compare(pos, piece.size(), piece) != 0 ||
          e[pos + piece.size()] != '/') {
        break;
      }
      pos += piece.size() + 1;
      ++matched;
    }
    size_t level = matched;
    bool truncated = false;
    while (level < kMaxIndent) {
      const size_t slash = e.find('/', pos);
      if (slash == std::string_view::npos) break;
      const std::string_view full = e.substr(0, slash);
      std::string key = NormalizeName(full, store_.caseSensitive());
      bool isGroup;
      if (settings_.escapeGroups) {
        isGroup = store_.GroupExists(UnescapeText(full, Decode::kAlways, false, newLine_));
      } else {
        isGroup = store_.GroupExists(full);
      }
      if (isGroup || writtenParents_.count(key) != 0) break;
      writtenParents_.insert(std::move(key));
      const std::string_view piece = e.substr(pos, slash - pos);
      if (!truncated) {
        path_.resize(level);
        truncated = true;
      }
      Indent(level);
      out_.push_back('[');
      out_.append(piece);
      out_.push_back(']');
      out_.append(newLine_);
      path_.emplace_back(piece);
      ++level;
      pos = slash + 1;
    }
    header = e.substr(pos);
    return level;
  }

  void WriteItem(const Item& it, size_t level) {
    Indent(level);
    const size_t nameStart = out_.size();
    if (settings_.escapeItemNames) {
      AppendEscaped(out_, it.name(), true, true, newLine_);
      if (out_.size() > nameStart && (out_[nameStart] == ';' || out_[nameStart] == '[')) {
        out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(nameStart), '\\');
      }
    } else {
      out_.append(it.name());
    }
    if (settings_.saveRepeatedAsOriginal) {
      const std::string_view written(out_.data() + nameStart, out_.size() - nameStart);
      out_.resize(nameStart + Original(written).size());
    }
    out_.push_back('=');

    std::string_view v = it.value();
    if (settings_.escapeValues) {
      valueScratch_.clear();
      AppendEscaped(valueScratch_, it.value(), settings_.alwaysQuote, false, newLine_);
      v = valueScratch_;
    }
    // Quotes keep what the reader would otherwise lose: blanks at the edges (trimmed
    // before decoding) and a pair of enclosing double quotes (taken off as quoting after
    // decoding, so an escaped pair counts too).
    const std::string_view raw = it.value();
    const bool quote =
        !settings_.alwaysQuote && ((!v.empty() && (IsBlank(v.front()) || IsBlank(v.back()))) ||
                                   (!raw.empty() && raw.front() == '"' && raw.back() == '"'));
    if (quote) out_.push_back('"');
    out_.append(v);
    if (quote) out_.push_back('"');
    out_.append(newLine_);
  }

  const Store& store_;
  const DocumentSettings& settings_;
  const std::string_view newLine_;

  std::string& out_;
  TextSink* const sink_;
  bool stopped_ = false;
  std::string groupScratch_;
  std::string valueScratch_;
  std::vector<std::string> path_;  // the subgroup path the reader will hold
  std::unordered_set<std::string> writtenParents_;
};

}  // namespace

std::string WriteText(const Store& store) {
  std::string text;
  WriteText(store, text);
  return text;
}

void WriteText(const Store& store, std::string& out) {
  Writer writer(store, out, nullptr);
  writer.Run();
}

bool WriteTextTo(const Store& store, TextSink& sink) {
  std::string piece;
  Writer writer(store, piece, &sink);
  return writer.Run();
}

}  // namespace vellix
