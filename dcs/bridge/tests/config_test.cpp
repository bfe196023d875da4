#include <gtest/gtest.h>

#include <map>

#include "dcs/bridge/src/config.hpp"

namespace {

using bridge::BridgeConfig;
using bridge::ConfigError;
using bridge::OsString;
using bridge::to_os;

class FakeEnvironment : public bridge::Environment {
 public:
  FakeEnvironment& set(std::string name, OsString value) {
    vars_[std::move(name)] = std::move(value);
    return *this;
  }
  std::optional<OsString> get(std::string_view name) const override {
    auto it = vars_.find(std::string(name));
    if (it == vars_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, OsString> vars_;
};

OsString not_unicode() {
  OsString raw = to_os("80");
  raw.push_back(static_cast<bridge::OsChar>(sizeof(bridge::OsChar) == 2 ? 0xD800 : 0xFE));
  return raw;
}

TEST(ParsePort, DigitsFromOneTo65535) {
  struct Case {
    std::optional<std::string> text;
    std::optional<std::uint16_t> port;  // nothing: the error
  };
  const Case cases[] = {
      {std::nullopt, 4321},  // unset: the default
      {"1", 1},
      {"2992", 2992},
      {"08080", 8080},
      {"65535", 65535},
      {"000000000000000000000000065535", 65535},
      {"0", std::nullopt},
      {"00", std::nullopt},
      {"65536", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"+8080", std::nullopt},
      {"-1", std::nullopt},
      {"", std::nullopt},
      {" 8080", std::nullopt},
      {"8080 ", std::nullopt},
      {"80 80", std::nullopt},
      {"0x50", std::nullopt},
      {"abc", std::nullopt},
      {"\xD9\xA3", std::nullopt},  // an Arabic-Indic digit is not an ASCII digit
  };
  for (const Case& c : cases) {
    auto text = c.text ? std::optional<std::string_view>(*c.text) : std::nullopt;
    auto parsed = BridgeConfig::parse_port("TOLVARO_DCS_PAGE_PORT", text, 4321);
    std::string label = c.text.value_or("(unset)");
    if (c.port) {
      ASSERT_TRUE(parsed.has_value()) << label;
      EXPECT_EQ(*parsed, *c.port) << label;
    } else {
      ASSERT_FALSE(parsed.has_value()) << label;
      EXPECT_EQ(parsed.error(), (ConfigError{"TOLVARO_DCS_PAGE_PORT", *c.text})) << label;
    }
  }
}

TEST(ConfigError, NamesTheVariableAndQuotesItsValue) {
  EXPECT_EQ((ConfigError{"TOLVARO_DCS_PAGE_PORT", "abc"}).text(),
            "TOLVARO_DCS_PAGE_PORT=\"abc\" is not a port from 1 to 65535");
  EXPECT_EQ((ConfigError{"TOLVARO_DCS_LISTEN_PORT", ""}).text(),
            "TOLVARO_DCS_LISTEN_PORT=\"\" is not a port from 1 to 65535");
  EXPECT_EQ((ConfigError{"TOLVARO_DCS_COLLECTOR_PORT", "9\"7\\\n"}).text(),
            "TOLVARO_DCS_COLLECTOR_PORT=\"9\\\"7\\\\\\n\" is not a port from 1 to 65535");
}

TEST(AllowedOrigins, SplitTrimmedAndNeverEmpty) {
  using Set = std::set<std::string>;
  const Set builtin = BridgeConfig::default_allowed_origins();
  struct Case {
    std::string list;
    Set expected;
  };
  const Case cases[] = {
      {"", builtin},
      {",", builtin},
      {" , \t,\r\n ,", builtin},
      {"\xC2\xA0,\xE3\x80\x80", builtin},
      {"https://a.example", {"https://a.example"}},
      {"https://a.example, http://b.example:8080,https://a.example", {"https://a.example", "http://b.example:8080"}},
      {"\xE2\x80\x83https://a.example\xC2\xA0", {"https://a.example"}},
      // No other rule: anything that is not blank is kept as written, letter case included.
      {"null,HTTPS://A.EXAMPLE,not an origin", {"null", "HTTPS://A.EXAMPLE", "not an origin"}},
      // White space inside an entry stays.
      {"a b", {"a b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(BridgeConfig::parse_allowed_origins(c.list), c.expected) << c.list;
}

TEST(AllowedOrigins, BuiltInSetHasOneLocalHttpAndFiveHttpsOrigins) {
  const std::set<std::string> builtin = BridgeConfig::default_allowed_origins();
  ASSERT_EQ(builtin.size(), 6u);
  int http = 0, https = 0;
  for (const std::string& origin : builtin) {
    // An Origin header value has no path and no final slash.
    EXPECT_EQ(origin.find('/', origin.find("//") + 2), std::string::npos) << origin;
    if (origin.starts_with("https://")) ++https;
    if (origin.starts_with("http://localhost:") || origin.starts_with("http://127.0.0.1:")) ++http;
  }
  EXPECT_EQ(http, 1);
  EXPECT_EQ(https, 5);
}

TEST(AllowedOrigins, TheWebAppIsOnTheFirstHttpsOriginOfTheBuiltInList) {
  // The list starts with the development server, which is no place to send a user.
  EXPECT_TRUE(bridge::kBuiltInOrigins[0].starts_with("http://")) << bridge::kBuiltInOrigins[0];
  EXPECT_EQ(bridge::kWebAppAddress, std::string(bridge::kBuiltInOrigins[1]) + "/fly");
  EXPECT_EQ(bridge::kWebAppAddress, "https://tolvaro.app/fly");
  EXPECT_TRUE(BridgeConfig::default_allowed_origins().contains(std::string(bridge::first_https_origin(bridge::kBuiltInOrigins))))
      << "pages of the web app's own site are accepted";
}

TEST(FromEnv, DefaultsWhenNothingIsSet) {
  auto config = BridgeConfig::from_env(FakeEnvironment{});
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->version, "0.5.0");
  EXPECT_EQ(config->page_port, 2992);
  EXPECT_EQ(config->listen_port, 9790);
  EXPECT_EQ(config->collector_port, 9791);
  EXPECT_EQ(config->allowed_origins, BridgeConfig::default_allowed_origins());
}

TEST(FromEnv, ReadsEveryVariable) {
  FakeEnvironment env;
  env.set("TOLVARO_DCS_PAGE_PORT", to_os("08080"))
      .set("TOLVARO_DCS_LISTEN_PORT", to_os("19790"))
      .set("TOLVARO_DCS_COLLECTOR_PORT", to_os("19791"))
      .set("BRIDGE_ALLOWED_ORIGINS", to_os("https://x.example, https://y.example"));
  auto config = BridgeConfig::from_env(env);
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->page_port, 8080);
  EXPECT_EQ(config->listen_port, 19790);
  EXPECT_EQ(config->collector_port, 19791);
  // A list of its own replaces the built-in set entirely.
  EXPECT_EQ(config->allowed_origins, (std::set<std::string>{"https://x.example", "https://y.example"}));
}

TEST(FromEnv, FirstBadPortInOrderIsReported) {
  struct Case {
    std::string name;
    FakeEnvironment env;
    ConfigError expected;
  };
  Case cases[] = {
      {"page and listen bad",
       FakeEnvironment().set("TOLVARO_DCS_LISTEN_PORT", to_os("0")).set("TOLVARO_DCS_PAGE_PORT", to_os("abc")),
       {"TOLVARO_DCS_PAGE_PORT", "abc"}},
      {"listen and collector bad",
       FakeEnvironment().set("TOLVARO_DCS_COLLECTOR_PORT", to_os("x")).set("TOLVARO_DCS_LISTEN_PORT", to_os("")),
       {"TOLVARO_DCS_LISTEN_PORT", ""}},
      {"collector bad", FakeEnvironment().set("TOLVARO_DCS_COLLECTOR_PORT", to_os("65536")),
       {"TOLVARO_DCS_COLLECTOR_PORT", "65536"}},
  };
  for (const Case& c : cases) {
    auto config = BridgeConfig::from_env(c.env);
    ASSERT_FALSE(config.has_value()) << c.name;
    EXPECT_EQ(config.error(), c.expected) << c.name;
  }
}

TEST(FromEnv, ValuesThatAreNotUnicodeCountAsUnset) {
  FakeEnvironment env;
  env.set("TOLVARO_DCS_PAGE_PORT", not_unicode()).set("BRIDGE_ALLOWED_ORIGINS", not_unicode());
  auto config = BridgeConfig::from_env(env);
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->page_port, 2992);
  EXPECT_EQ(config->allowed_origins, BridgeConfig::default_allowed_origins());
}

}  // namespace
