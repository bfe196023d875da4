#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/experimental/channel_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "core/base/src/time.hpp"
#include "core/net/src/bind_error.hpp"
#include "core/net/src/kit/slots.hpp"
#include "core/net/src/kit/tasks.hpp"
#include "core/net/src/page_event.hpp"

namespace net {

// The settings of the page server. The defaults are the bridge's own; start-up fills in the port and
// the allowed origins.
struct PageServerConfig {
  std::string path = "/api/v1";                         // the one path a handshake accepts
  std::chrono::milliseconds handshake_timeout{5000};    // for the whole handshake
  std::chrono::milliseconds send_timeout{2000};         // for one text to a page
  std::uint64_t max_message_size = 1048576;             // one message, and one frame
  std::uint64_t max_pages = 8;                          // page slots
  std::uint64_t max_handshakes = 4;                     // handshake slots
  std::uint64_t handshake_cap = 16384;                  // bytes read during one handshake
  std::uint64_t page_queue = 64;                        // texts in one page's queue
  std::uint32_t messages_per_second = 200;              // a page's message bucket: rate and size
  std::uint32_t bytes_per_second = 65536;               // a page's byte bucket: rate
  std::uint32_t byte_burst = 2097152;                   // a page's byte bucket: size
  std::unordered_set<std::string> allowed_origins;      // exact Origin values a handshake accepts
  std::uint16_t port = 2992;                            // 0: any free port
  // The clock of the per-page buckets; tests stop it to count tokens exactly.
  std::function<base::Instant()> now = [] { return base::Clock::now(); };
};

// Counts the refusals of one page server, every kind alike, and tells which to log: the first 10,
// then every 1000th. Thread-safe.
class RefusalCounter {
 public:
  // Counts one refusal; the line to log for it, "{message} (refusal {n})", if any.
  std::optional<std::string> count(std::string_view message);
  std::uint64_t total() const { return count_.load(); }

 private:
  std::atomic<std::uint64_t> count_{0};
};

// What the accept loop and every page task share.
struct PageServerShared {
  explicit PageServerShared(PageServerConfig config)
      : config(std::move(config)), page_slots(this->config.max_pages) {}
  const PageServerConfig config;
  kit::Slots page_slots;
  RefusalCounter refusals;
};

// The page server's stop flag, raised once and for good by PageServer::stop or by dropping the
// PageServer. Runtime thread only.
class StopFlag {
 public:
  explicit StopFlag(const boost::asio::any_io_executor& executor) : raised_(executor) {}

  bool raised() const { return !raised_.is_open(); }
  void raise() { raised_.close(); }

  // Ends once the flag is raised, at once when it is; throws when cancelled.
  boost::asio::awaitable<void> wait() {
    auto [ec] = co_await raised_.async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
    if (ec == boost::asio::experimental::error::channel_cancelled)
      throw boost::system::system_error(boost::asio::error::operation_aborted);
  }

 private:
  // Nothing is ever sent on it: its close is the signal, which every receive sees, now and later.
  boost::asio::experimental::channel<void(boost::system::error_code)> raised_;
};

class PageServer;

namespace page_server {

// Binds the page listener on 127.0.0.1 at the configured port (backlog 128) and spawns the accept
// task on `executor`, which runs the page tasks too. Page events go to `events`.
std::expected<PageServer, BindError> start(const boost::asio::any_io_executor& executor, PageServerConfig config,
                                           PageEventQueue::Sender events);

}  // namespace page_server

// The handle on a running page server, owned by the collector link. Dropping it raises the stop
// flag as stop() does, without waiting for the server to end.
class PageServer {
 public:
  PageServer(PageServer&&) noexcept = default;
  PageServer& operator=(PageServer other) noexcept {
    std::swap(stop_, other.stop_);
    std::swap(task_, other.task_);
    std::swap(port_, other.port_);
    return *this;
  }
  ~PageServer() {
    if (stop_) stop_->raise();
  }

  // The port the listener is bound to.
  std::uint16_t port() const { return port_; }

  // Stops the server: no connection is accepted any more, open pages get 500 ms to close, and the
  // rest are cut off. Returns once the accept task has ended; logs "page server task failed: {}"
  // when it failed. The handle is spent afterwards.
  boost::asio::awaitable<void> stop();

 private:
  friend std::expected<PageServer, BindError> page_server::start(const boost::asio::any_io_executor&,
                                                                PageServerConfig, PageEventQueue::Sender);
  PageServer(std::shared_ptr<StopFlag> stop, kit::Task task, std::uint16_t port)
      : stop_(std::move(stop)), task_(std::move(task)), port_(port) {}

  std::shared_ptr<StopFlag> stop_;  // none once moved from
  kit::Task task_;
  std::uint16_t port_;
};

namespace page_server {

// Counts a refused connection and logs "{message} (refusal {n})" at warn when the count says so.
void log_refusal(PageServerShared& shared, std::string_view message);

}  // namespace page_server

}  // namespace net
