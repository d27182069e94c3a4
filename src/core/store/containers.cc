#include "store/containers.h"

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#define VELLIX_HAVE_MMAP 1
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vellix {

#ifdef VELLIX_HAVE_MMAP
namespace {
constexpr size_t kZeroedByTheSystem = size_t{128} << 10;  // glibc's default mmap threshold
}  // namespace
#endif

void* MapLargeBlock(size_t& bytes) noexcept {
#ifdef VELLIX_HAVE_MMAP
  // (A size this rounding would take past the end of size_t is more than can be mapped.)
  if (bytes > SIZE_MAX - 2 * kHugePageBytes) return nullptr;
  const size_t rounded = RoundToHugePages(bytes);
  // One huge page more than asked for, and the ends cut off so that the block starts on a
  // huge page's boundary: every page of it can then be a huge page, where an unaligned
  // block has a huge page's worth of small ones, each a fault of its own.
  const size_t mapped = rounded + kHugePageBytes;
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t aligned = RoundToHugePages(start);
  if (aligned > start) ::munmap(p, aligned - start);
  const uintptr_t end = start + mapped;
  if (end > aligned + rounded) {
    ::munmap(reinterpret_cast<void*>(aligned + rounded), end - aligned - rounded);
  }
  p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
  bytes = rounded;
  return p;
#else
  (void)bytes;
  return nullptr;
#endif
}

void UnmapLargeBlock(void* p, size_t bytes) noexcept {
#ifdef VELLIX_HAVE_MMAP
  ::munmap(p, bytes);
#else
  (void)p;
  (void)bytes;
#endif
}

void AdviseHugePages(void* p, size_t bytes) noexcept {
#if defined(VELLIX_HAVE_MMAP) && defined(MADV_HUGEPAGE)
  const auto start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t first = RoundToHugePages(start);
  const uintptr_t end = (start + bytes) / kHugePageBytes * kHugePageBytes;
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

SlotArray::SlotArray(size_t n, ItemArena* arena) : size_(n) {
  if (n == 0) return;
  const size_t bytes = n * sizeof(SlotWord);
  if (arena != nullptr && ItemArena::FromBlocks(bytes)) {
    data_ = static_cast<SlotWord*>(arena->Allocate(bytes));
    std::memset(data_, 0, bytes);
    arena_ = arena;
    return;
  }
  if (bytes >= kHugePageBytes) {
    size_t mapped = bytes;
    if (void* p = MapLargeBlock(mapped)) {
      data_ = static_cast<SlotWord*>(p);  // anonymous mappings come zeroed
      mappedBytes_ = mapped;
      return;
    }
  }
#ifdef VELLIX_HAVE_MMAP
  if (bytes >= kZeroedByTheSystem) {
    // Large blocks come from fresh mappings, already zeroed: calloc spares the memset.
    data_ = static_cast<SlotWord*>(std::calloc(n, sizeof(SlotWord)));
    if (data_ == nullptr) throw std::bad_alloc();
    malloced_ = true;
    return;
  }
#endif
  // Through operator new like the store's other allocations, so that a failure is a
  // bad_alloc from the same place (and the allocation-failure test reaches it).
  data_ = static_cast<SlotWord*>(::operator new(bytes));
  std::memset(data_, 0, bytes);
}

void SlotArray::Release() {
  if (data_ == nullptr) return;
  if (arena_ != nullptr) {
    arena_->Release(data_, size_ * sizeof(SlotWord));
  } else if (mappedBytes_ != 0) {
    UnmapLargeBlock(data_, mappedBytes_);
  } else if (malloced_) {
    std::free(data_);
  } else {
    ::operator delete(data_);
  }
  data_ = nullptr;
  size_ = 0;
  mappedBytes_ = 0;
  malloced_ = false;
  arena_ = nullptr;
}

}  // namespace vellix
