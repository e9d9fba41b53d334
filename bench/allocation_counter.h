// A counting global operator new for the benchmarks that report heap
// allocations. Include it in exactly one file of a benchmark program: it
// replaces the program's operator new and delete.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace zeviziz::bench {

// Heap allocations made through operator new since the program started.
inline std::atomic<uint64_t> allocation_count{0};

}  // namespace zeviziz::bench

void* operator new(size_t size) {
  zeviziz::bench::allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The counting operator new takes its memory from malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
