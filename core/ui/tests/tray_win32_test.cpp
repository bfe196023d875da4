// The tray window for real: a hidden window with its icon in the Wine desktop's tray, the
// application's handler, other threads sending to it, menus and dialogs driven from a test thread.
#include "core/base/src/win32.hpp"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/base/tests/log_capture.hpp"
#include "core/ui/src/dialog_host.hpp"
#include "core/ui/src/tray.hpp"
#include "core/ui/src/ui_thread.hpp"
#include "core/ui/src/wide.hpp"
#include "core/ui/tests/ui_testing.hpp"

// Allocation failure on demand: armed with a thread's id, the next allocation on that thread throws
// std::bad_alloc, as an exhausted heap would.
namespace {
std::atomic<DWORD> g_fail_next_allocation_on{0};
}  // namespace

void* operator new(std::size_t size) {
  if (DWORD armed = g_fail_next_allocation_on.load(); armed != 0 && armed == GetCurrentThreadId() &&
                                                       g_fail_next_allocation_on.compare_exchange_strong(armed, 0))
    throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace std::chrono_literals;
using tray::TrayEvent;
using tray::TrayEvents;
using tray::TrayUi;
using Events = TrayEvents<std::string>;

constexpr auto kPatience = 20s;

// What the handler saw, readable from the test's worker thread.
class Journal {
 public:
  void add(std::string entry) {
    {
      std::lock_guard lock(mutex_);
      entries_.push_back(std::move(entry));
    }
    changed_.notify_all();
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::size_t count(const std::string& entry) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
  }
  // Waits until `entry` was added `times` times; false when the patience ran out.
  bool wait_for(const std::string& entry, std::size_t times = 1) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
      return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry)) >= times;
    });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> entries_;
};

std::string describe(const TrayEvent<std::string>& event) {
  if (const auto* posted = std::get_if<tray::Posted<std::string>>(&event)) return "Posted(" + posted->message + ")";
  return tray::to_string(event);
}

std::string unique_class() {
  static int next = 0;
  return "TolvaroDcsBridge.test." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++next);
}

HWND window_of(const std::string& class_name) {
  return FindWindowW(win32::wz(wide::to_wide(class_name)), nullptr);
}

tray::TrayContent sample_content(bool attention = false) {
  return {"Waiting for DCS",
          {tray::Item{"Open Tolvaro", tray::MenuItemId{1}, true, false, true}, tray::Separator{},
           tray::Item{"Start with Windows", tray::MenuItemId{2}, true, true, false},
           tray::Item{"Quit", tray::MenuItemId{3}}},
          attention};
}

// Runs the tray on this thread with `script` as the worker; the handler writes every event into the
// journal, then hands it to `react` (which may act on the tray).
struct TrayRun {
  std::string class_name = unique_class();
  Journal journal;
  std::function<void(TrayUi&, const TrayEvent<std::string>&)> react = [](TrayUi&, const auto&) {};

  std::expected<void, tray::UiError> run(std::function<void(Events)> script) {
    // The script always ends with a quit, also when an assertion left it early, so the loop ends.
    auto worker = [script = std::move(script)](Events events) {
      script(events);
      events.quit();
    };
    return tray::run<std::string>(class_name, std::move(worker), [this](TrayUi& ui, TrayEvent<std::string> event) {
      journal.add(describe(event));
      react(ui, event);
    });
  }
};

ui_testing::WindowQuery dialog_titled(std::string title) {
  ui_testing::WindowQuery query;
  query.class_name = "#32770";
  query.title = std::move(title);
  return query;
}

bool is(const TrayEvent<std::string>& event, const std::string& posted) {
  const auto* p = std::get_if<tray::Posted<std::string>>(&event);
  return p != nullptr && p->message == posted;
}

// Holds back the creation of this thread's window of one class until opened, so that a test knows
// what another thread did before that window existed. A CBT hook: it sees each window just before
// the system creates it.
class CreationGate {
 public:
  explicit CreationGate(const std::string& class_name) : name_(wide::to_wide(class_name)) {
    current_ = this;
    hook_.reset(SetWindowsHookExW(WH_CBT, &CreationGate::hook, nullptr, GetCurrentThreadId()));
  }
  CreationGate(const CreationGate&) = delete;
  CreationGate& operator=(const CreationGate&) = delete;
  ~CreationGate() {
    hook_.reset();
    current_ = nullptr;
  }
  bool hooked() const { return hook_.valid(); }
  // From any thread: the window may be created now.
  void open() { open_.set_value(); }
  // Whether the window's creation came and waited until open() (rather than out of patience).
  bool held() const { return held_; }

