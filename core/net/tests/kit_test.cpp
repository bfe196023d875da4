#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "core/net/src/kit/cross_channel.hpp"
#include "core/net/src/kit/latest_cell.hpp"
#include "core/net/src/kit/queue.hpp"
#include "core/net/src/kit/slots.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/src/kit/wait_list.hpp"
#include "core/net/tests/runtime.hpp"
#include "core/net/tests/watchdog.hpp"

namespace {

using namespace net::kit;
using namespace net::testing;
using namespace boost::asio::experimental::awaitable_operators;
namespace asio = boost::asio;

TEST(Queue, KeepsOrderAndRefusesWhenFull) {
  Runtime rt;
  auto [sender, receiver] = Queue<int>::make(rt.executor(), 2);
  EXPECT_TRUE(sender.try_send(1));
  EXPECT_TRUE(sender.try_send(2));
  auto third = sender.try_send(3);
  ASSERT_FALSE(third);
  EXPECT_EQ(third.error().error, SendError::full);
  EXPECT_EQ(third.error().value, 3);  // given back
  EXPECT_EQ(receiver.try_receive(), 1);
  EXPECT_TRUE(sender.try_send(3));
  EXPECT_EQ(receiver.try_receive(), 2);
  EXPECT_EQ(receiver.try_receive(), 3);
  EXPECT_EQ(receiver.try_receive(), std::unexpected(ReceiveError::empty));
}

TEST(Queue, ReceiverSeesClosedOnlyAfterTheLastSenderAndTheLastValue) {
  Runtime rt;
  auto [sender, receiver] = Queue<int>::make(rt.executor(), 4);
  {
    auto copy = sender;
    EXPECT_TRUE(copy.try_send(7));
    auto gone = std::move(sender);
  }
  EXPECT_FALSE(receiver.is_closed());  // 7 is still queued
  EXPECT_EQ(receiver.try_receive(), 7);
  EXPECT_EQ(receiver.try_receive(), std::unexpected(ReceiveError::closed));
  EXPECT_TRUE(receiver.is_closed());
}

TEST(Queue, SendersSeeClosedOnceTheReceiverIsGoneAndGetTheirValueBack) {
  Runtime rt;
  auto pair = Queue<std::string>::make(rt.executor(), 4);
  auto sender = pair.first;
  { auto receiver = std::move(pair.second); }
  EXPECT_TRUE(sender.is_closed());
  auto sent = sender.try_send("late");
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().error, SendError::closed);
  EXPECT_EQ(sent.error().value, "late");
}

TEST(Queue, ReceiveWaitsForAValueAndEndsWhenClosed) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Queue<int>::make(rt.executor(), 1);
    asio::co_spawn(
        rt.executor(),
        [](Queue<int>::Sender sender) -> asio::awaitable<void> {
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

TEST(Queue, SendWaitsForRoomAndFailsWhenTheReceiverGoes) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto pair = Queue<int>::make(rt.executor(), 1);
    auto sender = pair.first;
    EXPECT_TRUE(sender.try_send(1));
    asio::co_spawn(
        rt.executor(),
        [](Queue<int>::Receiver) -> asio::awaitable<void> {
          co_await sleep(5ms);  // let the sender wait for room first
        }(std::move(pair.second)),
        asio::detached);
    auto sent = co_await sender.send(2);
    CO_ASSERT_TRUE(!sent);
    EXPECT_EQ(sent.error(), 2);
  });
}

