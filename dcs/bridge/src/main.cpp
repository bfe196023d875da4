#include "dcs/bridge/src/main.hpp"

#include <string>

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/command.hpp"
#include "dcs/bridge/src/console.hpp"
#include "dcs/bridge/src/demo.hpp"
#include "dcs/bridge/src/output.hpp"
#include "dcs/bridge/src/run.hpp"
#include "dcs/bridge/src/tray_app.hpp"
#include "dcs/bridge/src/usage.hpp"
#include "dcs/bridge/src/verbs.hpp"

namespace cli {
namespace {

// Builds, once, the operating-system services (file system, registry, known folders, process list)
// that the install verbs and both modes run on. Nothing needs them yet.
void build_machine() {}

int dispatch(const Command& command) {
  struct Dispatch {
    int operator()(const command::Run&) const { return tray_app::run(true); }
    int operator()(const command::RunAutostart&) const { return tray_app::run(false); }
    int operator()(const command::Headless&) const { return run::run_headless(); }
    int operator()(const command::UiDemo& c) const { return demo::ui_demo(c.kind); }
    int operator()(const command::Help&) const {
      bridge::print_line(kUsageText);
      return 0;
    }
    int operator()(const command::Install& c) const { return install_verb(c.args); }
    int operator()(const command::Check&) const { return check_verb(); }
    int operator()(const command::Remove&) const { return remove_verb(); }
    int operator()(const command::StartWithWindows& c) const { return start_with_windows_verb(c.on); }
    int operator()(const command::Quit&) const { return quit_verb(); }
  };
  return std::visit(Dispatch{}, command);
}

}  // namespace

int main(std::span<const bridge::OsString> args, const bridge::Environment& env) {
  // Started at sign-in there is no console to attach to; decided on the raw argument, before
  // parsing, so that a bad command line after --autostart does not attach either.
  if (args.empty() || args[0] != bridge::to_os("--autostart")) attach_parent_console();

  std::expected<Command, UsageError> command = parse_command_line(args);
  if (!command) {
    base::log(base::Level::error, usage_error_text(command.error()));
    bridge::print_line(kUsageText);
    return 2;
  }
  // A build with a test hook would point the install code at this folder; this one would use the
  // real DCS folders instead, so it refuses rather than surprise whoever set it.
  if (env.get(kTestRootVariable)) {
    base::log(base::Level::error,
              std::string(kTestRootVariable) + " is set, but this build has no test hook. Unset it.");
    return 2;
  }
  build_machine();
  return dispatch(*command);
}

}  // namespace cli
