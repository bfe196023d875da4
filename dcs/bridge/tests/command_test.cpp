#include <gtest/gtest.h>

#include <vector>

#include "dcs/bridge/src/command.hpp"

namespace {

using bridge::OsString;
using bridge::to_os;
using cli::AddOnAction;
using cli::Command;
namespace command = cli::command;

std::vector<OsString> argv(std::initializer_list<std::string_view> words) {
  std::vector<OsString> out;
  for (std::string_view w : words) out.push_back(to_os(w));
  return out;
}

// One unit that is not valid Unicode on this platform: a lone surrogate in UTF-16, a stray byte
// in UTF-8.
OsString with_invalid_unit(std::string_view before) {
  OsString raw = to_os(before);
  raw.push_back(static_cast<bridge::OsChar>(sizeof(bridge::OsChar) == 2 ? 0xD800 : 0xFF));
  return raw;
}

cli::InstallArgs install_args(auto&& edit) {
  cli::InstallArgs args;
  edit(args);
  return args;
}

TEST(ParseCommandLine, VerbsGiveTheirCommands) {
  struct Case {
    std::vector<OsString> args;
    Command expected;
  };
  const Case cases[] = {
      {argv({}), command::Run{}},
      {argv({"--autostart"}), command::RunAutostart{}},
      {argv({"headless"}), command::Headless{}},
      {argv({"-h"}), command::Help{}},
      {argv({"/?"}), command::Help{}},
      {argv({"help"}), command::Help{}},
      {argv({"--help"}), command::Help{}},
      {argv({"check"}), command::Check{}},
      {argv({"remove"}), command::Remove{}},
      {argv({"quit"}), command::Quit{}},
      {argv({"start-with-windows", "on"}), command::StartWithWindows{true}},
      {argv({"start-with-windows", "off"}), command::StartWithWindows{false}},
      {argv({"ui-demo", "tray"}), command::UiDemo{cli::DemoKind::tray}},
      {argv({"ui-demo", "question"}), command::UiDemo{cli::DemoKind::question}},
      {argv({"ui-demo", "folder"}), command::UiDemo{cli::DemoKind::folder}},
      {argv({"ui-demo", "repair"}), command::UiDemo{cli::DemoKind::repair}},
      {argv({"ui-demo", "result"}), command::UiDemo{cli::DemoKind::result}},
      {argv({"ui-demo", "notification"}), command::UiDemo{cli::DemoKind::notification}},
      {argv({"ui-demo", "running"}), command::UiDemo{cli::DemoKind::running}},
  };
  for (const Case& c : cases) {
    auto parsed = cli::parse_command_line(c.args);
    ASSERT_TRUE(parsed.has_value()) << (c.args.empty() ? "(none)" : bridge::to_text(c.args[0]));
    EXPECT_EQ(*parsed, c.expected) << (c.args.empty() ? "(none)" : bridge::to_text(c.args[0]));
  }
}

TEST(ParseCommandLine, InstallOptionsInAnyOrderWithDefaults) {
  struct Case {
    std::string name;
    std::vector<OsString> args;
    cli::InstallArgs expected;
  };
  const Case cases[] = {
      {"defaults", argv({"install"}), cli::InstallArgs{}},
      {"every option",
       argv({"install", "--prompt", "--map-marker", "off", "--saved-games", "D:\\DCS", "--bandit-tool", "on",
             "--allow-unknown-folder"}),
       install_args([](cli::InstallArgs& a) {
         a.prompt = true;
         a.map_marker = AddOnAction::Remove;
         a.saved_games = to_os("D:\\DCS");
         a.bandit_tool = AddOnAction::Install;
         a.allow_unknown_folder = true;
       })},
      {"bandit tool off", argv({"install", "--bandit-tool", "off"}),
       install_args([](cli::InstallArgs& a) { a.bandit_tool = AddOnAction::Remove; })},
      // The folder is whatever follows, even a word that looks like an option.
      {"folder named like an option", argv({"install", "--saved-games", "--prompt"}),
       install_args([](cli::InstallArgs& a) { a.saved_games = to_os("--prompt"); })},
      {"empty folder", argv({"install", "--saved-games", ""}),
       install_args([](cli::InstallArgs& a) { a.saved_games = OsString(); })},
  };
  for (const Case& c : cases) {
    auto parsed = cli::parse_command_line(c.args);
    ASSERT_TRUE(parsed.has_value()) << c.name;
    EXPECT_EQ(*parsed, Command(command::Install{c.expected})) << c.name;
  }
}

TEST(ParseCommandLine, SavedGamesKeepsTheRawArgument) {
  const OsString folder = with_invalid_unit("C:\\Saved Games\\DCS");
  const std::vector<OsString> args = {to_os("install"), to_os("--saved-games"), folder};
  auto parsed = cli::parse_command_line(args);
  ASSERT_TRUE(parsed.has_value());
  const auto& install = std::get<command::Install>(*parsed);
  ASSERT_TRUE(install.args.saved_games.has_value());
  EXPECT_EQ(*install.args.saved_games, folder);
}

TEST(ParseCommandLine, ErrorsAndTheirTexts) {
  struct Case {
    std::string name;
    std::vector<OsString> args;
    std::string text;
  };
  const Case cases[] = {
      {"verbs are case-sensitive", argv({"Help"}), "unknown verb Help"},
      {"capital C", argv({"Check"}), "unknown verb Check"},
      {"empty verb", argv({""}), "unknown verb "},
      {"option without verb", argv({"--prompt"}), "unknown verb --prompt"},
      {"verb with surplus", argv({"check", "now"}), "unexpected now"},
      {"help with surplus", argv({"help", "me"}), "unexpected me"},
      {"autostart with surplus", argv({"--autostart", "--autostart"}), "unexpected --autostart"},
      {"only the first surplus", argv({"quit", "a", "b"}), "unexpected a"},
      {"start-with-windows missing value", argv({"start-with-windows"}),
       "start-with-windows takes on or off, not \"\""},
      {"start-with-windows yes", argv({"start-with-windows", "yes"}),
       "start-with-windows takes on or off, not \"yes\""},
      {"start-with-windows ON", argv({"start-with-windows", "ON"}), "start-with-windows takes on or off, not \"ON\""},
      {"start-with-windows quoted value", argv({"start-with-windows", "say \"no\"\t"}),
       "start-with-windows takes on or off, not \"say \\\"no\\\"\\t\""},
      {"start-with-windows value then surplus", argv({"start-with-windows", "on", "off"}), "unexpected off"},
      {"bad value comes before surplus", argv({"start-with-windows", "yes", "x"}),
       "start-with-windows takes on or off, not \"yes\""},
      {"ui-demo missing piece", argv({"ui-demo"}), "ui-demo cannot show \"\""},
      {"ui-demo other case", argv({"ui-demo", "Tray"}), "ui-demo cannot show \"Tray\""},
      {"ui-demo then surplus", argv({"ui-demo", "tray", "more"}), "unexpected more"},
      {"install bare path", argv({"install", "C:\\Games\\DCS"}), "unknown install option C:\\Games\\DCS"},
      {"install option case", argv({"install", "--Prompt"}), "unknown install option --Prompt"},
      {"saved-games last", argv({"install", "--saved-games"}), "--saved-games needs a value"},
      {"map-marker last", argv({"install", "--map-marker"}), "--map-marker needs a value"},
      {"bandit-tool last", argv({"install", "--prompt", "--bandit-tool"}), "--bandit-tool needs a value"},
      {"map-marker bad value is bare", argv({"install", "--map-marker", "maybe"}),
       "--map-marker takes on or off, not maybe"},
      {"bandit-tool empty value", argv({"install", "--bandit-tool", ""}), "--bandit-tool takes on or off, not "},
      {"repeat with bad value reports the value", argv({"install", "--map-marker", "on", "--map-marker", "yes"}),
       "--map-marker takes on or off, not yes"},
      {"map-marker twice", argv({"install", "--map-marker", "on", "--map-marker", "off"}),
       "--map-marker is given twice"},
      {"bandit-tool twice", argv({"install", "--bandit-tool", "off", "--bandit-tool", "off"}),
       "--bandit-tool is given twice"},
      {"prompt twice", argv({"install", "--prompt", "--prompt"}), "--prompt is given twice"},
      {"allow twice", argv({"install", "--allow-unknown-folder", "--allow-unknown-folder"}),
       "--allow-unknown-folder is given twice"},
      {"saved-games twice", argv({"install", "--saved-games", "a", "--saved-games", "b"}),
       "--saved-games is given twice"},
      {"saved-games repeated without value", argv({"install", "--saved-games", "a", "--saved-games"}),
       "--saved-games needs a value"},
      {"first error ends parsing", argv({"install", "--prompt", "--prompt", "--nope"}), "--prompt is given twice"},
  };
  for (const Case& c : cases) {
    auto parsed = cli::parse_command_line(c.args);
    ASSERT_FALSE(parsed.has_value()) << c.name;
    EXPECT_EQ(cli::usage_error_text(parsed.error()), c.text) << c.name;
  }
}

TEST(ParseCommandLine, InvalidUnicodeIsShownWithReplacementCharacters) {
  struct Case {
    std::string name;
    std::vector<OsString> args;
    std::string text;
  };
  const Case cases[] = {
      {"verb", {with_invalid_unit("check")}, "unknown verb check\xEF\xBF\xBD"},
      {"surplus", {to_os("check"), with_invalid_unit("x")}, "unexpected x\xEF\xBF\xBD"},
      {"verb value", {to_os("start-with-windows"), with_invalid_unit("on")},
       "start-with-windows takes on or off, not \"on\xEF\xBF\xBD\""},
      {"install option", {to_os("install"), with_invalid_unit("--prompt")},
       "unknown install option --prompt\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    auto parsed = cli::parse_command_line(c.args);
    ASSERT_FALSE(parsed.has_value()) << c.name;
    EXPECT_EQ(cli::usage_error_text(parsed.error()), c.text) << c.name;
  }
}

TEST(ParseOnOff, OnlyExactOnAndOff) {
  EXPECT_EQ(cli::parse_on_off("--map-marker", "on"), AddOnAction::Install);
  EXPECT_EQ(cli::parse_on_off("--map-marker", "off"), AddOnAction::Remove);
  for (std::string_view bad : {"On", "OFF", " on", "1", "", "true"}) {
    auto parsed = cli::parse_on_off("--bandit-tool", bad);
    ASSERT_FALSE(parsed.has_value()) << bad;
    EXPECT_EQ(parsed.error(), cli::UsageError(cli::usage_error::NotOnOff{"--bandit-tool", std::string(bad)}));
  }
}

}  // namespace
