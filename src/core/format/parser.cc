// The INI text parser: lines are cut from a view of the text (never copied), and every
// group header and item line becomes one or two store calls.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "format/text.h"
#include "store/name_key.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {
namespace {

// The first CR or LF in [p, end), or end. Lines are short and many, and this is the one
// loop that touches every byte, so it looks at eight bytes at a time.
const char* FindLineEnd(const char* p, const char* end) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const uint64_t cr = word ^ (kOnes * '\r');
    const uint64_t lf = word ^ (kOnes * '\n');
    // A byte of cr or lf is zero exactly where the text has that byte.
    const uint64_t hit = ((cr - kOnes) & ~cr & kHighs) | ((lf - kOnes) & ~lf & kHighs);
    if (hit != 0) break;
    p += 8;
  }
  while (p < end && *p != '\r' && *p != '\n') ++p;
  return p;
}

// Cuts the text into lines, either at CR, LF and CR LF or at a custom new-line text.
class LineCutter {
 public:
  LineCutter(std::string_view text, bool standard, std::string_view newLine)
      : text_(text), standard_(standard), finder_(newLine) {}

  // Where the next line starts; a copy of the cutter moved there reads the same lines.
  size_t position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }

  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const size_t n = text_.size();
    if (standard_) {
      const char* p = text_.data() + pos_;
      const char* end = text_.data() + n;
      const char* q = FindLineEnd(p, end);
      line = std::string_view(p, static_cast<size_t>(q - p));
      if (q < end) {
        // The terminator: CR LF, or one CR or LF (so "\n\n" is two line ends, and the
        // lines keep their numbers).
        const bool crlf = *q == '\r' && q + 1 < end && q[1] == '\n';
        q += crlf ? 2 : 1;
      }
      pos_ = static_cast<size_t>(q - text_.data());
      return true;
    }
    const size_t hit = finder_.Find(text_, pos_);
    if (hit == std::string_view::npos) {
      line = text_.substr(pos_);
      pos_ = n;
    } else {
      line = text_.substr(pos_, hit - pos_);
      pos_ = hit + finder_.size();
    }
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  bool standard_;
  NewLineFinder finder_;
};

// The smallest free numbered suffix for a repeated name ("x.1", "x.2", ...). The parser
// only ever adds names (a group removed by the Last policy is forgotten here), so the
// smallest free number never goes down: each search resumes where the one before stopped,
// and a thousand repeats of one name cost a thousand tests, not half a million.
class SuffixCounter {
 public:
  template <class Exists>
  std::string Free(const std::string& key, std::string_view name, Exists&& exists) {
    uint64_t& n = next_.try_emplace(key, 1).first->second;
    std::string candidate;
    for (;; ++n) {
      candidate.assign(name);
      candidate.push_back('.');
      candidate.append(std::to_string(n));
      if (!exists(candidate)) return candidate;
    }
  }
  void Clear() { next_.clear(); }

 private:
  std::unordered_map<std::string, uint64_t> next_;
};

class Parser {
 public:
  explicit Parser(Store& store)
      : store_(store), settings_(store.settings()), newLine_(settings_.NewLineText()) {}

  void Run(std::string_view text) {
    LineCutter cutter(text, settings_.standardNewLine(), newLine_);
    LineCutter scout = cutter;
    bool scouting = false;
    size_t lines = 0;
    std::string_view line;
    while (cutter.Next(line)) {
      ++lines;
      if (LargeGroup()) {
        if (!scouting) {
          scout.Seek(cutter.position());
          for (size_t i = 0; i < kScoutLead && Scout(scout); ++i) {
          }
          scouting = true;
        }
        Scout(scout);
        GrowAhead(text.size() - cutter.position(), cutter.position(), lines);
      } else {
        scouting = false;
      }
      line_ = lines;
      Line(line);
    }
  }

