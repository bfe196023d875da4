// Start with Windows where there is no Windows registry.
#include <gtest/gtest.h>

#include "dcs/bridge/tests/program_runner.hpp"

namespace {

TEST(BridgeProgram, StartWithWindowsFailsClearlyWithoutTheRegistry) {
  for (const char* value : {"on", "off"}) {
    bridge::testing::ProgramResult r = bridge::testing::run_bridge({"start-with-windows", value});
    EXPECT_EQ(r.exit_code, 1) << value;
    EXPECT_EQ(r.out, "") << value;
    EXPECT_TRUE(r.err.ends_with(" error cannot change Start with Windows: this build has no Windows registry\n"))
        << r.err;
  }
}

}  // namespace