 private:
  static LRESULT CALLBACK hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && current_ != nullptr) {
      wchar_t name[256];
      const int length = GetClassNameW(reinterpret_cast<HWND>(wparam), name, 256);
      if (win32::units(name, static_cast<std::size_t>(std::max(length, 0))) == current_->name_)
        current_->held_ = current_->opened_.wait_for(kPatience) == std::future_status::ready;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
  }

  static inline CreationGate* current_ = nullptr;
  std::u16string name_;
  win32::HookHandle hook_;
  std::promise<void> open_;
  std::shared_future<void> opened_ = open_.get_future().share();
  bool held_ = false;
};

TEST(TrayRun, WhatTheWorkerSendsBeforeTheWindowExistsArrivesAfterStartedInOrder) {
  TrayRun t;
  CreationGate gate(t.class_name);
  ASSERT_TRUE(gate.hooked());
  // Nothing was posted for the sends, which came while the cell held no window: the first drain
  // after Started takes them.
  std::optional<bool> wake_up_waiting;
  t.react = [&](TrayUi&, const TrayEvent<std::string>& event) {
    if (!std::holds_alternative<tray::Started>(event)) return;
    MSG m;
    wake_up_waiting = PeekMessageW(&m, window_of(t.class_name), ui_thread::WM_TRAY_EVENTS,
                                   ui_thread::WM_TRAY_EVENTS, PM_NOREMOVE) != FALSE;
  };
  auto result = t.run([&](Events events) {
    events.send("a");
    events.send("b");
    gate.open();
    ASSERT_TRUE(t.journal.wait_for("Posted(b)"));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_TRUE(gate.held()) << "the window was created only after both sends";
  EXPECT_EQ(wake_up_waiting, false);
  EXPECT_EQ(t.journal.entries(), (std::vector<std::string>{"Started", "Posted(a)", "Posted(b)"}));
}

TEST(TrayRun, TwoSendsWhileTheHandlerIsBusyArriveInOneDrain) {
  TrayRun t;
  std::promise<void> both_sent;  // kept by the worker; the handler is held until it is set
  std::shared_future<void> sent = both_sent.get_future().share();
  bool held = false;
  bool wake_ups_waiting = false;
  t.react = [&](TrayUi&, const TrayEvent<std::string>& event) {
    if (is(event, "hold")) held = sent.wait_for(kPatience) == std::future_status::ready;
    if (is(event, "y")) {
      // The wake-ups of x and y are still queued: this drain took both.
      MSG m;
      wake_ups_waiting = PeekMessageW(&m, window_of(t.class_name), ui_thread::WM_TRAY_EVENTS,
                                      ui_thread::WM_TRAY_EVENTS, PM_NOREMOVE) != FALSE;
    }
  };
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("Started"));
    events.send("hold");
    ASSERT_TRUE(t.journal.wait_for("Posted(hold)"));
    events.send("x");
    events.send("y");
    both_sent.set_value();
    ASSERT_TRUE(t.journal.wait_for("Posted(y)"));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(t.journal.entries(), (std::vector<std::string>{"Started", "Posted(hold)", "Posted(x)", "Posted(y)"}));
  EXPECT_TRUE(held) << "x and y were sent while the handler was busy";
  EXPECT_TRUE(wake_ups_waiting);
}

TEST(TrayRun, QuitFromAnotherThreadEndsTheLoopAndLaterSendsAreDropped) {
  TrayRun t;
  std::optional<Events> kept;
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("Started"));
    kept = events;
    events.quit();
    events.quit();  // a second quit does nothing more
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(window_of(t.class_name), nullptr) << "the window is destroyed";
  ASSERT_TRUE(kept.has_value());
  kept->send("late");  // the UI has finished: dropped without error
  EXPECT_EQ(t.journal.entries(), (std::vector<std::string>{"Started"}));
}

