#pragma once

#include <string_view>

namespace cli {

// The usage text, written for `help` and after a usage error; the final line feed is the one every
// output line gets.
inline constexpr std::string_view kUsageText =
    "Usage:\n"
    "  TolvaroDcsBridge.exe            run the bridge in the tray, and say so once\n"
    "  TolvaroDcsBridge.exe --autostart\n"
    "                                     run the bridge in the tray quietly, as at sign-in\n"
    "  TolvaroDcsBridge.exe headless   for development, from a console: no tray, until Ctrl+C\n"
    "  TolvaroDcsBridge.exe install [--saved-games <folder>] [--allow-unknown-folder]\n"
    "                                  [--map-marker on|off] [--bandit-tool on|off] [--prompt]\n"
    "  TolvaroDcsBridge.exe check      say how the collector is installed\n"
    "  TolvaroDcsBridge.exe remove     take the collector out of every DCS folder\n"
    "  TolvaroDcsBridge.exe start-with-windows on|off\n"
    "                                     start the tray app at sign-in, or stop doing so\n"
    "  TolvaroDcsBridge.exe quit       ask a running tray app to quit, and wait for it\n"
    "  TolvaroDcsBridge.exe ui-demo tray|question|folder|repair|result|notification|running\n"
    "                                     show one piece of the UI with sample data, for a person\n"
    "\n"
    "--saved-games is the DCS folder under Saved Games, for example\n"
    "C:\\Users\\<you>\\Saved Games\\DCS. Without it, install finds DCS by itself.\n"
    "--allow-unknown-folder accepts a folder DCS has never written to.\n"
    "--prompt asks with the folder window when install cannot tell which folder.\n"
    "The map marker and the bandit tool are on unless turned off.";

}  // namespace cli
