#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "dcs/bridge/src/os_string.hpp"
#include "dcs/install/src/install.hpp"

namespace cli {

// What to do with one optional add-on. The command line gives only Install (on) or Remove (off).
using AddOnAction = install::AddOnAction;

// The UI pieces that `ui-demo` can show, in the order of their words.
enum class DemoKind { tray, question, folder, repair, result, notification, running };

struct InstallArgs {
  // The DCS folder exactly as the system gave the argument; never turned into text.
  std::optional<bridge::OsString> saved_games;
  bool allow_unknown_folder = false;
  AddOnAction map_marker = AddOnAction::Install;
  AddOnAction bandit_tool = AddOnAction::Install;
  bool prompt = false;
  bool operator==(const InstallArgs&) const = default;
};

// The parsed command line: one variant per verb.
namespace command {
struct Run {
  bool operator==(const Run&) const = default;
};
struct RunAutostart {
  bool operator==(const RunAutostart&) const = default;
};
struct Headless {
  bool operator==(const Headless&) const = default;
};
struct UiDemo {
  DemoKind kind;
  bool operator==(const UiDemo&) const = default;
};
struct Help {
  bool operator==(const Help&) const = default;
};
struct Install {
  InstallArgs args;
  bool operator==(const Install&) const = default;
};
struct Check {
  bool operator==(const Check&) const = default;
};
struct Remove {
  bool operator==(const Remove&) const = default;
};
struct StartWithWindows {
  bool on;
  bool operator==(const StartWithWindows&) const = default;
};
struct Quit {
  bool operator==(const Quit&) const = default;
};
}  // namespace command

using Command = std::variant<command::Run, command::RunAutostart, command::Headless, command::UiDemo,
                             command::Help, command::Install, command::Check, command::Remove,
                             command::StartWithWindows, command::Quit>;

// Why a command line was refused. Payloads are the arguments as text (invalid sequences replaced).
namespace usage_error {
struct UnknownVerb {
  std::string verb;
  bool operator==(const UnknownVerb&) const = default;
};
struct Unexpected {
  std::string argument;
  bool operator==(const Unexpected&) const = default;
};
struct UnknownInstallOption {
  std::string argument;
  bool operator==(const UnknownInstallOption&) const = default;
};
struct NeedsValue {
  std::string option;
  bool operator==(const NeedsValue&) const = default;
};
struct NotOnOff {
  std::string option;
  std::string value;
  bool operator==(const NotOnOff&) const = default;
};
struct GivenTwice {
  std::string option;
  bool operator==(const GivenTwice&) const = default;
};
struct CannotShow {
  std::string value;
  bool operator==(const CannotShow&) const = default;
};
struct VerbNotOnOff {
  std::string verb;
  std::string value;
  bool operator==(const VerbNotOnOff&) const = default;
};
}  // namespace usage_error

using UsageError =
    std::variant<usage_error::UnknownVerb, usage_error::Unexpected, usage_error::UnknownInstallOption,
                 usage_error::NeedsValue, usage_error::NotOnOff, usage_error::GivenTwice,
                 usage_error::CannotShow, usage_error::VerbNotOnOff>;

// The line logged for a usage error.
std::string usage_error_text(const UsageError& error);

// Parses the arguments after the program name. The first error ends parsing.
std::expected<Command, UsageError> parse_command_line(std::span<const bridge::OsString> args);

// Install for exactly "on", Remove for exactly "off"; anything else is NotOnOff.
std::expected<AddOnAction, UsageError> parse_on_off(std::string_view option, std::string_view value);

}  // namespace cli
