// DialogHost with real windows under Wine: the test's main thread is the UI thread and sits in
// the host's modal calls, while a helper thread (a probe) finds the dialogs and presses their
// buttons. Each probe that cannot do its part closes every dialog of the process, so that a fault
// fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <future>
#include <mutex>
#include <ostream>
#include <thread>

#include "core/base/src/win32.hpp"
#include "core/ui/src/dialog_host.hpp"
#include "core/ui/src/ui_thread.hpp"
#include "core/ui/tests/ui_testing.hpp"

namespace {

using dialogs::DialogAnswer;
using dialogs::DialogIcon;
using dialogs::DialogHost;
using ui_testing::Window;

// Wine's folder picker: its file name box and buttons.
constexpr int kPickerNameBox = 1152;
constexpr int kOk = IDOK;
constexpr int kCancel = IDCANCEL;

// A message-only window of the UI thread. Runs steps that other threads hand it inside whatever
// modal loop the thread sits in (as the tray window's procedure does), and counts the
// WM_DIALOG_BEHIND it hears as an owner.
class UiThread {
 public:
  UiThread() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &UiThread::procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TolvaroDialogTestThread";
    RegisterClassW(&wc);  // fails harmlessly for every test after the first
    window_.reset(CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  std::uintptr_t window() const { return reinterpret_cast<std::uintptr_t>(window_.get()); }

  // From any thread; does not wait for the step.
  void post(std::function<void()> step) {
    {
      std::lock_guard lock(mutex_);
      steps_.push_back(std::move(step));
    }
    PostMessageW(window_.get(), WM_APP, 0, 0);
  }
  // From any thread: runs `call` on the UI thread and waits for its result (until the deadline).
  template <class Call>
  std::optional<std::invoke_result_t<Call>> call(Call call) {
    auto done = std::make_shared<std::promise<std::invoke_result_t<Call>>>();
    auto result = done->get_future();
    post([done, call] { done->set_value(call()); });
    if (result.wait_for(ui_testing::kDeadline) != std::future_status::ready) return std::nullopt;
    return result.get();
  }
  int dialogs_behind() const { return behind_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<UiThread*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == ui_thread::WM_DIALOG_BEHIND) ++self->behind_;
    if (self == nullptr || message != WM_APP) return DefWindowProcW(window, message, w, l);
    std::function<void()> step;
    {
      std::lock_guard lock(self->mutex_);
      if (self->steps_.empty()) return 0;
      step = std::move(self->steps_.front());
      self->steps_.pop_front();
    }
    step();  // may open a dialog of its own: the lock is not held
    return 0;
  }

  win32::WindowHandle window_;
  std::mutex mutex_;
  std::deque<std::function<void()>> steps_;
  std::atomic<int> behind_{0};
};

ui_testing::WindowQuery dialogs_of_this_process() {
  ui_testing::WindowQuery query;
  query.class_name = "#32770";
  query.process_id = ui_testing::this_process();
  return query;
}

Window wait_for_dialog(const std::string& title, std::vector<Window> except = {}) {
  ui_testing::WindowQuery query = dialogs_of_this_process();
  query.title = title;
  query.except = std::move(except);
  return ui_testing::wait_for_window(query);
}

void close_every_dialog() {
  for (Window w : ui_testing::find_windows(dialogs_of_this_process())) ui_testing::close_window(w);
}

// Runs `script` on a helper thread while the UI thread goes on; `finish` says whether the script
// did all its part. A failed script closes every dialog, so that the UI thread returns.
class Probe {
 public:
  explicit Probe(std::function<bool()> script)
      : done_(std::async(std::launch::async, [script = std::move(script)] {
          const bool ok = script();
          if (!ok) close_every_dialog();
          return ok;
        })) {}
  bool finish() { return done_.get(); }

