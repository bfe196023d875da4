#include "dcs/bridge/src/config.hpp"

#include "core/base/src/unicode.hpp"
#include "dcs/bridge/src/quote.hpp"

namespace bridge {
namespace {

std::optional<std::string> read_text(const Environment& env, std::string_view name) {
  std::optional<OsString> raw = env.get(name);
  if (!raw) return std::nullopt;
  return to_text_if_unicode(*raw);
}

std::expected<std::uint16_t, ConfigError> read_port(const Environment& env, std::string_view name,
                                                    std::uint16_t fallback) {
  std::optional<std::string> text = read_text(env, name);
  return BridgeConfig::parse_port(name, text ? std::optional<std::string_view>(*text) : std::nullopt,
                                  fallback);
}

}  // namespace

std::string ConfigError::text() const {
  return std::string(name) + "=" + quoted(value) + " is not a port from 1 to 65535";
}

std::expected<std::uint16_t, ConfigError> BridgeConfig::parse_port(std::string_view name,
                                                                   std::optional<std::string_view> text,
                                                                   std::uint16_t fallback) {
  if (!text) return fallback;
  const ConfigError error{name, std::string(*text)};
  if (text->empty()) return std::unexpected(error);
  std::uint32_t number = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return std::unexpected(error);
    number = number * 10 + static_cast<std::uint32_t>(c - '0');
    // Leading zeros keep the number small; anything past the range is refused at once, so a long
    // run of digits cannot overflow.
    if (number > 65535) return std::unexpected(error);
  }
  if (number == 0) return std::unexpected(error);
  return static_cast<std::uint16_t>(number);
}

std::set<std::string> BridgeConfig::parse_allowed_origins(std::string_view list) {
  std::set<std::string> origins;
  for (;;) {
    std::size_t comma = list.find(',');
    std::string_view entry = base::unicode::trim_white_space(list.substr(0, comma));
    if (!entry.empty()) origins.emplace(entry);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  if (origins.empty()) return default_allowed_origins();
  return origins;
}

std::set<std::string> BridgeConfig::default_allowed_origins() {
  return {kBuiltInOrigins.begin(), kBuiltInOrigins.end()};
}

std::expected<BridgeConfig, ConfigError> BridgeConfig::from_env() { return from_env(process_environment()); }

std::expected<BridgeConfig, ConfigError> BridgeConfig::from_env(const Environment& env) {
  BridgeConfig config;
  auto page = read_port(env, kPagePortVariable, kDefaultPagePort);
  if (!page) return std::unexpected(page.error());
  auto listen = read_port(env, kListenPortVariable, kDefaultListenPort);
  if (!listen) return std::unexpected(listen.error());
  auto collector = read_port(env, kCollectorPortVariable, kDefaultCollectorPort);
  if (!collector) return std::unexpected(collector.error());
  config.page_port = *page;
  config.listen_port = *listen;
  config.collector_port = *collector;
  // Unset or not Unicode counts as empty, which gives the built-in set.
  config.allowed_origins = parse_allowed_origins(read_text(env, kAllowedOriginsVariable).value_or(""));
  config.version = std::string(kBridgeVersion);
  return config;
}

}  // namespace bridge
