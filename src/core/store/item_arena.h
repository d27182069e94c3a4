// Where a document's items live.
//
// A document of a million items would otherwise be a million allocations, each with the
// allocator's own header and rounding, and a fresh process pays a page fault for every
// few of them. The arena hands items out of large blocks instead, at 8-byte steps, and
// keeps what deleted items give back on one free list per size, so that a document that
// is changed for hours does not keep growing. The blocks go when the document goes, but for
// a few of the largest, kept for the next large document (item_arena.cc says why).
//
// Blocks grow with the document, from a few KiB for a small one up to kMaxBlock. Blocks of
// whole huge pages are mappings of their own, on a huge page's boundary, with transparent
// huge pages asked for where the system offers them: a fresh process then pays a fault for
// every 2 MiB rather than every 4 KiB. Smaller blocks, and large ones where the system has
// no such mappings, come from operator new like every other allocation of the store;
// running out of memory is a bad_alloc either way. Texts too long for the largest size go to
// the global allocator one by one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vellix {

class ItemArena {
 public:
  // Sizes up to this come from the blocks; longer ones from operator new.
  static constexpr size_t kMaxSmall = 1024;
  static constexpr size_t kStep = 8;
  // The largest block.
  static constexpr size_t kMaxBlock = size_t{8} << 20;

  ItemArena() = default;
  ~ItemArena();
  ItemArena(const ItemArena&) = delete;
  ItemArena& operator=(const ItemArena&) = delete;

  // The number of bytes Allocate gives for a request of `bytes`: what the caller may use.
  static size_t Usable(size_t bytes) {
    return bytes <= kMaxSmall ? (bytes + kStep - 1) / kStep * kStep : bytes;
  }
  // Room for Usable(bytes) bytes, aligned to 8; throws std::bad_alloc before anything
  // changes when memory runs out.
  void* Allocate(size_t bytes);
  // Gives back what Allocate gave for a request of the same Usable size.
  void Release(void* p, size_t bytes) noexcept;

  // Bytes the arena holds for items now: its blocks up to the place the next item would
  // take (freed items included), and the long texts. The untouched rest of the newest
  // block costs no memory until it is used.
  size_t heldBytes() const {
    return blockBytes_ - static_cast<size_t>(limit_ - cursor_) + largeBytes_;
  }
  // Whether texts too long for the blocks are held (each freed on its own).
  bool holdsLongTexts() const { return largeBytes_ != 0; }
  // Bytes of freed items waiting on the free lists.
  size_t freeBytes() const { return freeBytes_; }
  // Whether a request of `bytes` is served from the blocks (not one by one, as a long text).
  static bool FromBlocks(size_t bytes) { return Usable(bytes) <= kMaxSmall; }

  // Whether freed items are so many beside the live ones (half as many bytes, and at least
  // kCompactFrom bytes) that copying the live ones into a fresh arena is worth its time.
  bool WorthCompacting() const {
    const size_t used = blockBytes_ - static_cast<size_t>(limit_ - cursor_) - freeBytes_;
    return freeBytes_ >= kCompactFrom && freeBytes_ * 2 >= used;
  }
  // Takes over everything `other` holds and gives it what this one held, but for the long
  // texts, which stay with their items.
  void Swap(ItemArena& other) noexcept;

 private:
  struct FreeChunk {
    FreeChunk* next;
  };
  struct Block {
    Block* next;
    size_t bytes;  // the whole block, this header included
    bool mapped;   // a mapping of its own (MapLargeBlock), else from operator new
  };
  static constexpr size_t kFirstBlock = size_t{4} << 10;
  static constexpr size_t kClasses = kMaxSmall / kStep + 1;
  static constexpr size_t kCompactFrom = size_t{1} << 20;

  void* Carve(size_t bytes);
  void AddBlock(size_t atLeast);

  std::array<FreeChunk*, kClasses> free_{};
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  Block* blocks_ = nullptr;
  size_t nextBlock_ = kFirstBlock;
  size_t blockBytes_ = 0;
  size_t largeBytes_ = 0;
  size_t freeBytes_ = 0;
};

}  // namespace vellix
