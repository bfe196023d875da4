#include <gtest/gtest.h>

#include <stdexcept>

#include "core/net/src/connection.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/tests/runtime.hpp"

namespace {

using namespace net;
using namespace net::testing;

bool is_closed(const PageEvent& event, PageId page) {
  auto* closed = std::get_if<PageEvent::Closed>(&event.what);
  return closed && closed->page == page;
}

TEST(PageGuard, ReportsClosedAtOnceWhenThereIsRoom) {
  Runtime rt;
  auto [sender, receiver] = PageEventQueue::make(rt.executor(), 4);
  { PageGuard guard(sender, 3); }
  auto event = receiver.try_receive();
  ASSERT_TRUE(event);
  EXPECT_TRUE(is_closed(*event, 3));
}

TEST(PageGuard, WaitsForRoomWhenTheQueueIsFullAndComesAfterTheEarlierEvents) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = PageEventQueue::make(rt.executor(), 1);
    sender.try_send(PageEvent{PageEvent::Text{3, "earlier"}});
    { PageGuard guard(sender, 3); }
    CO_ASSERT_EQ(receiver.size(), 1u);  // still waiting for room
    auto earlier = co_await receiver.receive();
    CO_ASSERT_TRUE(earlier);
    EXPECT_TRUE(std::holds_alternative<PageEvent::Text>(earlier->what));
    auto closed = co_await within(patience, receiver.receive());
    CO_ASSERT_TRUE(closed && *closed);
    EXPECT_TRUE(is_closed(**closed, 3));
  });
}

TEST(PageGuard, DropsTheEventWhenTheCollectorLinkIsGone) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto pair = PageEventQueue::make(rt.executor(), 1);
    auto sender = pair.first;
    sender.try_send(PageEvent{PageEvent::Text{3, "fills the queue"}});
    { PageGuard guard(sender, 3); }                  // waits for room in a task of its own
    { auto receiver = std::move(pair.second); }      // which never comes: that task must end
    co_return;
  });  // does not settle if the waiting task stays
}

TEST(PageGuard, ReportsClosedForATaskThatFailsOrIsAborted) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = PageEventQueue::make(rt.executor(), 4);
    auto failing = kit::Task::spawn(rt.executor(), [](PageEventQueue::Sender events) -> asio::awaitable<void> {
      PageGuard guard(events, 1);
      co_await sleep(1ms);
      throw std::runtime_error("fault in a page task");
    }(sender));
    auto stuck = kit::Task::spawn(rt.executor(), [](PageEventQueue::Sender events) -> asio::awaitable<void> {
      PageGuard guard(events, 2);
      co_await sleep(1h);
    }(sender));
    const auto failed = co_await failing.join();
    EXPECT_EQ(failed.how, kit::TaskEnd::How::Failed);
    stuck.abort();
    const auto cancelled = co_await stuck.join();
    EXPECT_EQ(cancelled.how, kit::TaskEnd::How::Cancelled);
    auto first = receiver.try_receive();
    auto second = receiver.try_receive();
    CO_ASSERT_TRUE(first && second);
    EXPECT_TRUE(is_closed(*first, 1));
    EXPECT_TRUE(is_closed(*second, 2));
    EXPECT_FALSE(receiver.try_receive());
  });
}

}  // namespace
