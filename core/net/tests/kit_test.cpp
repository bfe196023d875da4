#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "core/net/src/kit/channel.hpp"
#include "core/net/src/kit/latest_cell.hpp"
#include "core/net/src/kit/slots.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/src/kit/wake.hpp"
#include "core/net/tests/runtime.hpp"
#include "core/net/tests/watchdog.hpp"

namespace {

using namespace net::kit;
using namespace net::testing;
using namespace boost::asio::experimental::awaitable_operators;
namespace asio = boost::asio;

TEST(Channel, KeepsOrderAndRefusesWhenFull) {
  Runtime rt;
  auto [sender, receiver] = Channel<int>::make(rt.executor(), 2);
  EXPECT_TRUE(sender.try_send(1));
  EXPECT_TRUE(sender.try_send(2));
  auto third = sender.try_send(3);
  ASSERT_FALSE(third);
  EXPECT_EQ(third.error().error, SendError::Full);
  EXPECT_EQ(third.error().value, 3);  // given back
  EXPECT_EQ(receiver.try_receive(), 1);
  EXPECT_TRUE(sender.try_send(3));
  EXPECT_EQ(receiver.try_receive(), 2);
  EXPECT_EQ(receiver.try_receive(), 3);
  EXPECT_EQ(receiver.try_receive(), std::unexpected(ReceiveError::Empty));
}

TEST(Channel, ReceiverSeesClosedOnlyAfterTheLastSenderAndTheLastValue) {
  Runtime rt;
  auto [sender, receiver] = Channel<int>::make(rt.executor(), 4);
  {
    auto copy = sender;
    EXPECT_TRUE(copy.try_send(7));
    auto gone = std::move(sender);
  }
  EXPECT_EQ(receiver.try_receive(), 7);  // still queued
  EXPECT_EQ(receiver.try_receive(), std::unexpected(ReceiveError::Closed));
}

TEST(Channel, SendersSeeClosedOnceTheReceiverIsGoneAndGetTheirValueBack) {
  Runtime rt;
  auto pair = Channel<std::string>::make(rt.executor(), 4);
  auto sender = pair.first;
  { auto receiver = std::move(pair.second); }
  auto sent = sender.try_send("late");
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().error, SendError::Closed);
  EXPECT_EQ(sent.error().value, "late");
}

TEST(Channel, ReceiveWaitsForAValueAndEndsWhenClosed) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 1);
    asio::co_spawn(
        rt.executor(),
        [](Channel<int>::Sender sender) -> asio::awaitable<void> {
          for (int i = 0; i < 5; ++i) {
            co_await sleep(1ms);
            CO_EXPECT_TRUE(co_await sender.send(i));  // waits for room: capacity 1
          }
        }(std::move(sender)),
        asio::detached);
    for (;;) {
      auto value = co_await receiver.receive();
      if (!value) break;
      got.push_back(*value);
    }
  });
  EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(Channel, SendWaitsForRoomAndFailsWhenTheReceiverGoes) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto pair = Channel<int>::make(rt.executor(), 1);
    auto sender = pair.first;
    EXPECT_TRUE(sender.try_send(1));
    asio::co_spawn(
        rt.executor(),
        [](Channel<int>::Receiver) -> asio::awaitable<void> {
          co_await sleep(5ms);  // let the sender wait for room first
        }(std::move(pair.second)),
        asio::detached);
    auto sent = co_await sender.send(2);
    CO_ASSERT_TRUE(!sent);
    EXPECT_EQ(sent.error(), 2);
  });
}

// A receive that loses a race must not take the value: the value stays for the next receive.
TEST(Channel, ACancelledReceiveTakesNothing) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 4);
    for (int round = 0; round < 50; ++round) {
      asio::co_spawn(
          rt.executor(),
          [](Channel<int>::Sender sender, int value) -> asio::awaitable<void> {
            sender.try_send(value);
            co_return;
          }(sender, round),
          asio::detached);
      // Both branches can be ready in the same turn; whichever wins, the value must not vanish.
      auto outcome = co_await (receiver.receive() || sleep(0ms));
      if (outcome.index() == 0) {
        EXPECT_EQ(std::get<0>(outcome), round);
      } else {
        auto value = co_await receiver.receive();
        EXPECT_EQ(value, round);
      }
    }
  });
}