// A receive that loses a race must not take the value: the value stays for the next receive.
TEST(Queue, ACancelledReceiveTakesNothing) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = Queue<int>::make(rt.executor(), 4);
    for (int round = 0; round < 50; ++round) {
      asio::co_spawn(
          rt.executor(),
          [](Queue<int>::Sender sender, int value) -> asio::awaitable<void> {
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

TEST(LatestCell, KeepsOnlyTheNewestValue) {
  Runtime rt;
  auto [writer, reader] = LatestCell<int>::make(rt.executor());
  EXPECT_EQ(reader.try_take(), std::unexpected(ReceiveError::empty));
  EXPECT_TRUE(writer.set(1));
  EXPECT_TRUE(writer.set(2));
  EXPECT_EQ(reader.try_take(), 2);
  EXPECT_EQ(reader.try_take(), std::unexpected(ReceiveError::empty));
}

TEST(LatestCell, ClosesAfterTheWriterGoesAndTheLastValueIsTaken) {
  Runtime rt;
  auto pair = LatestCell<int>::make(rt.executor());
  auto& reader = pair.second;
  EXPECT_TRUE(pair.first.set(5));
  { auto gone = std::move(pair.first); }
  EXPECT_EQ(reader.try_take(), 5);
  EXPECT_EQ(reader.try_take(), std::unexpected(ReceiveError::closed));
}

TEST(LatestCell, WriterLearnsThatTheReaderIsGone) {
  Runtime rt;
  auto pair = LatestCell<int>::make(rt.executor());
  EXPECT_TRUE(pair.first.has_reader());
  { auto gone = std::move(pair.second); }
  EXPECT_FALSE(pair.first.has_reader());
  EXPECT_FALSE(pair.first.set(1));
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
      } else if (value.error() == ReceiveError::closed) {
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
  EXPECT_EQ((TaskEnd{TaskEnd::How::finished, {}}).text(), "finished");
  EXPECT_EQ((TaskEnd{TaskEnd::How::cancelled, {}}).text(), "the task was cancelled");
  EXPECT_EQ((TaskEnd{TaskEnd::How::failed, "boom"}).text(), "boom");
  EXPECT_EQ((TaskEnd{TaskEnd::How::failed, {}}).text(), "no message");
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
    CO_EXPECT_EQ((co_await fine.join()).how, TaskEnd::How::finished);
    auto failed = co_await broken.join();
    EXPECT_EQ(failed.how, TaskEnd::How::failed);
    EXPECT_EQ(failed.fault, "it broke");
    EXPECT_FALSE(stuck.finished());
    stuck.abort();
    CO_EXPECT_EQ((co_await stuck.join()).how, TaskEnd::How::cancelled);
    CO_EXPECT_EQ((co_await Task().join()).how, TaskEnd::How::finished);
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
    CO_EXPECT_EQ((co_await task.join()).how, TaskEnd::How::cancelled);
  });
  EXPECT_TRUE(cleaned_up);
  EXPECT_FALSE(went_on);
}

// The first wait to end ends the race; it takes nothing, and the losers let go of the runtime,
// which settles (a timer or a wait left behind would keep it running).
TEST(FirstOf, EndsAtTheFirstWaitAndTheOthersLetGo) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    Wake other(rt.executor());
    auto [sender, receiver] = Queue<int>::make(rt.executor(), 4);
    asio::steady_timer timer(rt.executor(), 1h);
    auto task = Task::spawn(rt.executor(), [](Queue<int>::Sender sender) -> asio::awaitable<void> {
      co_await sleep(5ms);
      EXPECT_TRUE(sender.try_send(7));
    }(sender));
    asio::awaitable<void> waiting = first_of(other.async_wait(asio::deferred), receiver.async_wait(asio::deferred),
                                             timer.async_wait(asio::deferred));
    co_await std::move(waiting);
    EXPECT_EQ(receiver.try_receive(), 7);
    CO_EXPECT_EQ((co_await task.join()).how, TaskEnd::How::finished);

    // A wait whose state is ready when the race starts ends it at once.
    other.notify();
    asio::steady_timer later(rt.executor(), 1h);
    asio::awaitable<void> ready = first_of(later.async_wait(asio::deferred), other.async_wait(asio::deferred));
    co_await std::move(ready);
  });
}

