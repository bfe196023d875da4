#pragma once

// The count of heap allocations that the bench's variant of the bridge program keeps. The bench
// creates a file of `kAllocationCountBytes`, names it in `kAllocationCountVariable` when it starts
// the program, and maps it as well; the program counts every call of its global operator new into
// the 64-bit counter at the start of the file, which the bench reads while the program runs.

#include <cstddef>

namespace bench {

inline constexpr const char* kAllocationCountVariable = "TOLVARO_BENCH_ALLOCATIONS";
inline constexpr std::size_t kAllocationCountBytes = 4096;

}  // namespace bench
