#include "dcs/bridge/tests/tray_program_win32.hpp"

#include "core/base/src/win32.hpp"

#include <algorithm>

#include "core/ui/src/ui_thread.hpp"
#include "dcs/bridge/tests/ports.hpp"

namespace bridge::testing {

namespace {

constexpr std::string_view kProduct = "Tolvaro DCS Bridge";
// What the shell sends the icon's window for a click on its balloon (version 4: the event in the
// low word of lParam).
constexpr LPARAM kBalloonUserClick = 0x0405;

ui_testing::WindowQuery of_process(std::uint32_t process, std::string class_name) {
  ui_testing::WindowQuery query;
  query.class_name = std::move(class_name);
  query.process_id = process;
  return query;
}

// The last of what `shown()` lists that matches, once one does.
template <class Shown, class Match>
auto once_shown(Shown shown, Match match) {
  std::optional<typename decltype(shown())::value_type> found;
  ui_testing::wait_until([&] {
    for (const auto& item : shown())
      if (match(item)) found = item;
    return found.has_value();
  });
  return found;
}

}  // namespace

std::string tray_tooltip(std::string_view title) { return std::string(kProduct) + ": " + std::string(title); }

TrayPorts TrayPorts::free() { return {free_tcp_port(), free_udp_port(), free_udp_port()}; }

std::vector<EnvVar> TrayPorts::env() const {
  return {{"TOLVARO_DCS_PAGE_PORT", to_os(std::to_string(page))},
          {"TOLVARO_DCS_LISTEN_PORT", to_os(std::to_string(listen))},
          {"TOLVARO_DCS_COLLECTOR_PORT", to_os(std::to_string(collector))}};
}

TrayProgram::TrayProgram(TrayPorts ports, std::vector<OsString> args, std::vector<EnvVar> env)
    : ports_(ports), process_(args, [&] {
        std::vector<EnvVar> all = ports.env();
        all.insert(all.end(), env.begin(), env.end());
        return all;
      }(), RunningBridge::Output::pipe) {}

ui_testing::Window TrayProgram::window() const {
  ui_testing::WindowQuery query = of_process(process_id(), "TolvaroDcsBridge." + std::to_string(ports_.page));
  query.visible_only = false;
  return ui_testing::wait_for_window(query);
}

std::optional<ui_testing::TrayIcon> TrayProgram::icon(std::string_view tooltip) const {
  return once_shown(ui_testing::tray_icons, [&](const ui_testing::TrayIcon& icon) { return icon.tooltip == tooltip; });
}

bool TrayProgram::icon_gone() const {
  return ui_testing::wait_until([] {
    return std::ranges::none_of(ui_testing::tray_icons(),
                                [](const ui_testing::TrayIcon& icon) { return icon.tooltip.starts_with(kProduct); });
  });
}

std::optional<ui_testing::Balloon> TrayProgram::balloon(std::string_view text) const {
  return once_shown(ui_testing::balloons, [&](const ui_testing::Balloon& balloon) { return balloon.text == text; });
}

bool TrayProgram::click_balloon() const {
  const ui_testing::Window tray = window();
  return tray != 0 && PostMessageW(reinterpret_cast<HWND>(tray), ui_thread::WM_TRAY_ICON, 0, kBalloonUserClick) != 0;
}

std::vector<std::string> TrayProgram::Menu::labels() const {
  std::vector<std::string> out;
  for (const ui_testing::MenuEntry& e : entries) out.push_back(e.separator ? "-" : e.text);
  return out;
}

const ui_testing::MenuEntry* TrayProgram::Menu::item(std::string_view label) const {
  for (const ui_testing::MenuEntry& e : entries)
    if (!e.separator && e.text == label) return &e;
  return nullptr;
}

std::optional<TrayProgram::Menu> TrayProgram::open_menu(const ui_testing::TrayIcon& icon) const {
  if (!ui_testing::click(icon.rect, ui_testing::MouseButton::right)) return std::nullopt;
  Menu menu;
  menu.window = ui_testing::wait_for_window(of_process(process_id(), "#32768"));
  if (menu.window == 0) return std::nullopt;
  std::optional<std::vector<ui_testing::MenuEntry>> entries;
  // The menu window shows before its items are laid out.
  ui_testing::wait_until([&] {
    entries = ui_testing::read_menu(menu.window);
    return entries && !entries->empty() && entries->back().rect.height() > 0;
  });
  if (!entries) return std::nullopt;
  menu.entries = std::move(*entries);
  return menu;
}

bool TrayProgram::pick(const Menu& menu, std::string_view label) {
  const ui_testing::MenuEntry* entry = menu.item(label);
  return entry != nullptr && ui_testing::click(entry->rect);
}

ui_testing::Window TrayProgram::dialog(std::string_view heading) const {
  ui_testing::Window found = 0;
  ui_testing::wait_until([&] {
    for (ui_testing::Window d : dialogs())
      if (ui_testing::window_text(d) == kProduct && ui_testing::read_dialog(d).says(heading)) found = d;
    return found != 0;
  });
  return found;
}

std::vector<ui_testing::Window> TrayProgram::dialogs() const {
  return ui_testing::find_windows(of_process(process_id(), "#32770"));
}

ui_testing::Window TrayProgram::folder_window() const {
  ui_testing::WindowQuery query = of_process(process_id(), "#32770");
  query.title = "Pick the DCS folder under Saved Games";
  return ui_testing::wait_for_window(query);
}

}  // namespace bridge::testing
