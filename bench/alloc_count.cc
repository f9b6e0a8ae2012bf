#include "bench/alloc_count.h"

#include <cstddef>

// glibc's own entry points: the counting functions below hand every call on to them.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
}

namespace rembiz::bench {
namespace {

// Trivially constructed, so that counting works before anything else of the thread runs.
thread_local int64_t allocations = 0;

}  // namespace

int64_t ThreadAllocations() { return allocations; }

}  // namespace rembiz::bench

// Interposed for the whole program (libstdc++'s operator new calls malloc); free stays glibc's,
// since the memory is glibc's.
extern "C" {
void* malloc(size_t size) {
  ++rembiz::bench::allocations;
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  ++rembiz::bench::allocations;
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
  ++rembiz::bench::allocations;
  return __libc_realloc(pointer, size);
}
}
