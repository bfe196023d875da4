// The queue to the UI thread and the handle other threads hold, without a window: the wake-up is
// a counter here.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ui/src/tray.hpp"

namespace {

using namespace tray;

std::atomic<int> wakes{0};
std::atomic<std::uintptr_t> woken_window{0};
void count_wake(std::uintptr_t window) noexcept {
  woken_window = window;
  ++wakes;
}

struct Channel {
  std::shared_ptr<RequestQueue<std::string>> queue = std::make_shared<RequestQueue<std::string>>();
  std::shared_ptr<WindowCell> cell = std::make_shared<WindowCell>(&count_wake);
  TrayEvents<std::string> events{queue, cell};

  // The drain's calls, in order: "post:<text>" or "quit".
  std::vector<std::string> drain() {
    std::vector<std::string> seen;
    tray::drain(*queue, [&](std::string m) { seen.push_back("post:" + m); }, [&] { seen.push_back("quit"); });
    return seen;
  }
};

TEST(TrayEvents, SentBeforeTheWindowExistsWaitsWithoutWakeUps) {
  wakes = 0;
  Channel c;
  c.events.send("a");
  c.events.send("b");
  EXPECT_EQ(wakes, 0);  // no window yet: nothing is posted
  c.cell->set(0x1234);
  EXPECT_EQ(c.drain(), (std::vector<std::string>{"post:a", "post:b"}));
}

TEST(TrayEvents, EachSendWakesTheWindowAndOneDrainTakesAll) {
  wakes = 0;
  Channel c;
  c.cell->set(0x1234);
  c.events.send("a");
  c.events.quit();
  c.events.send("b");
  EXPECT_EQ(wakes, 3);
  EXPECT_EQ(woken_window, 0x1234u);
  EXPECT_EQ(c.drain(), (std::vector<std::string>{"post:a", "quit", "post:b"}));
  EXPECT_EQ(c.drain(), std::vector<std::string>{});  // the later wake-ups find nothing
}

TEST(TrayEvents, AfterTheReceiverIsGoneRequestsAreDroppedQuietly) {
  wakes = 0;
  Channel c;
  c.cell->set(0x1234);
  c.events.send("waiting");
  c.queue->close();
  c.events.send("late");
  c.events.quit();
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(c.drain(), std::vector<std::string>{});
}

TEST(TrayEvents, ADrainThatIsEnteredAgainKeepsTheOrder) {
  // A handler inside a modal dialog sees the nested loop drain the rest; nothing is lost or doubled.
  Channel c;
  for (const char* m : {"1", "2", "3", "4"}) c.events.send(m);
  std::vector<std::string> seen;
  tray::drain(
      *c.queue,
      [&](std::string m) {
        seen.push_back(m);
        if (m == "2") tray::drain(*c.queue, [&](std::string inner) { seen.push_back("nested " + inner); }, [] {});
      },
      [] {});
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "nested 3", "nested 4"}));
}

TEST(TrayEvents, ManySendersLoseNothing) {
  Channel c;
  c.cell->set(0x1);
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t)
    senders.emplace_back([events = c.events, t] {
      for (int i = 0; i < kEach; ++i) events.send(std::to_string(t) + ":" + std::to_string(i));
    });
  for (std::thread& s : senders) s.join();
  std::vector<int> next(kThreads, 0);
  for (const std::string& m : c.drain()) {
    const int t = m[5] - '0';
    ASSERT_EQ(m, "post:" + std::to_string(t) + ":" + std::to_string(next[t])) << "each sender's order is kept";
    ++next[t];
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kEach));
}

TEST(TrayEventText, NamesAndPayloads) {
  EXPECT_EQ(to_string(WindowEvent(MenuItemClicked{MenuItemId{4}})), "MenuItemClicked(MenuItemId(4))");
  EXPECT_EQ(to_string(WindowEvent(Started{})), "Started");
  EXPECT_EQ(to_string(WindowEvent(SessionEnding{})), "SessionEnding");
  EXPECT_EQ(to_string(TrayEvent<int>(Posted<int>{7})), "Posted");
  EXPECT_EQ(to_string(TrayEvent<int>(widen<int>(DialogBehind{}))), "DialogBehind");
}

TEST(UiErrorText, Variants) {
  base::OsError denied{0x80070005, "Access is denied. (os error 5)"};
  EXPECT_EQ((UiError{UiError::Kind::RegisterWindow, denied}).text(), "cannot register the window: Access is denied. (os error 5)");
  EXPECT_EQ((UiError{UiError::Kind::CreateWindow, denied}).text(), "cannot create the window: Access is denied. (os error 5)");
  EXPECT_EQ((UiError{UiError::Kind::CallbackPanicked, {}}).text(), "a UI callback panicked");
}

}  // namespace
