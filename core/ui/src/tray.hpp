#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "core/base/src/os_error.hpp"
#include "core/ui/src/dialogs.hpp"

// The UI thread: one hidden window with the notification-area icon, its menu and balloons, the
// application's handler called with every window event, and the queue through which other threads
// reach it. `tray::run` is generic over the application's message type M (the payload of Posted);
// the window itself (tray_win32.cpp) is not.
namespace tray {

// The identifier of a tray menu item, chosen by the application; its Windows command is id + 1.
struct MenuItemId {
  std::uint16_t value = 0;
  auto operator<=>(const MenuItemId&) const = default;
};
std::string to_string(MenuItemId id);  // "MenuItemId(4)"
inline void PrintTo(MenuItemId id, std::ostream* out) { *out << to_string(id); }

struct Separator {
  bool operator==(const Separator&) const = default;
};
struct Item {
  std::string label;
  MenuItemId id;
  bool enabled = true;     // a disabled item is greyed and cannot be picked
  bool checked = false;    // shows a check mark
  bool is_default = false; // the menu's default item (bold)
  bool operator==(const Item&) const = default;
};
using MenuItem = std::variant<Separator, Item>;

// What the icon shows, as the application says.
struct TrayContent {
  std::string tooltip;  // at most 127 UTF-16 units reach the shell
  std::vector<MenuItem> menu;
  bool attention = false;  // the icon with the badge
  bool operator==(const TrayContent&) const = default;
};

struct Notification {
  std::string title;  // at most 63 UTF-16 units reach the shell
  std::string text;   // at most 255
  bool quiet = false; // no sound, only if it can be shown now, taken down after 4 s
};

// What the application's handler reaches the tray through: the dialogs of its DialogHost, and the
// icon itself.
class TrayUi : public dialogs::Dialogs {
 public:
  // Stores a copy and brings the icon up to date (adding it the first time).
  virtual void set_content(const TrayContent& content) = 0;
  // Whether the balloon was handed to the shell (never before the icon is added or after quit).
  virtual bool notify(const Notification& notification) = 0;
  // Closes the tray: dialogs, retry, icon; the message loop then ends.
  virtual void quit() = 0;
};

// The window's events, in this order; Posted carries what another thread sent.
struct Started {};
struct TrayReady {};
struct MenuOpening {};
struct DialogBehind {};
struct MenuItemClicked {
  MenuItemId id;
};
struct NotificationClicked {};
struct AnotherInstanceStarted {};
struct SessionEnding {};
template <class M>
struct Posted {
  M message;
};

// The events the window makes itself.
using WindowEvent = std::variant<Started, TrayReady, MenuOpening, DialogBehind, MenuItemClicked,
                                 NotificationClicked, AnotherInstanceStarted, SessionEnding>;
template <class M>
using TrayEvent = std::variant<Started, TrayReady, MenuOpening, DialogBehind, MenuItemClicked, NotificationClicked,
                               AnotherInstanceStarted, SessionEnding, Posted<M>>;

// The variant's name, with the payload in parentheses: "MenuItemClicked(MenuItemId(4))".
std::string to_string(const WindowEvent& event);

template <class M>
TrayEvent<M> widen(const WindowEvent& event) {
  return std::visit([](const auto& e) -> TrayEvent<M> { return e; }, event);
}

template <class M>
std::string to_string(const TrayEvent<M>& event) {
  if (const auto* posted = std::get_if<Posted<M>>(&event)) {
    if constexpr (requires { to_string(posted->message); })
      return "Posted(" + to_string(posted->message) + ")";
    else
      return "Posted";
  }
  return std::visit(
      [](const auto& e) -> std::string {
        if constexpr (std::is_same_v<std::decay_t<decltype(e)>, Posted<M>>)
          return "Posted";
        else
          return to_string(WindowEvent(e));
      },
      event);
}

// One item of the queue to the UI thread.
template <class M>
struct Post {
  M message;
};
struct Quit {};
template <class M>
using TrayRequest = std::variant<Post<M>, Quit>;

// The unbounded queue to the UI thread: any number of senders, one receiver. A plain mutex and
// deque: Asio's channels are tied to an executor, and the UI thread runs a Windows message loop.
template <class M>
class RequestQueue {
 public:
  // False (and the request dropped) once the receiver is gone.
  bool push(TrayRequest<M> request) {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    items_.push_back(std::move(request));
    return true;
  }
  std::optional<TrayRequest<M>> try_pop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    TrayRequest<M> front = std::move(items_.front());
    items_.pop_front();
    return front;
  }
  // The receiver is gone: what waits is dropped, later pushes are refused.
  void close() {
    std::deque<TrayRequest<M>> dropped;
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(items_);
  }

 private:
  std::mutex mutex_;
  std::deque<TrayRequest<M>> items_;
  bool closed_ = false;
};

// Takes requests in order until the queue is empty: Quit calls `on_quit` and draining goes on, Post
// calls `on_post` with its message. One request at a time and never under the lock, since a handler
// may run a modal dialog whose nested message loop drains again.
template <class M, class OnPost, class OnQuit>
void drain(RequestQueue<M>& queue, OnPost&& on_post, OnQuit&& on_quit) {
  while (std::optional<TrayRequest<M>> request = queue.try_pop()) {
    if (auto* post = std::get_if<Post<M>>(&*request))
      on_post(std::move(post->message));
    else
      on_quit();
  }
}

