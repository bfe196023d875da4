#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "dcs/bridge/src/environment.hpp"

namespace bridge {

inline constexpr std::string_view kBridgeVersion = "0.5.0";

inline constexpr std::string_view kPagePortVariable = "TOLVARO_DCS_PAGE_PORT";
inline constexpr std::string_view kListenPortVariable = "TOLVARO_DCS_LISTEN_PORT";
inline constexpr std::string_view kCollectorPortVariable = "TOLVARO_DCS_COLLECTOR_PORT";
inline constexpr std::string_view kAllowedOriginsVariable = "BRIDGE_ALLOWED_ORIGINS";

inline constexpr std::uint16_t kDefaultPagePort = 2992;
inline constexpr std::uint16_t kDefaultListenPort = 9790;
inline constexpr std::uint16_t kDefaultCollectorPort = 9791;

// The Origins that pages may come from unless the Origins variable names others, in this order:
// the web app's local development server over plain HTTP, then its five public sites over HTTPS.
inline constexpr std::array<std::string_view, 6> kBuiltInOrigins = {
    "http://localhost:5173",
    "https://tolvaro.app",
    "https://www.tolvaro.app",
    "https://app.tolvaro.app",
    "https://beta.tolvaro.app",
    "https://preview.tolvaro.app",
};

// The first HTTPS entry of `origins`, in their order; empty when there is none.
constexpr std::string_view first_https_origin(std::span<const std::string_view> origins) {
  for (std::string_view origin : origins)
    if (origin.starts_with("https://")) return origin;
  return {};
}

// The web app's page for flying, which the tray's "Open Tolvaro" opens: the first public HTTPS
// Origin of the built-in list, then "/fly".
inline constexpr std::string_view kWebAppAddress = "https://tolvaro.app/fly";
static_assert(kWebAppAddress.starts_with(first_https_origin(kBuiltInOrigins)) &&
                  kWebAppAddress.substr(first_https_origin(kBuiltInOrigins).size()) == "/fly",
              "the web app's address is the first HTTPS Origin of the built-in list followed by /fly");

// A port variable whose value is not a port.
struct ConfigError {
  std::string_view name;  // the variable's name, a constant
  std::string value;      // its value as read
  // "NAME="value" is not a port from 1 to 65535", the value quoted.
  std::string text() const;
  bool operator==(const ConfigError&) const = default;
};

// Everything about the bridge that can be configured, from environment variables.
struct BridgeConfig {
  std::string version;
  std::uint16_t page_port = kDefaultPagePort;        // TCP, pages, on 127.0.0.1
  std::uint16_t listen_port = kDefaultListenPort;    // UDP, the collector's replies arrive here
  std::uint16_t collector_port = kDefaultCollectorPort;  // UDP, request lines go there
  std::set<std::string> allowed_origins;             // exact Origin values; never empty

  // Reads the process's environment.
  static std::expected<BridgeConfig, ConfigError> from_env();
  // Reads `env`; the first bad port variable (page, listen, collector) is the one reported.
  static std::expected<BridgeConfig, ConfigError> from_env(const Environment& env);

  // `text` absent stands for a variable that is unset or not Unicode: the default, no error.
  // Otherwise one or more ASCII digits making 1 to 65535, leading zeros allowed.
  static std::expected<std::uint16_t, ConfigError> parse_port(std::string_view name,
                                                              std::optional<std::string_view> text,
                                                              std::uint16_t fallback);

  // The comma-separated list of the Origins variable, each entry trimmed of Unicode white space,
  // empty entries skipped; the built-in set when nothing is left.
  static std::set<std::string> parse_allowed_origins(std::string_view list);

  // The entries of kBuiltInOrigins.
  static std::set<std::string> default_allowed_origins();

  bool operator==(const BridgeConfig&) const = default;
};

}  // namespace bridge
