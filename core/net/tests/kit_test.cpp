#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/asio/experimental/awaitable_operators.hpp>

#include "core/net/src/kit/cross_channel.hpp"
#include "core/net/src/kit/latest_cell.hpp"
#include "core/net/src/kit/oneshot.hpp"
#include "core/net/src/kit/queue.hpp"
#include "core/net/src/kit/slots.hpp"
#include "core/net/src/kit/stop_flag.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/tests/runtime.hpp"

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

TEST(OneShot, DeliversOneValue) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto [sender, receiver] = OneShot<std::string>::make(rt.executor());
    asio::co_spawn(
        rt.executor(),
        [](OneShot<std::string>::Sender sender) -> asio::awaitable<void> {
          co_await sleep(1ms);
          EXPECT_TRUE(sender.send("done"));
          EXPECT_FALSE(sender.send("twice"));
        }(std::move(sender)),
        asio::detached);
    CO_EXPECT_EQ(co_await receiver.receive(), "done");
    EXPECT_EQ(receiver.try_receive(), std::unexpected(ReceiveError::closed));
  });
}

TEST(OneShot, ReceiverSeesASenderThatLeftWithoutSending) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    auto pair = OneShot<int>::make(rt.executor());
    asio::co_spawn(
        rt.executor(),
        [](OneShot<int>::Sender) -> asio::awaitable<void> { co_await sleep(1ms); }(std::move(pair.first)),
        asio::detached);
    CO_EXPECT_EQ(co_await pair.second.receive(), std::nullopt);
  });
}

TEST(OneShot, SenderLearnsThatTheReceiverIsGone) {
  Runtime rt;
  auto pair = OneShot<int>::make(rt.executor());
  { auto gone = std::move(pair.second); }
  EXPECT_FALSE(pair.first.has_receiver());
  EXPECT_FALSE(pair.first.send(1));
}

TEST(StopFlag, WakesWaitersAndStaysRaisedForLaterOnes) {
  Runtime rt;
  int woken = 0;
  rt.run([&]() -> asio::awaitable<void> {
    auto [flag, watch] = StopFlag::make(rt.executor());
    for (int i = 0; i < 3; ++i)
      asio::co_spawn(
          rt.executor(),
          [](StopWatch watch, int& woken) -> asio::awaitable<void> {
            co_await watch.wait();
            EXPECT_TRUE(watch.raised());
            ++woken;
          }(watch, woken),
          asio::detached);
    co_await sleep(2ms);
    EXPECT_EQ(woken, 0);
    flag.raise();
    co_await sleep(2ms);
    EXPECT_EQ(woken, 3);
    // A watcher that starts waiting after the raise resolves at once.
    CO_EXPECT_TRUE(co_await within(patience, watch.wait()));
  });
}

TEST(StopFlag, DroppingTheFlagRaisesIt) {
  Runtime rt;
  std::optional<StopWatch> watch;
  {
    auto pair = StopFlag::make(rt.executor());
    watch.emplace(pair.second);
    EXPECT_FALSE(watch->raised());
  }
  EXPECT_TRUE(watch->raised());
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
    auto [flag, watch] = StopFlag::make(rt.executor());
    auto task = Task::spawn(rt.executor(), [](StopWatch watch, bool& cleaned_up, bool& went_on) -> asio::awaitable<void> {
      struct Cleanup {
        bool& flag;
        ~Cleanup() { flag = true; }
      } cleanup{cleaned_up};
      co_await watch.wait();  // ends on the abort without throwing
      co_await sleep(1h);     // throws
      went_on = true;
    }(watch, cleaned_up, went_on));
    co_await sleep(1ms);
    task.abort();
    CO_EXPECT_EQ((co_await task.join()).how, TaskEnd::How::cancelled);
  });
  EXPECT_TRUE(cleaned_up);
  EXPECT_FALSE(went_on);
}

TEST(TaskSet, GivesEndsInTheOrderTheyHappen) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    TaskSet set(rt.executor());
    set.spawn([]() -> asio::awaitable<void> {
      co_await sleep(20ms);
      throw std::runtime_error("second");
    }());
    set.spawn([]() -> asio::awaitable<void> { co_await sleep(1ms); }());
    EXPECT_EQ(set.size(), 2u);
    auto first = co_await set.next();
    CO_ASSERT_TRUE(first);
    EXPECT_EQ(first->how, TaskEnd::How::finished);
    auto second = co_await set.next();
    CO_ASSERT_TRUE(second);
    EXPECT_EQ(second->fault, "second");
    EXPECT_TRUE(set.empty());
    CO_EXPECT_EQ(co_await set.next(), std::nullopt);
  });
}

TEST(TaskSet, AbortAllCancelsWhatStillRuns) {
  Runtime rt;
  rt.run([&]() -> asio::awaitable<void> {
    TaskSet set(rt.executor());
    for (int i = 0; i < 3; ++i) set.spawn([]() -> asio::awaitable<void> { co_await sleep(1h); }());
    set.spawn([]() -> asio::awaitable<void> { co_return; }());
    auto done = co_await set.next();
    EXPECT_EQ(done->how, TaskEnd::How::finished);
    set.abort_all();
    int cancelled = 0;
    for (;;) {
      auto end = co_await set.next();
      if (!end) break;
      cancelled += end->how == TaskEnd::How::cancelled;
    }
    EXPECT_EQ(cancelled, 3);
  });
}

TEST(TaskSet, DroppingTheSetAbortsItsTasks) {
  Runtime rt;
  int unwound = 0;
  rt.run([&]() -> asio::awaitable<void> {
    {
      TaskSet set(rt.executor());
      for (int i = 0; i < 2; ++i)
        set.spawn([](int& unwound) -> asio::awaitable<void> {
          struct Count {
            int& n;
            ~Count() { ++n; }
          } count{unwound};
          co_await sleep(1h);
        }(unwound));
      co_await sleep(1ms);
    }
    co_await sleep(5ms);
  });  // would not settle with the tasks still asleep
  EXPECT_EQ(unwound, 2);
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
  context->poll();  // the wake posted by the first send
  std::thread([sender = sender]() mutable {
    auto refused = sender.try_send(2);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().error, SendError::closed);
  }).join();  // and that sender's end posted nothing either
  EXPECT_EQ(context->poll(), 0u);
  // Even with the runtime gone, sending and dropping the last sender on another thread are safe.
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

}  // namespace