// The tray window's handle as one atomic word, 0 while there is no window; senders read it to know
// whether to wake the UI thread.
class WindowCell {
 public:
  using Wake = void (*)(std::uintptr_t window) noexcept;
  explicit WindowCell(Wake wake) : wake_(wake) {}
  void set(std::uintptr_t window) { window_.store(window, std::memory_order_release); }
  std::uintptr_t get() const { return window_.load(std::memory_order_acquire); }
  // Tells the window that requests wait, if there is a window.
  void wake() const {
    if (std::uintptr_t window = get(); window != 0) wake_(window);
  }

 private:
  std::atomic<std::uintptr_t> window_{0};
  Wake wake_;
};

// The handle other threads get: queue a message (a Posted event) or a quit, from any thread. Cheap to
// copy; never blocks; after the UI has finished, requests are dropped without error.
template <class M>
class TrayEvents {
 public:
  TrayEvents(std::shared_ptr<RequestQueue<M>> queue, std::shared_ptr<WindowCell> cell)
      : queue_(std::move(queue)), cell_(std::move(cell)) {}
  void send(M message) const {
    if (queue_->push(Post<M>{std::move(message)})) cell_->wake();
  }
  void quit() const {
    if (queue_->push(Quit{})) cell_->wake();
  }

 private:
  std::shared_ptr<RequestQueue<M>> queue_;
  std::shared_ptr<WindowCell> cell_;
};

// Why tray::run failed.
struct UiError {
  enum class Kind { RegisterWindow, CreateWindow, CallbackPanicked };
  Kind kind = Kind::CallbackPanicked;
  base::OsError error;  // RegisterWindow and CreateWindow: the system's last error, as an HRESULT
  // "cannot register the window: {}", "cannot create the window: {}", "a UI callback panicked".
  std::string text() const;
};

enum class QuitOutcome { NotRunning, Quit, TimedOut };

namespace detail {

// The application's side of the window, as the non-generic window code sees it.
class WindowHooks {
 public:
  virtual void on_event(TrayUi& ui, const WindowEvent& event) = 0;
  virtual void drain(TrayUi& ui) = 0;

 protected:
  ~WindowHooks() = default;
};

// Registers the class, creates the hidden window and its Tray, binds them to `cell`, hands Started
// and the first drain to `hooks`, runs the message loop, and tears everything down. Windows only.
std::expected<void, UiError> run_window(std::string_view class_name, WindowCell& cell, WindowHooks& hooks);

// Posts WM_TRAY_EVENTS to the window; a failed post is ignored (the requests wait for the next drain).
void post_wake(std::uintptr_t window) noexcept;

}  // namespace detail

// For a worker that ends by itself once the UI has finished (its TrayEvents then drop what it sends).
inline bool worker_ends_by_itself() { return true; }

// Runs the UI on the calling thread until the tray quits: starts `worker` on a new thread with a
// TrayEvents, makes the window, calls `handler(TrayUi&, TrayEvent<M>)` for every event on this
// thread, and tears everything down. Then, with the window gone and the queue closed (what still
// waits in it is dropped), `stop_worker()` is called on this thread: it makes the worker function
// return and says whether it will (true), and run joins the worker, so that no thread of the
// program is left running. When `stop_worker` gives up (false), the worker is left running and run
// returns without it; the caller must then end the process without returning from main, since
// the runtime's exit can deadlock with a thread that ends beside it. The class name is also the
// window's title. The handler may be entered again while a call of it is inside a modal dialog.
template <class M, class Worker, class Handler, class StopWorker = bool (*)()>
std::expected<void, UiError> run(std::string_view class_name, Worker worker, Handler handler,
                                 StopWorker stop_worker = &worker_ends_by_itself) {
  auto queue = std::make_shared<RequestQueue<M>>();
  auto cell = std::make_shared<WindowCell>(&detail::post_wake);
  std::thread thread(std::move(worker), TrayEvents<M>(queue, cell));

  struct Hooks final : detail::WindowHooks {
    Hooks(RequestQueue<M>& q, Handler& h) : queue(q), handler(h) {}
    void on_event(TrayUi& ui, const WindowEvent& event) override { handler(ui, widen<M>(event)); }
    void drain(TrayUi& ui) override {
      tray::drain(
          queue, [&](M message) { handler(ui, TrayEvent<M>(Posted<M>{std::move(message)})); },
          [&] { ui.quit(); });
    }
    RequestQueue<M>& queue;
    Handler& handler;
  } hooks(*queue, handler);

  std::expected<void, UiError> result = std::unexpected(UiError{});
  std::exception_ptr fault;
  try {
    result = detail::run_window(class_name, *cell, hooks);
  } catch (...) {
    fault = std::current_exception();
  }
  queue->close();
  if (stop_worker())
    thread.join();
  else
    thread.detach();
  if (fault) std::rethrow_exception(fault);
  return result;
}

// Windows only. The registered message "{class_name}.ShowYourself".
std::uint32_t show_yourself_message(std::string_view class_name);
// Posts the show-yourself message to the first window of the class that belongs to another process;
// whether one was found and the post succeeded.
bool ask_other_instance_to_show(std::string_view class_name, std::uint32_t show_yourself_msg);
// How long quit_other_instance waits for the other process to end.
inline constexpr std::chrono::seconds kQuitWait{10};
// Closes the first window of the class and waits up to kQuitWait for its process to end.
QuitOutcome quit_other_instance(std::string_view class_name);

}  // namespace tray