// Several senders wait for room at once, as page tasks do when the event queue is full: each value
// taken lets them all look again, and every value gets through in the end.
TEST(Channel, EverySenderWaitingForRoomGetsThrough) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 1);
    EXPECT_TRUE(sender.try_send(0));
    for (int i = 1; i <= 3; ++i)
      asio::co_spawn(
          rt.executor(),
          [](Channel<int>::Sender sender, int value) -> asio::awaitable<void> {
            CO_EXPECT_TRUE(co_await sender.send(value));
          }(sender, i),
          asio::detached);
    { auto last = std::move(sender); }
    co_await sleep(2ms);  // all three wait now
    for (;;) {
      auto value = co_await receiver.receive();
      if (!value) break;
      got.push_back(*value);
    }
  });
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3}));
}

// A send that loses a race while it waits for room queues nothing, even when room comes in the same
// turn: a value queued for a task that went another way would be lost to it.
TEST(Channel, ASendCancelledWhileWaitingForRoomQueuesNothing) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 1);
    for (int round = 0; round < 50; ++round) {
      EXPECT_TRUE(sender.try_send(-1));
      asio::co_spawn(
          rt.executor(),
          [](Channel<int>::Receiver& receiver) -> asio::awaitable<void> {
            EXPECT_EQ(receiver.try_receive(), -1);  // room, as the race is decided
            co_return;
          }(receiver),
          asio::detached);
      auto outcome = co_await (sender.send(round) || sleep(0ms));
      if (outcome.index() == 0) {
        EXPECT_EQ(receiver.try_receive(), round);
      } else {
        EXPECT_EQ(receiver.try_receive(), std::unexpected(ReceiveError::Empty));
      }
    }
  });
}

TEST(Wake, KeepsOneWakeForTheNextWait) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    Wake wake(rt.executor());
    wake.notify();
    wake.notify();  // the same wake
    CO_EXPECT_TRUE(co_await within(patience, wake.wait()));
    CO_EXPECT_FALSE(co_await within(20ms, wake.wait()));
    asio::co_spawn(
        rt.executor(),
        [](Wake& wake) -> asio::awaitable<void> {
          co_await sleep(2ms);
          wake.notify();
        }(wake),
        asio::detached);
    CO_EXPECT_TRUE(co_await within(patience, wake.wait()));
  });
}

TEST(Wake, ACancelledWaitThrowsAndLeavesTheNextWakeToTheNextWait) {
  Runtime rt;
  bool went_on = false;
  rt.run([&]() -> asio::awaitable<void> {
    Wake wake(rt.executor());
    auto task = Task::spawn(rt.executor(), [](Wake& wake, bool& went_on) -> asio::awaitable<void> {
      co_await wake.wait();
      went_on = true;
    }(wake, went_on));
    co_await sleep(1ms);
    // The wake and the cancellation in the same turn: the wait throws all the same.
    wake.notify();
    task.abort();
    CO_EXPECT_EQ((co_await task.join()).how, TaskEnd::How::Cancelled);
    CO_EXPECT_TRUE(co_await within(patience, wake.wait()));
  });
  EXPECT_FALSE(went_on);
}

TEST(Wake, OtherThreadsNotifyThroughTheRuntime) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto wake = std::make_shared<Wake>(rt.executor());
    std::thread([wake] { Wake::notify_from_any_thread(wake); }).join();
    CO_EXPECT_TRUE(co_await within(patience, wake->wait()));
  });
}

TEST(LatestCell, KeepsOnlyTheNewestValue) {
  Runtime rt;
  auto [writer, reader] = LatestCell<int>::make(rt.executor());
  EXPECT_EQ(reader.try_take(), std::unexpected(ReceiveError::Empty));
  EXPECT_TRUE(writer.set(1));
  EXPECT_TRUE(writer.set(2));
  EXPECT_EQ(reader.try_take(), 2);
  EXPECT_EQ(reader.try_take(), std::unexpected(ReceiveError::Empty));
}

TEST(LatestCell, ClosesAfterTheWriterGoesAndTheLastValueIsTaken) {
  Runtime rt;
  auto pair = LatestCell<int>::make(rt.executor());
  auto& reader = pair.second;
  EXPECT_TRUE(pair.first.set(5));
  { auto gone = std::move(pair.first); }
  EXPECT_EQ(reader.try_take(), 5);
  EXPECT_EQ(reader.try_take(), std::unexpected(ReceiveError::Closed));
}

