#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ui/src/tray.hpp"

namespace bridge::testing {

// The tray as the application sees it, recording what it was asked to show.
class FakeTray final : public tray::TrayUi {
 public:
  bool icon_added = true;       // notify only shows once the shell has the icon
  bool raise_succeeds = true;   // bring_top_dialog_to_front
  std::vector<tray::TrayContent> contents;
  std::vector<tray::Notification> balloons;
  std::vector<dialogs::DialogMessage> told;
  int raised = 0;
  int quits = 0;

  dialogs::DialogAnswer ask(const dialogs::Question&) override { return dialogs::DialogAnswer::closed(); }
  std::optional<std::string> pick_folder(const dialogs::FolderRequest&) override { return std::nullopt; }
  void tell(const dialogs::DialogMessage& message) override { told.push_back(message); }
  bool bring_top_dialog_to_front() override {
    ++raised;
    return raise_succeeds;
  }
  void set_content(const tray::TrayContent& content) override { contents.push_back(content); }
  bool notify(const tray::Notification& notification) override {
    if (!icon_added) return false;
    balloons.push_back(notification);
    return true;
  }
  void quit() override { ++quits; }

  const tray::TrayContent& shown() const { return contents.back(); }
  std::string title() const { return std::get<tray::Item>(shown().menu[0]).label; }
  std::vector<std::string> balloon_texts() const {
    std::vector<std::string> out;
    for (const tray::Notification& n : balloons) out.push_back(n.text);
    return out;
  }
};

}  // namespace bridge::testing
