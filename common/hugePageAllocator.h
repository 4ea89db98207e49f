#ifndef HUGEPAGEALLOCATOR_H
#define HUGEPAGEALLOCATOR_H

#include <cstddef>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// An allocator for the fast engine's big arrays, which an event reads at
// random places. A block of 2 MiB or more is aligned to 2 MiB and, on Linux,
// marked for transparent huge pages: one page-table entry then covers 2 MiB
// instead of 4 KiB, which saves most of the address-translation misses of
// random reads (costly under a virtual machine). Smaller blocks come from
// operator new.
template <class T>
struct HugePageAllocator {
  using value_type = T;
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;

  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) {
      return static_cast<T*>(::operator new(bytes, std::align_val_t(alignof(T))));
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = ::operator new(rounded, std::align_val_t(kHugePage));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(p, rounded, MADV_HUGEPAGE);  // only a hint: failure changes nothing
#endif
    return static_cast<T*>(p);
  }

  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kHugePage) {
      ::operator delete(p, std::align_val_t(alignof(T)));
    } else {
      ::operator delete(p, std::align_val_t(kHugePage));
    }
  }

  template <class U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const HugePageAllocator<U>&) const {
    return false;
  }
};

#endif
