// The two containers behind every group list and item list.
//
// NameIndex finds a node by the key of its name; OrderList keeps the nodes in creation
// order with positional access. Neither owns the nodes. Both stay near-linear for large
// documents: appends are amortised O(1), lookups O(1), removals leave a tombstone that is
// compacted away once tombstones outnumber live entries, and positional access is direct
// while there are no tombstones and O(log n) through a Fenwick tree while there are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "store/item_arena.h"
#include "store/name_key.h"

namespace vellix {

// Hints that memory is about to be read (or written), so that it is fetched into the cache
// meanwhile. Only a hint: a compiler without one (MSVC) does nothing.
inline void PrefetchToRead(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}
inline void PrefetchToWrite(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address, 1);
#else
  (void)address;
#endif
}

// One slot of a hash index: a node's address with a tag of its hash above it (NameIndex).
// 64 bits wide whatever the pointer size, so that a 32-bit process has room for the tag too;
// on 64-bit platforms it is exactly a pointer's word.
using SlotWord = uint64_t;

// A block of `bytes` (rounded up to whole huge pages in `bytes`) mapped on its own, zeroed,
// with transparent huge pages asked for; null where the system has no such mappings or
// refuses one (the caller then takes memory from the allocator). Worth it only for blocks
// of at least kHugePageBytes. Given back with UnmapLargeBlock and the rounded size.
constexpr size_t kHugePageBytes = size_t{2} << 20;
// `bytes` (or an address) rounded up to whole huge pages: the size MapLargeBlock maps.
constexpr size_t RoundToHugePages(size_t bytes) {
  return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}
// Whether the system has such mappings: where it has not, MapLargeBlock always gives null.
#if __has_include(<sys/mman.h>)
constexpr bool kHaveLargeBlocks = true;
#else
constexpr bool kHaveLargeBlocks = false;
#endif
void* MapLargeBlock(size_t& bytes) noexcept;
void UnmapLargeBlock(void* p, size_t bytes) noexcept;
// Asks for transparent huge pages for the whole huge pages inside [p, p + bytes), where the
// system offers them; only a hint.
void AdviseHugePages(void* p, size_t bytes) noexcept;

// Zeroed slot storage of a hash index. Large tables are mapped with huge pages asked for:
// lookups land on random slots, and with 4 KiB pages a table of millions of slots costs a
// TLB miss on nearly every probe.
//
// Small tables (a group of up to about a hundred items) come from the arena the index is
// given, when it is given one: a document of many small groups would otherwise make tens of
// thousands of allocations of a few hundred bytes, each growth one more, and in a process
// that has just let a document go the allocator is at its slowest for them.
class SlotArray {
 public:
  SlotArray() = default;
  explicit SlotArray(size_t n, ItemArena* arena = nullptr);
  ~SlotArray() { Release(); }
  SlotArray(const SlotArray&) = delete;
  SlotArray& operator=(const SlotArray&) = delete;
  SlotArray(SlotArray&& other) noexcept { Take(other); }
  SlotArray& operator=(SlotArray&& other) noexcept {
    if (this != &other) {
      Release();
      Take(other);
    }
    return *this;
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void Zero() {
    if (size_ != 0) std::memset(data_, 0, size_ * sizeof(SlotWord));
  }
  SlotWord& operator[](size_t i) { return data_[i]; }
  SlotWord operator[](size_t i) const { return data_[i]; }
  const SlotWord* begin() const { return data_; }
  const SlotWord* end() const { return data_ + size_; }

 private:
  void Release();
  void Take(SlotArray& other) {
    data_ = other.data_;
    size_ = other.size_;
    mappedBytes_ = other.mappedBytes_;
    malloced_ = other.malloced_;
    arena_ = other.arena_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.mappedBytes_ = 0;
    other.malloced_ = false;
    other.arena_ = nullptr;
  }

  SlotWord* data_ = nullptr;
  size_t size_ = 0;
  size_t mappedBytes_ = 0;      // non-zero when the storage is a mapping of its own
  bool malloced_ = false;       // from calloc, not operator new
  ItemArena* arena_ = nullptr;  // non-null when the storage is from this arena
};

// Gives a container's storage from an arena while it is small, like SlotArray, and from a
// mapping of its own on huge pages once it is large (a group of a million items), where
// the system has such mappings; the rest comes from the global allocator. It goes with the
// storage when a container is moved, copied or swapped, so storage is always given back
// where it came from.
template <class T>
class ArenaAllocator {
 public:
  using value_type = T;
  using propagate_on_container_copy_assignment = std::true_type;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;

