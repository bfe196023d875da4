#include "core/base/src/token_bucket.hpp"

#include <algorithm>

namespace base {

bool TokenBucket::try_take(std::uint32_t cost, Instant now) {
  double elapsed = seconds_between(last_refill, now);
  last_refill = std::max(last_refill, now);
  double available = std::min(capacity, tokens + elapsed * rate);
  if (static_cast<double>(cost) > available) {
    tokens = available;
    return false;
  }
  tokens = available - static_cast<double>(cost);
  return true;
}

}  // namespace base
