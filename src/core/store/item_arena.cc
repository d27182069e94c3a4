#include "store/item_arena.h"

#include <algorithm>
#include <new>
#include <utility>

#include "store/containers.h"

namespace vellix {

ItemArena::~ItemArena() {
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    ::operator delete(blocks_);
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
  void* raw = ::operator new(bytes);
  if (bytes >= 2 * kHugePageBytes) AdviseHugePages(raw, bytes);
  auto* block = new (raw) Block{blocks_, bytes};
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