// The worker lingers after its quit, so that a runner that did not wait for it would return first.
TEST(TrayRun, ReturnsOnlyAfterTheWorkerFunctionHasReturned) {
  for (const bool told : {false, true}) {
    SCOPED_TRACE(told ? "told to stop" : "ends by itself");
    const std::string class_name = unique_class();
    std::promise<void> stop;
    std::shared_future<void> stopped = stop.get_future().share();
    if (!told) stop.set_value();
    std::atomic<bool> finished = false;
    auto worker = [&](Events events) {
      events.quit();
      stopped.wait_for(kPatience);
      std::this_thread::sleep_for(100ms);
      finished = true;
    };
    auto ignore = [](TrayUi&, TrayEvent<std::string>) {};
    bool window_gone = false;
    bool worker_running = false;
    auto result = told ? tray::run<std::string>(class_name, worker, ignore,
                                                [&] {
                                                  window_gone = window_of(class_name) == nullptr;
                                                  worker_running = !finished;
                                                  stop.set_value();
                                                  return true;
                                                })
                       : tray::run<std::string>(class_name, worker, ignore);
    ASSERT_TRUE(result.has_value()) << result.error().text();
    EXPECT_TRUE(finished);
    if (told) {
      EXPECT_TRUE(window_gone) << "the worker is told to stop once the window has gone";
      EXPECT_TRUE(worker_running);
    }
  }
}

TEST(TrayRun, AWorkerThatCannotBeStoppedIsLeftRunning) {
  std::promise<void> release;
  auto ended = std::make_shared<std::promise<void>>();  // shared: the worker outlives this test's frame
  std::future<void> end = ended->get_future();
  auto worker = [released = release.get_future(), ended](Events events) mutable {
    events.quit();
    released.wait_for(kPatience);
    ended->set_value();
  };
  auto result = tray::run<std::string>(
      unique_class(), std::move(worker), [](TrayUi&, TrayEvent<std::string>) {}, [] { return false; });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(end.wait_for(0s), std::future_status::timeout) << "run returned without waiting for it";
  release.set_value();
  EXPECT_EQ(end.wait_for(kPatience), std::future_status::ready);
}

// The allocation that fails is the first one after the window exists: the window's own state.
TEST(TrayRun, AFaultAfterTheWindowExistsDestroysItAndUnregistersItsClass) {
  const std::string class_name = unique_class();
  const std::u16string wide_name = wide::to_wide(class_name);
  static const std::u16string* armed_for = nullptr;
  armed_for = &wide_name;
  struct Hook {
    static LRESULT CALLBACK on_cbt(int code, WPARAM wparam, LPARAM lparam) {
      if (code == HCBT_CREATEWND && armed_for != nullptr) {
        wchar_t name[256];
        const int length = GetClassNameW(reinterpret_cast<HWND>(wparam), name, 256);
        if (win32::units(name, static_cast<std::size_t>(std::max(length, 0))) == *armed_for) {
          armed_for = nullptr;
          g_fail_next_allocation_on = GetCurrentThreadId();
        }
      }
      return CallNextHookEx(nullptr, code, wparam, lparam);
    }
  };
  win32::HookHandle hook(SetWindowsHookExW(WH_CBT, &Hook::on_cbt, nullptr, GetCurrentThreadId()));
  ASSERT_TRUE(hook.valid());
  auto ignore = [](TrayUi&, TrayEvent<std::string>) {};
  EXPECT_THROW((void)tray::run<std::string>(class_name, [](Events) {}, ignore), std::bad_alloc);
  hook.reset();
  EXPECT_EQ(g_fail_next_allocation_on.load(), 0u) << "the armed allocation came";
  EXPECT_EQ(window_of(class_name), nullptr) << "the window is destroyed";
  // The class went with it: the same class name runs again.
  TrayRun again;
  again.class_name = class_name;
  auto result = again.run([&](Events events) { ASSERT_TRUE(again.journal.wait_for("Started")); });
  EXPECT_TRUE(result.has_value()) << result.error().text();
}