TEST(LatestCell, WriterLearnsThatTheReaderIsGone) {
  Runtime rt;
  auto pair = LatestCell<int>::make(rt.executor());
  EXPECT_TRUE(pair.first.set(1));
  { auto gone = std::move(pair.second); }
  EXPECT_FALSE(pair.first.set(2));
}

TEST(LatestCell, AWaitingReaderWakesForAChangeAndForTheWritersEnd) {
  Runtime rt;
  std::vector<std::string> seen;
  rt.run([&]() -> asio::awaitable<void> {
    auto [writer, reader] = LatestCell<int>::make(rt.executor());
    asio::co_spawn(
        rt.executor(),
        [](LatestCell<int>::Writer writer) -> asio::awaitable<void> {
          co_await sleep(2ms);
          writer.set(1);
          writer.set(2);  // replaces 1 before the reader looks
          co_await sleep(2ms);
        }(std::move(writer)),
        asio::detached);
    for (;;) {
      co_await reader.wait();
      auto value = reader.try_take();
      if (value) {
        seen.push_back(std::to_string(*value));
      } else if (value.error() == ReceiveError::Closed) {
        seen.push_back("closed");
        break;
      }
    }
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"2", "closed"}));
}

TEST(Slots, AreTakenWithoutWaitingAndComeBackWithTheirPermits) {
  Slots slots(2);
  auto a = slots.try_take();
  auto b = slots.try_take();
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(slots.try_take());
  EXPECT_EQ(slots.available(), 0u);
  a->release();
  EXPECT_FALSE(a->held());
  a->release();  // once only
  EXPECT_EQ(slots.available(), 1u);
  b.reset();
  EXPECT_EQ(slots.available(), 2u);
}

TEST(Slots, APermitOutlivesItsSlots) {
  std::optional<Slots::Permit> permit;
  {
    Slots slots(1);
    permit = slots.try_take();
  }
  permit.reset();  // gives back to slots nobody holds any more: must not crash
  SUCCEED();
}

TEST(Slots, CountStaysRightUnderThreads) {
  Slots slots(3);
  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        if (auto permit = slots.try_take()) {
          int now = ++inside;
          int seen = most.load();
          while (now > seen && !most.compare_exchange_weak(seen, now)) {
          }
          --inside;
        }
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_LE(most.load(), 3);
  EXPECT_EQ(slots.available(), 3u);
}

TEST(TaskEnd, Texts) {
  EXPECT_EQ((TaskEnd{TaskEnd::How::Finished, {}}).text(), "finished");
  EXPECT_EQ((TaskEnd{TaskEnd::How::Cancelled, {}}).text(), "the task was cancelled");
  EXPECT_EQ((TaskEnd{TaskEnd::How::Failed, "boom"}).text(), "boom");
  EXPECT_EQ((TaskEnd{TaskEnd::How::Failed, {}}).text(), "no message");
}

TEST(Task, JoinTellsHowTheTaskEnded) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto fine = Task::spawn(rt.executor(), []() -> asio::awaitable<void> { co_return; }());
    auto broken = Task::spawn(rt.executor(), []() -> asio::awaitable<void> {
      co_await sleep(1ms);
      throw std::runtime_error("it broke");
    }());
    auto stuck = Task::spawn(rt.executor(), []() -> asio::awaitable<void> { co_await sleep(1h); }());
    CO_EXPECT_EQ((co_await fine.join()).how, TaskEnd::How::Finished);
    auto failed = co_await broken.join();
    EXPECT_EQ(failed.how, TaskEnd::How::Failed);
    EXPECT_EQ(failed.fault, "it broke");
    EXPECT_FALSE(stuck.finished());
    stuck.abort();
    CO_EXPECT_EQ((co_await stuck.join()).how, TaskEnd::How::Cancelled);
    CO_EXPECT_EQ((co_await Task().join()).how, TaskEnd::How::Finished);
  });
}

