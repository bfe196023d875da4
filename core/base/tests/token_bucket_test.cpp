#include <gtest/gtest.h>

#include "core/base/src/token_bucket.hpp"

namespace {

using namespace std::chrono_literals;
using base::Instant;
using base::TokenBucket;

const Instant t0 = Instant{} + 1000s;

TEST(TokenBucket, FullBucketTakesItsCapacityOnceThenRefillsAtItsRate) {
  TokenBucket bucket(60, 60, t0);
  EXPECT_TRUE(bucket.try_take(60, t0));
  EXPECT_FALSE(bucket.try_take(1, t0));
  EXPECT_FALSE(bucket.try_take(1, t0 + 16ms));
  EXPECT_TRUE(bucket.try_take(1, t0 + 17ms));  // 1/60 s later one token is back
  EXPECT_FALSE(bucket.try_take(1, t0 + 17ms));
}

TEST(TokenBucket, CostAboveCapacityIsNeverTaken) {
  TokenBucket bucket(10, 10, t0);
  EXPECT_FALSE(bucket.try_take(11, t0));
  EXPECT_FALSE(bucket.try_take(11, t0 + 3600s));
  EXPECT_FALSE(bucket.try_take(UINT32_MAX, t0 + 7200s));
  EXPECT_DOUBLE_EQ(bucket.tokens, 10);
}

TEST(TokenBucket, ClockGoingBackRefillsNothingAndKeepsTheLaterInstant) {
  TokenBucket bucket(10, 10, t0);
  EXPECT_TRUE(bucket.try_take(5, t0 + 1s));
  EXPECT_TRUE(bucket.try_take(5, t0 + 500ms));  // earlier instant, 5 tokens still there
  EXPECT_EQ(bucket.last_refill, t0 + 1s);
  EXPECT_DOUBLE_EQ(bucket.tokens, 0);
  EXPECT_FALSE(bucket.try_take(1, t0 + 1s));
  EXPECT_TRUE(bucket.try_take(1, t0 + 1100ms));
}

TEST(TokenBucket, LongRestCapsAtCapacity) {
  TokenBucket bucket(10, 10, t0);
  Instant later = t0 + 3600s;
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(bucket.try_take(1, later)) << i;
  EXPECT_FALSE(bucket.try_take(1, later));
}

TEST(TokenBucket, RefusedTakeKeepsTheRefill) {
  TokenBucket bucket(100, 10, t0);
  EXPECT_TRUE(bucket.try_take(100, t0));
  EXPECT_FALSE(bucket.try_take(20, t0 + 1s));  // 10 available, refused
  EXPECT_DOUBLE_EQ(bucket.tokens, 10);
  EXPECT_EQ(bucket.last_refill, t0 + 1s);
  EXPECT_TRUE(bucket.try_take(20, t0 + 2s));  // 10 kept + 10 refilled
  EXPECT_DOUBLE_EQ(bucket.tokens, 0);
}

TEST(TokenBucket, ByteBucketOfAPage) {
  TokenBucket bucket(2097152, 65536, t0);
  EXPECT_TRUE(bucket.try_take(2097152, t0));
  EXPECT_FALSE(bucket.try_take(65537, t0 + 1s));
  EXPECT_TRUE(bucket.try_take(65536, t0 + 1s));
}

}  // namespace
