// Sorted and overall access, and the group operations of "%0 group %1": the items of a
// group ranked by value, the item names of the whole document counted once each, and the
// eleven ways of reordering or rebuilding one group.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/store.h"

namespace vellix {

// Comparison kinds of the group operations; the sorted-access expressions use kind 0.
//   0  text without case: "A"-"Z" lowered, unsigned bytes, a prefix first, then the exact
//      bytes as tie-break
//   1  exact text: unsigned bytes, a prefix first
//   2  natural: see CompareNatural
// Any other kind finds every pair equal. Results are <0, 0 or >0.
int CompareTexts(std::string_view a, std::string_view b, int kind);

// Natural order: both texts lowered ("A"-"Z"), then walked together. Differing non-digits
// decide by their difference as signed bytes (bytes of 128 and above first); a digit sorts
// before a non-digit; two runs of digits compare as the numbers they spell, read into 32
// bits with wrap-around and compared signed, and equal numbers go on after the runs
// ("a007b" equals "a7b"); a text that ends first is smaller.
int CompareNatural(std::string_view a, std::string_view b);

// The positions of `keys` in the order they sort by a comparison kind; keys that compare
// equal keep their order.
std::vector<uint32_t> SortedPositions(const std::vector<std::string_view>& keys, int kind);

// The item at 1-based position n of the group ranked by value (kind 0, items with
// byte-identical values in creation order); null outside 1..ItemCount or for a missing
// group. The item belongs to the store: copy what is needed before the store changes.
const Item* NthSortedEntry(const Store& store, std::string_view group, int64_t n);

// The number of distinct item names (by key) over all groups.
int32_t CountDistinctItemNames(const Store& store);

// The display name of the item, walking groups and then their items in creation order, at
// which the number of distinct names first reaches n; "" when it never does.
std::string NthDistinctItemName(const Store& store, int64_t n);

// The generator of the shuffle: x := x * 214013 + 2531011 (mod 2^32), drawing
// (x >> 16) & 0x7FFF.
class ShuffleGenerator {
 public:
  explicit ShuffleGenerator(uint32_t seed) : x_(seed) {}
  uint32_t Draw() {
    x_ = x_ * 214013u + 2531011u;
    return (x_ >> 16) & 0x7FFFu;
  }

 private:
  uint32_t x_;
};

// A new order of `items`: while items remain, draw r and take the remaining item at
// position r modulo the number remaining.
std::vector<const Item*> ShuffledOrder(const std::vector<const Item*>& items, uint32_t seed);

// The codes of action 71, the group operations.
enum GroupOperationCode : int {
  kGroupOperationNone = -1,  // no code given
  kSortByValue = 0,
  kShuffle = 1,
  kDeleteFirstItem = 2,
  kFirstItemToEnd = 3,
  kDeleteLastItem = 4,
  kLastItemToFront = 5,
  kReverseItems = 6,
  kSwapNamesAndValues = 7,
  kRenumberItems = 8,
  kSortByName = 9,
  kSortByFirstField = 10,
};

// Action 71 on one group, between quiet and one AfterChange (also when nothing changed):
//   sort by value, by name, by the value's first comma-separated field (each with
//     comparison kind 2 - option), swap names and values, renumber "1", "2", ...: these
//     rebuild the group through DeleteGroup and SetItem (undo records and notifications
//     follow); a group without items is left as it is
//   shuffle (seeded with `seed`), first item to the end, last item to the front, reverse:
//     the order alone changes, without undo records
//   delete the first item, or the last
// Any other code changes nothing. All or nothing: a failure leaves the group as it was.
void ApplyGroupOperation(Store& store, GroupOperationCode code, int option, std::string_view group,
                         uint32_t seed);

}  // namespace vellix
