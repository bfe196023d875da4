#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace install {

// How well the collector and its add-ons are set up, for one folder or the whole PC. The position
// is the value's number (the `check` exit code is 10 plus it); the wire word is the name.
enum class InstallStatus : std::uint8_t {
  simulatorNotFound = 0,
  notInstalled = 1,
  outdated = 2,
  modified = 3,
  installFailed = 4,
  wrongFolderSuspected = 5,
  installed = 6,
};

inline constexpr std::array<std::string_view, 7> kInstallStatusWords = {
    "simulatorNotFound", "notInstalled", "outdated", "modified",
    "installFailed",     "wrongFolderSuspected", "installed",
};

constexpr std::string_view wire_word(InstallStatus status) {
  return kInstallStatusWords[static_cast<std::size_t>(status)];
}

constexpr std::optional<InstallStatus> install_status_from_word(std::string_view word) {
  for (std::size_t i = 0; i < kInstallStatusWords.size(); ++i)
    if (kInstallStatusWords[i] == word) return static_cast<InstallStatus>(i);
  return std::nullopt;
}

}  // namespace install
