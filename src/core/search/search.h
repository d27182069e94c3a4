// Searching a store with wildcard patterns: into a results list, into another store, or to
// delete what matches. These take a Store and a results list, never a run object.
#pragma once

#include <cstdint>
#include <string_view>

namespace vellix {

class Store;
struct SearchResults;

// Search flags (one byte; bit 0 is not used).
enum SearchFlag : int {
  kSearchGroupsOnly = 2,     // one result per matching group, with empty item and value
  kSearchMatchAny = 4,       // any one of the three patterns matching is enough
  kSearchCaseSensitive = 8,  // values always; names only when the store is case sensitive
};

// Search modes: 0 replaces the list, 1 adds what is not there yet, 2 keeps only what is
// found again, 3 and above toggle, below 0 appends without the duplicate check.
enum SearchMode : int { kSearchReplace = 0, kSearchAddUnique = 1, kSearchKeepCommon = 2 };

// Matches group names, item names and values against G, I and V, group by group and item by
// item in creation order, and records the matches in `results` by the mode. False only
// when no list is given.
bool Search(const Store& store, SearchResults* results, std::string_view groupPattern,
            std::string_view itemPattern, std::string_view valuePattern, int flags, int mode);

// The list becomes the item itself (when it exists) followed by every item of the group
// whose name is the item's name and at least one more byte after a "." wildcard. Group and
// item are used as patterns.
void FindRepeats(const Store& store, SearchResults& results, std::string_view group,
                 std::string_view item);

// The list becomes the groups below `group` ("group/..."): all of them for levels 0, those
// at most `levels` deep for levels > 0, those exactly -levels deep for levels < 0. False
// only when no list is given.
bool FindSubgroups(const Store& store, SearchResults* results, std::string_view group,
                   int32_t levels);

// Sets every match of a replacing search into `target`, quietly, then runs the target's
// after-change step once.
void SearchInto(const Store& source, Store& target, std::string_view groupPattern,
                std::string_view itemPattern, std::string_view valuePattern, bool caseSensitive);

// Deletes every matching item. All matches are found before the first deletion.
void DeleteMatching(Store& store, std::string_view groupPattern, std::string_view itemPattern,
                    std::string_view valuePattern, bool caseSensitive);

}  // namespace vellix
