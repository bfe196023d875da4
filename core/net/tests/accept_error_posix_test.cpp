// Accept errors provoked by running the process out of file descriptors, which only POSIX lets a
// test do to itself.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <boost/asio/write.hpp>

#include "core/base/tests/log_capture.hpp"
#include "core/net/tests/bridge.hpp"
#include "core/net/tests/raw_client.hpp"

namespace {

using namespace net;
using namespace net::testing;
using tcp = boost::asio::ip::tcp;

// Lowers the limit on file descriptors for as long as it lives.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { restore(); }
  void restore() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

TEST(AcceptErrors, AreWarnedUnderTheirQuotaAndTheLoopGoesOn) {
  base::testing::LogCapture log;
  Runtime rt;
  TestBridge bridge(rt.executor(), test_config());
  rt.run([&]() -> asio::awaitable<void> {
    const auto executor = co_await asio::this_coro::executor;
    tcp::socket socket(executor);
    socket.open(tcp::v4());
    // The client's socket has the highest descriptor the process may hold: the server cannot
    // accept it.
    DescriptorLimit limit(static_cast<rlim_t>(socket.native_handle()) + 1);
    co_await socket.async_connect(tcp::endpoint(asio::ip::address_v4::loopback(), bridge.port()),
                                  asio::use_awaitable);
    const bool quota_spent = co_await eventually([&] {
      for (const auto& message : log.messages())
        if (message.ends_with(" (further ones are not logged)")) return true;
      return false;
    });
    CO_EXPECT_TRUE(quota_spent);
    co_await sleep(300ms);  // more failures, none of them logged
    limit.restore();
    // The connection waited in the backlog and is served now.
    const std::string request = upgrade_request();
    co_await asio::async_write(socket, asio::buffer(request), asio::use_awaitable);
    auto page = co_await bridge.next_connected();
    CO_EXPECT_TRUE(page);
    co_await bridge.stop();
  });
  bridge.finish();
  std::vector<std::string> warnings;
  for (const auto& entry : log.entries())
    if (entry.message.starts_with("accepting a page failed: ")) {
      EXPECT_EQ(entry.level, "warn");
      warnings.push_back(entry.message);
    }
  ASSERT_EQ(warnings.size(), 10u);
  EXPECT_TRUE(warnings.back().ends_with(" (further ones are not logged)"));
  const auto first = log.lines().front();
  const auto last = log.lines()[9];
  // Each failure is followed by a pause of 100 ms: ten of them take at least 0.9 s.
  EXPECT_GE(std::stod(last.substr(0, 9)) - std::stod(first.substr(0, 9)), 0.85);
}

}  // namespace