  // Whether every line fits in an item. Only a text longer than the limit can hold a line
  // that does not, so the extra pass is made only for those.
  bool LinesFit(std::string_view text) const {
    const size_t limit = std::min<size_t>(ItemLengthLimit(), UINT32_MAX);
    if (text.size() <= limit) return true;
    LineCutter cutter(text, settings_.standardNewLine(), newLine_);
    std::string_view line;
    while (cutter.Next(line)) {
      if (line.size() > limit) return false;
    }
    return true;
  }

  size_t entries() const { return entries_; }
  ParseLoss& loss() { return loss_; }

 private:
  // A group of many items: its index is larger than the caches, and every item read into it
  // would wait for memory twice, once for the slot it is looked up in and once more, now
  // and then, when the index grows and every entry moves. While the current group is that
  // large, a second cutter reads kScoutLead lines ahead and has the slot of each item name
  // it finds fetched (the lookup then finds it in the cache), and the index is grown ahead
  // towards what the rest of the text can still hold.
  static constexpr size_t kLargeGroup = size_t{1} << 15;
  static constexpr size_t kScoutLead = 16;

  bool LargeGroup() const {
    return node_ != nullptr && nodeGeneration_ == store_.generation() &&
           node_->size() >= kLargeGroup;
  }

  // Reads one line ahead; false at the end of the text.
  bool Scout(LineCutter& scout) {
    std::string_view ahead;
    if (!scout.Next(ahead)) return false;
    const std::string_view trimmed = TrimBlanks(ahead);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return true;
    ItemLineParts parts;
    if (SplitItemLine(trimmed, settings_.escapeItemNames, newLine_, scoutScratch_, parts)) {
      store_.PrefetchItem(node_, parts.name);
    }
    return true;
  }

  // Every item line still to come may land in this group, so the rest of the text bounds how
  // large it can grow; the number of lines in it is estimated from the lines read so far.
  // Each step grows the index at most eightfold, so a group that stops growing (the rest
  // belongs to other groups) is left with little room it does not use.
  void GrowAhead(size_t bytesLeft, size_t bytesRead, size_t linesRead) {
    const size_t size = node_->size();
    if (node_ != reservedGroup_) {
      reservedGroup_ = node_;
      reservedFor_ = 0;
    }
    if (size < reservedFor_) return;
    const size_t linesLeft = bytesLeft / std::max<size_t>(1, bytesRead / linesRead) + 1;
    reservedFor_ = size + std::min(linesLeft, 7 * size);
    store_.ReserveItems(node_, reservedFor_);
  }

  // The current group: the joined subgroup path, or a name of its own.
  std::string_view Current() const {
    return currentIsPath_ ? std::string_view(path_) : std::string_view(current_);
  }
  void SetCurrent(std::string name) {
    if (name != Current()) ForgetNode();
    current_ = std::move(name);
    currentIsPath_ = false;
  }
  void SetCurrentToPath() {
    ForgetNode();
    currentIsPath_ = true;
  }

  // The current group's node, looked up once per group rather than once per item (a long
  // group name would otherwise be hashed again for every item). With `prepare`, the group
  // is made and given the current spelling, as setting an item in it does.
  Group* CurrentNode(bool prepare) {
    if (node_ != nullptr && nodeGeneration_ != store_.generation()) ForgetNode();
    if (prepare && !prepared_) {
      node_ = store_.PrepareGroup(Current());
      prepared_ = true;
      nodeGeneration_ = store_.generation();
    } else if (node_ == nullptr) {
      node_ = store_.MutableGroup(Current());
      nodeGeneration_ = store_.generation();
    }
    return node_;
  }
  void ForgetNode() {
    node_ = nullptr;
    prepared_ = false;
  }

  // Freezes the current group's name before the path changes under it.
  void DetachCurrent() {
    if (currentIsPath_) SetCurrent(path_);
  }

