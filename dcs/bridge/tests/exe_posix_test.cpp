// The native program, which has neither the Windows registry nor the PC's DCS folders.
#include <gtest/gtest.h>

#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace {

using bridge::testing::log_lines;
using bridge::testing::ProgramResult;
using bridge::testing::run_bridge;

TEST(BridgeProgram, StartWithWindowsFailsClearlyWithoutTheRegistry) {
  for (const char* value : {"on", "off"}) {
    ProgramResult r = run_bridge({"start-with-windows", value});
    EXPECT_EQ(r.exit_code, 1) << value;
    EXPECT_EQ(r.out, "") << value;
    EXPECT_TRUE(r.err.ends_with(" error cannot change Start with Windows: this build has no Windows registry\n"))
        << r.err;
  }
}

TEST(BridgeProgram, WhatNeedsDcsFoldersFailsClearly) {
  struct Case {
    std::vector<bridge::OsString> args;
    std::string what;
  };
  const Case cases[] = {
      {{}, "tray mode"},
      {{"--autostart"}, "tray mode"},
      {{"headless"}, "headless mode"},
      {{"check"}, "check"},
      {{"install", "--saved-games", "/tmp", "--prompt"}, "install"},
      {{"remove"}, "remove"},
  };
  for (const Case& c : cases) {
    // Even a bad port is not looked at: nothing runs.
    ProgramResult r = run_bridge(c.args, {{"TOLVARO_DCS_PAGE_PORT", "x"}});
    EXPECT_EQ(r.exit_code, 1) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(log_lines(r.err), std::vector<std::string>{"error " + c.what +
                                                         " needs the Windows build: this one cannot reach DCS folders"})
        << c.what;
  }
}

}  // namespace