TEST(FirstOf, AnAbortedTaskLeavesItsRaceAndTheRuntimeSettles) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto task = Task::spawn(rt.executor(), [](Executor executor) -> asio::awaitable<void> {
      Wake never(executor);
      asio::steady_timer timer(executor, 1h);
      asio::awaitable<void> waiting = first_of(never.async_wait(asio::deferred), timer.async_wait(asio::deferred));
      co_await std::move(waiting);
      co_await throw_if_aborted();
      ADD_FAILURE() << "went on after the abort";
    }(rt.executor()));
    co_await sleep(5ms);
    task.abort();
    CO_EXPECT_EQ((co_await task.join()).how, TaskEnd::How::cancelled);
  });
}

TEST(CrossChannel, OtherThreadsSendAndWakeTheRuntime) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = CrossChannel<int>::make(rt.executor(), 1000);
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

TEST(CrossChannel, RefusesWhenFullOrClosed) {
  Runtime rt;
  auto pair = CrossChannel<int>::make(rt.executor(), 1);
  auto sender = pair.first;
  EXPECT_TRUE(sender.try_send(1));
  auto full = sender.try_send(2);
  ASSERT_FALSE(full);
  EXPECT_EQ(full.error().error, SendError::full);
  std::thread([&] {
    auto refused = sender.try_send(3);
    EXPECT_EQ(refused.error().error, SendError::full);
  }).join();
  { auto gone = std::move(pair.second); }
  auto closed = sender.try_send(4);
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.error().error, SendError::closed);
}

TEST(CrossChannel, AMovedFromSenderFindsTheChannelClosed) {
  Runtime rt;
  auto [sender, receiver] = CrossChannel<int>::make(rt.executor(), 4);
  auto taken = std::move(sender);
  auto refused = sender.try_send(7);  // a use after the move, on purpose
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().error, SendError::closed);
  EXPECT_EQ(refused.error().value, 7);
  EXPECT_TRUE(taken.try_send(8));
}