  void PopPieces(size_t count) {
    if (count == 0 || pieceStart_.empty()) return;
    DetachCurrent();
    const size_t keep = count >= pieceStart_.size() ? 0 : pieceStart_.size() - count;
    // A piece after the first is stored with its "/" in front, so cutting at a piece's
    // start drops the separator too.
    path_.resize(keep == 0 ? 0 : pieceStart_[keep]);
    pieceStart_.resize(keep);
  }

  void PushPiece(std::string_view piece) {
    DetachCurrent();
    pieceStart_.push_back(path_.size());
    if (pieceStart_.size() > 1) path_.push_back('/');
    path_.append(piece);
  }

  // Notes the first line that is not taken in as it stands (see LineLoss).
  bool NothingLost() const { return loss_.line == 0; }
  void Lose(LineLoss what, std::string_view line, std::string_view group = {},
            std::string_view item = {}) {
    if (loss_.line != 0) return;
    constexpr size_t kShown = 60;
    loss_.line = line_;
    loss_.what = what;
    loss_.text.assign(line.substr(0, kShown));
    if (line.size() > kShown) loss_.text += "...";
    loss_.group.assign(group);
    loss_.item.assign(item);
  }

  void Line(std::string_view raw) {
    const std::string_view line = TrimBlanks(raw);
    // A blank line says nothing about structure. Letting its missing indentation reset
    // the subgroup path would send every following item of an indented group into an
    // outer group, so blank lines are skipped before indentation is looked at.
    if (line.empty()) return;
    // A line indented deeper than the item line above it continues that item's value in
    // other readers (configparser, systemd); this reader takes it apart. Lines at the same
    // indentation (a tab-indented gitconfig) are ordinary items.
    const size_t indent = static_cast<size_t>(line.data() - raw.data());
    const bool continues = !settings_.subgroups && afterItem_ && indent > itemIndent_;
    if (continues && NothingLost()) Lose(LineLoss::kContinuation, line);
    afterItem_ = false;

    size_t level = 0;
    if (settings_.subgroups) {
      while (level < raw.size() && raw[level] == '\t') ++level;
      if (level < depth_) {
        currentIsPath_ = false;  // replaced by the path just below: no need to keep it
        PopPieces(depth_ - level);
        depth_ = level;
        SetCurrentToPath();
      }
    }

    if (line.front() == ';') return;
    if (line.front() == '[') {
      Header(line, level);
      return;
    }
    if (!continues) itemIndent_ = indent;
    afterItem_ = true;
    if (!skipItems_) Item(line);
  }

  void Header(std::string_view line, size_t level) {
    ++entries_;
    skipItems_ = false;
    std::string_view decoded = line;
    if (settings_.escapeGroups) {
      DecodeInto(headerScratch_, line, newLine_);
      decoded = headerScratch_;
    }
    const bool wellFormed = decoded.size() >= 2 && decoded.back() == ']';
    if (!wellFormed && NothingLost()) Lose(LineLoss::kBadHeader, line, Current());
    if (wellFormed) {
      const std::string_view given = decoded.substr(1, decoded.size() - 2);
      std::string_view name = given;
      if (settings_.subgroups) {
        if (level == depth_ && !pieceStart_.empty()) PopPieces(1);
        depth_ = level;
        if (level == 0) PopPieces(pieceStart_.size());
        PushPiece(given);
        name = path_;
      }
      const bool exists = store_.GroupExists(name);
      if (exists && NothingLost()) {
        switch (settings_.groupRepeatMode) {
          case kGroupRepeatFirst:
            Lose(LineLoss::kGroupDropped, line, name);
            break;
          case kGroupRepeatLast:
            Lose(LineLoss::kGroupReplaced, line, name);
            break;
          case kGroupRepeatRename:
            break;
          default:  // merge, and any other mode: the items go to the group that is there
            Lose(LineLoss::kGroupMerged, line, name);
            break;
        }
      }
      if (exists && settings_.groupRepeatMode != kGroupRepeatMerge) {
        switch (settings_.groupRepeatMode) {
          case kGroupRepeatLast:  // the group is read afresh
            store_.DeleteGroup(name);
            itemSuffixes_.erase(NormalizeName(name, store_.caseSensitive()));
            TakeName(name);
            break;
          case kGroupRepeatFirst:  // this header's items are dropped
            skipItems_ = true;
            break;
          case kGroupRepeatRename: {
            const std::string key = NormalizeName(name, store_.caseSensitive());
            SetCurrent(groupSuffixes_.Free(key, name, [&](const std::string& candidate) {
              return store_.GroupExists(candidate);
            }));
            break;
          }
          default:
            break;
        }
      } else {
        TakeName(name);
      }
    }
    if (settings_.allowEmptyGroups) store_.MakeGroup(Current());
  }