  ArenaAllocator() = default;
  explicit ArenaAllocator(ItemArena* arena) : arena_(arena) {}
  template <class U>
  explicit ArenaAllocator(const ArenaAllocator<U>& other) : arena_(other.arena()) {}

  T* allocate(size_t n) {
    if (FromArena(n)) return static_cast<T*>(arena_->Allocate(n * kSize));
    if (Mapped(n)) {
      size_t bytes = n * kSize;
      void* p = MapLargeBlock(bytes);
      if (p == nullptr) throw std::bad_alloc();
      return static_cast<T*>(p);
    }
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) noexcept {
    if (FromArena(n)) {
      arena_->Release(p, n * kSize);
    } else if (Mapped(n)) {
      UnmapLargeBlock(p, RoundToHugePages(n * kSize));
    } else {
      std::allocator<T>().deallocate(p, n);
    }
  }
  ItemArena* arena() const { return arena_; }
  bool operator==(const ArenaAllocator& other) const { return arena_ == other.arena_; }

 private:
  // The size of one element; the elements are often pointers themselves (order lists).
  static constexpr size_t kSize = sizeof(T);  // NOLINT(bugprone-sizeof-expression)

  bool FromArena(size_t n) const { return arena_ != nullptr && n <= ItemArena::kMaxSmall / kSize; }
  static bool Mapped(size_t n) { return kHaveLargeBlocks && n >= kHugePageBytes / kSize; }

  ItemArena* arena_ = nullptr;
};

// Open-addressing hash index of nodes by the key of their name (KeyName(node)). A slot is
// one 64-bit word: the node's address in its low 48 bits with the top 16 bits of its hash
// above it, so that probing rarely has to look at a node that is not the one searched for.
// User-space addresses fit in 48 bits on the 64-bit platforms this module runs on, and a
// 32-bit address always does.
//
// Changes are all-or-nothing: whatever allocates (growing the table) happens before
// anything is changed, so a failed allocation leaves the index as it was.
template <class T>
class NameIndex {
 public:
  NameIndex() = default;
  // Small tables come from `arena` (see SlotArray).
  explicit NameIndex(ItemArena* arena) : arena_(arena) {}
  NameIndex(NameIndex&& other) noexcept
      : slots_(std::move(other.slots_)),
        count_(std::exchange(other.count_, 0)),
        arena_(other.arena_) {}
  // Takes the other's entries; where this index takes its tables from stays as it was.
  NameIndex& operator=(NameIndex&& other) noexcept {
    slots_ = std::move(other.slots_);
    count_ = std::exchange(other.count_, 0);
    return *this;
  }

  size_t size() const { return count_; }

  T* Find(std::string_view name, bool caseSensitive) const {
    return FindHashed(name, caseSensitive, HashKey(name, caseSensitive));
  }

  T* FindHashed(std::string_view name, bool caseSensitive, uint64_t h) const {
    if (count_ == 0) return nullptr;
    const SlotWord tag = Tag(h);
    const size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      const SlotWord s = slots_[i];
      if (s == 0) return nullptr;
      if ((s & ~kAddressMask) == tag) {
        T* node = Node(s);
        if (SameKey(KeyName(*node), name, caseSensitive)) return node;
      }
    }
  }

