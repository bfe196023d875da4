#include <gtest/gtest.h>

#include "core/base/src/quota.hpp"

namespace {

TEST(WithinQuota, LetsTenThroughTheTenthMarkedThenNone) {
  std::uint32_t quota = 10;
  std::vector<std::string> logged;
  for (int i = 1; i <= 15; ++i) {
    if (auto line = base::within_quota(quota, "refusal " + std::to_string(i))) logged.push_back(*line);
  }
  ASSERT_EQ(logged.size(), 10u);
  EXPECT_EQ(logged[0], "refusal 1");
  EXPECT_EQ(logged[8], "refusal 9");
  EXPECT_EQ(logged[9], "refusal 10 (further ones are not logged)");
  EXPECT_EQ(quota, 0u);
}

TEST(WithinQuota, QuotaOfOneMarksItsOnlyLine) {
  std::uint32_t quota = 1;
  EXPECT_EQ(base::within_quota(quota, "x"), "x (further ones are not logged)");
  EXPECT_EQ(base::within_quota(quota, "y"), std::nullopt);
}

}  // namespace