TEST(CrossChannel, AClosedChannelNeverTouchesTheRuntimeAgain) {
  auto context = std::make_unique<asio::io_context>();
  auto [sender, receiver] = CrossChannel<int>::make(context->get_executor(), 4);
  EXPECT_TRUE(sender.try_send(1));
  receiver.close();
  auto dropped = receiver.try_receive();  // the queued value went with the close
  ASSERT_FALSE(dropped);
  EXPECT_EQ(dropped.error(), ReceiveError::closed);
  context->poll();
  std::thread([sender = sender]() mutable {
    auto refused = sender.try_send(2);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().error, SendError::closed);
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

TEST(CrossChannel, CloseEndsAReceiveInProgress) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = CrossChannel<int>::make(rt.executor(), 4);
    auto closing = [](CrossChannel<int>::Receiver& receiver) -> asio::awaitable<void> {
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

TEST(CrossChannel, SendOnTheRuntimeWaitsForRoom) {
  Runtime rt;
  std::vector<int> got;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = CrossChannel<int>::make(rt.executor(), 1);
    asio::co_spawn(
        rt.executor(),
        [](CrossChannel<int>::Sender sender) -> asio::awaitable<void> {
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

// The runtime's shutdown with tasks still waiting in the kit. Each task owns the state it waits in
// (the waiter's handler holds the frame, the frame holds the state that holds the handler), which
// nothing but the shutdown can break: on Windows the io_context's destruction never returned, and
// elsewhere the frames leaked.

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
  auto [sender, receiver] = Queue<int>::make(executor, 4);
  co_await receiver.receive();
  marks.resumed = true;
}

asio::awaitable<void> wait_queue_room(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [sender, receiver] = Queue<int>::make(executor, 1);
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

asio::awaitable<void> wait_cross_receive(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [sender, receiver] = CrossChannel<int>::make(executor, 4);
  co_await receiver.receive();
  marks.resumed = true;
}

asio::awaitable<void> wait_cross_room(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [sender, receiver] = CrossChannel<int>::make(executor, 1);
  EXPECT_TRUE(sender.try_send(1));
  co_await sender.send(2);
  marks.resumed = true;
}

// A race of two kit waits.
asio::awaitable<void> wait_race(Executor executor, Marks& marks) {
  Guard guard{marks};
  auto [writer, reader] = LatestCell<int>::make(executor);
  auto [sender, receiver] = Queue<int>::make(executor, 4);
  co_await (reader.wait() || receiver.wait());
  marks.resumed = true;
}

// The same race of plain operations in one group, with a timer among them, as the link waits now.
asio::awaitable<void> wait_first_of(Executor executor, Marks& marks) {
  Guard guard{marks};
  Wake wake(executor);
  auto [sender, receiver] = CrossChannel<int>::make(executor, 4);
  asio::steady_timer timer(executor, 1h);
  asio::awaitable<void> waiting =
      first_of(wake.async_wait(asio::deferred), receiver.async_wait(asio::deferred), timer.async_wait(asio::deferred));
  co_await std::move(waiting);
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
      {"CrossChannel receive", wait_cross_receive, 1},
      {"CrossChannel send waiting for room", wait_cross_room, 1},
      {"a race of two waits", wait_race, 1},
      {"a first_of race of three waits", wait_first_of, 1},
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

// A list in a holder that only another waiter's handler owns: letting go of that handler destroys
// the list with a task still waiting in it, while the shutdown goes through its lists.
struct Holder {
  Holder(const Executor& executor, Marks& marks) : list(executor), guard{marks} {}
  WaitList list;
  Guard guard;
};

asio::awaitable<void> wait_in(WaitList& list, Marks& marks) {
  Guard guard{marks};
  co_await list.async_wait(false, asio::as_tuple(asio::use_awaitable));
  marks.resumed = true;
}

TEST(RuntimeShutdown, ListsThatGoWhileTheShutdownLetsGoAreTakenToo) {
  for (const bool owner_waits_first : {true, false}) {
    SCOPED_TRACE(owner_waits_first ? "the holder's owner waits first" : "the task in the holder waits first");
    Marks marks;
    auto context = std::make_unique<asio::io_context>();
    const Executor executor = context->get_executor();
    auto owner_list = std::make_shared<WaitList>(executor);
    auto holder = std::make_shared<Holder>(executor, marks);
    // The owner's handler keeps its own list and the holder: a cycle, as a frame makes one.
    const auto owner_waits = [&] {
      owner_list->async_wait(false, [owner_list, holder, &marks](ErrorCode) { marks.resumed = true; });
    };
    if (owner_waits_first) owner_waits();
    asio::co_spawn(*context, wait_in(holder->list, marks), asio::detached);
    context->poll();
    if (!owner_waits_first) owner_waits();
    EXPECT_TRUE(holder->list.has_waiters());
    EXPECT_TRUE(owner_list->has_waiters());
    holder.reset();
    owner_list.reset();
    destroy(context, "a list owned by another waiter's handler");
    EXPECT_EQ(marks.gone, 2);  // the task's frame and the holder
    EXPECT_FALSE(marks.resumed);
  }
}

TEST(RuntimeShutdown, ClosesTheCrossChannelOfAWaitingTask) {
  Marks marks;
  auto context = std::make_unique<asio::io_context>();
  auto [sender, receiver] = CrossChannel<int>::make(context->get_executor(), 4);
  const auto receive = [](CrossChannel<int>::Receiver receiver, Marks& marks) -> asio::awaitable<void> {
    Guard guard{marks};
    co_await receiver.receive();
    marks.resumed = true;
  };
  asio::co_spawn(*context, receive(std::move(receiver), marks), asio::detached);
  context->poll();
  EXPECT_EQ(marks.gone, 0);
  destroy(context, "a task receiving from a cross-thread channel");
  EXPECT_EQ(marks.gone, 1);
  EXPECT_FALSE(marks.resumed);
  std::thread([&sender] {
    auto refused = sender.try_send(3);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().error, SendError::closed);
  }).join();
}

}  // namespace
