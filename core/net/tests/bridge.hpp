#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/net/src/page_server.hpp"
#include "core/net/tests/runtime.hpp"

namespace net::testing {

// A clock that moves only when the test moves it, for exact token counts.
struct FakeClock {
  base::Instant time = base::Clock::now();
  void advance(std::chrono::nanoseconds by) { time += by; }
};

// Page server settings for tests: any free port, the bridge's own limits otherwise.
inline PageServerConfig test_config() {
  PageServerConfig config;
  config.port = 0;
  config.allowed_origins = {"https://app.tolvaro.example"};
  return config;
}

inline PageServerConfig with_clock(PageServerConfig config, const std::shared_ptr<FakeClock>& clock) {
  config.now = [clock] { return clock->time; };
  return config;
}

// A page server on the test's runtime, with the collector link's end of the page-event queue.
// Keeps count of the events the test took, to check that every page reported connected was
// reported closed exactly once.
class TestBridge {
 public:
  TestBridge(const asio::any_io_executor& executor, PageServerConfig config,
             std::size_t queue_size = kPageEventQueueSize)
      : pair_(PageEventQueue::make(executor, queue_size)) {
    auto started = page_server::start(executor, std::move(config), pair_.first);
    if (!started) {
      ADD_FAILURE() << "the page server did not start: " << started.error().text();
      return;
    }
    server.emplace(std::move(*started));
  }

  std::uint16_t port() const { return server ? server->port() : 0; }
  PageEventQueue::Sender& sender() { return pair_.first; }
  PageEventQueue::Receiver& receiver() { return pair_.second; }

  // The next page event, within patience.
  asio::awaitable<std::optional<PageEvent>> next_event() {
    auto event = co_await within(patience, receiver().receive());
    if (!event || !*event) co_return std::nullopt;
    note(**event);
    co_return std::move(**event);
  }

  // The next event, which must be Connected. Its page's channels are kept, as the collector link
  // keeps them, until the bridge goes or drop() is called; null when the event was another one.
  asio::awaitable<PageEvent::Connected*> next_connected() {
    auto event = co_await next_event();
    if (!event) co_return nullptr;
    auto* connected = std::get_if<PageEvent::Connected>(&event->what);
    if (!connected) co_return nullptr;
    const PageId page = connected->page;
    auto [link, inserted] = links_.insert_or_assign(page, std::move(*connected));
    co_return &link->second;
  }

  // Drops a page's channels, as the collector link does when it removes a page.
  void drop(PageId page) { links_.erase(page); }

  // The next event, which must be Text; its text.
  asio::awaitable<std::optional<std::string>> next_text() {
    auto event = co_await next_event();
    if (!event) co_return std::nullopt;
    auto* text = std::get_if<PageEvent::Text>(&event->what);
    if (!text) co_return std::nullopt;
    co_return std::move(text->text);
  }

  // The next event, which must be Closed; its page.
  asio::awaitable<std::optional<PageId>> next_closed() {
    auto event = co_await next_event();
    if (!event) co_return std::nullopt;
    auto* closed = std::get_if<PageEvent::Closed>(&event->what);
    if (!closed) co_return std::nullopt;
    co_return closed->page;
  }

  asio::awaitable<void> stop() {
    if (server) co_await server->stop();
  }

  // Takes what is left once the runtime has settled; each page reported connected must have been
  // reported closed exactly once, and no other page at all. The events left are returned.
  std::vector<PageEvent> finish() {
    std::vector<PageEvent> left;
    while (auto event = receiver().try_receive()) {
      note(*event);
      left.push_back(std::move(*event));
    }
    for (auto [page, count] : closed_) {
      EXPECT_EQ(count, 1) << "page " << page << " reported closed " << count << " times";
      EXPECT_TRUE(connected_.contains(page)) << "page " << page << " closed without being connected";
    }
    for (auto [page, count] : connected_) {
      EXPECT_EQ(count, 1) << "page " << page << " reported connected " << count << " times";
      EXPECT_TRUE(closed_.contains(page)) << "page " << page << " never reported closed";
    }
    return left;
  }

  std::optional<PageServer> server;

 private:
  void note(const PageEvent& event) {
    if (auto* connected = std::get_if<PageEvent::Connected>(&event.what)) ++connected_[connected->page];
    if (auto* closed = std::get_if<PageEvent::Closed>(&event.what)) ++closed_[closed->page];
  }

  std::pair<PageEventQueue::Sender, PageEventQueue::Receiver> pair_;
  std::map<PageId, PageEvent::Connected> links_;
  std::map<PageId, int> connected_;
  std::map<PageId, int> closed_;
};

inline SharedText shared_text(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

}  // namespace net::testing
