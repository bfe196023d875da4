#include "dcs/bridge/src/tray_app.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/wording.hpp"

namespace tray_app {
namespace {

constexpr std::string_view kContinueRepair = "Click to continue the repair.";

// Sets a flag for as long as it lives.
class Raised {
 public:
  explicit Raised(bool& flag) : flag_(flag) { flag_ = true; }
  ~Raised() { flag_ = false; }
  Raised(const Raised&) = delete;
  Raised& operator=(const Raised&) = delete;

 private:
  bool& flag_;
};

}  // namespace

TrayApp::TrayApp(std::string version, bridge::AutostartSetting& autostart, OpenUrl open_url, RunRepair run_repair,
                 bool announce)
    : version_(std::move(version)),
      autostart_(autostart),
      open_url_(std::move(open_url)),
      run_repair_(std::move(run_repair)),
      announce_(announce) {}

template <class Use>
void TrayApp::with_link(Use&& use) {
  if (!link_) return;
  if (link_in_use_) throw std::logic_error("the bridge link was used while it was in use");
  Raised in_use(link_in_use_);
  std::forward<Use>(use)(*link_);
}

void TrayApp::handle_event(tray::TrayUi& ui, tray::TrayEvent<tray::BridgeEvent> event) {
  using MC = MenuCommand;
  struct Handle {
    TrayApp& app;
    tray::TrayUi& ui;

    void operator()(tray::Started) const { app.refresh(ui); }
    void operator()(tray::TrayReady) const { app.refresh(ui); }
    void operator()(tray::MenuOpening) const {
      app.with_link([](tray::BridgeLink& link) { link.refresh_now(); });
      app.refresh(ui);
    }
    void operator()(tray::DialogBehind) const {
      if (app.busy_) app.notify(ui, kContinueRepair, true);
    }
    void operator()(tray::MenuItemClicked clicked) const {
      switch (static_cast<MC>(clicked.id.value)) {
        case MC::Repair:
          app.start_repair(ui, false);
          break;
        case MC::AddOns:
          app.start_repair(ui, true);
          break;
        case MC::OpenWebApp:
          app.open_url_(bridge::kWebAppAddress);
          break;
        case MC::StartWithWindows: {
          const bool on = app.autostart_.is_enabled();
          if (std::expected<void, base::OsError> set = app.autostart_.set(!on); !set)
            base::warn("cannot change Start with Windows: " + set.error().text);
          app.refresh(ui);
          break;
        }
        case MC::Quit:
          ui.quit();
          break;
        case MC::Title:
        case MC::Detail:
          break;
      }
    }
    void operator()(tray::NotificationClicked) const {
      if (app.click_repairs_) app.start_repair(ui, false);
    }
    void operator()(tray::AnotherInstanceStarted) const {
      if (!app.busy_) {
        app.notify(ui, "Tolvaro DCS Bridge is already running.", false);
      } else if (!ui.bring_top_dialog_to_front()) {
        app.notify(ui, kContinueRepair, true);
      }
    }
    void operator()(tray::SessionEnding) const {
      app.stop_bridge();
      ui.quit();
    }
    void operator()(tray::Posted<tray::BridgeEvent>& posted) const { std::visit(*this, posted.message); }

    void operator()(tray::Running& running) const {
      if (app.link_in_use_) throw std::logic_error("the bridge link was replaced while it was in use");
      app.link_ = std::move(running.link);
      app.refresh(ui);
    }
    void operator()(tray::DidNotStart& failure) const {
      base::log(base::Level::Error, "Tolvaro DCS Bridge did not start: " + failure.message);
      if (failure.port_taken)
        base::info("another program holds the bridge's port; exiting quietly");
      else
        ui.tell(wording::couldnt_start_dialog(failure.message));
      app.failed_ = true;
      ui.quit();
    }
    void operator()(tray::StatusChanged) const { app.refresh(ui); }
    void operator()(tray::CollectorQuiet quiet) const {
      app.collector_quiet_ = quiet.quiet;
      app.refresh(ui);
    }
    void operator()(tray::OpenRepair) const { app.start_repair(ui, false); }
    void operator()(tray::StoppedOnError& failure) const {
      base::log(base::Level::Error, "Tolvaro DCS Bridge stopped on an error: " + failure.message);
      // The worker has ended: nothing is left to stop.
      if (app.link_in_use_) throw std::logic_error("the bridge link was dropped while it was in use");
      app.link_.reset();
      app.failed_ = true;
      ui.tell(wording::stopped_dialog(failure.message));
      ui.quit();
    }
  };
  std::visit(Handle{*this, ui}, event);
}

void TrayApp::refresh(tray::TrayUi& ui) {
  std::optional<monitor::StatusSummary> summary;
  bool running = false;
  with_link([&](tray::BridgeLink& link) {
    summary = link.status();
    running = link.simulator_running();
  });
  const TrayStatus status = status_of(summary, collector_quiet_, running);
  const std::string detail = detail_line(version_, summary);
  ui.set_content({tooltip(status), build_menu(status, detail, autostart_.is_enabled()), status.attention});
  if (!summary) return;
  if (status.balloon) {
    // A problem met first takes the place of the "is running" notice for good.
    announce_ = false;
    if (std::find(notified_.begin(), notified_.end(), summary->status) == notified_.end()) {
      if (ui.notify({std::string(kProductName), *status.balloon, false})) {
        click_repairs_ = true;
        notified_.push_back(summary->status);
      }
    }
  } else if (announce_) {
    if (ui.notify({"Tolvaro DCS Bridge is running",
                   "It lives in the notification area, near the clock. Right-click its icon for options.", true})) {
      announce_ = false;
      click_repairs_ = false;
    }
  }
}

void TrayApp::start_repair(tray::TrayUi& ui, bool add_ons) {
  if (busy_) {
    if (!ui.bring_top_dialog_to_front()) notify(ui, kContinueRepair, true);
    return;
  }
  std::optional<install::InstallStatus> status;
  std::unique_ptr<tray::InstallGuard> guard;
  Raised busy(busy_);  // declared after the guard: on a fault, too, `busy` goes before the guard ends
  // Taken before the first dialog: events that arrive inside the flow may use the link themselves.
  with_link([&](tray::BridgeLink& link) {
    if (const std::optional<monitor::StatusSummary> summary = link.status()) status = summary->status;
    guard = link.begin_install();
  });
  run_repair_(add_ons, status, ui);
  // `busy` is cleared before the guard ends: the last guard's re-check refreshes a tray at rest.
  busy_ = false;
  guard.reset();
}

void TrayApp::notify(tray::TrayUi& ui, std::string_view text, bool clicks_repair) {
  if (ui.notify({std::string(kProductName), std::string(text), false})) click_repairs_ = clicks_repair;
}

void TrayApp::stop_bridge() {
  if (link_in_use_) throw std::logic_error("the bridge link was stopped while it was in use");
  std::unique_ptr<tray::BridgeLink> link = std::move(link_);
  if (link && !link->stop()) bridge_left_running_ = true;
}

std::string rundll32_path(std::string_view system_folder) {
  std::string path(system_folder);
  if (!path.empty() && path.back() != '\\') path.push_back('\\');
  return path + "rundll32.exe";
}

std::string open_url_command(std::string_view system_folder, std::string_view address) {
  return "\"" + rundll32_path(system_folder) + "\" url.dll,FileProtocolHandler " + std::string(address);
}

PathlessAutostart::PathlessAutostart() : PathlessAutostart(std::make_unique<bridge::Autostart>(fallback_entry())) {}

PathlessAutostart::PathlessAutostart(std::unique_ptr<bridge::AutostartSetting> entry) : entry_(std::move(entry)) {}

bridge::Autostart PathlessAutostart::fallback_entry() {
  return bridge::Autostart(std::string(bridge::Autostart::run_key_path()), std::string(bridge::kAutostartValueName),
                           "TolvaroDcsBridge.exe");
}

bool PathlessAutostart::is_enabled() const { return entry_->is_enabled(); }

std::expected<void, base::OsError> PathlessAutostart::set(bool on) {
  if (on)
    return std::unexpected(base::OsError{
        0, "this program's path is unknown, and a Run value without it would start nothing at sign-in"});
  return entry_->set(false);
}

}  // namespace tray_app