// An aborted task stops at its next wait even when the wait it was in ends normally, and its
// destructors run on the way out.
TEST(Task, AbortUnwindsThroughLaterWaits) {
  Runtime rt;
  bool cleaned_up = false;
  bool went_on = false;
  rt.run([&]() -> asio::awaitable<void> {
    auto task = Task::spawn(rt.executor(), [](bool& cleaned_up, bool& went_on) -> asio::awaitable<void> {
      struct Cleanup {
        bool& flag;
        ~Cleanup() { flag = true; }
      } cleanup{cleaned_up};
      asio::steady_timer timer(co_await asio::this_coro::executor, 1h);
      co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));  // ends on the abort without throwing
      co_await sleep(1h);                                               // throws
      went_on = true;
    }(cleaned_up, went_on));
    co_await sleep(1ms);
    task.abort();
    CO_EXPECT_EQ((co_await task.join()).how, TaskEnd::How::Cancelled);
  });
  EXPECT_TRUE(cleaned_up);
  EXPECT_FALSE(went_on);
}

TEST(Channel, OtherThreadsSendAndWakeTheRuntime) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 1000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([sender = sender, t]() mutable {
        for (int i = 0; i < 100; ++i) EXPECT_TRUE(sender.try_send(t * 1000 + i));
      });
    { auto last = std::move(sender); }  // the threads hold the only senders now
    for (;;) {
      auto value = co_await receiver.receive();
      if (!value) break;
      got.push_back(*value);
    }
    for (auto& thread : threads) thread.join();
  });
  ASSERT_EQ(got.size(), 400u);
  // Each thread's values arrive in its own order.
  for (int t = 0; t < 4; ++t) {
    int last = -1;
    for (int v : got)
      if (v / 1000 == t) {
        EXPECT_GT(v, last);
        last = v;
      }
  }
}

TEST(Channel, RefusesWhenFullOrClosed) {
  Runtime rt;
  auto pair = Channel<int>::make(rt.executor(), 1);
  auto sender = pair.first;
  EXPECT_TRUE(sender.try_send(1));
  auto full = sender.try_send(2);
  ASSERT_FALSE(full);
  EXPECT_EQ(full.error().error, SendError::Full);
  std::thread([&] {
    auto refused = sender.try_send(3);
    EXPECT_EQ(refused.error().error, SendError::Full);
  }).join();
  { auto gone = std::move(pair.second); }
  auto closed = sender.try_send(4);
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.error().error, SendError::Closed);
}

TEST(Channel, AMovedFromSenderFindsTheChannelClosed) {
  Runtime rt;
  auto [sender, receiver] = Channel<int>::make(rt.executor(), 4);
  auto taken = std::move(sender);
  auto refused = sender.try_send(7);  // a use after the move, on purpose
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().error, SendError::Closed);
  EXPECT_EQ(refused.error().value, 7);
  EXPECT_TRUE(taken.try_send(8));
}

TEST(Channel, AClosedChannelNeverTouchesTheRuntimeAgain) {
  auto context = std::make_unique<asio::io_context>();
  auto [sender, receiver] = Channel<int>::make(context->get_executor(), 4);
  EXPECT_TRUE(sender.try_send(1));
  receiver.close();
  auto dropped = receiver.try_receive();  // the queued value went with the close
  ASSERT_FALSE(dropped);
  EXPECT_EQ(dropped.error(), ReceiveError::Closed);
  context->poll();
  std::thread([sender = sender]() mutable {
    auto refused = sender.try_send(2);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().error, SendError::Closed);
  }).join();  // and that sender's end posted nothing either
  EXPECT_EQ(context->poll(), 0u);
  // Even with the runtime gone, sending and dropping the last sender on another thread are safe.
  { auto gone = std::move(receiver); }
  context.reset();
  std::thread([sender = std::move(sender)]() mutable {
    auto refused = sender.try_send(3);
    EXPECT_FALSE(refused);
  }).join();
}

TEST(Channel, CloseEndsAReceiveInProgress) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 4);
    auto closing = [](Channel<int>::Receiver& receiver) -> asio::awaitable<void> {
      co_await sleep(5ms);
      receiver.close();
    };
    Task closer = Task::spawn(rt.executor(), closing(receiver));
    auto got = co_await within(patience, receiver.receive());
    CO_ASSERT_TRUE(got);
    EXPECT_FALSE(*got);  // closed, though a sender is still there
    co_await closer.join();
  });
}

TEST(Channel, SendOnTheRuntimeWaitsForRoom) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Channel<int>::make(rt.executor(), 1);
    asio::co_spawn(
        rt.executor(),
        [](Channel<int>::Sender sender) -> asio::awaitable<void> {
          for (int i = 0; i < 3; ++i) CO_EXPECT_TRUE(co_await sender.send(i));
        }(std::move(sender)),
        asio::detached);
    for (;;) {
      auto value = co_await receiver.receive();
      if (!value) break;
      got.push_back(*value);
    }
  });
  EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
}