  // The name becomes the current group; a name that is the subgroup path stays tied to it.
  void TakeName(std::string_view name) {
    if (settings_.subgroups && name.data() == path_.data()) {
      SetCurrentToPath();
    } else {
      SetCurrent(std::string(name));
    }
  }

  void Item(std::string_view line) {
    ItemLineParts parts;
    if (!SplitItemLine(line, settings_.escapeItemNames, newLine_, nameScratch_, parts)) {
      if (NothingLost()) Lose(LineLoss::kNotRead, line);
      return;
    }
    ++entries_;
    std::string_view value = TrimBlanks(parts.value);
    if (settings_.escapeValues) {
      DecodeInto(valueScratch_, value, newLine_);
      value = valueScratch_;
    }
    if (!settings_.alwaysQuote && !value.empty() && value.front() == '"' && value.back() == '"') {
      value = value.size() == 1 ? std::string_view() : value.substr(1, value.size() - 2);
    }
    const std::string_view name = parts.name;
    const bool cs = store_.caseSensitive();
    if (settings_.itemRepeatMode == kItemRepeatFirst ||
        settings_.itemRepeatMode == kItemRepeatRename) {
      const Group* existing = CurrentNode(false);
      if (existing != nullptr && existing->Find(name, cs) != nullptr) {
        if (settings_.itemRepeatMode == kItemRepeatFirst) {
          if (NothingLost()) Lose(LineLoss::kItemDropped, line, Current(), name);
          return;
        }
        Group* g = CurrentNode(true);
        auto& counter = itemSuffixes_[NormalizeName(Current(), cs)];
        const std::string renamed = counter.Free(
            NormalizeName(name, cs), name,
            [&](const std::string& candidate) { return g->Find(candidate, cs) != nullptr; });
        store_.SetItemIn(g, renamed, value);
        store_.quiet = true;
        return;
      }
    }
    Group* g = CurrentNode(true);
    const size_t before = g->size();
    store_.SetItemIn(g, name, value);
    // An item that was there already had its value replaced. (A listener told of a new item
    // may have changed the store; the group is looked at only while it is sure to exist.)
    if (NothingLost() && nodeGeneration_ == store_.generation() && g->size() == before) {
      Lose(LineLoss::kItemReplaced, line, Current(), name);
    }
    // A listener told of a new item may run a composite operation, which clears the flag.
    store_.quiet = true;
  }

  Store& store_;
  // The settings the text is read with, as they were when the parse began: handlers run
  // by the store's notifications may change the store's own.
  const DocumentSettings settings_;
  const std::string_view newLine_;

  bool skipItems_ = false;
  size_t entries_ = 0;
  size_t line_ = 0;         // the number of the line being read
  bool afterItem_ = false;  // the line before (blank lines aside) was an item line
  size_t itemIndent_ = 0;   // the indentation of the last item line that began an item
  ParseLoss loss_;
  Group* node_ = nullptr;
  bool prepared_ = false;
  uint64_t nodeGeneration_ = 0;
  std::string current_;  // the current group when it is not the path
  bool currentIsPath_ = false;
  std::string path_;  // the subgroup path, joined with "/"
  std::vector<size_t> pieceStart_;
  size_t depth_ = 0;

