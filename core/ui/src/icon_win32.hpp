#pragma once

#include <cstdint>
#include <expected>

#include "core/base/src/os_error.hpp"
#include "core/base/src/win32.hpp"

namespace icon {

// The tray icon at `edge` (16 to 256) from the built-in icon file, with the attention badge when
// `badge` is set: an icon handle the caller owns, or the error of CreateIconFromResourceEx (its last
// error as an HRESULT).
std::expected<win32::IconHandle, base::OsError> draw_tray_icon(std::uint32_t edge, bool badge);

}  // namespace icon
