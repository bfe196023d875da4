#include <cerrno>
#include <filesystem>
#include <system_error>

#include "dcs/bridge/src/autostart.hpp"
#include "dcs/bridge/src/os_string.hpp"

namespace bridge {
namespace {

// Start with Windows lives in the Windows registry, which this build does not have.
const base::OsError kNoRegistry{0, "this build has no Windows registry"};

}  // namespace

std::expected<Autostart, base::OsError> Autostart::for_this_program() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::unexpected(base::os_error(static_cast<std::uint32_t>(error.value())));
  return for_program(to_text(path.native()));
}

bool Autostart::is_enabled() const { return false; }

std::expected<void, base::OsError> Autostart::set(bool) { return std::unexpected(kNoRegistry); }

}  // namespace bridge
