#include "dcs/bridge/src/command.hpp"

#include <array>

#include "dcs/bridge/src/quote.hpp"

namespace cli {
namespace {

using bridge::OsString;

constexpr std::array<std::string_view, 7> kDemoWords = {
    "tray", "question", "folder", "repair", "result", "notification", "running",
};

// An install option while parsing: not given yet, or given with its value.
template <typename T>
using Given = std::optional<T>;

// Reads the arguments one at a time; `text` is each argument turned into text once, as needed.
class Arguments {
 public:
  explicit Arguments(std::span<const OsString> args) : args_(args) {}
  bool done() const { return at_ >= args_.size(); }
  const OsString& raw() const { return args_[at_]; }
  std::string text() const { return bridge::to_text(args_[at_]); }
  void next() { ++at_; }

 private:
  std::span<const OsString> args_;
  std::size_t at_ = 0;
};

std::expected<Command, UsageError> parse_install(Arguments& in) {
  Given<bool> prompt, allow_unknown_folder;
  Given<OsString> saved_games;
  Given<AddOnAction> map_marker, bandit_tool;

  for (; !in.done(); in.next()) {
    const std::string arg = in.text();
    if (arg == "--prompt" || arg == "--allow-unknown-folder") {
      Given<bool>& flag = arg == "--prompt" ? prompt : allow_unknown_folder;
      if (flag) return std::unexpected(usage_error::GivenTwice{arg});
      flag = true;
    } else if (arg == "--saved-games") {
      in.next();
      if (in.done()) return std::unexpected(usage_error::NeedsValue{arg});
      if (saved_games) return std::unexpected(usage_error::GivenTwice{arg});
      saved_games = in.raw();
    } else if (arg == "--map-marker" || arg == "--bandit-tool") {
      Given<AddOnAction>& option = arg == "--map-marker" ? map_marker : bandit_tool;
      in.next();
      if (in.done()) return std::unexpected(usage_error::NeedsValue{arg});
      // A bad value is reported before a repeat.
      std::expected<AddOnAction, UsageError> action = parse_on_off(arg, in.text());
      if (!action) return std::unexpected(action.error());
      if (option) return std::unexpected(usage_error::GivenTwice{arg});
      option = *action;
    } else {
      return std::unexpected(usage_error::UnknownInstallOption{arg});
    }
  }
  InstallArgs args;
  args.saved_games = std::move(saved_games);
  args.allow_unknown_folder = allow_unknown_folder.value_or(false);
  args.map_marker = map_marker.value_or(AddOnAction::Install);
  args.bandit_tool = bandit_tool.value_or(AddOnAction::Install);
  args.prompt = prompt.value_or(false);
  return command::Install{std::move(args)};
}

// The verb's value: the next argument as text, or the empty text when there is none.
std::string take_value(Arguments& in) {
  if (in.done()) return {};
  std::string value = in.text();
  in.next();
  return value;
}

std::expected<Command, UsageError> parse_verb(Arguments& in) {
  const std::string verb = in.text();
  in.next();
  if (verb == "-h" || verb == "/?" || verb == "help" || verb == "--help") return command::Help{};
  if (verb == "quit") return command::Quit{};
  if (verb == "check") return command::Check{};
  if (verb == "remove") return command::Remove{};
  if (verb == "headless") return command::Headless{};
  if (verb == "--autostart") return command::RunAutostart{};
  if (verb == "install") return parse_install(in);
  if (verb == "start-with-windows") {
    std::string value = take_value(in);
    if (value == "on") return command::StartWithWindows{true};
    if (value == "off") return command::StartWithWindows{false};
    return std::unexpected(usage_error::VerbNotOnOff{verb, std::move(value)});
  }
  if (verb == "ui-demo") {
    std::string value = take_value(in);
    for (std::size_t i = 0; i < kDemoWords.size(); ++i)
      if (value == kDemoWords[i]) return command::UiDemo{static_cast<DemoKind>(i)};
    return std::unexpected(usage_error::CannotShow{std::move(value)});
  }
  // Not valid Unicode lands here too: its text holds U+FFFD, which no verb does.
  return std::unexpected(usage_error::UnknownVerb{verb});
}

}  // namespace

std::expected<AddOnAction, UsageError> parse_on_off(std::string_view option, std::string_view value) {
  if (value == "on") return AddOnAction::Install;
  if (value == "off") return AddOnAction::Remove;
  return std::unexpected(usage_error::NotOnOff{std::string(option), std::string(value)});
}

std::expected<Command, UsageError> parse_command_line(std::span<const OsString> args) {
  if (args.empty()) return command::Run{};
  Arguments in(args);
  std::expected<Command, UsageError> parsed = parse_verb(in);
  // Every verb but install stops after its word and value; one more argument is refused.
  if (parsed && !in.done()) return std::unexpected(usage_error::Unexpected{in.text()});
  return parsed;
}

std::string usage_error_text(const UsageError& error) {
  struct Text {
    std::string operator()(const usage_error::UnknownVerb& e) const { return "unknown verb " + e.verb; }
    std::string operator()(const usage_error::Unexpected& e) const { return "unexpected " + e.argument; }
    std::string operator()(const usage_error::UnknownInstallOption& e) const {
      return "unknown install option " + e.argument;
    }
    std::string operator()(const usage_error::NeedsValue& e) const { return e.option + " needs a value"; }
    std::string operator()(const usage_error::NotOnOff& e) const {
      return e.option + " takes on or off, not " + e.value;
    }
    std::string operator()(const usage_error::GivenTwice& e) const { return e.option + " is given twice"; }
    std::string operator()(const usage_error::CannotShow& e) const {
      return "ui-demo cannot show " + bridge::quoted(e.value);
    }
    std::string operator()(const usage_error::VerbNotOnOff& e) const {
      return e.verb + " takes on or off, not " + bridge::quoted(e.value);
    }
  };
  return std::visit(Text{}, error);
}

}  // namespace cli