  // Asks for the slot a key with hash h starts probing at to be fetched into the cache,
  // for a lookup coming a little later. Only a hint: nothing changes.
  void Prefetch(uint64_t h) const {
    if (!slots_.empty()) PrefetchToRead(slots_.begin() + (h & (slots_.size() - 1)));
  }

  // The node's key must not be present yet.
  void Insert(T* node, bool caseSensitive) {
    InsertHashed(node, caseSensitive, HashKey(KeyName(*node), caseSensitive));
  }

  void InsertHashed(T* node, bool caseSensitive, uint64_t h) {
    ReserveOneMore(caseSensitive);
    Place(h, node);
    ++count_;
  }

  // Makes room for one more entry, so that the next insertion cannot fail.
  void ReserveOneMore(bool caseSensitive) {
    if ((count_ + 1) * 5 > slots_.size() * 4) {
      Rehash(slots_.empty() ? 8 : slots_.size() * 2, caseSensitive);
    }
  }

  // The same for an index that holds exactly the nodes `walk` gives, walk(place) calling
  // place(node) for each (a group's items in creation order): when the table grows, the
  // nodes are read in that order, which is the order they lie in memory, rather than in
  // the random order of the old slots.
  template <class Walk>
  void ReserveOneMoreWalking(bool caseSensitive, Walk&& walk) {
    if ((count_ + 1) * 5 > slots_.size() * 4) {
      Rehash(slots_.empty() ? 8 : slots_.size() * 2, caseSensitive,
             [&](const SlotArray&, auto&& place) { walk(place); });
    }
  }

  // Puts back a node that was erased since the table last grew: its room is still there,
  // so this never allocates (a store's roll-back relies on it).
  void Restore(T* node, bool caseSensitive) {
    Place(HashKey(KeyName(*node), caseSensitive), node);
    ++count_;
  }

