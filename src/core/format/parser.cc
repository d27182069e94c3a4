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

#include "format/scan.h"
#include "format/text.h"
#include "store/name_key.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {
namespace {

// Lines are short and many, and finding their ends is the one loop that touches every
// byte: it looks at many bytes at a time (scan.h).
using scan::FindLineEnd;

// Cuts the text into lines, either at CR, LF and CR LF or at a custom new-line text.
class LineCutter {
 public:
  LineCutter(std::string_view text, bool standard, const NewLineFinder& finder)
      : text_(text), standard_(standard), finder_(&finder) {}

  // Where the next line starts; a copy of the cutter moved there reads the same lines.
  size_t position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  // Whether the last line NextWhole gave ended in a CR that was the text's last byte.
  bool endsInCr() const { return endsInCr_; }

  // The next line; the last may have no line end.
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    if (NextWhole(line)) return true;
    line = text_.substr(pos_);
    pos_ = text_.size();
    return true;
  }

  // The next line that has its line end in the text; false (and nothing moves) when the
  // rest holds none.
  bool NextWhole(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const size_t n = text_.size();
    if (standard_) {
      const char* p = text_.data() + pos_;
      const char* end = text_.data() + n;
      const char* q = FindLineEnd(p, end);
      if (q == end) return false;
      line = std::string_view(p, static_cast<size_t>(q - p));
      // The terminator: CR LF, or one CR or LF (so "\n\n" is two line ends, and the
      // lines keep their numbers).
      endsInCr_ = *q == '\r' && q + 1 == end;
      const bool crlf = *q == '\r' && q + 1 < end && q[1] == '\n';
      q += crlf ? 2 : 1;
      pos_ = static_cast<size_t>(q - text_.data());
      return true;
    }
    const size_t hit = finder_->Find(text_, pos_);
    if (hit == std::string_view::npos) return false;
    endsInCr_ = false;
    line = text_.substr(pos_, hit - pos_);
    pos_ = hit + finder_->size();
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  bool standard_;
  bool endsInCr_ = false;
  const NewLineFinder* finder_;
};

// A line longer than an item can hold: the text is refused whole.
struct LineTooLong {};

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
      : store_(store),
        settings_(store.settings()),
        newLine_(settings_.NewLineText()),
        finder_(newLine_) {}

  // The total length of the text, as far as it is known beforehand (0: not known); it only
  // guides how far ahead a large group is given room.
  void ExpectBytes(uint64_t total) { expected_ = total; }

  // Reads the lines of the next piece of the text. A line that the piece does not finish is
  // kept (copied) and finished by the pieces after it; every other line is read where it
  // stands. The lines, and so the store, come out the same however the text is cut.
  void Feed(std::string_view piece) {
    if (piece.empty()) return;
    size_t from = 0;
    if (!carry_.empty() || pendingCr_) from = FinishCarried(piece);
    if (from == npos) return;  // the piece only continued the kept line
    LineCutter cutter(piece, settings_.standardNewLine(), finder_);
    cutter.Seek(from);
    LineCutter scout = cutter;
    bool scouting = false;
    std::string_view line;
    while (cutter.NextWhole(line)) {
      if (LargeGroup()) {
        if (!scouting) {
          scout.Seek(cutter.position());
          for (size_t i = 0; i < kScoutLead && Scout(scout); ++i) {
          }
          scouting = true;
        }
        Scout(scout);
        const uint64_t done = fed_ + cutter.position();
        const uint64_t total = std::max<uint64_t>(expected_, fed_ + piece.size());
        GrowAhead(static_cast<size_t>(total - done), static_cast<size_t>(done), line_ + 1);
      } else {
        scouting = false;
      }
      Emit(line);
    }
    // (A CR that ended the kept line at the piece's very end was noted by FinishCarried.)
    pendingCr_ = pendingCr_ || cutter.endsInCr();
    Keep(piece.substr(cutter.position()));
    fed_ += piece.size();
  }

  // The end of the text: a line kept unfinished is the last.
  void Finish() {
    if (!carry_.empty()) Emit(carry_);
    carry_.clear();
    pendingCr_ = false;
  }

  // Whether every line fits in an item. Only a text longer than the limit can hold a line
  // that does not, so the extra pass is made only for those.
  bool LinesFit(std::string_view text) const {
    const size_t limit = LineLimit();
    if (text.size() <= limit) return true;
    LineCutter cutter(text, settings_.standardNewLine(), finder_);
    std::string_view line;
    while (cutter.Next(line)) {
      if (line.size() > limit) return false;
    }
    return true;
  }