  std::string headerScratch_;
  std::string nameScratch_;
  std::string valueScratch_;
  std::string scoutScratch_;
  const Group* reservedGroup_ = nullptr;  // the large group given room ahead, and for how many
  size_t reservedFor_ = 0;
  SuffixCounter groupSuffixes_;
  std::unordered_map<std::string, SuffixCounter> itemSuffixes_;
};

// A line as a message shows it: control bytes as escapes, so a stray CR can be seen.
std::string Shown(std::string_view line) {
  std::string out;
  for (const char c : line) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<unsigned char>(c) < 32) {
      out += "\\x";
      out += "0123456789abcdef"[(c >> 4) & 15];
      out += "0123456789abcdef"[c & 15];
    } else {
      out += c;
    }
  }
  return out;
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

TextShape ShapeOf(std::string_view text) {
  TextShape shape;
  const char* end = text.data() + text.size();
  const char* p = FindLineEnd(text.data(), end);
  if (p < end) {
    shape.lineEnd = *p == '\n'                    ? LineEnd::kLf
                    : p + 1 < end && p[1] == '\n' ? LineEnd::kCrLf
                                                  : LineEnd::kCr;
  }
  shape.finalLineEnd = !text.empty() && (text.back() == '\n' || text.back() == '\r');
  return shape;
}

}  // namespace

std::string DescribeLoss(const ParseLoss& loss) {
  if (loss.line == 0) return "no line lost";
  std::string out = "line " + std::to_string(loss.line);
  const std::string line = " (" + Quoted(Shown(loss.text)) + ")";
  switch (loss.what) {
    case LineLoss::kNone:
      break;
    case LineLoss::kNotRead:
      return out + line + " is neither an item nor a group header: it is not read";
    case LineLoss::kContinuation:
      return out + line +
             " is indented under an item, as a continued value is: it is read as a line of "
             "its own, not as part of that value";
    case LineLoss::kBadHeader:
      return out + line + " is not a group header (no closing \"]\"): its items join group " +
             Quoted(loss.group);
    case LineLoss::kItemReplaced:
      return out + " repeats item " + Quoted(loss.item) + " of group " + Quoted(loss.group) +
             ": its earlier value is replaced";
    case LineLoss::kItemDropped:
      return out + " repeats item " + Quoted(loss.item) + " of group " + Quoted(loss.group) +
             ": this value is dropped";
    case LineLoss::kGroupMerged:
      return out + " repeats group " + Quoted(loss.group) + ": its items join the earlier one";
    case LineLoss::kGroupReplaced:
      return out + " repeats group " + Quoted(loss.group) + ": the earlier one is dropped";
    case LineLoss::kGroupDropped:
      return out + " repeats group " + Quoted(loss.group) + ": its items are dropped";
  }
  return out;
}

ParseResult ParseText(Store& store, std::string_view text, ParseOptions options) {
  text = UpToZero(text);
  // Notepad and many Windows editors begin a UTF-8 file with a byte-order mark. It is no
  // part of the first line, which would otherwise not read as a group header; nothing the
  // object writes begins with one.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  ParseResult result;
  result.shape = ShapeOf(text);
  {
    // A parse that fails half way (out of memory) takes back all it read: a load is whole
    // or nothing.
    const StoreChange change(store);
    const ScopedValue<bool> loading(store.loading, true);
    const ScopedValue<bool> hold(store.quiet, true, false);
    Parser parser(store);
    // Refused before anything changes: an item cut to fit would lose data, and a load that
    // stopped at the long line would pass off its first part as the whole.
    if (!parser.LinesFit(text)) {
      result.refused = true;
      return result;
    }
    if (options.clearFirst) store.RemoveAllGroups();
    parser.Run(text);
    result.entries = parser.entries();
    result.loss = std::move(parser.loss());
    store.quiet = true;
    store.RemoveEmptyGroups();
  }
  if (options.notifyAfter) store.AfterChange();
  return result;
}

}  // namespace vellix
