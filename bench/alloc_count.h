// Heap allocations made by the calling thread, counted by the benchmark program's own malloc
// (every operator new goes through it too). Figures divide the difference over an operation.
#pragma once

#include <cstdint>

namespace rembiz::bench {

int64_t ThreadAllocations();

}  // namespace rembiz::bench