  void Erase(const T* node, bool caseSensitive) {
    if (count_ == 0) return;
    const size_t mask = slots_.size() - 1;
    size_t i = HashKey(KeyName(*node), caseSensitive) & mask;
    while (Node(slots_[i]) != node) {
      if (slots_[i] == 0) return;
      i = (i + 1) & mask;
    }
    // Backward-shift deletion keeps every probe chain unbroken without tombstones.
    size_t j = i;
    for (;;) {
      j = (j + 1) & mask;
      if (slots_[j] == 0) break;
      const size_t home = HashKey(KeyName(*Node(slots_[j])), caseSensitive) & mask;
      const bool movable = (j > i) ? (home <= i || home > j) : (home <= i && home > j);
      if (movable) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = 0;
    --count_;
  }

  // Puts `replacement` where `node` is; both have the same key.
  void Replace(const T* node, T* replacement, bool caseSensitive) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = HashKey(KeyName(*node), caseSensitive) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == 0) return;
      if (Node(slots_[i]) == node) {
        slots_[i] = (slots_[i] & ~kAddressMask) | Address(replacement);
        return;
      }
    }
  }

  void Clear() {
    slots_ = SlotArray();
    count_ = 0;
  }

  // Fills the table again, as it is, with the nodes walk(place) gives (place(node) for
  // each), which must have the names of the nodes it holds now: after they were copied
  // elsewhere. Reads the nodes in the walk's order; never allocates.
  template <class Walk>
  void Refill(bool caseSensitive, Walk&& walk) {
    slots_.Zero();
    PlaceAll(
        caseSensitive, [&](const SlotArray&, auto&& place) { walk(place); }, SlotArray());
  }

  void Reserve(size_t n, bool caseSensitive) {
    size_t cap = slots_.empty() ? 8 : slots_.size();
    while (n * 5 > cap * 4) cap *= 2;
    if (cap != slots_.size()) Rehash(cap, caseSensitive);
  }

 private:
  static constexpr SlotWord kAddressMask = (SlotWord{1} << 48) - 1;
  static_assert(sizeof(uintptr_t) <= sizeof(SlotWord), "an address must fit in a slot");

  static SlotWord Tag(uint64_t h) { return (h >> 48 | 1) << 48; }
  static SlotWord Address(const T* node) {
    return static_cast<SlotWord>(reinterpret_cast<uintptr_t>(node));
  }
  static T* Node(SlotWord s) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(s & kAddressMask));
  }

  void Place(uint64_t h, T* node) {
    const size_t mask = slots_.size() - 1;
    size_t i = h & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = Tag(h) | Address(node);
  }

  // Moves every node into a table of `cap` slots. The old slots are in hash order, so the
  // nodes they point to are read in random order, and each lands on a random new slot: in a
  // large group both are cache misses. The loop is a pipeline so that the misses overlap
  // instead of following one another: a node is fetched kAhead nodes before it is hashed,
  // and its new slot kAhead nodes before it is placed.
  void Rehash(size_t cap, bool caseSensitive) {
    Rehash(cap, caseSensitive, [](const SlotArray& old, auto&& place) {
      for (SlotWord s : old) {
        if (s != 0) place(Node(s));
      }
    });
  }
  // The same, taking the nodes from walk(old, place), which calls place(node) for each.
  template <class Walk>
  void Rehash(size_t cap, bool caseSensitive, Walk&& walk) {
    // The new table is allocated before the old one is let go: a failure leaves the index
    // whole. Nothing below allocates.
    SlotArray grown(cap, arena_);
    SlotArray old = std::move(slots_);
    slots_ = std::move(grown);
    PlaceAll(caseSensitive, walk, old);
  }

  // Places every node walk(old, place) gives into the present table, pipelined as above.
  template <class Walk>
  void PlaceAll(bool caseSensitive, Walk&& walk, const SlotArray& old) {
    const size_t mask = slots_.size() - 1;
    T* fetched[kAhead];                      // nodes asked for, waiting to be hashed
    std::pair<T*, uint64_t> hashed[kAhead];  // nodes hashed, waiting for their slot
    size_t n = 0;                            // nodes taken from the old table
    // Step m places node m - 2 kAhead, hashes node m - kAhead and takes node m in.
    auto step = [&](size_t m, T* node) {
      if (m >= 2 * kAhead) {
        const auto& [placed, h] = hashed[m % kAhead];
        Place(h, placed);
      }
      if (m >= kAhead && m - kAhead < n) {
        T* next = fetched[m % kAhead];
        const uint64_t h = HashKey(KeyName(*next), caseSensitive);
        PrefetchToWrite(slots_.begin() + (h & mask));
        hashed[m % kAhead] = {next, h};
      }
      if (node != nullptr) {
        PrefetchToRead(node);
        fetched[m % kAhead] = node;
      }
    };
    walk(old, [&](T* node) {
      step(n, node);
      ++n;
    });
    for (size_t m = n; m < n + 2 * kAhead; ++m) step(m, nullptr);
  }

  static constexpr size_t kAhead = 8;

  SlotArray slots_;
  size_t count_ = 0;
  ItemArena* arena_ = nullptr;
};

// Creation-order list of nodes (each with a `uint32_t slot` member naming its position).
// Like NameIndex, it allocates before it changes anything.
template <class T>
class OrderList {
 public:
  // The positions, removed nodes' places (null) included; small lists keep them in the
  // arena the list is given (see SlotArray).
  using Storage = std::vector<T*, ArenaAllocator<T*>>;

  OrderList() = default;
  explicit OrderList(ItemArena* arena) : slots_(ArenaAllocator<T*>(arena)) {}
  // Moved, never copied: a copy would take its storage from the arena of the original's
  // document, which may go before it.
  OrderList(const OrderList&) = delete;
  OrderList& operator=(const OrderList&) = delete;
  OrderList(OrderList&&) noexcept = default;
  OrderList& operator=(OrderList&&) noexcept = default;

