// The native program, which has neither the Windows registry nor the PC's DCS folders.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "dcs/bridge/tests/ports.hpp"
#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace {

using bridge::testing::log_lines;
using bridge::testing::ProgramResult;
using bridge::testing::run_bridge;
using bridge::testing::RunningBridge;

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

TEST(BridgeProgram, TheUiDemoNeedsWindows) {
  ProgramResult r = run_bridge({"ui-demo", "running"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(log_lines(r.err), std::vector<std::string>{"error ui-demo needs the Windows build"});
}

// The other console events have signals of their own here.
TEST(BridgeProgram, HeadlessStopsInOrderOnTheOtherStopSignals) {
  const std::pair<int, std::string> cases[] = {
      {SIGTERM, "system shutdown"},
      {SIGHUP, "the console closing"},
      {SIGQUIT, "Ctrl+Break"},
  };
  for (const auto& [signal, reason] : cases) {
    RunningBridge bridge({"headless"}, {{"TOLVARO_DCS_PAGE_PORT", std::to_string(bridge::testing::free_tcp_port())},
                                        {"TOLVARO_DCS_LISTEN_PORT", std::to_string(bridge::testing::free_udp_port())},
                                        {"TOLVARO_DCS_COLLECTOR_PORT", std::to_string(bridge::testing::free_udp_port())}});
    ASSERT_TRUE(bridge.wait_for_err("Ctrl+C stops it.\n", std::chrono::seconds(30))) << bridge.err();
    ::kill(static_cast<pid_t>(bridge.process_id()), signal);
    ProgramResult r = bridge.finish(std::chrono::seconds(30));
    EXPECT_EQ(r.exit_code, 0) << reason;
    const std::vector<std::string> lines = log_lines(r.err);
    ASSERT_EQ(lines.size(), 6u) << r.err;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              (std::vector<std::string>{"info stopping on " + reason, "info stopping", "info stopped"}));
  }
}

}  // namespace
