#pragma once

#include <chrono>

namespace base {

// The monotonic clock of the program. Pure logic takes instants of it as arguments, so tests can
// drive it with made-up instants.
using Clock = std::chrono::steady_clock;
using Instant = Clock::time_point;
using Duration = Clock::duration;

// Seconds between two instants as a 64-bit float; 0 when `later` lies before `earlier`.
inline double seconds_between(Instant earlier, Instant later) {
  if (later <= earlier) return 0.0;
  auto d = std::chrono::duration_cast<std::chrono::nanoseconds>(later - earlier).count();
  return static_cast<double>(d / 1'000'000'000) + static_cast<double>(d % 1'000'000'000) / 1e9;
}

}  // namespace base