  size_t size() const { return live_; }
  bool empty() const { return live_ == 0; }

  void Reserve(size_t n) { slots_.reserve(n); }

  // Makes room for one more node, so that the next PushBack cannot fail.
  void ReserveOneMore() {
    GrowForOne(slots_);
    if (fenwickValid_) GrowForOne(fenwick_);
  }

  void PushBack(T* node) {
    ReserveOneMore();
    node->slot = static_cast<uint32_t>(slots_.size());
    slots_.push_back(node);
    ++live_;
    if (fenwickValid_) FenwickAppend(1);
  }

  // Removes a node. With `keepPlaces` every other node keeps its position number (nothing is
  // compacted), so that the removal, and any PushBack after it, can be taken back exactly.
  void Remove(T* node, bool keepPlaces = false) {
    const uint32_t at = node->slot;
    if (at >= slots_.size() || slots_[at] != node) return;
    slots_[at] = nullptr;
    --live_;
    if (fenwickValid_) FenwickAdd(at, -1);
    if (!keepPlaces) Tidy();
  }

  // Lets go of the places of removed nodes once they are many (Remove does it unless told
  // to keep the places); never allocates.
  void Tidy() {
    const size_t dead = slots_.size() - live_;
    if (live_ == 0) {
      slots_.clear();
      fenwick_.clear();
      fenwickValid_ = false;
    } else if (dead > 16 && dead > live_) {
      Compact();
    }
  }

  // The node at 0-based position i of the creation order; i < size().
  T* At(size_t i) const {
    if (slots_.size() == live_) return slots_[i];
    if (!fenwickValid_) BuildFenwick();
    // Largest prefix whose live count is <= i, found by binary lifting.
    size_t pos = 0;
    size_t remaining = i + 1;
    size_t step = 1;
    while (step * 2 <= slots_.size()) step *= 2;
    for (; step > 0; step /= 2) {
      const size_t next = pos + step;
      if (next <= slots_.size() && fenwick_[next] < remaining) {
        pos = next;
        remaining -= fenwick_[next];
      }
    }
    return slots_[pos];
  }

  // Takes back the newest PushBack of `node`; never allocates.
  void PopBack(T* node) {
    if (slots_.empty() || slots_.back() != node) return;
    slots_.pop_back();
    --live_;
    if (fenwickValid_) fenwick_.pop_back();
  }

  // Moves a node to the end, keeping every other node's position (its old place stays
  // empty until Tidy); the room for it must have been made with ReserveOneMore.
  void MoveToEnd(T* node) {
    Remove(node, true);
    PushBack(node);
  }

  // Takes back a MoveToEnd that put the node at the end and was the newest change of the
  // list: the node goes back to `place`; never allocates.
  void MoveBack(T* node, uint32_t place) {
    PopBack(node);
    node->slot = place;
    Restore(node);
  }

  // Puts a node removed with keepPlaces back at its position; never allocates.
  void Restore(T* node) {
    const uint32_t at = node->slot;
    if (at >= slots_.size() || slots_[at] != nullptr) return;
    slots_[at] = node;
    ++live_;
    if (fenwickValid_) FenwickAdd(at, 1);
  }

  // Exchange the places of two nodes of this list.
  void Swap(T* a, T* b) {
    if (a == b) return;
    std::swap(slots_[a->slot], slots_[b->slot]);
    std::swap(a->slot, b->slot);
  }

  // Replace the node at a's place by b (b not in the list); a leaves the list.
  void ReplaceAt(T* a, T* b) {
    b->slot = a->slot;
    slots_[a->slot] = b;
  }