TEST(TrayRun, AFaultInTheHandlerClosesTheProgramCleanly) {
  base::testing::LogCapture log;
  TrayRun t;
  t.react = [](TrayUi&, const TrayEvent<std::string>& event) {
    if (std::holds_alternative<tray::Started>(event)) throw std::runtime_error("boom");
  };
  auto result = t.run([](Events) {});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind, tray::UiError::Kind::CallbackPanicked);
  EXPECT_EQ(result.error().text(), "a UI callback panicked");
  const std::vector<std::string> lines = log.messages();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "a UI callback panicked; closing the program cleanly"), 1);
  EXPECT_EQ(window_of(t.class_name), nullptr);
}

TEST(TrayRun, AClassThatCannotBeRegisteredFailsWithTheSystemErrorAsAnHresult) {
  TrayRun t;
  // The class is this module's already, so registering it again is refused.
  const std::u16string name = wide::to_wide(t.class_name);
  WNDCLASSEXW taken{};
  taken.cbSize = sizeof taken;
  taken.lpfnWndProc = &DefWindowProcW;
  taken.hInstance = GetModuleHandleW(nullptr);
  taken.lpszClassName = win32::wz(name);
  ASSERT_NE(RegisterClassExW(&taken), 0);
  auto result = t.run([](Events) {});
  UnregisterClassW(win32::wz(name), GetModuleHandleW(nullptr));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind, tray::UiError::Kind::RegisterWindow);
  EXPECT_EQ(result.error().error.code, static_cast<std::uint32_t>(HRESULT_FROM_WIN32(ERROR_CLASS_ALREADY_EXISTS)));
  EXPECT_EQ(result.error().text(), "cannot register the window: " + base::os_error(ERROR_CLASS_ALREADY_EXISTS).text);
  EXPECT_TRUE(t.journal.entries().empty()) << "no handler call";
}

TEST(TrayRun, TheIconIsAddedAndAddedAgainWhenTheTaskbarComesBack) {
  TrayRun t;
  t.react = [](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (std::holds_alternative<tray::Started>(event)) ui.set_content(sample_content());
  };
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("TrayReady"));
    // Act out a shell restart: the shell forgets the icon, then tells every window it is back.
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_of(t.class_name);
    data.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(t.journal.wait_for("TrayReady", 2));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(t.journal.count("TrayReady"), 2u);
}

TEST(TrayRun, SessionEndingRemovesTheIconButTheLoopGoesOn) {
  TrayRun t;
  std::vector<bool> shown;
  t.react = [&](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (std::holds_alternative<tray::Started>(event)) ui.set_content(sample_content());
    if (is(event, "balloon")) shown.push_back(ui.notify({"Tolvaro DCS Bridge", "A balloon", true}));
  };
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("TrayReady"));
    HWND window = window_of(t.class_name);
    events.send("balloon");
    ASSERT_TRUE(t.journal.wait_for("Posted(balloon)"));
    // The session is not ending after all: nothing happens.
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageW(window, WM_ENDSESSION, 0, 0);
    events.send("balloon");
    ASSERT_TRUE(t.journal.wait_for("Posted(balloon)", 2));
    // It is ending: the handler hears it and the icon goes, but the window stays until told to quit.
    SendMessageW(window, WM_ENDSESSION, 1, 0);
    EXPECT_TRUE(t.journal.wait_for("SessionEnding"));
    events.send("balloon");
    ASSERT_TRUE(t.journal.wait_for("Posted(balloon)", 3));
    EXPECT_NE(window_of(t.class_name), nullptr);
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(shown, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(t.journal.count("SessionEnding"), 1u);
}

TEST(TrayRun, AMenuOpenedThroughTheIconReturnsThePickedItem) {
  TrayRun t;
  t.react = [](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (std::holds_alternative<tray::Started>(event)) ui.set_content(sample_content());
  };
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("TrayReady"));
    HWND window = window_of(t.class_name);
    // Version 4: the event in the low word of lParam, the anchor point in wParam.
    const WPARAM anchor = MAKEWPARAM(900, 700);
    PostMessageW(window, ui_thread::WM_TRAY_ICON, anchor, WM_CONTEXTMENU);
    // Down once selects "Open Tolvaro", again skips the separator to "Start with Windows".
    ASSERT_TRUE(ui_testing::pick_menu_item(ui_testing::wait_for_popup_menu(), 2));
    ASSERT_TRUE(t.journal.wait_for("MenuItemClicked(MenuItemId(2))"));
    // Opened again and closed without a pick: the menu opens, nothing is clicked.
    PostMessageW(window, ui_thread::WM_TRAY_ICON, anchor, NIN_SELECT);
    const ui_testing::Window menu = ui_testing::wait_for_popup_menu();
    ASSERT_NE(menu, 0u);
    PostMessageW(reinterpret_cast<HWND>(menu), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(t.journal.wait_for("MenuOpening", 2));
    events.send("after");
    ASSERT_TRUE(t.journal.wait_for("Posted(after)"));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(t.journal.entries(),
            (std::vector<std::string>{"Started", "TrayReady", "MenuOpening", "MenuItemClicked(MenuItemId(2))",
                                      "MenuOpening", "Posted(after)"}));
}

