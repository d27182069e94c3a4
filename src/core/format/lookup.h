// One item looked up in INI text by scanning it, without building the document.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/settings.h"

namespace vellix {

struct ItemLookup {
  enum class Outcome {
    kUnsure,  // the scan cannot tell for certain: read the document whole instead
    kNoGroup,
    kNoItem,  // the group is there, the item is not
    kFound,
  };
  Outcome outcome = Outcome::kUnsure;
  std::string group;  // the group's name as the document would spell it (kNoItem, kFound)
  std::string item;   // the item's name as the document would spell it (kFound)
  std::string value;  // (kFound)
  // With `every`: the value of every line of the item in the group, in the text's order
  // (kFound).
  std::vector<std::string> values;
};

// What a lookup looks for.
enum class LookupValues {
  kDocument,  // the value the document would hold
  kEvery,     // every line of the item in the group, whatever the item repeat policy says
              // (git config's --get-all); the spelling is the first line's
};

// Looks up one item of plain INI text exactly as ParseText followed by a lookup in the store
// would find it in an empty document with these settings and case rule: the same value,
// the same spellings of the names, the same absence, under every repeat policy, escape and
// quoting setting and new-line text (a byte-order mark at the start is skipped, as there).
// Memory stays small whatever the size of the text.
//
// The answer is kUnsure, and the caller reads the document whole, when the scan cannot be
// sure or the text is not plain:
// - the text holds a zero byte or a control byte other than tab, CR and LF (a reader that
//   checks its input reports those, so that read must run), or, with a new-line text of
//   its own, a CR or LF that is no byte of that text;
// - subgroups are on, or the group repeat policy is not one of the four;
// - a name asked for has a dot while the policy for its kind renames repeats ("name.N");
// - a header without its closing bracket comes while repeated groups keep their first;
// - the text, or a name or value of the group asked for, is longer than an item can hold.
ItemLookup LookupItem(std::string_view text, const DocumentSettings& settings, bool caseSensitive,
                      std::string_view group, std::string_view item,
                      LookupValues values = LookupValues::kDocument);

// The same over a text that comes in pieces (a file as it is read), in memory that does not
// grow with the text.
class ItemScan {
 public:
  ItemScan(const DocumentSettings& settings, bool caseSensitive, std::string_view group,
           std::string_view item, LookupValues values = LookupValues::kDocument);
  ~ItemScan();
  ItemScan(const ItemScan&) = delete;
  ItemScan& operator=(const ItemScan&) = delete;

  // Reads the whole lines at the start of the next piece of text and returns their length.
  // The rest, the start of a line, must come again at the start of the next piece.
  size_t Take(std::string_view piece);
  // Reads the last piece, all of it, and gives the answer.
  ItemLookup Finish(std::string_view last);

 private:
  class Scanner;
  std::unique_ptr<Scanner> scanner_;
};

}  // namespace vellix
