#include "dcs/bridge/src/autostart.hpp"

#include "core/base/src/unicode.hpp"

namespace bridge {
namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view Autostart::run_key_path() { return "Software\\Microsoft\\Windows\\CurrentVersion\\Run"; }

Autostart Autostart::for_program(std::string_view path) {
  return Autostart(std::string(run_key_path()), std::string(kAutostartValueName), autostart_command(path));
}

std::string autostart_command(std::string_view path) {
  std::string command = "\"";
  command += path;
  command += "\" --autostart";
  return command;
}

bool command_matches(std::string_view stored, std::string_view command) {
  if (stored.size() != command.size()) return false;
  for (std::size_t i = 0; i < stored.size(); ++i)
    if (ascii_lower(stored[i]) != ascii_lower(command[i])) return false;
  return true;
}

std::optional<std::string> registry_text(std::uint32_t type, std::span<const std::byte> data) {
  if (type != kRegSz && type != kRegExpandSz && type != kRegMultiSz) return std::nullopt;
  // Two bytes per unit; a stray last byte belongs to no unit.
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(std::to_integer<unsigned>(data[2 * i]) |
                                     (std::to_integer<unsigned>(data[2 * i + 1]) << 8));
  while (!units.empty() && units.back() == u'\0') units.pop_back();
  return base::unicode::utf16_to_utf8(units);
}

}  // namespace bridge
