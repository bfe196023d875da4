#include "core/ui/src/tray.hpp"

namespace tray {

std::string to_string(MenuItemId id) { return "MenuItemId(" + std::to_string(id.value) + ")"; }

std::string to_string(const WindowEvent& event) {
  struct Names {
    std::string operator()(Started) const { return "Started"; }
    std::string operator()(TrayReady) const { return "TrayReady"; }
    std::string operator()(MenuOpening) const { return "MenuOpening"; }
    std::string operator()(DialogBehind) const { return "DialogBehind"; }
    std::string operator()(MenuItemClicked e) const { return "MenuItemClicked(" + to_string(e.id) + ")"; }
    std::string operator()(NotificationClicked) const { return "NotificationClicked"; }
    std::string operator()(AnotherInstanceStarted) const { return "AnotherInstanceStarted"; }
    std::string operator()(SessionEnding) const { return "SessionEnding"; }
  };
  return std::visit(Names{}, event);
}

std::string UiError::text() const {
  switch (kind) {
    case Kind::RegisterWindow:
      return "cannot register the window: " + error.text;
    case Kind::CreateWindow:
      return "cannot create the window: " + error.text;
    case Kind::CallbackPanicked:
      break;
  }
  return "a UI callback panicked";
}

}  // namespace tray
