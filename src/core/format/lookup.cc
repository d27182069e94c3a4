// One item of INI text, found by following what the parser would do to the one group asked
// for and nothing else: lines of other groups are only looked at for their headers, and no
// name or value is kept but the group's own state.
#include "format/lookup.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "format/text.h"
#include "store/name_key.h"
#include "store/store.h"

namespace vellix {
namespace {

// Whether a byte is one plain text does not hold: below 32 (tab, CR and LF included, the
// caller sorts those out) or DEL.
bool IsSpecial(unsigned char c) { return c < 32 || c == 127; }

// The first special byte in [p, end), or end, eight bytes at a time: this is the loop that
// touches every byte of the text.
const char* FindSpecial(const char* p, const char* end) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    // Some byte is below 32 exactly when this has a high bit set (bytes of 128 and above
    // are masked out by ~word); some byte is 127 when the xor has a zero byte.
    const uint64_t below = (word - kOnes * 32) & ~word & kHighs;
    const uint64_t del = word ^ (kOnes * 127);
    const uint64_t isDel = (del - kOnes) & ~del & kHighs;
    if ((below | isDel) != 0) break;
    p += 8;
  }
  while (p < end && !IsSpecial(static_cast<unsigned char>(*p))) ++p;
  return p;
}

}  // namespace

class ItemScan::Scanner {
 public:
  Scanner(const DocumentSettings& settings, bool caseSensitive, std::string_view group,
          std::string_view item, LookupValues values)
      : settings_(settings),
        cs_(caseSensitive),
        newLine_(settings_.NewLineText()),
        group_(group),
        item_(item),
        every_(values == LookupValues::kEvery),
        finder_(newLine_),
        unsure_(!Supported()),
        receiving_(SameKey(std::string_view(), group_, caseSensitive)) {}

  // Reads the whole lines at the start of the piece (with `last`, all of it); returns how
  // many bytes that was.
  size_t Take(std::string_view piece, bool last) {
    if (unsure_) return piece.size();
    size_t skipped = 0;
    if (!started_) {
      // A byte-order mark at the start of the text is no part of its first line.
      constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
      if (!last && piece.size() < kByteOrderMark.size() && kByteOrderMark.starts_with(piece)) {
        return 0;
      }
      started_ = true;
      if (piece.starts_with(kByteOrderMark)) skipped = kByteOrderMark.size();
      piece.remove_prefix(skipped);
    }
    const size_t used = skipped + (settings_.standardNewLine() ? ScanStandard(piece, last)
                                                               : ScanCustom(piece, last));
    length_ += used;
    // Only a longer text can hold a line too long for an item.
    if (length_ > ItemLengthLimit()) unsure_ = true;
    return used;
  }

  ItemLookup Answer() const {
    ItemLookup result;
    if (unsure_) return result;
    if (!exists_) {
      result.outcome = ItemLookup::Outcome::kNoGroup;
      return result;
    }
    result.group = groupSpelling_;
    if (!found_) {
      result.outcome = ItemLookup::Outcome::kNoItem;
      return result;
    }
    result.outcome = ItemLookup::Outcome::kFound;
    result.item = itemSpelling_;
    result.value = value_;
    result.values = values_;
    return result;
  }

 private:
  // Settings and names the scan follows exactly; for the rest the document is read whole.
  bool Supported() const {
    if (settings_.subgroups) return false;
    const int32_t groups = settings_.groupRepeatMode;
    if (groups != kGroupRepeatFirst && groups != kGroupRepeatLast && groups != kGroupRepeatRename &&
        groups != kGroupRepeatMerge) {
      return false;
    }
    // A renamed repeat is "name.N": a name with a dot may be one.
    if (groups == kGroupRepeatRename && group_.find('.') != std::string_view::npos) return false;
    if (!every_ && settings_.itemRepeatMode == kItemRepeatRename &&
        item_.find('.') != std::string_view::npos) {
      return false;
    }
    return true;
  }

