#include "core/ui/src/icon_win32.hpp"

#include <vector>

#include "core/ui/src/icon.hpp"

namespace icon {

std::expected<win32::IconHandle, base::OsError> draw_tray_icon(std::uint32_t edge, bool badge) {
  std::vector<std::uint8_t> resource = tray_icon_resource(embedded_icon_file(), edge, badge);
  const int side = static_cast<int>(edge);
  HICON handle = CreateIconFromResourceEx(resource.data(), static_cast<DWORD>(resource.size()), TRUE, 0x00030000,
                                          side, side, 0);
  if (handle == nullptr) return std::unexpected(base::hresult_error(GetLastError()));
  return win32::IconHandle(handle);
}

}  // namespace icon
