#include "store/item_arena.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include "store/containers.h"

namespace vellix {
namespace {

// Blocks of the largest size from documents let go, kept for the next large document. An
// application that loads its save again, or drops one document and reads another, would
// otherwise give tens of megabytes back to the system and take them again at once, with a
// page fault for every 4 KiB: the kernel's part of such a load was then larger than the
// parse's. At most kKept blocks (64 MiB) are kept, so a process that has let its documents
// go holds no more than that for them. (Telling the system it may take the kept pages back
// when it needs them, MADV_FREE, cost a third of a 34 MB parse again.)
class BlockCache {
 public:
  static constexpr size_t kKept = 8;

  struct Kept {
    void* block;
    bool mapped;  // a mapping of its own (MapLargeBlock), else from operator new
  };

  ~BlockCache() {
    for (size_t i = 0; i < count_; ++i) {
      FreeBlock(blocks_[i].block, ItemArena::kMaxBlock, blocks_[i].mapped);
    }
  }

  // A kept block, or one with a null address.
  Kept Take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return count_ == 0 ? Kept{nullptr, false} : blocks_[--count_];
  }
  // Keeps a block; false when there is no room and the caller frees it.
  bool Keep(Kept kept) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == kKept) return false;
    blocks_[count_++] = kept;
    return true;
  }

  static void FreeBlock(void* block, size_t bytes, bool mapped) noexcept {
    if (mapped) {
      UnmapLargeBlock(block, bytes);
    } else {
      ::operator delete(block);
    }
  }

 private:
  std::mutex mutex_;
  std::array<Kept, kKept> blocks_{};
  size_t count_ = 0;
};

// Set once the cache is destroyed (the process ends or the module is unloaded): a document
// let go after that frees its blocks itself.
constinit std::atomic<bool> cacheGone{false};

BlockCache* Cache() {
  struct Owner {
    BlockCache cache;
    ~Owner() { cacheGone.store(true); }
  };
  if (cacheGone.load()) return nullptr;
  static Owner owner;
  return &owner.cache;
}

}  // namespace

ItemArena::~ItemArena() {
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    const size_t bytes = blocks_->bytes;
    const bool mapped = blocks_->mapped;
    BlockCache* cache = bytes == kMaxBlock ? Cache() : nullptr;
    if (cache == nullptr || !cache->Keep({blocks_, mapped})) {
      BlockCache::FreeBlock(blocks_, bytes, mapped);
    }
    blocks_ = next;
  }
}

void* ItemArena::Allocate(size_t bytes) {
  const size_t usable = Usable(bytes);
  if (usable > kMaxSmall) {
    void* p = ::operator new(usable);
    largeBytes_ += usable;
    return p;
  }
  FreeChunk*& head = free_[usable / kStep];
  if (head != nullptr) {
    FreeChunk* chunk = head;
    head = chunk->next;
    freeBytes_ -= usable;
    return chunk;
  }
  return Carve(usable);
}

void* ItemArena::Carve(size_t usable) {
  if (static_cast<size_t>(limit_ - cursor_) < usable) AddBlock(usable);
  void* p = cursor_;
  cursor_ += usable;
  return p;
}

void ItemArena::Release(void* p, size_t bytes) noexcept {
  const size_t usable = Usable(bytes);
  if (usable > kMaxSmall) {
    ::operator delete(p);
    largeBytes_ -= usable;
    return;
  }
  auto* chunk = static_cast<FreeChunk*>(p);
  FreeChunk*& head = free_[usable / kStep];
  chunk->next = head;
  head = chunk;
  freeBytes_ += usable;
}

void ItemArena::Swap(ItemArena& other) noexcept {
  std::swap(free_, other.free_);
  std::swap(cursor_, other.cursor_);
  std::swap(limit_, other.limit_);
  std::swap(blocks_, other.blocks_);
  std::swap(nextBlock_, other.nextBlock_);
  std::swap(blockBytes_, other.blockBytes_);
  std::swap(freeBytes_, other.freeBytes_);
}

void ItemArena::AddBlock(size_t atLeast) {
  constexpr size_t kHeader = (sizeof(Block) + 15) / 16 * 16;  // keeps items 16-byte aligned
  const size_t bytes = std::max(nextBlock_, kHeader + atLeast);
  // The one step that can fail comes first: a failure leaves the arena as it was.
  BlockCache* cache = bytes == kMaxBlock ? Cache() : nullptr;
  BlockCache::Kept got = cache != nullptr ? cache->Take() : BlockCache::Kept{nullptr, false};
  if (got.block == nullptr && bytes % kHugePageBytes == 0) {
    // Whole huge pages: a block of its own, on their boundary (MapLargeBlock).
    size_t mapped = bytes;
    got = {MapLargeBlock(mapped), true};
  }
  if (got.block == nullptr) got = {::operator new(bytes), false};
  void* raw = got.block;
  auto* block = new (raw) Block{blocks_, bytes, got.mapped};
  blocks_ = block;
  blockBytes_ += bytes;
  nextBlock_ = std::min(nextBlock_ * 2, kMaxBlock);
  // What is left of the block before it goes to the free list of its size, so that no
  // byte of a block is lost for good.
  const size_t rest = static_cast<size_t>(limit_ - cursor_) / kStep * kStep;
  if (rest >= sizeof(FreeChunk) && rest <= kMaxSmall) Release(cursor_, rest);
  cursor_ = static_cast<char*>(raw) + kHeader;
  limit_ = static_cast<char*>(raw) + bytes;
}

}  // namespace vellix