  // Lines end at CR, LF or CR LF; a tab is part of a line, any other special byte is not plain.
  size_t ScanStandard(std::string_view text, bool last) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && !unsure_) {
      const char* start = p;
      const char* q = FindSpecial(p, end);
      while (q < end && *q == '\t') q = FindSpecial(q + 1, end);
      if (q == end && !last) return static_cast<size_t>(start - text.data());
      if (q < end && *q != '\r' && *q != '\n') {
        unsure_ = true;
        break;
      }
      // Empty lines between CR and LF, or between two LFs, say nothing: lines may end at
      // any of them.
      Line(std::string_view(start, static_cast<size_t>(q - start)));
      p = q < end ? q + 1 : end;
    }
    return text.size();
  }

  // Lines end at the new-line text. A CR or LF that is no byte of it is left to the whole
  // read too: most likely the file's lines end otherwise than the settings say.
  size_t ScanCustom(std::string_view text, bool last) {
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (IsSpecial(byte) && c != '\t' &&
          ((c != '\r' && c != '\n') || newLine_.find(c) == std::string_view::npos)) {
        unsure_ = true;
        return text.size();
      }
    }
    size_t pos = 0;
    while (pos < text.size() && !unsure_) {
      const size_t hit = finder_.Find(text, pos);
      if (hit == std::string_view::npos && !last) return pos;
      const size_t stop = hit == std::string_view::npos ? text.size() : hit;
      Line(text.substr(pos, stop - pos));
      pos = hit == std::string_view::npos ? text.size() : hit + finder_.size();
    }
    return text.size();
  }

  void Line(std::string_view raw) {
    const std::string_view line = TrimBlanks(raw);
    if (line.empty() || line.front() == ';') return;
    if (line.front() == '[') {
      Header(line);
    } else if (receiving_) {
      Item(line);
    }
  }

  void Header(std::string_view line) {
    std::string_view decoded = line;
    if (settings_.escapeGroups) {
      DecodeInto(scratch_, line, newLine_);
      decoded = scratch_;
    }
    if (decoded.size() < 2 || decoded.back() != ']') {
      // The current group stays. Where a repeated header's items are being dropped, this
      // line ends the dropping and the items after it go to the group before that header,
      // which only a whole read knows.
      if (settings_.groupRepeatMode == kGroupRepeatFirst) {
        unsure_ = true;
        return;
      }
      if (receiving_ && settings_.allowEmptyGroups) MakeGroup();
      return;
    }
    const std::string_view name = decoded.substr(1, decoded.size() - 2);
    const bool asked = SameKey(name, group_, cs_);
    receiving_ = false;
    if (asked) {
      switch (settings_.groupRepeatMode) {
        case kGroupRepeatLast:  // read afresh
          Forget();
          receiving_ = true;
          break;
        case kGroupRepeatFirst:   // a repeat's items are dropped
        case kGroupRepeatRename:  // a repeat goes to "name.N"
          receiving_ = !exists_;
          break;
        default:  // merged
          receiving_ = true;
          break;
      }
    }
    if (!receiving_) return;
    section_.assign(name);
    sectionPrepared_ = false;
    if (settings_.allowEmptyGroups) MakeGroup();
  }

  void Item(std::string_view line) {
    ItemLineParts parts;
    if (!SplitItemLine(line, settings_.escapeItemNames, newLine_, nameScratch_, parts)) return;
    std::string_view value = TrimBlanks(parts.value);
    if (settings_.escapeValues) {
      DecodeInto(valueScratch_, value, newLine_);
      value = valueScratch_;
    }
    if (!settings_.alwaysQuote && !value.empty() && value.front() == '"' && value.back() == '"') {
      value = value.size() == 1 ? std::string_view() : value.substr(1, value.size() - 2);
    }
    // An item that does not fit is refused after its group was made: left to a whole read.
    if (!FitsItem(parts.name, value)) {
      unsure_ = true;
      return;
    }
    const bool asked = SameKey(parts.name, item_, cs_);
    if (every_) {
      // Every line counts, repeats too; the name keeps its first spelling.
      PrepareGroup();
      if (!asked) return;
      if (!found_) itemSpelling_.assign(parts.name);
      found_ = true;
      values_.emplace_back(value);
      return;
    }
    switch (settings_.itemRepeatMode) {
      case kItemRepeatFirst:
        // A repeat leaves the group as it is, its spelling too: every name is kept.
        if (!firstNames_.insert(NormalizeName(parts.name, cs_)).second) return;
        break;
      case kItemRepeatRename:
        // A repeat is set under another name, so the first value stays.
        if (asked && found_) {
          PrepareGroup();
          return;
        }
        break;
      default:
        break;
    }
    PrepareGroup();
    if (!asked) return;
    found_ = true;
    itemSpelling_.assign(parts.name);
    value_.assign(value);
  }

  // The group made empty (a header, where groups may be empty): its first spelling.
  void MakeGroup() {
    if (exists_) return;
    exists_ = true;
    groupSpelling_ = section_;
  }

  // The group made or found for setting an item in it: each section's first item gives the
  // group that section's spelling.
  void PrepareGroup() {
    if (sectionPrepared_) return;
    sectionPrepared_ = true;
    exists_ = true;
    groupSpelling_ = section_;
  }

  // The group removed, as a repeated header does where the last one wins.
  void Forget() {
    exists_ = false;
    found_ = false;
    values_.clear();
    firstNames_.clear();
  }

  const DocumentSettings settings_;
  const bool cs_;
  const std::string_view newLine_;
  const std::string group_;
  const std::string item_;
  const bool every_;
  const NewLineFinder finder_;

  size_t length_ = 0;
  bool started_ = false;  // the start of the text was looked at for a byte-order mark
  bool unsure_;
  bool receiving_;                // lines now go into the group asked for
  std::string section_;           // the group's spelling in the current section
  bool sectionPrepared_ = false;  // an item was set in this section
  bool exists_ = false;
  std::string groupSpelling_;
  bool found_ = false;
  std::string itemSpelling_;
  std::string value_;
  std::vector<std::string> values_;
  std::unordered_set<std::string> firstNames_;  // keys of the group's items (first one wins)

  std::string scratch_;
  std::string nameScratch_;
  std::string valueScratch_;
};

ItemScan::ItemScan(const DocumentSettings& settings, bool caseSensitive, std::string_view group,
                   std::string_view item, LookupValues values)
    : scanner_(std::make_unique<Scanner>(settings, caseSensitive, group, item, values)) {}

ItemScan::~ItemScan() = default;

size_t ItemScan::Take(std::string_view piece) { return scanner_->Take(piece, false); }

ItemLookup ItemScan::Finish(std::string_view last) {
  scanner_->Take(last, true);
  return scanner_->Answer();
}

ItemLookup LookupItem(std::string_view text, const DocumentSettings& settings, bool caseSensitive,
                      std::string_view group, std::string_view item, LookupValues values) {
  return ItemScan(settings, caseSensitive, group, item, values).Finish(text);
}

}  // namespace vellix
