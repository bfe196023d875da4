#include "core/ui/src/tray_plan.hpp"

#include <algorithm>

#include "core/ui/src/wide.hpp"

namespace tray::plan {

std::uint32_t next_retry_delay(std::uint32_t previous_ms) {
  const std::uint64_t doubled = std::uint64_t{previous_ms} * 2;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(doubled, kFirstRetryMs, kLongestRetryMs));
}

std::uint32_t icon_edge(int small_icon_width) {
  return static_cast<std::uint32_t>(std::clamp(small_icon_width, 16, 256));
}

std::vector<MenuEntry> plan_menu(const std::vector<MenuItem>& items) {
  std::vector<MenuEntry> entries;
  for (const MenuItem& item : items) {
    if (std::holds_alternative<Separator>(item)) {
      entries.push_back({kMfSeparator, 0, {}, false});
      continue;
    }
    const Item& i = std::get<Item>(item);
    std::uint32_t flags = 0;
    if (i.checked) flags |= kMfChecked;
    if (!i.enabled) flags |= kMfGrayed;
    entries.push_back({flags, std::uint32_t{i.id.value} + 1, i.label, i.is_default});
  }
  return entries;
}

std::optional<MenuItemId> picked_item(std::uint32_t command) {
  if (command == 0 || command > 65535) return std::nullopt;
  return MenuItemId{static_cast<std::uint16_t>(command - 1)};
}

IconFields plan_icon(const TrayContent& content) {
  IconFields fields;
  fields.attention = content.attention;
  wide::fill_wide(fields.tip, content.tooltip);
  return fields;
}

BalloonFields plan_balloon(const Notification& notification) {
  BalloonFields fields;
  if (notification.quiet) {
    fields.flags = kNifInfo | kNifRealtime;
    fields.info_flags = kNiifNoSound;
    fields.hide_later = true;
  }
  wide::fill_wide(fields.title, notification.title);
  wide::fill_wide(fields.text, notification.text);
  return fields;
}

IconCallback decode_icon_callback(std::uintptr_t wparam, std::intptr_t lparam) {
  constexpr std::uint32_t kContextMenu = 0x007B;  // WM_CONTEXTMENU
  constexpr std::uint32_t kSelect = 0x0400;       // NIN_SELECT
  constexpr std::uint32_t kKeySelect = 0x0401;    // NIN_KEYSELECT
  constexpr std::uint32_t kBalloonClick = 0x0405; // NIN_BALLOONUSERCLICK
  const std::uint32_t event = static_cast<std::uint32_t>(lparam) & 0xFFFF;
  if (event == kContextMenu || event == kSelect || event == kKeySelect) {
    // The anchor's coordinates are signed 16-bit words: a second monitor left of the first is negative.
    const auto x = static_cast<std::int16_t>(wparam & 0xFFFF);
    const auto y = static_cast<std::int16_t>((wparam >> 16) & 0xFFFF);
    return {IconCallback::Kind::OpenMenu, x, y};
  }
  if (event == kBalloonClick) return {IconCallback::Kind::BalloonClicked, 0, 0};
  return {};
}

bool is_registered_message(std::uint32_t registered, std::uint32_t message) {
  return registered != 0 && message == registered;
}

}  // namespace tray::plan
