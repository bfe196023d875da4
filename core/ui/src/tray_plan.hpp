#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ui/src/tray.hpp"

// The tray's decisions before any Windows call: the popup menu, the icon's and the balloon's
// notification fields, the add-icon retry schedule and the icon callback's meaning.
namespace tray::plan {

// NOTIFYICONDATAW flags and values the plans use.
inline constexpr std::uint32_t kNifMessage = 0x01;
inline constexpr std::uint32_t kNifIcon = 0x02;
inline constexpr std::uint32_t kNifTip = 0x04;
inline constexpr std::uint32_t kNifInfo = 0x10;
inline constexpr std::uint32_t kNifRealtime = 0x40;
inline constexpr std::uint32_t kNifShowTip = 0x80;
inline constexpr std::uint32_t kNiifNone = 0x00;
inline constexpr std::uint32_t kNiifNoSound = 0x10;
// Menu item flags.
inline constexpr std::uint32_t kMfGrayed = 0x01;
inline constexpr std::uint32_t kMfChecked = 0x08;
inline constexpr std::uint32_t kMfSeparator = 0x800;
// TrackPopupMenu flags: TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD.
inline constexpr std::uint32_t kTrackFlags = 0x182;

// The icon's window timers.
inline constexpr std::uintptr_t kRetryTimer = 1;
inline constexpr std::uintptr_t kBalloonTimer = 2;
inline constexpr std::uint32_t kFirstRetryMs = 500;
inline constexpr std::uint32_t kLongestRetryMs = 30000;
inline constexpr std::uint32_t kQuietBalloonMs = 4000;

// The next add-icon try after one `previous_ms` after the last: twice as long, at least 500 ms, at
// most 30000 ms.
std::uint32_t next_retry_delay(std::uint32_t previous_ms);

// The icon edge for the system's small-icon width: within 16 to 256.
std::uint32_t icon_edge(int small_icon_width);

// One AppendMenuW call, and for a default item the SetMenuDefaultItem (by command) right after it.
struct MenuEntry {
  std::uint32_t flags = 0;    // kMfSeparator, or kMfChecked / kMfGrayed of a string item
  std::uint32_t command = 0;  // item id + 1; 0 for a separator
  std::string label;
  bool is_default = false;    // made the default once appended; of two, the later one wins
  bool operator==(const MenuEntry&) const = default;
};
// The popup menu's entries, in menu order.
std::vector<MenuEntry> plan_menu(const std::vector<MenuItem>& items);
// The item a TrackPopupMenu result names: command - 1, or nothing for 0.
std::optional<MenuItemId> picked_item(std::uint32_t command);

// The fields of the icon's NIM_ADD / NIM_MODIFY.
struct IconFields {
  std::uint32_t flags = kNifMessage | kNifIcon | kNifTip | kNifShowTip;  // 0x87
  bool attention = false;                                               // which image
  std::array<char16_t, 128> tip{};
};
IconFields plan_icon(const TrayContent& content);

// The fields of a balloon's NIM_MODIFY.
struct BalloonFields {
  std::uint32_t flags = kNifInfo;
  std::uint32_t info_flags = kNiifNone;
  std::array<char16_t, 64> title{};
  std::array<char16_t, 256> text{};
  bool hide_later = false;  // arm the 4 s timer that takes a quiet balloon down
};
BalloonFields plan_balloon(const Notification& notification);

// What an icon callback (version 4: event in LOWORD(lParam), anchor in wParam) asks for.
struct IconCallback {
  enum class Kind { OpenMenu, BalloonClicked, Ignored };
  Kind kind = Kind::Ignored;
  int x = 0;  // the anchor, signed screen coordinates, for OpenMenu
  int y = 0;
  bool operator==(const IconCallback&) const = default;
};
IconCallback decode_icon_callback(std::uintptr_t wparam, std::intptr_t lparam);

// Whether `message` is the registered message `registered`. A registration that failed gave 0,
// which names no message: it must not match WM_NULL (0) instead.
bool is_registered_message(std::uint32_t registered, std::uint32_t message);

}  // namespace tray::plan
