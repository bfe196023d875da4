#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/base/src/os_error.hpp"

namespace bridge {

// Whether the tray app starts at sign-in, as the tray menu and the command line see it.
class AutostartSetting {
 public:
  virtual ~AutostartSetting() = default;
  virtual bool is_enabled() const = 0;
  virtual std::expected<void, base::OsError> set(bool on) = 0;
};

inline constexpr std::string_view kAutostartValueName = "Tolvaro DCS Bridge";

// This program's value under the current user's Run key. The registry value is the setting; nothing
// else is stored.
class Autostart final : public AutostartSetting {
 public:
  Autostart(std::string run_key, std::string value_name, std::string command)
      : run_key_(std::move(run_key)), value_name_(std::move(value_name)), command_(std::move(command)) {}

  // The entry for the running program, from its own file path.
  static std::expected<Autostart, base::OsError> for_this_program();
  // The entry for the program at `path`, under the usual key and name.
  static Autostart for_program(std::string_view path);
  // The key under HKEY_CURRENT_USER: "Software\Microsoft\Windows\CurrentVersion\Run".
  static std::string_view run_key_path();

  const std::string& run_key() const { return run_key_; }
  const std::string& value_name() const { return value_name_; }
  const std::string& command() const { return command_; }

  // True when the value holds this program's command; every failure reads as off.
  bool is_enabled() const override;
  // On writes the command as REG_SZ (creating the key when missing); off deletes the value, and a
  // missing value or key is already off.
  std::expected<void, base::OsError> set(bool on) override;

 private:
  std::string run_key_;
  std::string value_name_;
  std::string command_;
};

// The Run value's command for the program at `path`: the path in double quotes, a blank and
// --autostart.
std::string autostart_command(std::string_view path);

// A stored command starts this program when it has the command's length and equals it with ASCII
// letters compared without regard to case (Windows paths are not case-sensitive).
bool command_matches(std::string_view stored, std::string_view command);

// Registry value types that hold text.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegMultiSz = 7;

// The text of registry data: string types only, UTF-16 little-endian with invalid units replaced
// by U+FFFD and trailing zeros removed; references to environment variables stay as written.
std::optional<std::string> registry_text(std::uint32_t type, std::span<const std::byte> data);

}  // namespace bridge
