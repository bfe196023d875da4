#include "core/ui/src/ui_thread.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "core/base/tests/log_capture.hpp"

namespace {

TEST(PanicGuard, AFaultIsLoggedFlaggedAndDropped) {
  std::thread([] {
    base::testing::LogCapture log;
    EXPECT_FALSE(ui_thread::callback_panicked());
    bool after = false;
    ui_thread::guarded([] { throw std::runtime_error("boom"); });
    after = true;  // the fault did not escape
    EXPECT_TRUE(after);
    EXPECT_TRUE(ui_thread::callback_panicked());
    using Entry = base::testing::LogCapture::Entry;
    EXPECT_EQ(log.entries(),
              (std::vector<Entry>{{"error", "a UI callback panicked; closing the program cleanly"}}));
  }).join();
}

TEST(PanicGuard, AnyThrownValueCountsAndACleanCallChangesNothing) {
  std::thread([] {
    base::testing::LogCapture log;
    int ran = 0;
    ui_thread::guarded([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(ui_thread::callback_panicked());
    EXPECT_TRUE(log.entries().empty());
    ui_thread::guarded([] { throw 42; });
    EXPECT_TRUE(ui_thread::callback_panicked());
  }).join();
}

TEST(PanicGuard, TheFlagBelongsToTheThread) {
  std::thread([] {
    base::testing::LogCapture log;
    ui_thread::guarded([] { throw 1; });
  }).join();
  std::thread([] { EXPECT_FALSE(ui_thread::callback_panicked()); }).join();
}

}  // namespace
