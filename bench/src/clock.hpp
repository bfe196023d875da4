#pragma once

// The one clock that every thread of the benchmark reads: nanoseconds since the benchmark began.
// Timestamps travel inside packets and write lines as these numbers, small enough to pass a
// 64-bit float (a write's value) unchanged.

#include <chrono>
#include <cstdint>

namespace bench {

using Clock = std::chrono::steady_clock;

inline Clock::time_point origin() {
  static const Clock::time_point start = Clock::now();
  return start;
}

inline std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - origin()).count();
}

inline constexpr std::int64_t kNsPerMs = 1'000'000;
inline constexpr std::int64_t kNsPerS = 1'000'000'000;

// A span of the clock, [begin, end).
struct Window {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  bool holds(std::int64_t t) const { return t >= begin && t < end; }
  double seconds() const { return static_cast<double>(end - begin) / 1e9; }
};

}  // namespace bench
