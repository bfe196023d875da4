#pragma once

#include <cstdint>

#include "core/base/src/time.hpp"

namespace base {

// A rate limiter: holds at most `capacity` tokens and gains `rate` tokens a second. Made full.
// Owned by one task; not thread-safe.
struct TokenBucket {
  double capacity;
  double rate;
  double tokens;
  Instant last_refill;

  TokenBucket(double capacity, double rate, Instant now)
      : capacity(capacity), rate(rate), tokens(capacity), last_refill(now) {}

  // Refills up to `now`, then takes `cost` if that many tokens are there. A refused take keeps the
  // refill and takes nothing.
  bool try_take(std::uint32_t cost, Instant now);
};

}  // namespace base
