#include "search/search_results.h"

#include <utility>

#include "store/name_key.h"

namespace vellix {

namespace {
constexpr uint64_t kPositionMask = 0xFFFFFFFFu;
}  // namespace

uint64_t SearchResults::Hash(std::string_view group, std::string_view item) {
  // Names compare byte for byte here, whatever the store's rule: hash them unfolded.
  const uint64_t g = HashKey(group, true);
  const uint64_t i = HashKey(item, true);
  return g ^ (i + 0x9E3779B97F4A7C15ull + (g << 6) + (g >> 2));
}

bool SearchResults::Indexed(std::string_view group, std::string_view item, uint64_t h) const {
  if (slots_.empty()) return false;
  const uint64_t tag = h & ~kPositionMask;
  const size_t mask = slots_.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const uint64_t s = slots_[i];
    if (s == 0) return false;
    if ((s & ~kPositionMask) == tag) {
      const SearchResult& r = results_[(s & kPositionMask) - 1];
      if (r.group == group && r.item == item) return true;
    }
  }
}

void SearchResults::Index(size_t position, uint64_t h) const {
  // Load at most one half: probes stay short.
  if ((position + 1) * 2 > slots_.size()) {
    BuildIndex();
    return;
  }
  const size_t mask = slots_.size() - 1;
  size_t i = h & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = (h & ~kPositionMask) | (position + 1);
}

void SearchResults::BuildIndex() const {
  size_t size = 16;
  while (size < results_.size() * 2 + 2) size *= 2;
  slots_.assign(size, 0);
  const size_t mask = size - 1;
  for (size_t n = 0; n < results_.size(); ++n) {
    const uint64_t h = Hash(results_[n].group, results_[n].item);
    size_t i = h & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = (h & ~kPositionMask) | (n + 1);
  }
  indexed_ = true;
}

void SearchResults::Clear() {
  results_.clear();
  results_.shrink_to_fit();
  slots_.clear();
  slots_.shrink_to_fit();
  indexed_ = false;
}

void SearchResults::Append(std::string group, std::string item, std::string value) {
  results_.push_back(SearchResult{std::move(group), std::move(item), std::move(value)});
  if (indexed_) {
    const SearchResult& r = results_.back();
    Index(results_.size() - 1, Hash(r.group, r.item));
  }
}

void SearchResults::Add(std::string group, std::string item, std::string value, bool unique) {
  if (unique && Contains(group, item)) return;
  Append(std::move(group), std::move(item), std::move(value));
}

bool SearchResults::Contains(std::string_view group, std::string_view item) const {
  if (results_.empty()) return false;
  if (!indexed_) BuildIndex();
  return Indexed(group, item, Hash(group, item));
}

std::string SearchResults::Part(int64_t index, int which) const {
  if (index < 0 || static_cast<uint64_t>(index) >= results_.size()) return std::string();
  const SearchResult& r = results_[static_cast<size_t>(index)];
  switch (which) {
    case 0:
      return r.group;
    case 1:
      return r.item;
    case 2:
      return r.value;
    default:
      return std::string();
  }
}

template <class Keep>
void SearchResults::Filter(Keep keep) {
  size_t w = 0;
  for (size_t n = 0; n < results_.size(); ++n) {
    if (!keep(n)) continue;
    if (w != n) results_[w] = std::move(results_[n]);
    ++w;
  }
  results_.resize(w);
  slots_.clear();
  indexed_ = false;
}

void SearchResults::KeepCommon(const SearchResults& found) {
  Filter([&](size_t n) { return found.Contains(results_[n].group, results_[n].item); });
}

void SearchResults::Toggle(SearchResults found) {
  // Which found results were here before anything moves.
  std::vector<bool> wasHere(found.count());
  for (size_t n = 0; n < found.count(); ++n) {
    wasHere[n] = Contains(found.results_[n].group, found.results_[n].item);
  }
  Filter([&](size_t n) { return !found.Contains(results_[n].group, results_[n].item); });
  for (size_t n = 0; n < found.count(); ++n) {
    if (wasHere[n]) continue;
    SearchResult& r = found.results_[n];
    Add(std::move(r.group), std::move(r.item), std::move(r.value), true);
  }
}

}  // namespace vellix
