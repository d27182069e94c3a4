#include "store/containers.h"

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#define VELLIX_HAVE_MMAP 1
#endif

#include <cstdint>
#include <cstdlib>
#include <new>

namespace vellix {

#ifdef VELLIX_HAVE_MMAP
namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}
#endif

SlotArray::SlotArray(size_t n) : size_(n) {
  if (n == 0) return;
#ifdef VELLIX_HAVE_MMAP
  const size_t bytes = n * sizeof(uintptr_t);
  if (bytes >= kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
#ifdef MADV_HUGEPAGE
      ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
      data_ = static_cast<uintptr_t*>(p);  // anonymous mappings come zeroed
      mappedBytes_ = rounded;
      return;
    }
  }
#endif
  data_ = static_cast<uintptr_t*>(std::calloc(n, sizeof(uintptr_t)));
  if (data_ == nullptr) throw std::bad_alloc();
}

void SlotArray::Release() {
  if (data_ == nullptr) return;
#ifdef VELLIX_HAVE_MMAP
  if (mappedBytes_ != 0) {
    ::munmap(data_, mappedBytes_);
  } else {
    std::free(data_);
  }
#else
  std::free(data_);  // no mapping without mmap
#endif
  data_ = nullptr;
  size_ = 0;
  mappedBytes_ = 0;
}

}  // namespace vellix
