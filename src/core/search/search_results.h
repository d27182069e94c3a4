// The per-object list of search results.
//
// Results keep the order they were added in. Two results are the same when their group and
// item texts are equal byte for byte; the value is not compared. The duplicate check and
// the combining of searches use a hash index of (group, item) beside the list, so adding r
// results costs O(r), not the O(r^2) of scanning the list for every one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

struct SearchResult {
  std::string group;
  std::string item;
  std::string value;
};

struct SearchResults {
 public:
  size_t count() const { return results_.size(); }
  bool empty() const { return results_.empty(); }
  const SearchResult& operator[](size_t i) const { return results_[i]; }
  auto begin() const { return results_.begin(); }
  auto end() const { return results_.end(); }

  void Clear();
  void Append(std::string group, std::string item, std::string value);
  // With `unique`, nothing is added when the same result is already in the list.
  void Add(std::string group, std::string item, std::string value, bool unique);
  // Whether the same result (group and item) is in the list.
  bool Contains(std::string_view group, std::string_view item) const;
  // The group (0), item (1) or value (2) text of the result at a 0-based index; an empty
  // text for an index outside the list or any other part number.
  std::string Part(int64_t index, int which) const;

  // Keeps only the results that `found` holds, in their order and with their own values.
  void KeepCommon(const SearchResults& found);
  // Results that `found` holds leave the list; then the results of `found` that were not
  // here are appended in their order, each unless the same result is already present.
  void Toggle(SearchResults found);

 private:
  // Open-addressing index of positions in results_: each slot holds the position plus one
  // in its low half and the upper half of the result's hash above it (0 = empty).
  // The index is built when first needed and then kept up to date by appends; removals
  // drop it.
  static uint64_t Hash(std::string_view group, std::string_view item);
  bool Indexed(std::string_view group, std::string_view item, uint64_t h) const;
  void Index(size_t position, uint64_t h) const;
  void BuildIndex() const;
  // Keeps the results for which keep(i) is true, in order.
  template <class Keep>
  void Filter(Keep keep);

  std::vector<SearchResult> results_;
  mutable std::vector<uint64_t> slots_;
  mutable bool indexed_ = false;
};

}  // namespace vellix