  size_t entries() const { return entries_; }
  ParseLoss& loss() { return loss_; }

 private:
  static constexpr size_t npos = std::string_view::npos;

  static size_t LineLimit() { return std::min<size_t>(ItemLengthLimit(), UINT32_MAX); }

  // Reads one line; a line longer than an item can hold refuses the whole text.
  void Emit(std::string_view line) {
    if (line.size() > LineLimit()) throw LineTooLong{};
    ++line_;
    Line(line);
  }

  // Keeps the unfinished end of a piece for the next one. A kept line that can no longer
  // fit refuses the text at once rather than growing without end.
  void Keep(std::string_view rest) {
    if (carry_.size() + rest.size() > LineLimit() + newLine_.size()) throw LineTooLong{};
    carry_.append(rest);
  }

  // Finishes the line kept from the pieces before with the start of `piece`; where the rest
  // of the piece begins, or npos when the whole piece went into the kept line.
  size_t FinishCarried(std::string_view piece) {
    if (settings_.standardNewLine()) {
      size_t from = 0;
      if (pendingCr_) {
        // The piece before ended in CR: an LF here is the same line end.
        pendingCr_ = false;
        if (piece.front() == '\n') from = 1;
        if (carry_.empty()) return from;
      }
      const char* p = piece.data() + from;
      const char* end = piece.data() + piece.size();
      const char* q = FindLineEnd(p, end);
      if (q == end) {
        Keep(piece.substr(from));
        fed_ += piece.size();
        return npos;
      }
      Keep(std::string_view(p, static_cast<size_t>(q - p)));
      Emit(carry_);
      carry_.clear();
      size_t next = static_cast<size_t>(q - piece.data()) + 1;
      if (*q == '\r') {
        if (next == piece.size()) {
          pendingCr_ = true;
        } else if (piece[next] == '\n') {
          ++next;
        }
      }
      return next;
    }
    // A custom new line may begin in the kept bytes and end in this piece: look for one
    // in the joint first, as it comes before any that lies wholly in the piece.
    const size_t k = newLine_.size();
    const size_t tail = std::min(k - 1, carry_.size());
    if (tail > 0) {
      std::string joint(carry_, carry_.size() - tail);
      joint.append(piece.substr(0, std::min(k - 1, piece.size())));
      const size_t hit = finder_.Find(joint, 0);
      if (hit != npos && hit < tail) {
        carry_.resize(carry_.size() - tail + hit);
        Emit(carry_);
        carry_.clear();
        return hit + k - tail;
      }
    }
    const size_t hit = finder_.Find(piece, 0);
    if (hit == npos) {
      Keep(piece);
      fed_ += piece.size();
      return npos;
    }
    Keep(piece.substr(0, hit));
    Emit(carry_);
    carry_.clear();
    return hit + k;
  }

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
      if (node_->size() == 0) GiveRoomLikeTheLast();
    } else if (node_ == nullptr) {
      node_ = store_.MutableGroup(Current());
      nodeGeneration_ = store_.generation();
    }
    return node_;
  }
  void ForgetNode() {
    if (prepared_ && nodeGeneration_ == store_.generation()) {
      sizeBeforeLast_ = lastSize_;
      lastSize_ = node_->size();
    }
    node_ = nullptr;
    prepared_ = false;
  }

  // Most files have groups of much the same size, and a new group that grows item by item
  // would move its order list and rebuild its index half a dozen times on the way. It gets
  // room at once for as many items as the smaller of the last two groups read held: a
  // single large group among small ones gives no room away, and a group that turns out
  // smaller only leaves unused what the one before it needed. Large groups get room ahead
  // by GrowAhead instead.
  void GiveRoomLikeTheLast() {
    const size_t room = std::min({lastSize_, sizeBeforeLast_, kLargeGroup});
    if (room > 1) store_.ReserveItems(node_, room);
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
  const NewLineFinder finder_;

  // The line a piece left unfinished, and whether the piece ended in CR (the LF that may
  // start the next piece belongs to the same line end).
  std::string carry_;
  bool pendingCr_ = false;
  uint64_t fed_ = 0;       // the bytes of the pieces read before the current one
  uint64_t expected_ = 0;  // the whole text's length, when known

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
  size_t lastSize_ = 0;  // the items of the last two groups read, when they were left
  size_t sizeBeforeLast_ = 0;
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

// How the text's lines end, followed piece by piece: the first line end, and the last byte.
class ShapeReader {
 public:
  void Add(std::string_view piece) {
    if (piece.empty()) return;
    shape_.finalLineEnd = piece.back() == '\n' || piece.back() == '\r';
    if (decided_) return;
    if (pendingCr_) {
      Decide(piece.front() == '\n' ? LineEnd::kCrLf : LineEnd::kCr);
      return;
    }
    const char* end = piece.data() + piece.size();
    const char* p = FindLineEnd(piece.data(), end);
    if (p == end) return;
    if (*p == '\n') {
      Decide(LineEnd::kLf);
    } else if (p + 1 < end) {
      Decide(p[1] == '\n' ? LineEnd::kCrLf : LineEnd::kCr);
    } else {
      pendingCr_ = true;  // the next piece says whether an LF follows
    }
  }
  TextShape Finish() {
    if (pendingCr_ && !decided_) Decide(LineEnd::kCr);
    return shape_;
  }

 private:
  void Decide(LineEnd end) {
    shape_.lineEnd = end;
    decided_ = true;
    pendingCr_ = false;
  }
  TextShape shape_;
  bool decided_ = false;
  bool pendingCr_ = false;
};

// Notepad and many Windows editors begin a UTF-8 file with a byte-order mark. It is no part
// of the first line, which would otherwise not read as a group header; nothing the object
// writes begins with one.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The text as the parser reads it, from pieces: up to the first zero byte (the rest is
// drawn from the source but not read), without a leading byte-order mark (which may come
// split over pieces).
class TextFront {
 public:
  // The part of `piece` that is text; the held start of the text is given back first
  // through `held` once it is known not to be a mark.
  std::string_view Take(std::string_view piece, std::string_view& held) {
    held = {};
    if (ended_) return {};
    const void* zero = std::memchr(piece.data(), 0, piece.size());
    if (zero != nullptr) {
      piece = piece.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - piece.data()));
      ended_ = true;
    }
    while (!started_ && !piece.empty()) {
      head_.push_back(piece.front());
      piece.remove_prefix(1);
      if (!kByteOrderMark.starts_with(head_)) {
        started_ = true;
        held = head_;
      } else if (head_.size() == kByteOrderMark.size()) {
        started_ = true;
        head_.clear();
      }
    }
    return piece;
  }
  // The start held back when the text ended before it was known.
  std::string_view Rest() {
    if (started_) return {};
    started_ = true;
    return head_;
  }

 private:
  bool ended_ = false;
  bool started_ = false;
  std::string head_;
};