// The runtime's shutdown with tasks still waiting in the kit: each task's frame goes with the
// runtime, and what the frame holds lets go then (a latest cell's writer notifies its reader's wake,
// for one), without running anything of the runtime.

struct Marks {
  int gone = 0;          // frames destroyed
  bool resumed = false;  // a task went on after its wait
};

// Kept in a frame: says when the frame goes.
struct Guard {
  Marks& marks;
  ~Guard() { ++marks.gone; }
};

// Destroys the io_context; ends the test program should that never return.
void destroy(std::unique_ptr<asio::io_context>& context, const std::string& what) {
  Watchdog watchdog("destroying an io_context with tasks waiting: " + what);
  context.reset();
}

asio::awaitable<void> wait_queue_receive(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [sender, receiver] = Channel<int>::make(executor, 4);
  co_await receiver.receive();
  marks.resumed = true;
}

asio::awaitable<void> wait_queue_room(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [sender, receiver] = Channel<int>::make(executor, 1);
  EXPECT_TRUE(sender.try_send(1));
  co_await sender.send(2);
  marks.resumed = true;
}

asio::awaitable<void> wait_latest_cell(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [writer, reader] = LatestCell<int>::make(executor);
  co_await reader.wait();
  marks.resumed = true;
}

asio::awaitable<void> wait_timer(Executor executor, Marks& marks) {
  Guard guard{marks};
  asio::steady_timer timer(executor, 1h);
  co_await timer.async_wait(asio::use_awaitable);
  marks.resumed = true;
}

asio::awaitable<void> wait_task_join(Executor executor, Marks& marks) {
  Guard guard{marks};
  Task task = Task::spawn(executor, wait_timer(executor, marks));
  co_await task.join();
  marks.resumed = true;
}

// A race of two kit waits.
asio::awaitable<void> wait_race(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [writer, reader] = LatestCell<int>::make(executor);
  auto [sender, receiver] = Channel<int>::make(executor, 4);
  co_await (reader.wait() || receiver.wait());
  marks.resumed = true;
}

asio::awaitable<void> wait_wake(Executor executor, Marks& marks) {
  Guard guard{marks};
  Wake wake(executor);
  co_await wake.wait();
  marks.resumed = true;
}

TEST(RuntimeShutdown, DestroysTheFramesOfTasksWaitingInThePrimitives) {
  struct Case {
    std::string name;
    asio::awaitable<void> (*body)(Executor, Marks&);
    int frames;
  };
  const std::vector<Case> cases = {
      {"Queue receive", wait_queue_receive, 1},
      {"Queue send waiting for room", wait_queue_room, 1},
      {"LatestCell wait", wait_latest_cell, 1},
      {"Task join, the task waiting too", wait_task_join, 2},
      {"a race of two waits", wait_race, 1},
      {"Wake wait", wait_wake, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Marks marks;
    auto context = std::make_unique<asio::io_context>();
    asio::co_spawn(*context, c.body(context->get_executor(), marks), asio::detached);
    context->poll();
    EXPECT_FALSE(context->stopped()) << "the task does not wait";
    EXPECT_EQ(marks.gone, 0);
    destroy(context, c.name);
    EXPECT_EQ(marks.gone, c.frames);
    EXPECT_FALSE(marks.resumed);
  }
}

TEST(RuntimeShutdown, ClosesTheChannelOfAWaitingTaskForOtherThreads) {
  Marks marks;
  auto context = std::make_unique<asio::io_context>();
  auto [sender, receiver] = Channel<int>::make(context->get_executor(), 4);
  const auto receive = [](Channel<int>::Receiver receiver, Marks& marks) -> asio::awaitable<void> {
    Guard guard{marks};
    co_await receiver.receive();
    marks.resumed = true;
  };
  asio::co_spawn(*context, receive(std::move(receiver), marks), asio::detached);
  context->poll();
  EXPECT_EQ(marks.gone, 0);
  destroy(context, "a task receiving from a channel");
  EXPECT_EQ(marks.gone, 1);
  EXPECT_FALSE(marks.resumed);
  std::thread([&sender] {
    auto refused = sender.try_send(3);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().error, SendError::Closed);
  }).join();
}

}  // namespace