  // Replaces the order by `nodes` when they are exactly the live nodes in another order;
  // anything else (a node missing, foreign or repeated) leaves the list as it is, since
  // taking it would lose or duplicate nodes.
  bool Assign(const std::vector<const T*>& nodes) { return Assign(nodes, nullptr); }
  // The same; the order it replaces goes to `previous` when one is given, for a later
  // Reinstate.
  bool Assign(const std::vector<const T*>& nodes, Storage* previous) {
    if (nodes.size() != live_) return false;
    std::vector<bool> seen(slots_.size(), false);
    for (const T* node : nodes) {
      const uint32_t at = node->slot;
      if (at >= slots_.size() || slots_[at] != node || seen[at]) return false;
      seen[at] = true;
    }
    if (previous != nullptr) *previous = slots_;  // allocates before anything changes
    slots_.resize(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
      slots_[i] = const_cast<T*>(nodes[i]);
      slots_[i]->slot = static_cast<uint32_t>(i);
    }
    fenwick_.clear();
    fenwickValid_ = false;
    return true;
  }

  // Puts back an order that Assign replaced, with every position as it was; never
  // allocates.
  void Reinstate(Storage& previous) {
    slots_.swap(previous);
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] != nullptr) slots_[i]->slot = static_cast<uint32_t>(i);
    }
    fenwick_.clear();
    fenwickValid_ = false;
  }

  template <class F>
  void ForEach(F&& f) const {
    for (T* node : slots_) {
      if (node != nullptr) f(node);
    }
  }

  // Puts forward(node) in every node's place; never allocates.
  template <class F>
  void Forward(F&& forward) {
    for (T*& node : slots_) {
      if (node != nullptr) node = forward(node);
    }
  }

  std::vector<T*> Nodes() const {
    std::vector<T*> out;
    out.reserve(live_);
    for (T* node : slots_) {
      if (node != nullptr) out.push_back(node);
    }
    return out;
  }

  void Clear() {
    slots_.clear();
    fenwick_.clear();
    live_ = 0;
    fenwickValid_ = false;
  }

 private:
  void Compact() {
    size_t w = 0;
    for (T* node : slots_) {
      if (node != nullptr) {
        node->slot = static_cast<uint32_t>(w);
        slots_[w++] = node;
      }
    }
    slots_.resize(w);
    fenwick_.clear();
    fenwickValid_ = false;
  }

  // Grows a vector's capacity geometrically when it is full; the growth itself is kept out
  // of line, so that appends stay small enough to be inlined.
  template <class V>
  static void GrowForOne(V& v) {
    if (v.size() == v.capacity()) {
      [[unlikely]] Grow(v);
    }
  }
  template <class V>
  [[gnu::noinline]] static void Grow(V& v) {
    v.reserve(v.empty() ? 8 : v.size() * 2);
  }

  void BuildFenwick() const {
    const size_t n = slots_.size();
    fenwick_.assign(n + 1, 0);
    for (size_t i = 1; i <= n; ++i) {
      fenwick_[i] += slots_[i - 1] != nullptr ? 1u : 0u;
      const size_t parent = i + (i & (~i + 1));
      if (parent <= n) fenwick_[parent] += fenwick_[i];
    }
    fenwickValid_ = true;
  }

  void FenwickAdd(size_t at, int delta) {
    for (size_t i = at + 1; i < fenwick_.size(); i += i & (~i + 1)) {
      fenwick_[i] = static_cast<uint32_t>(static_cast<int64_t>(fenwick_[i]) + delta);
    }
  }

  // slots_ already holds the new node at its end.
  void FenwickAppend(uint32_t value) {
    const size_t i = slots_.size();  // 1-based index of the new entry
    const size_t low = i & (~i + 1);
    uint32_t sum = value;
    // fenwick_[i] covers (i - low, i]: add the trees that tile (i - low, i - 1].
    for (size_t j = i - 1; j > i - low; j -= j & (~j + 1)) sum += fenwick_[j];
    fenwick_.push_back(sum);
  }

  Storage slots_;
  size_t live_ = 0;
  mutable std::vector<uint32_t> fenwick_;
  mutable bool fenwickValid_ = false;
};

}  // namespace vellix
