// The tray application's decisions over a fake tray and a fake bridge link: what the icon, its menu
// and its balloons show for each status, where clicks lead, and how it ends.
#include "dcs/bridge/src/tray_app.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/base/tests/log_capture.hpp"
#include "dcs/bridge/src/tray_status.hpp"
#include "dcs/bridge/tests/fake_tray.hpp"

namespace {

using base::testing::LogCapture;
using install::InstallStatus;
using tray_app::MenuCommand;
using tray_app::TrayApp;
using Event = tray::TrayEvent<tray::BridgeEvent>;
using bridge::testing::FakeTray;

// What a fake link saw, kept apart from the link, which the application may drop.
struct LinkLog {
  std::optional<monitor::StatusSummary> summary;  // none: the monitor has none yet
  bool simulator_running = false;
  int refreshes = 0;
  int guards_begun = 0;
  int guards_held = 0;
  int stops = 0;
  bool stops_in_time = true;  // what stop answers
};

class FakeLink final : public tray::BridgeLink {
 public:
  explicit FakeLink(std::shared_ptr<LinkLog> log) : log_(std::move(log)) {}
  std::optional<monitor::StatusSummary> status() override { return log_->summary; }
  bool simulator_running() override { return log_->simulator_running; }
  void refresh_now() override { ++log_->refreshes; }
  std::unique_ptr<tray::InstallGuard> begin_install() override {
    struct Guard final : tray::InstallGuard {
      explicit Guard(std::shared_ptr<LinkLog> l) : log(std::move(l)) { ++log->guards_held; }
      ~Guard() override { --log->guards_held; }
      std::shared_ptr<LinkLog> log;
    };
    ++log_->guards_begun;
    return std::make_unique<Guard>(log_);
  }
  bool stop() override {
    ++log_->stops;
    return log_->stops_in_time;
  }

 private:
  std::shared_ptr<LinkLog> log_;
};

// The Run key's values by name, as the registry would hold them.
using RunKey = std::map<std::string, std::string>;

// A Start-with-Windows entry on a RunKey, reading and writing it as the real entry does the registry.
class RunKeyEntry final : public bridge::AutostartSetting {
 public:
  RunKeyEntry(RunKey& key, const bridge::Autostart& like)
      : key_(key), name_(like.value_name()), command_(like.command()) {}
  bool is_enabled() const override {
    const auto stored = key_.find(name_);
    return stored != key_.end() && bridge::command_matches(stored->second, command_);
  }
  std::expected<void, base::OsError> set(bool on) override {
    if (on)
      key_[name_] = command_;
    else
      key_.erase(name_);
    return {};
  }

 private:
  RunKey& key_;
  std::string name_;
  std::string command_;
};

class FakeAutostart final : public bridge::AutostartSetting {
 public:
  bool on = false;
  bool refuse = false;
  bool is_enabled() const override { return on; }
  std::expected<void, base::OsError> set(bool value) override {
    if (refuse) return std::unexpected(base::OsError{5, "Access is denied. (os error 5)"});
    on = value;
    return {};
  }
};

struct RepairCall {
  bool add_ons;
  std::optional<InstallStatus> status;
  int guards_held;  // while it ran
};

// The application with its fakes; `during_repair` runs inside the repair flow, as the events that
// the flow's modal dialogs let through would.
struct Bed {
  FakeTray tray;
  FakeAutostart autostart;
  std::shared_ptr<LinkLog> link = std::make_shared<LinkLog>();
  std::vector<std::string> opened;
  std::vector<RepairCall> repairs;
  std::function<void()> during_repair;
  TrayApp app;

  // `setting`: Start with Windows in place of `autostart`.
  explicit Bed(bool announce = true, bridge::AutostartSetting* setting = nullptr)
      : app("0.5.0", setting ? *setting : autostart, [this](std::string_view address) { opened.emplace_back(address); },
            [this](bool add_ons, std::optional<InstallStatus> status, tray::TrayUi&) {
              repairs.push_back({add_ons, status, link->guards_held});
              if (during_repair) during_repair();
            },
            announce) {}