// The text of a source, whole: for a text in memory, one piece.
class WholeText final : public TextSource {
 public:
  explicit WholeText(std::string_view text) : text_(text) {}
  bool Next(std::string_view& piece) override {
    if (given_) return false;
    given_ = true;
    piece = text_;
    return true;
  }
  uint64_t ExpectedBytes() const override { return text_.size(); }

 private:
  std::string_view text_;
  bool given_ = false;
};

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

ParseResult ParseTextFrom(Store& store, TextSource& source, ParseOptions options) {
  ParseResult result;
  try {
    // A parse that fails half way (out of memory, a line too long, a source that fails)
    // takes back all it read: a load is whole or nothing.
    const StoreChange change(store);
    const ScopedValue<bool> loading(store.loading, true);
    const ScopedValue<bool> hold(store.quiet, true, false);
    Parser parser(store);
    if (options.clearFirst) store.RemoveAllGroups();
    TextFront front;
    ShapeReader shape;
    const auto read = [&](std::string_view text) {
      shape.Add(text);
      parser.Feed(text);
    };
    std::string_view piece;
    while (source.Next(piece)) {
      // (A compressed file's length is known once its first piece is read.)
      parser.ExpectBytes(source.ExpectedBytes());
      std::string_view held;
      const std::string_view text = front.Take(piece, held);
      read(held);
      read(text);
    }
    read(front.Rest());
    parser.Finish();
    result.shape = shape.Finish();
    result.entries = parser.entries();
    result.loss = std::move(parser.loss());
    store.quiet = true;
    store.RemoveEmptyGroups();
  } catch (const LineTooLong&) {
    // An item cut to fit would lose data, and a load that stopped at the long line would
    // pass off its first part as the whole.
    result = ParseResult{};
    result.refused = true;
    return result;
  }
  if (options.notifyAfter) store.AfterChange();
  return result;
}

ParseResult ParseText(Store& store, std::string_view text, ParseOptions options) {
  text = UpToZero(text);
  {
    // Refused before anything changes (a text read whole can be looked at first).
    Parser scout(store);
    if (!scout.LinesFit(text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size())
                                                         : text)) {
      ParseResult result;
      result.refused = true;
      return result;
    }
  }
  WholeText whole(text);
  return ParseTextFrom(store, whole, options);
}

}  // namespace vellix