TEST(TrayRun, TheMenuHoldsTheItemsWithTheirStatesAndTheLastOfTwoDefaults) {
  TrayRun t;
  t.react = [](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (!std::holds_alternative<tray::Started>(event)) return;
    ui.set_content({"Waiting for DCS",
                    {tray::Item{"Open Tolvaro", tray::MenuItemId{1}, true, false, true}, tray::Separator{},
                     tray::Item{"Start with Windows", tray::MenuItemId{2}, true, true, false},
                     tray::Item{"Bridge 0.5.0", tray::MenuItemId{0}, false, false, false},
                     tray::Item{"Quit", tray::MenuItemId{65534}, true, false, true}},
                    false});
  };
  struct Shown {
    int count = -1;
    UINT default_command = 0;
    std::vector<UINT> states;  // MF_CHECKED, MF_GRAYED, MF_SEPARATOR of each, by position
    std::vector<UINT> commands;
  } shown;
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("TrayReady"));
    PostMessageW(window_of(t.class_name), ui_thread::WM_TRAY_ICON, MAKEWPARAM(900, 700), WM_CONTEXTMENU);
    const ui_testing::Window popup = ui_testing::wait_for_popup_menu();
    ASSERT_NE(popup, 0u);
    // The menu is read while it is open: its window hands out the menu itself.
    auto menu = reinterpret_cast<HMENU>(SendMessageW(reinterpret_cast<HWND>(popup), MN_GETHMENU, 0, 0));
    ASSERT_NE(menu, nullptr);
    shown.count = GetMenuItemCount(menu);
    shown.default_command = GetMenuDefaultItem(menu, FALSE, 0);
    for (int i = 0; i < shown.count; ++i) {
      const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
      // A separator may be reported greyed as well; it is a separator all the same.
      shown.states.push_back(state & MF_SEPARATOR ? MF_SEPARATOR : state & (MF_CHECKED | MF_GRAYED));
      shown.commands.push_back(GetMenuItemID(menu, i));
    }
    PostMessageW(reinterpret_cast<HWND>(popup), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(ui_testing::wait_for_window_gone(popup));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(shown.count, 5);
  EXPECT_EQ(shown.default_command, 65535u) << "both defaults were set; the later one wins";
  EXPECT_EQ(shown.states, (std::vector<UINT>{0, MF_SEPARATOR, MF_CHECKED, MF_GRAYED, 0}));
  EXPECT_EQ(shown.commands, (std::vector<UINT>{2, 0, 3, 1, 65535}));
}