 private:
  std::future<bool> done_;
};

// Watches for dialogs of this process while it lives and says whether one showed. One that stays
// longer than `grace` is closed, so that a call that should not have shown it returns.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds grace = std::chrono::milliseconds(0))
      : thread_([this, grace] {
          std::map<Window, std::chrono::steady_clock::time_point> first_seen;
          while (!stop_) {
            for (Window w : ui_testing::find_windows(dialogs_of_this_process())) {
              seen_ = true;
              const auto now = std::chrono::steady_clock::now();
              if (now - first_seen.try_emplace(w, now).first->second >= grace) ui_testing::close_window(w);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}
  ~Watchdog() { stop(); }
  // Whether a dialog showed.
  bool stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::thread thread_;
};

dialogs::Question question(std::string title) {
  return {std::move(title), "Which release?", "The scripts can go into either folder.",
          {{"Release", "last used today"}, {"Open Beta", std::nullopt}}, {"Repair", "Not now"}, DialogIcon::Warning};
}

dialogs::Question buttons_only(std::string title) {
  return {std::move(title), "Repair the scripts?", "Export.lua lost its line.", {}, {"Yes", "No"}, DialogIcon::Information};
}

// What a probe does to a dialog it found.
using Act = std::function<bool(Window)>;
Act press(int id) {
  return [id](Window w) { return ui_testing::press_button(w, id); };
}
bool close_it(Window w) { return ui_testing::close_window(w); }

// Escape (WM_COMMAND IDCANCEL) cannot stand in for the close button here: Wine's task dialog
// ignores it when the dialog has no Cancel button, cancellation allowed or not.
TEST(DialogHostAsk, AnswersWhatWasPressed) {
  struct Case {
    const char* what;
    dialogs::Question question;
    Act act;
    DialogAnswer answer;
  };
  const Case cases[] = {
      {"first command link", question("Ask 1"), press(1000), DialogAnswer::choice(0)},
      {"second command link", question("Ask 2"), press(1001), DialogAnswer::choice(1)},
      {"second button after links", question("Ask 3"), press(2001), DialogAnswer::button(1)},
      {"close with links", question("Ask 4"), close_it, DialogAnswer::closed()},
      {"first button alone", buttons_only("Ask 5"), press(2000), DialogAnswer::button(0)},
      {"second button alone", buttons_only("Ask 6"), press(2001), DialogAnswer::button(1)},
      {"close with buttons alone", buttons_only("Ask 7"), close_it, DialogAnswer::closed()},
  };
  DialogHost host;
  for (const Case& c : cases) {
    Probe probe([&] {
      const Window dialog = wait_for_dialog(c.question.title);
      return dialog != 0 && c.act(dialog);
    });
    const DialogAnswer answer = host.ask(c.question);
    EXPECT_TRUE(probe.finish()) << c.what;
    EXPECT_EQ(answer, c.answer) << c.what;
  }
}

TEST(DialogHostAsk, ShowsTheTextsAndButtonIdsAndIsPhotographed) {
  DialogHost host;
  std::vector<ui_testing::Control> seen;
  std::expected<std::string, std::string> shot = std::unexpected("no dialog");
  Probe probe([&] {
    const Window dialog = wait_for_dialog("Tolvaro DCS Bridge");
    if (dialog == 0 || !ui_testing::wait_until_drawn(ui_testing::window_rect(dialog))) return false;
    seen = ui_testing::controls(dialog);
    shot = ui_testing::save_screenshot("question", ui_testing::window_rect(dialog));
    return ui_testing::press_button(dialog, 2000);
  });
  EXPECT_EQ(host.ask(question("Tolvaro DCS Bridge")), DialogAnswer::button(0));
  ASSERT_TRUE(probe.finish());
  EXPECT_TRUE(shot) << shot.error();

  std::map<int, std::string> buttons;
  std::vector<std::string> texts;
  for (const ui_testing::Control& c : seen) {
    if (!c.visible) continue;
    texts.push_back(c.text);
    if (c.id >= 1000) buttons[c.id] = c.text;
  }
  // A choice with a note shows two lines: the button holds both.
  EXPECT_EQ(buttons, (std::map<int, std::string>{
                         {1000, "Release\nlast used today"}, {1001, "Open Beta"}, {2000, "Repair"}, {2001, "Not now"}}));
  EXPECT_NE(std::ranges::find(texts, "Which release?"), texts.end());
  EXPECT_NE(std::ranges::find(texts, "The scripts can go into either folder."), texts.end());
}

TEST(DialogHostTell, ShowsOneButtonAndReturnsWhenItIsPressed) {
  DialogHost host;
  std::map<int, std::string> buttons;
  Probe probe([&] {
    const Window dialog = wait_for_dialog("Tell");
    if (dialog == 0) return false;
    for (const ui_testing::Control& c : ui_testing::controls(dialog))
      if (c.visible && c.class_name == "Button") buttons[c.id] = c.text;
    return ui_testing::press_button(dialog, 2000);
  });
  host.tell({"Tell", "Done", "Wrote 3 files.", "Got it"});
  EXPECT_TRUE(probe.finish());
  EXPECT_EQ(buttons, (std::map<int, std::string>{{2000, "Got it"}}));
}

// Quits the host from inside the loop of the dialog titled `title` once it shows, as the tray's
// Quit item does, and waits until the dialog is gone.
Probe quit_when_shown(UiThread& ui, DialogHost& host, const std::string& title) {
  return Probe([&ui, &host, title] {
    const Window dialog = wait_for_dialog(title);
    if (dialog == 0) return false;
    ui.post([&host] { host.close_all(); });
    return ui_testing::wait_for_window_gone(dialog);
  });
}

TEST(DialogHostQuit, ClosesAnOpenQuestionAndShowsNothingAfterwards) {
  UiThread ui;
  DialogHost host(ui.window());
  Probe probe = quit_when_shown(ui, host, "Quit question");
  EXPECT_EQ(host.ask(question("Quit question")), DialogAnswer::closed());
  EXPECT_TRUE(probe.finish());

  Watchdog watchdog;
  EXPECT_EQ(host.ask(question("After quit")), DialogAnswer::closed());
  host.tell({"After quit", "h", "b", "OK"});
  EXPECT_EQ(host.pick_folder({"After quit", std::nullopt}), std::nullopt);
  EXPECT_FALSE(host.bring_top_dialog_to_front());
  EXPECT_FALSE(watchdog.stop()) << "a dialog showed after quitting";
}

// Takes the thread's messages until `done`, as the tray's loop would after a dialog returned.
bool pump_until(const std::function<bool()>& done) {
  return ui_testing::wait_until([&] {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return done();
  });
}

TEST(DialogHostQuit, ClosesAnOpenFolderPickerAndItsReCloseTimerEnds) {
  UiThread ui;
  DialogHost host(ui.window());
  Probe probe = quit_when_shown(ui, host, "Quit picker");
  EXPECT_EQ(host.pick_folder({"Quit picker", std::nullopt}), std::nullopt);
  EXPECT_TRUE(probe.finish());
  EXPECT_EQ(dialogs::pending_file_dialogs(), 0u);
  // The timer that would have told the picker again runs until it finds the list empty.
  EXPECT_EQ(dialogs::running_reclose_timers(), 1u);
  EXPECT_TRUE(pump_until([] { return dialogs::running_reclose_timers() == 0; }));
}

// A folder of its own under the temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() : path_(std::filesystem::temp_directory_path() / ("tolvaro_pick_" + std::to_string(GetCurrentProcessId()))) {
    std::filesystem::create_directories(path_ / "picked");
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(DialogHostPickFolder, OpensInTheStartFolderAndReturnsThePickedPath) {
  TempFolder folder;
  DialogHost host;
  // A name relative to the folder the picker shows: it resolves only if the picker opened there.
  Probe probe([&] {
    const Window picker = wait_for_dialog("Pick the folder");
    return picker != 0 && ui_testing::set_control_text(picker, kPickerNameBox, "picked") &&
           ui_testing::press_button(picker, kOk);
  });
  const std::optional<std::string> picked = host.pick_folder({"Pick the folder", folder.path().string()});
  EXPECT_TRUE(probe.finish());
  ASSERT_TRUE(picked);
  EXPECT_TRUE(std::filesystem::equivalent(*picked, folder.path() / "picked")) << *picked;
  EXPECT_FALSE(host.bring_top_dialog_to_front()) << "the picker is still listed";
}

TEST(DialogHostPickFolder, OpensForAMissingStartFolderAndACancelReturnsNothing) {
  DialogHost host;
  Probe probe([&] {
    const Window picker = wait_for_dialog("Missing start");
    return picker != 0 && ui_testing::press_button(picker, kCancel);
  });
  EXPECT_EQ(host.pick_folder({"Missing start", "C:\\no\\such\\folder"}), std::nullopt);
  EXPECT_TRUE(probe.finish());
}

TEST(DialogHostFront, RaisesTheNewerOfTwoNestedDialogs) {
  enum class Newer { Question, FolderPicker };
  for (Newer newer : {Newer::Question, Newer::FolderPicker}) {
    SCOPED_TRACE(newer == Newer::Question ? "newer question" : "newer folder picker");
    UiThread ui;
    DialogHost host(ui.window());
    EXPECT_FALSE(host.bring_top_dialog_to_front());
    std::optional<bool> raised;
    std::optional<bool> raised_outer;
    Window inner = 0;
    Window front = 0;
    Probe probe([&] {
      const Window outer = wait_for_dialog("Outer");
      if (outer == 0) return false;
      // Opened from inside the outer dialog's loop, as a handler of the tray does.
      ui.post([&] {
        if (newer == Newer::Question)
          host.ask(question("Inner"));
        else
          host.pick_folder({"Inner", std::nullopt});
      });
      inner = wait_for_dialog("Inner", {outer});
      if (inner == 0 || !ui_testing::bring_to_front(outer) ||
          !ui_testing::wait_until([&] { return ui_testing::foreground_window() == outer; }))
        return false;
      raised = ui.call([&] { return host.bring_top_dialog_to_front(); });
      front = ui_testing::foreground_window();
      if (!ui_testing::close_window(inner) || !ui_testing::wait_for_window_gone(inner)) return false;
      // The inner dialog is no longer listed: the outer one is the newest again.
      raised_outer = ui.call([&] { return host.bring_top_dialog_to_front(); });
      return ui_testing::press_button(outer, 2000);
    });
    EXPECT_EQ(host.ask(question("Outer")), DialogAnswer::button(0));
    EXPECT_TRUE(probe.finish());
    EXPECT_EQ(raised, true);
    EXPECT_EQ(front, inner);
    EXPECT_EQ(raised_outer, true);
    EXPECT_FALSE(host.bring_top_dialog_to_front()) << "a closed dialog is still listed";
  }
}

TEST(DialogHostBehind, ADialogThatCameToTheFrontTellsTheOwnerNothing) {
  UiThread ui;
  DialogHost host(ui.window());
  Probe probe([&] {
    const Window dialog = wait_for_dialog("In front");
    return dialog != 0 && ui_testing::foreground_window() == dialog && ui_testing::press_button(dialog, 2000);
  });
  EXPECT_EQ(host.ask(buttons_only("In front")), DialogAnswer::button(0));
  EXPECT_TRUE(probe.finish());
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  EXPECT_EQ(ui.dialogs_behind(), 0);
}

// Why the tray's runner removes a WM_QUIT left in the queue when its loop ends: the next modal
// dialog of the thread ends at once, as if its default button had been pressed, before anyone
// could see it; and its loop puts the WM_QUIT back, so the dialog after it would end too.
TEST(DialogHostAfterQuitMessage, TheNextQuestionEndsAtOnceWithItsDefault) {
  struct Case {
    dialogs::Question question;
    DialogAnswer answer;  // of the default button
  };
  const Case cases[] = {{buttons_only("After WM_QUIT 1"), DialogAnswer::button(0)},
                        {question("After WM_QUIT 2"), DialogAnswer::choice(0)}};
  DialogHost host;
  for (const Case& c : cases) {
    PostQuitMessage(0);
    Watchdog rescue(ui_testing::kDeadline);  // would close a dialog that stayed: the answer would be Closed
    EXPECT_EQ(host.ask(c.question), c.answer) << c.question.title;
    rescue.stop();
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no WM_QUIT after " << c.question.title;
  }
}

}  // namespace
