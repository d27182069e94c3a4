#include "search/search.h"

#include <algorithm>
#include <string>
#include <utility>

#include "search/search_results.h"
#include "search/wildcard.h"
#include "store/name_key.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {

bool Search(const Store& store, SearchResults* results, std::string_view groupPattern,
            std::string_view itemPattern, std::string_view valuePattern, int flags, int mode) {
  if (results == nullptr) return false;
  if (mode == kSearchReplace) results->Clear();
  // Keeping and toggling compare a whole search with the list: collect it apart first.
  SearchResults scratch;
  SearchResults& into = mode >= kSearchKeepCommon ? scratch : *results;
  const bool unique = mode == kSearchAddUnique;
  const bool groupsOnly = (flags & kSearchGroupsOnly) != 0;
  const bool matchAny = (flags & kSearchMatchAny) != 0;
  // Names follow the store's rule as well: a store that folds case never tells "A" from "a"
  // in a name. Values keep their case whenever the flag asks for it.
  const bool nameCase = store.caseSensitive() && (flags & kSearchCaseSensitive) != 0;
  const bool valueCase = (flags & kSearchCaseSensitive) != 0;

  store.ForEachGroup([&](const Group& group) {
    const bool groupMatch = WildcardMatch(groupPattern, group.name(), nameCase);
    if (!matchAny && !groupMatch) return;
    bool groupDone = false;
    group.ForEachItem([&](const Item& item) {
      if (groupDone) return;
      const bool match = matchAny
                             ? groupMatch || WildcardMatch(itemPattern, item.name(), nameCase) ||
                                   WildcardMatch(valuePattern, item.value(), valueCase)
                             : WildcardMatch(itemPattern, item.name(), nameCase) &&
                                   WildcardMatch(valuePattern, item.value(), valueCase);
      if (!match) return;
      if (groupsOnly) {
        // A group stands for itself once, and only when one of its items matched.
        into.Add(group.name(), std::string(), std::string(), unique);
        groupDone = true;
        return;
      }
      into.Add(group.name(), std::string(item.name()), std::string(item.value()), unique);
    });
  });

  if (mode == kSearchKeepCommon) {
    results->KeepCommon(scratch);
  } else if (mode > kSearchKeepCommon) {
    results->Toggle(std::move(scratch));
  }
  return true;
}

void FindRepeats(const Store& store, SearchResults& results, std::string_view group,
                 std::string_view item) {
  results.Clear();
  if (const Item* base = store.FindItem(group, item)) {
    results.Append(std::string(group), std::string(item), std::string(base->value()));
  }
  std::string repeats(item);
  repeats += ".*";
  Search(store, &results, group, repeats, "*", kSearchCaseSensitive, -1);
}

bool FindSubgroups(const Store& store, SearchResults* results, std::string_view group,
                   int32_t levels) {
  if (results == nullptr) return false;
  results->Clear();
  const bool caseSensitive = store.caseSensitive();
  const std::string parent = NormalizeName(group, caseSensitive);
  const int64_t wanted = levels;
  store.ForEachGroup([&](const Group& g) {
    const std::string name = NormalizeName(g.name(), caseSensitive);
    if (name.size() <= parent.size() || name.compare(0, parent.size(), parent) != 0 ||
        name[parent.size()] != '/') {
      return;
    }
    // A direct child is one level down: one "/" after the parent's name.
    const auto depth = static_cast<int64_t>(
        std::count(name.begin() + static_cast<std::ptrdiff_t>(parent.size()), name.end(), '/'));
    if (wanted == 0 || (wanted > 0 && depth <= wanted) || (wanted < 0 && depth == -wanted)) {
      results->Append(g.name(), std::string(), std::string());
    }
  });
  return true;
}

void SearchInto(const Store& source, Store& target, std::string_view groupPattern,
                std::string_view itemPattern, std::string_view valuePattern, bool caseSensitive) {
  SearchResults found;
  Search(source, &found, groupPattern, itemPattern, valuePattern,
         caseSensitive ? kSearchCaseSensitive : 0, kSearchReplace);
  {
    const ScopedValue<bool> hold(target.quiet, true, false);
    for (const SearchResult& r : found) target.SetItem(r.group, r.item, r.value);
  }
  target.AfterChange();
}

void DeleteMatching(Store& store, std::string_view groupPattern, std::string_view itemPattern,
                    std::string_view valuePattern, bool caseSensitive) {
  {
    const ScopedValue<bool> hold(store.quiet, true, false);
    // Every match is known before the first deletion, so deleting never disturbs the walk.
    SearchResults found;
    Search(store, &found, groupPattern, itemPattern, valuePattern,
           caseSensitive ? kSearchCaseSensitive : 0, kSearchReplace);
    for (const SearchResult& r : found) store.DeleteItem(r.group, r.item);
  }
  store.AfterChange();
}

}  // namespace vellix
