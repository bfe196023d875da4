#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "core/net/tests/runtime.hpp"
#include "dcs/shuttle/src/status_source.hpp"

namespace shuttle::testing {

namespace asio = boost::asio;
using udp = asio::ip::udp;
using namespace std::chrono_literals;

// Records every call, in order: "status", "simulator_running", "quiet true", "quiet false",
// "page_opened", "page_closed".
class RecordingStatus : public StatusSource {
 public:
  InstallSummary summary{install::InstallStatus::installed, 8};
  bool running = true;
  // Makes status() throw, to see how the link ends on a fault.
  std::optional<std::string> fault;

  InstallSummary status() override {
    note("status");
    if (fault) throw std::runtime_error(*fault);
    return summary;
  }
  bool simulator_running() override {
    note("simulator_running");
    return running;
  }
  void set_collector_quiet(bool quiet) override { note(quiet ? "quiet true" : "quiet false"); }
  void page_opened() override { note("page_opened"); }
  void page_closed() override { note("page_closed"); }

  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> take_calls() {
    std::lock_guard lock(mutex_);
    return std::exchange(calls_, {});
  }
  int count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : calls())
      if (c == call) ++n;
    return n;
  }

 private:
  void note(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

class CountingRepair : public RepairOpener {
 public:
  int opened = 0;
  void open() override { ++opened; }
};

// The collector's end of the link: a UDP socket on 127.0.0.1 at a free port.
class FakeCollector {
 public:
  explicit FakeCollector(const asio::any_io_executor& executor)
      : socket_(executor, udp::endpoint(asio::ip::address_v4::loopback(), 0)) {}

  std::uint16_t port() const { return socket_.local_endpoint().port(); }
  // Where the link's datagrams came from, once one came.
  const std::optional<udp::endpoint>& link() const { return link_; }

  // The next datagram, within `limit`.
  asio::awaitable<std::optional<std::string>> receive(std::chrono::milliseconds limit = net::testing::patience) {
    std::string buffer(65536, '\0');
    udp::endpoint from;
    auto outcome = co_await net::testing::within(
        limit, socket_.async_receive_from(asio::buffer(buffer), from, asio::as_tuple(asio::use_awaitable)));
    if (!outcome) co_return std::nullopt;
    auto [ec, n] = *outcome;
    if (ec) co_return std::nullopt;
    link_ = from;
    buffer.resize(n);
    co_return buffer;
  }

  // The next datagram that satisfies `wanted`, skipping others (read lines, mostly).
  template <class Wanted>
  asio::awaitable<std::optional<std::string>> receive_first(Wanted wanted,
                                                             std::chrono::milliseconds limit = net::testing::patience) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left <= 0ms) co_return std::nullopt;
      auto datagram = co_await receive(left);
      if (!datagram) co_return std::nullopt;
      if (wanted(*datagram)) co_return datagram;
    }
  }

  // Every datagram that arrives within `window`.
  asio::awaitable<std::vector<std::string>> receive_during(std::chrono::milliseconds window) {
    std::vector<std::string> received;
    const auto end = std::chrono::steady_clock::now() + window;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left <= 0ms) co_return received;
      auto datagram = co_await receive(left);
      if (!datagram) co_return received;
      received.push_back(std::move(*datagram));
    }
  }

  // A datagram already waiting, without waiting for one.
  std::optional<std::string> try_receive() {
    std::string buffer(65536, '\0');
    udp::endpoint from;
    boost::system::error_code ec, ignored;
    socket_.non_blocking(true, ignored);
    const std::size_t n = socket_.receive_from(asio::buffer(buffer), from, 0, ec);
    socket_.non_blocking(false, ignored);
    if (ec) return std::nullopt;
    buffer.resize(n);
    return buffer;
  }

  // Throws away what is waiting.
  void drain() {
    while (try_receive()) {
    }
  }

  // One datagram to the link, once the link's address is known.
  void send(std::string_view bytes) {
    if (!link_) return;
    boost::system::error_code ec;
    socket_.send_to(asio::buffer(bytes.data(), bytes.size()), *link_, 0, ec);
  }

 private:
  udp::socket socket_;
  std::optional<udp::endpoint> link_;
};

inline bool is_read_line(const std::string& datagram) { return datagram.starts_with("read "); }

}  // namespace shuttle::testing
