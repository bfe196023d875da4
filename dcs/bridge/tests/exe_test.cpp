// The built program from the outside: arguments and environment in, exact bytes and exit code out.
#include <gtest/gtest.h>

#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace {

using bridge::OsString;
using bridge::to_os;
using bridge::testing::EnvVar;
using bridge::testing::log_lines;
using bridge::testing::ProgramResult;
using bridge::testing::run_bridge;

// The usage text as users see it, written out here on its own so that a change to the program's
// copy shows up as a failure.
const std::string kUsage =
    "Usage:\n"
    "  TolvaroDcsBridge.exe            run the bridge in the tray, and say so once\n"
    "  TolvaroDcsBridge.exe --autostart\n"
    "                                     run the bridge in the tray quietly, as at sign-in\n"
    "  TolvaroDcsBridge.exe headless   for development, from a console: no tray, until Ctrl+C\n"
    "  TolvaroDcsBridge.exe install [--saved-games <folder>] [--allow-unknown-folder]\n"
    "                                  [--map-marker on|off] [--bandit-tool on|off] [--prompt]\n"
    "  TolvaroDcsBridge.exe check      say how the collector is installed\n"
    "  TolvaroDcsBridge.exe remove     take the collector out of every DCS folder\n"
    "  TolvaroDcsBridge.exe start-with-windows on|off\n"
    "                                     start the tray app at sign-in, or stop doing so\n"
    "  TolvaroDcsBridge.exe quit       ask a running tray app to quit, and wait for it\n"
    "  TolvaroDcsBridge.exe ui-demo tray|question|folder|repair|result|notification|running\n"
    "                                     show one piece of the UI with sample data, for a person\n"
    "\n"
    "--saved-games is the DCS folder under Saved Games, for example\n"
    "C:\\Users\\<you>\\Saved Games\\DCS. Without it, install finds DCS by itself.\n"
    "--allow-unknown-folder accepts a folder DCS has never written to.\n"
    "--prompt asks with the folder window when install cannot tell which folder.\n"
    "The map marker and the bandit tool are on unless turned off.\n";

std::vector<OsString> argv(std::initializer_list<std::string_view> words) {
  std::vector<OsString> out;
  for (std::string_view w : words) out.push_back(to_os(w));
  return out;
}

std::string describe(const std::vector<OsString>& args) {
  std::string out;
  for (const OsString& a : args) out += (out.empty() ? "" : " ") + bridge::to_text(a);
  return out.empty() ? "(no arguments)" : out;
}

TEST(BridgeProgram, HelpWritesTheUsageTextOnly) {
  for (const char* word : {"help", "-h", "/?", "--help"}) {
    ProgramResult r = run_bridge(argv({word}));
    EXPECT_EQ(r.exit_code, 0) << word;
    EXPECT_EQ(r.out, kUsage) << word;
    EXPECT_EQ(r.err, "") << word;
  }
}

TEST(BridgeProgram, UsageErrorsLogOneLineWriteTheUsageAndExit2) {
  struct Case {
    std::vector<OsString> args;
    std::string line;
  };
  OsString bad_unit = to_os("check");
  bad_unit.push_back(static_cast<bridge::OsChar>(sizeof(bridge::OsChar) == 2 ? 0xD800 : 0xFF));
  const Case cases[] = {
      {argv({"Help"}), "error unknown verb Help"},
      {argv({"check", "now"}), "error unexpected now"},
      {argv({"--autostart", "now"}), "error unexpected now"},
      {argv({"start-with-windows"}), "error start-with-windows takes on or off, not \"\""},
      {argv({"start-with-windows", "yes"}), "error start-with-windows takes on or off, not \"yes\""},
      {argv({"ui-demo", "Tray"}), "error ui-demo cannot show \"Tray\""},
      {argv({"install", "--map-marker", "maybe"}), "error --map-marker takes on or off, not maybe"},
      {argv({"install", "C:\\Games\\DCS World"}), "error unknown install option C:\\Games\\DCS World"},
      {argv({"install", "--saved-games"}), "error --saved-games needs a value"},
      {argv({"install", "--prompt", "--prompt"}), "error --prompt is given twice"},
      {argv({"install", "--map-marker", "on", "--map-marker", "x"}), "error --map-marker takes on or off, not x"},
      {{bad_unit}, "error unknown verb check\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    ProgramResult r = run_bridge(c.args);
    EXPECT_EQ(r.exit_code, 2) << describe(c.args);
    EXPECT_EQ(r.out, kUsage) << describe(c.args);
    EXPECT_EQ(log_lines(r.err), std::vector<std::string>{c.line}) << describe(c.args);
  }
}

TEST(BridgeProgram, RefusesToRunWhileTheTestHookVariableIsSet) {
  const std::string refusal = "error TOLVARO_DCS_TEST_ROOT is set, but this build has no test hook. Unset it.";
  for (const char* value : {"", "C:\\fake-root"}) {
    for (auto args : {argv({"help"}), argv({"check"}), argv({"start-with-windows", "on"}), argv({})}) {
      ProgramResult r = run_bridge(args, {{"TOLVARO_DCS_TEST_ROOT", to_os(value)}});
      EXPECT_EQ(r.exit_code, 2) << describe(args) << " with \"" << value << "\"";
      EXPECT_EQ(r.out, "") << describe(args);
      EXPECT_EQ(log_lines(r.err), std::vector<std::string>{refusal}) << describe(args);
    }
  }
  // A usage error is reported first.
  ProgramResult r = run_bridge(argv({"Check"}), {{"TOLVARO_DCS_TEST_ROOT", to_os("x")}});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(log_lines(r.err), std::vector<std::string>{"error unknown verb Check"});
}

TEST(BridgeProgram, QuitWithNoTrayRunningSaysSo) {
  ProgramResult r = run_bridge(argv({"quit"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "Tolvaro DCS Bridge is not running\n");
  EXPECT_EQ(r.err, "");
}

TEST(BridgeProgram, BadPortVariableStopsQuitWithExit2) {
  for (const char* name : {"TOLVARO_DCS_PAGE_PORT", "TOLVARO_DCS_LISTEN_PORT", "TOLVARO_DCS_COLLECTOR_PORT"}) {
    ProgramResult r = run_bridge(argv({"quit"}), {{name, to_os("")}});
    EXPECT_EQ(r.exit_code, 2) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(log_lines(r.err), std::vector<std::string>{"error " + std::string(name) +
                                                         "=\"\" is not a port from 1 to 65535"})
        << name;
  }
}

}  // namespace
