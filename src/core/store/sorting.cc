// Sorted and overall access.
#include "store/sorting.h"

#include <algorithm>
#include <cstring>

#include "store/name_key.h"

namespace vellix {

namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int Sign(int v) { return (v > 0) - (v < 0); }

// Reads the run of digits at text[i] into 32 bits with wrap-around, and moves i past it.
int32_t ReadDigitRun(std::string_view text, size_t& i) {
  uint32_t n = 0;
  for (; i < text.size() && IsDigit(static_cast<unsigned char>(text[i])); ++i) {
    n = n * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  return static_cast<int32_t>(n);
}

}  // namespace

int CompareNatural(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  for (;;) {
    const bool aEnded = i >= a.size();
    const bool bEnded = j >= b.size();
    if (aEnded || bEnded) return aEnded == bEnded ? 0 : (aEnded ? -1 : 1);
    const unsigned char x = FoldByte(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldByte(static_cast<unsigned char>(b[j]));
    const bool xDigit = IsDigit(x);
    const bool yDigit = IsDigit(y);
    if (!xDigit && !yDigit) {
      if (x != y) return Sign(static_cast<signed char>(x) - static_cast<signed char>(y));
      ++i;
      ++j;
      continue;
    }
    if (xDigit != yDigit) return xDigit ? -1 : 1;
    const int32_t m = ReadDigitRun(a, i);
    const int32_t n = ReadDigitRun(b, j);
    if (m != n) return m < n ? -1 : 1;
  }
}

int CompareTexts(std::string_view a, std::string_view b, int kind) {
  switch (kind) {
    case 0: {
      const int folded = CompareKeys(a, b, false);
      return folded != 0 ? folded : Sign(a.compare(b));
    }
    case 1:
      return Sign(a.compare(b));
    case 2:
      return CompareNatural(a, b);
    default:
      return 0;
  }
}

namespace {

// A key as it is sorted: short keys (most values and names) are held inside the record, so
// that comparing two of them reads no memory beyond the records, which a merge sort walks
// in order; longer keys are read where they are.
struct SortRecord {
  char head[16];
  uint32_t size;
  uint32_t position;
  const char* data;

  std::string_view key() const {
    return size <= sizeof head ? std::string_view(head, size) : std::string_view(data, size);
  }
};

}  // namespace

std::vector<uint32_t> SortedPositions(const std::vector<std::string_view>& keys, int kind) {
  std::vector<uint32_t> positions(keys.size());
  if (kind < 0 || kind > 2) {
    // Every pair compares equal: the order stays as it is.
    for (uint32_t i = 0; i < positions.size(); ++i) positions[i] = i;
    return positions;
  }
  std::vector<SortRecord> records(keys.size());
  for (uint32_t i = 0; i < keys.size(); ++i) {
    SortRecord& r = records[i];
    r.size = static_cast<uint32_t>(keys[i].size());
    r.position = i;
    r.data = keys[i].data();
    if (r.size <= sizeof r.head && r.size > 0) std::memcpy(r.head, keys[i].data(), r.size);
  }
  std::stable_sort(records.begin(), records.end(),
                   [kind](const SortRecord& x, const SortRecord& y) {
                     return CompareTexts(x.key(), y.key(), kind) < 0;
                   });
  for (size_t i = 0; i < records.size(); ++i) positions[i] = records[i].position;
  return positions;
}

const Item* NthSortedEntry(const Store& store, std::string_view group, int64_t n) {
  const Group* g = store.FindGroup(group);
  if (g == nullptr || n < 1 || n > static_cast<int64_t>(g->size())) return nullptr;
  // A loop reading positions 1 to n of one group would sort it n times: the ranking is kept
  // until anything in the store changes.
  RankingCache& cache = store.rankingCache();
  if (cache.group != g || cache.edits != store.edits()) {
    cache.group = nullptr;
    std::vector<const Item*> items;
    std::vector<std::string_view> values;
    items.reserve(g->size());
    values.reserve(g->size());
    g->ForEachItem([&](const Item& it) {
      items.push_back(&it);
      values.push_back(it.value());
    });
    const std::vector<uint32_t> order = SortedPositions(values, 0);
    cache.ranked.resize(order.size());
    for (size_t i = 0; i < order.size(); ++i) cache.ranked[i] = items[order[i]];
    cache.group = g;
    cache.edits = store.edits();
  }
  return cache.ranked[static_cast<size_t>(n - 1)];
}

namespace {

// Walks every item in creation order (groups, then their items) and calls f with the item
// and the number of distinct names seen so far, until f returns true.
template <class F>
void WalkDistinctNames(const Store& store, F&& f) {
  const bool caseSensitive = store.caseSensitive();
  NameIndex<const Item> seen;
  // Each item is looked up a few items after its hash is known, its slot fetched ahead
  // meanwhile: the table of a large document does not fit in the cache, and the walk would
  // otherwise wait for every slot in turn.
  constexpr size_t kAhead = 8;
  struct Pending {
    const Item* item;
    uint64_t hash;
  };
  Pending ahead[kAhead];
  size_t oldest = 0;
  size_t pending = 0;
  bool done = false;
  const auto settle = [&](const Pending& p) {
    if (done) return;
    if (seen.FindHashed(p.item->name(), caseSensitive, p.hash) == nullptr) {
      seen.InsertHashed(p.item, caseSensitive, p.hash);
    }
    done = f(*p.item, seen.size());
  };
  store.ForEachGroup([&](const Group& g) {
    g.ForEachItem([&](const Item& it) {
      if (done) return;
      const Pending next{&it, HashKey(it.name(), caseSensitive)};
      seen.Prefetch(next.hash);
      if (pending < kAhead) {
        ahead[(oldest + pending++) % kAhead] = next;
        return;
      }
      settle(ahead[oldest]);
      ahead[oldest] = next;
      oldest = (oldest + 1) % kAhead;
    });
  });
  for (size_t k = 0; k < pending; ++k) settle(ahead[(oldest + k) % kAhead]);
}

}  // namespace

int32_t CountDistinctItemNames(const Store& store) {
  size_t count = 0;
  WalkDistinctNames(store, [&](const Item&, size_t seen) {
    count = seen;
    return false;
  });
  return static_cast<int32_t>(std::min<size_t>(count, INT32_MAX));
}

std::string NthDistinctItemName(const Store& store, int64_t n) {
  std::string found;
  if (n < 1) return found;
  WalkDistinctNames(store, [&](const Item& it, size_t seen) {
    if (static_cast<int64_t>(seen) != n) return false;
    found.assign(it.name());
    return true;
  });
  return found;
}

}  // namespace vellix
