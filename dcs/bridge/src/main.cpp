#include "dcs/bridge/src/main.hpp"

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "core/base/src/clip.hpp"
#include "core/base/src/log.hpp"
#include "dcs/bridge/src/command.hpp"
#include "dcs/bridge/src/console.hpp"
#include "dcs/bridge/src/demo.hpp"
#include "dcs/bridge/src/host_machine.hpp"
#include "dcs/bridge/src/install_prompt.hpp"
#include "dcs/bridge/src/output.hpp"
#include "dcs/bridge/src/run.hpp"
#include "dcs/bridge/src/tray_app.hpp"
#include "dcs/bridge/src/usage.hpp"
#include "dcs/bridge/src/verbs.hpp"

namespace cli {
namespace {

// The verbs that run on the PC's DCS folders, the registry and the process list. Headless mode is
// not among them: it runs on headless_machine(), which every build has.
const char* needs_machine(const Command& command) {
  struct Name {
    const char* operator()(const command::Run&) const { return "tray mode"; }
    const char* operator()(const command::RunAutostart&) const { return "tray mode"; }
    const char* operator()(const command::Headless&) const { return nullptr; }
    const char* operator()(const command::Install&) const { return "install"; }
    const char* operator()(const command::Check&) const { return "check"; }
    const char* operator()(const command::Remove&) const { return "remove"; }
    const char* operator()(const command::UiDemo&) const { return nullptr; }
    const char* operator()(const command::Help&) const { return nullptr; }
    const char* operator()(const command::StartWithWindows&) const { return nullptr; }
    const char* operator()(const command::Quit&) const { return nullptr; }
  };
  return std::visit(Name{}, command);
}

int dispatch(const Command& command, const std::shared_ptr<const machine::Machine>& machine) {
  if (const char* what = needs_machine(command); what && !machine) {
    base::log(base::Level::Error, std::string(what) + " needs the Windows build: this one cannot reach DCS folders");
    return 1;
  }
  struct Dispatch {
    const std::shared_ptr<const machine::Machine>& m;
    int operator()(const command::Run&) const { return tray_app::run(m, true); }
    int operator()(const command::RunAutostart&) const { return tray_app::run(m, false); }
    int operator()(const command::Headless&) const {
      const machine::Machine machine = headless_machine();
      return run::run_headless(machine, headless_machine);
    }
    int operator()(const command::UiDemo& c) const { return demo::ui_demo(c.kind); }
    int operator()(const command::Help&) const {
      bridge::print_line(kUsageText);
      return 0;
    }
    int operator()(const command::Install& c) const {
      return install_verb(*m, c.args, [this] { return make_install_prompt(*m); });
    }
    int operator()(const command::Check&) const { return check_verb(*m); }
    int operator()(const command::Remove&) const { return remove_verb(*m); }
    int operator()(const command::StartWithWindows& c) const { return start_with_windows_verb(c.on); }
    int operator()(const command::Quit&) const { return quit_verb(); }
  };
  return std::visit(Dispatch{machine}, command);
}

int run_main(std::span<const bridge::OsString> args, const bridge::Environment& env) {
  // Started at sign-in there is no console to attach to; decided on the raw argument, before
  // parsing, so that a bad command line after --autostart does not attach either.
  if (args.empty() || args[0] != bridge::to_os("--autostart")) attach_parent_console();

  std::expected<Command, UsageError> command = parse_command_line(args);
  if (!command) {
    base::log(base::Level::Error, usage_error_text(command.error()));
    bridge::print_line(kUsageText);
    return 2;
  }
  // A build with a test hook would point the install code at this folder; this one would use the
  // real DCS folders instead, so it refuses rather than surprise whoever set it.
  if (env.get(kTestRootVariable)) {
    base::log(base::Level::Error,
              std::string(kTestRootVariable) + " is set, but this build has no test hook. Unset it.");
    return 2;
  }
  // Shared: tray mode hands it on to its worker and monitor threads.
  std::shared_ptr<const machine::Machine> machine;
  if (std::optional<machine::Machine> host = host_machine())
    machine = std::make_shared<const machine::Machine>(std::move(*host));
  return dispatch(*command, machine);
}

}  // namespace

int main(std::span<const bridge::OsString> args, const bridge::Environment& env) {
  // Nothing is meant to throw this far; if something does, the program still ends with a line that
  // says so and a failure code.
  try {
    return run_main(args, env);
  } catch (const std::exception& e) {
    base::log(base::Level::Error, "internal error: " + base::clip(e.what()));
  } catch (...) {
    base::log(base::Level::Error, "internal error: no message");
  }
  return 1;
}

}  // namespace cli
