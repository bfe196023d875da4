#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace net::testing {

// Ends the whole test program with a failure when the scope that holds it is not left within
// `limit`: for steps that can hang for good (an io_context whose destruction never returns), which
// would otherwise end only in the test runner's time-out, with no word of what hung.
class Watchdog {
 public:
  explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(90))
      : what_(std::move(what)), thread_([this, limit] { watch(limit); }) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  void watch(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, limit, [this] { return done_; })) return;
    std::fprintf(stderr, "FAILED: hung for %lld s: %s\n", static_cast<long long>(limit.count()), what_.c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }

  std::string what_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the rest is there
};

}  // namespace net::testing