  void send(Event event) { app.handle_event(tray, std::move(event)); }
  void post(tray::BridgeEvent event) { send(tray::Posted<tray::BridgeEvent>{std::move(event)}); }
  void click(MenuCommand command) { send(tray::MenuItemClicked{tray_app::id_of(command)}); }
  // The bridge runs with the collector installed in the given state.
  void running(InstallStatus status, std::optional<std::uint32_t> version = 8) {
    link->summary = monitor::StatusSummary{version, status, true, true};
    post(tray::Running{std::make_unique<FakeLink>(link)});
  }
  // The bridge runs, but its monitor has no summary yet.
  void running_without_summary() {
    link->summary.reset();
    post(tray::Running{std::make_unique<FakeLink>(link)});
  }
};

std::vector<std::string> labels(const std::vector<tray::MenuItem>& menu) {
  std::vector<std::string> out;
  for (const tray::MenuItem& item : menu)
    out.push_back(std::holds_alternative<tray::Separator>(item) ? "-" : std::get<tray::Item>(item).label);
  return out;
}

std::optional<std::string> default_item(const std::vector<tray::MenuItem>& menu) {
  for (const tray::MenuItem& item : menu)
    if (const auto* i = std::get_if<tray::Item>(&item); i && i->is_default) return i->label;
  return std::nullopt;
}

const std::vector<std::string> kRepairFirst{"", "", "-", "Repair DCS setup\u2026", "Configure optional add-ons\u2026",
                                            "Open Tolvaro", "Start with Windows", "-", "Quit"};
const std::vector<std::string> kOpenFirst{"", "", "-", "Open Tolvaro", "Repair DCS setup\u2026",
                                          "Configure optional add-ons\u2026", "Start with Windows", "-", "Quit"};

TEST(TrayStatusRows, EachStatusShowsItsTitleBadgeBalloonAndMenuOrder) {
  struct Case {
    InstallStatus status;
    bool quiet;
    bool dcs_running;
    std::string title;
    bool attention;
    std::optional<std::string> balloon;
    bool repair_first;
  };
  const Case cases[] = {
      {InstallStatus::simulatorNotFound, true, false, "DCS not found", true,
       "Tolvaro couldn't find DCS. Click to choose its folder.", true},
      {InstallStatus::notInstalled, true, false, "Not set up in DCS", true,
       "Tolvaro isn't set up in DCS. Click to fix.", true},
      {InstallStatus::outdated, true, false, "DCS script out of date", true,
       "The Tolvaro script in DCS is out of date. Click to fix.", true},
      {InstallStatus::modified, true, false, "DCS script was changed", false, std::nullopt, true},
      {InstallStatus::installFailed, true, false, "Couldn't write to DCS folder", true,
       "Tolvaro couldn't write to your DCS folder. Your antivirus may have blocked it.", true},
      {InstallStatus::wrongFolderSuspected, true, true, "DCS isn't sending data", true,
       "DCS is flying but Tolvaro hears nothing. Click to fix.", true},
      {InstallStatus::installed, false, true, "Connected to DCS", false, std::nullopt, false},
      {InstallStatus::installed, true, true, "DCS running, load a mission", false, std::nullopt, false},
      {InstallStatus::installed, true, false, "Waiting for DCS", false, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    Bed bed(false);
    bed.link->simulator_running = c.dcs_running;
    if (!c.quiet) bed.post(tray::CollectorQuiet{false});
    bed.running(c.status);
    const tray::TrayContent& shown = bed.tray.shown();
    EXPECT_EQ(shown.tooltip, "Tolvaro DCS Bridge: " + c.title);
    EXPECT_EQ(shown.attention, c.attention);
    std::vector<std::string> expected = c.repair_first ? kRepairFirst : kOpenFirst;
    expected[0] = c.title;
    expected[1] = "Bridge 0.5.0 \u00B7 Script 8";
    EXPECT_EQ(labels(shown.menu), expected);
    EXPECT_EQ(default_item(shown.menu),
              c.repair_first ? std::optional<std::string>("Repair DCS setup\u2026") : std::nullopt);
    EXPECT_EQ(bed.tray.balloon_texts(), c.balloon ? std::vector<std::string>{*c.balloon} : std::vector<std::string>{});
    for (const tray::Notification& n : bed.tray.balloons) {
      EXPECT_EQ(n.title, "Tolvaro DCS Bridge");
      EXPECT_FALSE(n.quiet);
    }
  }
}

TEST(TrayStatusRows, HeaderRowsAreDisabledAndTheMenuCarriesItsCommands) {
  Bed bed;
  bed.autostart.on = true;
  bed.running(InstallStatus::installed, std::nullopt);
  const std::vector<tray::MenuItem>& menu = bed.tray.shown().menu;
  struct Row {
    std::size_t at;
    MenuCommand id;
    bool enabled;
    bool checked;
  };
  const Row rows[] = {{0, MenuCommand::Title, false, false},      {1, MenuCommand::Detail, false, false},
                      {3, MenuCommand::OpenWebApp, true, false},  {4, MenuCommand::Repair, true, false},
                      {5, MenuCommand::AddOns, true, false},      {6, MenuCommand::StartWithWindows, true, true},
                      {8, MenuCommand::Quit, true, false}};
  for (const Row& r : rows) {
    const auto& item = std::get<tray::Item>(menu[r.at]);
    EXPECT_EQ(item.id, tray_app::id_of(r.id)) << item.label;
    EXPECT_EQ(item.enabled, r.enabled) << item.label;
    EXPECT_EQ(item.checked, r.checked) << item.label;
  }
  EXPECT_EQ(std::get<tray::Item>(menu[1]).label, "Bridge 0.5.0 \u00B7 Script not installed");
}

TEST(TrayMenu, BeforeTheBridgeRunsTheMenuSaysStartingAndAsksNoCheck) {
  Bed bed;
  bed.send(tray::Started{});
  bed.send(tray::MenuOpening{});
  EXPECT_EQ(bed.tray.title(), "Starting\u2026");
  EXPECT_EQ(labels(bed.tray.shown().menu)[1], "Bridge 0.5.0");
  EXPECT_EQ(labels(bed.tray.shown().menu), (std::vector<std::string>{"Starting\u2026", "Bridge 0.5.0", "-",
                                                                      "Open Tolvaro", "Repair DCS setup\u2026",
                                                                      "Configure optional add-ons\u2026",
                                                                      "Start with Windows", "-", "Quit"}));
  EXPECT_FALSE(bed.tray.shown().attention);
  EXPECT_EQ(bed.link->refreshes, 0);
  EXPECT_TRUE(bed.tray.balloons.empty()) << "no notice before there is a status";
  // Once it runs, opening the menu asks the monitor for a fresh check first.
  bed.running(InstallStatus::installed);
  bed.send(tray::MenuOpening{});
  EXPECT_EQ(bed.link->refreshes, 1);
}

TEST(TrayMenu, ALinkWhoseMonitorHasNoSummaryYetShowsStartingAndRepairsWithoutAStatus) {
  Bed bed;
  bed.send(tray::Started{});
  bed.running_without_summary();
  bed.send(tray::MenuOpening{});
  EXPECT_EQ(bed.link->refreshes, 1) << "the link is there, so the menu asks for a check";
  EXPECT_EQ(bed.tray.title(), "Starting\u2026");
  EXPECT_EQ(bed.tray.shown().tooltip, "Tolvaro DCS Bridge: Starting\u2026");
  EXPECT_EQ(labels(bed.tray.shown().menu), (std::vector<std::string>{"Starting\u2026", "Bridge 0.5.0", "-",
                                                                      "Open Tolvaro", "Repair DCS setup\u2026",
                                                                      "Configure optional add-ons\u2026",
                                                                      "Start with Windows", "-", "Quit"}));
  EXPECT_FALSE(bed.tray.shown().attention);
  EXPECT_TRUE(bed.tray.balloons.empty()) << "neither a problem balloon nor the notice before there is a status";

  bed.click(MenuCommand::Repair);
  ASSERT_EQ(bed.repairs.size(), 1u);
  EXPECT_EQ(bed.repairs[0].status, std::nullopt) << "no summary is no status, not simulatorNotFound";
  EXPECT_EQ(bed.repairs[0].guards_held, 1) << "the link's guard is held all the same";

  // The first summary brings the real row and the notice owed.
  bed.link->summary = monitor::StatusSummary{8, InstallStatus::installed, true, true};
  bed.post(tray::StatusChanged{});
  EXPECT_EQ(bed.tray.title(), "Waiting for DCS");
  EXPECT_EQ(bed.tray.balloons.size(), 1u);
}

TEST(TrayBalloons, AProblemIsBalloonedOncePerRun) {
  Bed bed(false);
  bed.running(InstallStatus::outdated);
  bed.post(tray::StatusChanged{});
  bed.link->summary->status = InstallStatus::installed;
  bed.post(tray::StatusChanged{});
  bed.link->summary->status = InstallStatus::outdated;
  bed.post(tray::StatusChanged{});
  EXPECT_EQ(bed.tray.balloon_texts(),
            std::vector<std::string>{"The Tolvaro script in DCS is out of date. Click to fix."});
}

TEST(TrayBalloons, ABalloonTheShellDidNotShowIsOwedUntilItIs) {
  Bed bed(false);
  bed.tray.icon_added = false;
  bed.running(InstallStatus::notInstalled);
  EXPECT_TRUE(bed.tray.balloons.empty());
  bed.tray.icon_added = true;
  bed.send(tray::TrayReady{});
  EXPECT_EQ(bed.tray.balloon_texts(), std::vector<std::string>{"Tolvaro isn't set up in DCS. Click to fix."});
}

TEST(TrayBalloons, TheRunningNoticeComesOnceOnAPlainStartOnly) {
  struct Case {
    const char* name;
    bool announce;
    std::vector<InstallStatus> statuses;
    bool notice;
  };
  const Case cases[] = {
      {"plain start", true, {InstallStatus::installed, InstallStatus::installed}, true},
      {"at sign-in", false, {InstallStatus::installed}, false},
      {"after a problem balloon", true, {InstallStatus::notInstalled, InstallStatus::installed}, false},
      {"a changed script has no balloon", true, {InstallStatus::modified}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bed bed(c.announce);
    bed.running(c.statuses.front());
    for (InstallStatus s : c.statuses) {
      bed.link->summary->status = s;
      bed.post(tray::StatusChanged{});
    }
    int notices = 0;
    for (const tray::Notification& n : bed.tray.balloons) {
      if (n.title != "Tolvaro DCS Bridge is running") continue;
      ++notices;
      EXPECT_EQ(n.text, "It lives in the notification area, near the clock. Right-click its icon for options.");
      EXPECT_TRUE(n.quiet);
    }
    EXPECT_EQ(notices, c.notice ? 1 : 0);
  }
}

TEST(TrayClicks, AProblemBalloonLeadsToTheRepairTheRunningNoticeDoesNot) {
  Bed bed;
  bed.running(InstallStatus::installed);
  bed.send(tray::NotificationClicked{});
  EXPECT_TRUE(bed.repairs.empty()) << "the running notice is no repair";

  bed.link->summary->status = InstallStatus::notInstalled;
  bed.post(tray::StatusChanged{});
  bed.send(tray::NotificationClicked{});
  ASSERT_EQ(bed.repairs.size(), 1u);
  EXPECT_FALSE(bed.repairs[0].add_ons);
  EXPECT_EQ(bed.repairs[0].status, InstallStatus::notInstalled);
}

TEST(TrayClicks, MenuCommandsRunTheirFlows) {
  Bed bed;
  bed.running(InstallStatus::modified);
  bed.click(MenuCommand::Repair);
  bed.click(MenuCommand::AddOns);
  bed.click(MenuCommand::OpenWebApp);
  bed.click(MenuCommand::Title);  // a header row does nothing
  ASSERT_EQ(bed.repairs.size(), 2u);
  EXPECT_FALSE(bed.repairs[0].add_ons);
  EXPECT_TRUE(bed.repairs[1].add_ons);
  EXPECT_EQ(bed.repairs[0].status, InstallStatus::modified);
  EXPECT_EQ(bed.repairs[0].guards_held, 1) << "the monitor skips its scans while the flow may write";
  EXPECT_EQ(bed.link->guards_held, 0);
  EXPECT_EQ(bed.opened, std::vector<std::string>{"https://tolvaro.app/fly"});
  bed.click(MenuCommand::Quit);
  EXPECT_EQ(bed.tray.quits, 1);
}

TEST(TrayClicks, ARepairBeforeTheBridgeRunsHasNoStatusAndNoGuard) {
  Bed bed;
  bed.send(tray::Started{});
  bed.click(MenuCommand::Repair);
  ASSERT_EQ(bed.repairs.size(), 1u);
  EXPECT_EQ(bed.repairs[0].status, std::nullopt);
  EXPECT_EQ(bed.link->guards_begun, 0);
}

TEST(TrayRepair, ASecondRequestWhileTheRepairIsOpenRaisesItsDialog) {
  Bed bed;
  bed.running(InstallStatus::notInstalled);
  int nested = 0;
  bed.during_repair = [&] {
    // A page asks for the repair, the user clicks the menu and a second start happens meanwhile.
    bed.post(tray::OpenRepair{});
    bed.click(MenuCommand::AddOns);
    bed.send(tray::AnotherInstanceStarted{});
    ++nested;
  };
  bed.post(tray::OpenRepair{});
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(bed.repairs.size(), 1u);
  EXPECT_EQ(bed.tray.raised, 3);
  EXPECT_EQ(bed.tray.balloon_texts(), std::vector<std::string>{"Tolvaro isn't set up in DCS. Click to fix."})
      << "the dialog came to the front each time";

  // After the flow, a repair opens again.
  bed.during_repair = nullptr;
  bed.post(tray::OpenRepair{});
  EXPECT_EQ(bed.repairs.size(), 2u);
}

TEST(TrayRepair, ADialogThatStaysBehindIsCalledForwardByABalloon) {
  Bed bed(false);
  bed.running(InstallStatus::installed);
  bed.tray.raise_succeeds = false;
  bed.during_repair = [&] {
    bed.send(tray::DialogBehind{});
    bed.send(tray::AnotherInstanceStarted{});
  };
  bed.click(MenuCommand::Repair);
  EXPECT_EQ(bed.tray.balloon_texts(),
            (std::vector<std::string>{"Click to continue the repair.", "Click to continue the repair."}));
  // Clicking it raises the open flow rather than starting another.
  bed.during_repair = [&] { bed.send(tray::NotificationClicked{}); };
  bed.click(MenuCommand::Repair);
  EXPECT_EQ(bed.repairs.size(), 2u);

  // Without a repair open, a dialog behind needs nothing and a second start is told so.
  bed.tray.balloons.clear();
  bed.send(tray::DialogBehind{});
  bed.send(tray::AnotherInstanceStarted{});
  EXPECT_EQ(bed.tray.balloon_texts(), std::vector<std::string>{"Tolvaro DCS Bridge is already running."});
  bed.send(tray::NotificationClicked{});
  EXPECT_EQ(bed.repairs.size(), 2u) << "that balloon is no repair";
}

TEST(TrayStartWithWindows, TheMenuTogglesItAndShowsWhatTheRegistryHolds) {
  Bed bed;
  bed.running(InstallStatus::installed);
  bed.click(MenuCommand::StartWithWindows);
  EXPECT_TRUE(bed.autostart.on);
  EXPECT_TRUE(std::get<tray::Item>(bed.tray.shown().menu[6]).checked);
  bed.click(MenuCommand::StartWithWindows);
  EXPECT_FALSE(bed.autostart.on);

  LogCapture log;
  bed.autostart.refuse = true;
  bed.click(MenuCommand::StartWithWindows);
  EXPECT_FALSE(std::get<tray::Item>(bed.tray.shown().menu[6]).checked);
  EXPECT_EQ(log.messages(), std::vector<std::string>{"cannot change Start with Windows: Access is denied. (os error 5)"});
}

TEST(TrayStartWithWindows, WithoutItsOwnPathTheProgramDoesNotTurnItOn) {
  tray_app::PathlessAutostart pathless;
  std::expected<void, base::OsError> on = pathless.set(true);
  ASSERT_FALSE(on.has_value());
  EXPECT_EQ(on.error().text,
            "this program's path is unknown, and a Run value without it would start nothing at sign-in");
}

TEST(TrayStartWithWindows, WithoutItsOwnPathTheMenuTurnsTheBareEntryOffButNeverOn) {
  const bridge::Autostart fallback = tray_app::PathlessAutostart::fallback_entry();
  EXPECT_EQ(fallback.run_key(), "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_EQ(fallback.value_name(), "Tolvaro DCS Bridge");
  EXPECT_EQ(fallback.command(), "TolvaroDcsBridge.exe");
  const std::string with_path = "\"C:\\Tolvaro\\TolvaroDcsBridge.exe\" --autostart";
  const std::string refused =
      "cannot change Start with Windows: this program's path is unknown, and a Run value without it would start "
      "nothing at sign-in";
  struct Case {
    const char* name;
    std::optional<std::string> stored;  // the Run value before the clicks
    bool checked;                       // as the fallback entry reads it
  };
  const Case cases[] = {
      {"no value", std::nullopt, false},
      {"the bare name an older run wrote", "TolvaroDcsBridge.exe", true},
      {"the bare name in other letter case", "tolvarodcsbridge.EXE", true},
      {"a command with a path, not the fallback's", with_path, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunKey key;
    if (c.stored) key["Tolvaro DCS Bridge"] = *c.stored;
    tray_app::PathlessAutostart pathless(std::make_unique<RunKeyEntry>(key, fallback));
    Bed bed(false, &pathless);
    bed.running(InstallStatus::installed);
    EXPECT_EQ(std::get<tray::Item>(bed.tray.shown().menu[6]).checked, c.checked);

    LogCapture log;
    bed.click(MenuCommand::StartWithWindows);
    const bool was_on = c.checked;
    if (was_on) {
      EXPECT_TRUE(log.entries().empty()) << "turning it off works";
      EXPECT_FALSE(key.contains("Tolvaro DCS Bridge"));
    } else {
      EXPECT_EQ(log.entries(), (std::vector<LogCapture::Entry>{{"warn", refused}}));
      EXPECT_EQ(key.contains("Tolvaro DCS Bridge") ? std::optional(key.at("Tolvaro DCS Bridge")) : std::nullopt,
                c.stored)
          << "the registry is left as it was";
    }
    EXPECT_FALSE(std::get<tray::Item>(bed.tray.shown().menu[6]).checked) << "the check mark shows the registry";

    // Once off, it stays refused.
    log.clear();
    bed.click(MenuCommand::StartWithWindows);
    EXPECT_EQ(log.entries(), (std::vector<LogCapture::Entry>{{"warn", refused}}));
    EXPECT_FALSE(std::get<tray::Item>(bed.tray.shown().menu[6]).checked);
  }
}

TEST(TrayOpenUrl, TheSystemsOwnRundll32ByItsFullPathGetsTheAddress) {
  struct Case {
    std::string system_folder;
    std::string command;
  };
  const std::string handler = " url.dll,FileProtocolHandler https://tolvaro.app/fly";
  const Case cases[] = {
      {"C:\\Windows\\system32", "\"C:\\Windows\\system32\\rundll32.exe\"" + handler},
      {"C:\\Windows\\system32\\", "\"C:\\Windows\\system32\\rundll32.exe\"" + handler},
      {"D:\\My Windows\\System32", "\"D:\\My Windows\\System32\\rundll32.exe\"" + handler},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.system_folder);
    EXPECT_EQ(tray_app::open_url_command(c.system_folder, bridge::kWebAppAddress), c.command);
  }
  EXPECT_EQ(tray_app::rundll32_path("C:\\Windows\\system32"), "C:\\Windows\\system32\\rundll32.exe");
}

TEST(TrayEnd, APortTakenByAnotherProgramEndsQuietly) {
  LogCapture log;
  Bed bed;
  bed.send(tray::Started{});
  bed.post(tray::DidNotStart{"TCP port 127.0.0.1:2992 is already in use. Tolvaro DCS Bridge, or the older Node "
                             "bridge, is probably already running.",
                             true});
  EXPECT_TRUE(bed.tray.told.empty());
  EXPECT_EQ(bed.tray.quits, 1);
  EXPECT_TRUE(bed.app.failed());
  using Entry = LogCapture::Entry;
  EXPECT_EQ(log.entries(),
            (std::vector<Entry>{{"error", "Tolvaro DCS Bridge did not start: TCP port 127.0.0.1:2992 is already in use. "
                                          "Tolvaro DCS Bridge, or the older Node bridge, is probably already running."},
                                {"info", "another program holds the bridge's port; exiting quietly"}}));
}

TEST(TrayEnd, AnyOtherFailureToStartIsTold) {
  LogCapture log;
  Bed bed;
  bed.post(tray::DidNotStart{"cannot open UDP port 127.0.0.1:9790: denied", false});
  ASSERT_EQ(bed.tray.told.size(), 1u);
  EXPECT_EQ(bed.tray.told[0].heading, "Tolvaro DCS Bridge couldn't start");
  EXPECT_TRUE(bed.tray.told[0].body.starts_with("cannot open UDP port 127.0.0.1:9790: denied\n\n"));
  EXPECT_EQ(bed.tray.quits, 1);
  EXPECT_TRUE(bed.app.failed());
}

TEST(TrayEnd, StoppedOnErrorTellsTheUserAndDropsTheLinkWithoutStopping) {
  LogCapture log;
  Bed bed;
  bed.running(InstallStatus::installed);
  bed.post(tray::StoppedOnError{"the shuttle stopped on its own"});
  ASSERT_EQ(bed.tray.told.size(), 1u);
  EXPECT_EQ(bed.tray.told[0].heading, "Tolvaro DCS Bridge stopped");
  EXPECT_EQ(bed.tray.told[0].body,
            "It ran into an error and had to stop: the shuttle stopped on its own\n\nStart it again from the Start "
            "Menu.");
  EXPECT_EQ(bed.tray.quits, 1);
  EXPECT_TRUE(bed.app.failed());
  EXPECT_TRUE(log.contains("Tolvaro DCS Bridge stopped on an error: the shuttle stopped on its own"));
  bed.app.stop_bridge();
  EXPECT_EQ(bed.link->stops, 0) << "the worker had ended already";
}

TEST(TrayEnd, TheSessionEndingStopsTheBridgeOnceAndQuits) {
  Bed bed;
  bed.running(InstallStatus::installed);
  bed.send(tray::SessionEnding{});
  EXPECT_EQ(bed.link->stops, 1);
  EXPECT_EQ(bed.tray.quits, 1);
  bed.app.stop_bridge();  // after the loop: nothing left to stop
  EXPECT_EQ(bed.link->stops, 1);
  EXPECT_FALSE(bed.app.failed());
}

// A stop that gave up, at the session's end or after the loop, is remembered: the program must not
// return from main beside a worker that may still run.
TEST(TrayEnd, AStopThatGaveUpLeavesTheBridgeRunning) {
  for (const bool session_ending : {false, true}) {
    SCOPED_TRACE(session_ending ? "session ending" : "after the loop");
    Bed bed;
    bed.running(InstallStatus::installed);
    bed.link->stops_in_time = false;
    EXPECT_FALSE(bed.app.bridge_left_running());
    if (session_ending) bed.send(tray::SessionEnding{});
    bed.app.stop_bridge();
    EXPECT_EQ(bed.link->stops, 1);
    EXPECT_TRUE(bed.app.bridge_left_running());
  }
  Bed bed;
  bed.running(InstallStatus::installed);
  bed.app.stop_bridge();
  EXPECT_FALSE(bed.app.bridge_left_running()) << "a stop in time";
}

}  // namespace
