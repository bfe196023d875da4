#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui/src/dialogs.hpp"
#include "core/ui/src/tray.hpp"
#include "dcs/bridge/src/command.hpp"
#include "dcs/install/src/machine.hpp"
#include "dcs/protocol/src/install_status.hpp"

// `ui-demo`: one piece of the user interface with sample data, for a person to look at. The real
// toolkit and the real wording; what the person answers is printed, and nothing is written.
namespace demo {

// Shows one piece; returns the exit code (1 when a demo tray's window could not run).
int ui_demo(cli::DemoKind kind);

// Writes one output line.
using PrintLine = std::function<void(std::string_view line)>;

// The dialog pieces over a dialog service. The question and folder pieces return the one line they
// print after their only dialog.
std::vector<std::string> question_piece(dialogs::Dialogs& dialogs, machine::FileTime now);
std::vector<std::string> folder_piece(dialogs::Dialogs& dialogs);
// Prints the repair question's answer as soon as it is given, before the add-on questions are
// asked, and the rest after them.
void repair_piece(dialogs::Dialogs& dialogs, const PrintLine& print);
void result_piece(dialogs::Dialogs& dialogs);

// What the demo tray shows.
struct DemoTray {
  install::InstallStatus status = install::InstallStatus::installed;
  bool announce = false;  // the "is running" notice
};
// The demo tray's settings for a tray piece; none for a dialog piece.
std::optional<DemoTray> demo_tray(cli::DemoKind kind);

// Nothing else sends the demo tray messages.
struct DemoMessage {};

// The demo tray's handler: the status row at Started with one balloon, Quit from the menu, and
// every other event printed. Returns the line it prints, if any.
std::optional<std::string> handle_tray_event(const DemoTray& settings, tray::TrayUi& ui,
                                             const tray::TrayEvent<DemoMessage>& event);

// The window class of every demo tray: it runs beside a real tray instance.
inline constexpr std::string_view kDemoWindowClass = "TolvaroDcsBridge.demo";

}  // namespace demo
