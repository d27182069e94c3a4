// Routines of the search room: the wildcard condition, searches into the object's results
// list, into a file or another object, deleting by pattern, and reading the results back.
#include <cstdint>
#include <memory>
#include <string>

#include "files/files.h"
#include "host/objects.h"
#include "host/routines.h"
#include "search/search.h"
#include "search/search_results.h"
#include "search/wildcard.h"
#include "store/number_text.h"
#include "store/store.h"

namespace vellix {

namespace {

// The 0-based position in the results list of an index parameter.
int64_t ResultIndex(const RunObject& ro, int32_t index) {
  return ro.oneBasedIndex ? static_cast<int64_t>(index) - 1 : static_cast<int64_t>(index);
}

std::string ResultPart(RunObject& ro, Params& p, int which) {
  return ro.searchResults->Part(ResultIndex(ro, p.Int()), which);
}

}  // namespace

bool WildcardMatchCondition(RunObject& ro, Params& p) {
  (void)ro;
  const std::string pattern = p.Text();
  const std::string subject = p.Text();
  const bool caseSensitive = p.Int() != 0;
  return WildcardMatch(pattern, subject, caseSensitive);
}

void DeleteByPattern(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = p.Text();
  const bool caseSensitive = p.Int() != 0;
  DeleteMatching(*ro.store, group, item, value, caseSensitive);
}

void FindItems(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = p.Text();
  // Mode and flags are signed bytes; a missing block reads as both 0.
  const uint8_t* block = p.Block();
  const int mode = block ? static_cast<int8_t>(block[0]) : 0;
  const int flags = block ? static_cast<int8_t>(block[1]) : 0;
  Search(*ro.store, ro.searchResults.get(), group, item, value, flags, mode);
  // The whole list counts, results kept from earlier searches too.
  ro.RaiseTrigger(ro.searchResults->empty() ? VX_TRIGGER_NO_RESULTS : VX_TRIGGER_RESULTS_FOUND);
}

void FindRepeats(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  FindRepeats(*ro.store, *ro.searchResults, group, item);
}

void ClearResults(RunObject& ro, Params& p) {
  (void)p;
  ro.searchResults->Clear();
}

void SearchIntoFile(RunObject& ro, Params& p) {
  const std::string path = p.Text();
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = p.Text();
  const bool caseSensitive = p.Int() != 0;
  // The matches go into a document of their own with this object's settings, which has no
  // file and never auto-saves: setting them cannot write over this object's file. Only the
  // explicit write below makes a file, at the path as given.
  const std::unique_ptr<Store> found = MakeTemporaryStore(*ro.store);
  SearchInto(*ro.store, *found, group, item, value, caseSensitive);
  SaveAs(*found, path);
}

void SearchIntoObject(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = p.Text();
  const bool caseSensitive = p.Int() != 0;
  RunObject* other = FindOtherObject(ro, name);
  if (other == nullptr) return;
  SearchInto(*ro.store, *other->store, group, item, value, caseSensitive);
}

void FindSubgroups(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const int32_t levels = p.Int();
  FindSubgroups(*ro.store, ro.searchResults.get(), group, levels);
}

Value SearchResultsCount(RunObject& ro, Params& p) {
  (void)p;
  const size_t count = ro.searchResults->count();
  return Value::Int(count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count));
}

Value SearchGroup(RunObject& ro, Params& p) { return Value::Str(ResultPart(ro, p, 0)); }

Value SearchItemName(RunObject& ro, Params& p) { return Value::Str(ResultPart(ro, p, 1)); }

Value SearchItemValue(RunObject& ro, Params& p) {
  // An index outside the list reads the empty text, which is the integer 0.
  return Value::FromNumber(ReadNumber(ResultPart(ro, p, 2)));
}

Value SearchItemString(RunObject& ro, Params& p) { return Value::Str(ResultPart(ro, p, 2)); }

Value SearchItemPath(RunObject& ro, Params& p) {
  const int64_t index = ResultIndex(ro, p.Int());
  const std::string separator = p.Text();
  if (index < 0 || static_cast<uint64_t>(index) >= ro.searchResults->count()) {
    return Value::Str(std::string());
  }
  const SearchResult& r = (*ro.searchResults)[static_cast<size_t>(index)];
  return Value::Str(r.group + separator + r.item);
}

}  // namespace vellix