TEST(TrayRun, QuittingWhileAQuestionIsOpenAnswersClosed) {
  TrayRun t;
  std::optional<dialogs::DialogAnswer> answer;
  t.react = [&](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (is(event, "ask"))
      answer = ui.ask({"Tolvaro DCS Bridge", "Repair the DCS setup?", "", {}, {"Repair", "Not now"}, {}});
  };
  auto result = t.run([&](Events events) {
    events.send("ask");
    ASSERT_NE(ui_testing::wait_for_window(dialog_titled("Tolvaro DCS Bridge")), 0u);
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(answer, dialogs::DialogAnswer::closed());
}

TEST(TrayRun, QuittingWhileTheFolderPickerIsOpenReturnsNothing) {
  TrayRun t;
  std::optional<std::optional<std::string>> picked;
  t.react = [&](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (is(event, "pick")) picked = ui.pick_folder({"Pick the DCS folder", "C:\\windows"});
  };
  auto result = t.run([&](Events events) {
    events.send("pick");
    ASSERT_NE(ui_testing::wait_for_window(dialog_titled("Pick the DCS folder")), 0u);
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  ASSERT_TRUE(picked.has_value());
  EXPECT_EQ(*picked, std::nullopt);
  EXPECT_EQ(dialogs::pending_file_dialogs(), 0u) << "the picker left the list once its Show returned";
  // The re-close timer may still run: it ends itself at its next tick on this thread's messages.
  EXPECT_TRUE(ui_testing::wait_until([] {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return dialogs::running_reclose_timers() == 0;
  })) << "the re-close timer ended itself";
}

TEST(TrayRun, ADialogShownAfterTheLoopEndedOnQuitStaysUntilAnswered) {
  TrayRun t;
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("Started"));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  // What tray mode does after a failed loop: tell the user, on the same thread.
  dialogs::DialogHost host;
  std::thread presser([] {
    const ui_testing::Window dialog = ui_testing::wait_for_window(dialog_titled("Tolvaro DCS Bridge"));
    ASSERT_NE(dialog, 0u) << "the dialog ended before anyone saw it";
    EXPECT_TRUE(ui_testing::press_button(dialog, 2001));
  });
  dialogs::DialogAnswer answer =
      host.ask({"Tolvaro DCS Bridge", "Tolvaro DCS Bridge stopped", "", {}, {"OK", "Details"}, {}});
  presser.join();
  EXPECT_EQ(answer, dialogs::DialogAnswer::button(1));
}


// The notification area of the Wine desktop's taskbar, where the icon is drawn.
ui_testing::Rect tray_area() {
  HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (taskbar == nullptr) return {};
  RECT r{};
  GetWindowRect(taskbar, &r);
  // The icons sit at the right end of the taskbar.
  return {std::max<int>(r.left, r.right - 200), r.top, r.right, r.bottom};
}

// Pixels of the badge's amber disc in a capture of the tray area.
std::size_t amber_pixels(const ui_testing::Image& image) {
  return static_cast<std::size_t>(std::count_if(image.pixels.begin(), image.pixels.end(),
                                                [](std::uint32_t p) { return (p & 0xFFFFFF) == 0xF0A800; }));
}

TEST(TrayRun, TheBadgeShowsOnTheIconWhenTheContentAsksForAttention) {
  TrayRun t;
  t.react = [](TrayUi& ui, const TrayEvent<std::string>& event) {
    if (std::holds_alternative<tray::Started>(event)) ui.set_content(sample_content(false));
    if (is(event, "attention")) ui.set_content(sample_content(true));
  };
  std::size_t amber_before = 0;
  std::size_t amber_after = 0;
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("TrayReady"));
    const ui_testing::Rect area = tray_area();
    ASSERT_GT(area.width(), 0) << "the desktop has a taskbar";
    // The shell draws the icon a moment after it has it: wait until the tray shows any of its blue.
    ASSERT_TRUE(ui_testing::wait_until([&] {
      auto shot = ui_testing::capture(area);
      return shot && std::any_of(shot->pixels.begin(), shot->pixels.end(), [](std::uint32_t p) {
        return (p & 0xFF) > 0xC0 && ((p >> 16) & 0xFF) < 0x60;  // strongly blue
      });
    }));
    auto plain = ui_testing::capture(area);
    ASSERT_TRUE(plain.has_value()) << plain.error();
    amber_before = amber_pixels(*plain);
    EXPECT_TRUE(ui_testing::save_screenshot("tray-icon", area).has_value());
    events.send("attention");
    ASSERT_TRUE(t.journal.wait_for("Posted(attention)"));
    ui_testing::wait_until([&] {
      auto shot = ui_testing::capture(area);
      return shot && (amber_after = amber_pixels(*shot)) > 0;
    });
    EXPECT_TRUE(ui_testing::save_screenshot("tray-icon-badge", area).has_value());
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_EQ(amber_before, 0u);
  EXPECT_GE(amber_after, 9u) << "the disc is at least a few pixels across at the small-icon edge";
}

// ---- Single instance: other processes of the same window class ----

// A child process of the instance helper that lives beside this test.
class Child {
 public:
  Child(const wchar_t* mode, const std::string& class_name) {
    wchar_t module[MAX_PATH];
    std::wstring exe(module, GetModuleFileNameW(nullptr, module, MAX_PATH));
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"core_ui_instance_child.exe";
    std::wstring command = L"\"" + exe + L"\" " + mode + L" " + reinterpret_cast<const wchar_t*>(
                                                                      wide::to_wide(class_name).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      const win32::Handle thread(info.hThread);  // only the process is watched
      id_ = info.dwProcessId;
    }
  }
  ~Child() {
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
  }
  DWORD id() const { return id_; }
  // The exit code once it ended within the patience; nothing while it runs.
  std::optional<DWORD> exit_code(std::chrono::milliseconds patience) const {
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(patience.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  win32::Handle process_;
  DWORD id_ = 0;
};

// The child's window of the class, once it exists.
bool wait_for_window_of(const Child& child, const std::string& class_name) {
  const std::u16string name = wide::to_wide(class_name);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    for (HWND w = FindWindowExW(nullptr, nullptr, win32::wz(name), nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, win32::wz(name), nullptr)) {
      DWORD process = 0;
      GetWindowThreadProcessId(w, &process);
      if (process == child.id()) return true;
    }
    Sleep(20);
  }
  return false;
}

constexpr DWORD kShown = 7;  // the tray child's exit code after it was asked to show itself

TEST(SingleInstance, AskingSkipsOwnWindowsAndAsksOnlyTheFirstOtherProcess) {
  TrayRun t;
  Child first(L"tray", t.class_name);
  Child second(L"tray", t.class_name);
  ASSERT_TRUE(wait_for_window_of(first, t.class_name));
  ASSERT_TRUE(wait_for_window_of(second, t.class_name));
  const std::uint32_t show = tray::show_yourself_message(t.class_name);
  bool asked = false;
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("Started"));
    // This process's own window of the class is the newest and found first, so asking has to skip it.
    DWORD first_found = 0;
    GetWindowThreadProcessId(FindWindowExW(nullptr, nullptr, win32::wz(wide::to_wide(t.class_name)), nullptr),
                             &first_found);
    ASSERT_EQ(first_found, GetCurrentProcessId()) << "the own window comes first";
    asked = tray::ask_other_instance_to_show(t.class_name, show);
    const std::optional<DWORD> a = first.exit_code(kPatience / 2);
    const std::optional<DWORD> b = second.exit_code(std::chrono::milliseconds(500));
    EXPECT_NE(a.has_value(), b.has_value()) << "exactly one other instance was asked";
    EXPECT_EQ(a.value_or(b.value_or(0)), kShown);
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
  EXPECT_TRUE(asked);
  EXPECT_EQ(t.journal.count("AnotherInstanceStarted"), 0u);
}

TEST(SingleInstance, TheShowYourselfMessageReachesTheHandler) {
  TrayRun t;
  auto result = t.run([&](Events events) {
    ASSERT_TRUE(t.journal.wait_for("Started"));
    PostMessageW(window_of(t.class_name), tray::show_yourself_message(t.class_name), 0, 0);
    EXPECT_TRUE(t.journal.wait_for("AnotherInstanceStarted"));
    events.quit();
  });
  ASSERT_TRUE(result.has_value()) << result.error().text();
}

TEST(SingleInstance, AskingWithNoOtherInstanceFindsNone) {
  EXPECT_FALSE(tray::ask_other_instance_to_show(unique_class(), tray::show_yourself_message("x")));
}

TEST(SingleInstance, QuitOtherInstanceOutcomes) {
  EXPECT_EQ(tray::quit_other_instance(unique_class()), tray::QuitOutcome::NotRunning);

  const std::string closing = unique_class();
  Child polite(L"tray", closing);
  ASSERT_TRUE(wait_for_window_of(polite, closing));
  EXPECT_EQ(tray::quit_other_instance(closing), tray::QuitOutcome::Quit);
  EXPECT_EQ(polite.exit_code(std::chrono::milliseconds(0)), DWORD{0}) << "it had ended when Quit was told";

  const std::string stubborn = unique_class();
  Child deaf(L"deaf", stubborn);
  ASSERT_TRUE(wait_for_window_of(deaf, stubborn));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(tray::quit_other_instance(stubborn), tray::QuitOutcome::TimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 10s) << "it waited out its ten seconds";
  EXPECT_FALSE(deaf.exit_code(std::chrono::milliseconds(0)).has_value());
}

}  // namespace
