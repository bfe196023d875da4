#pragma once

// The page side of a relay: one client per page, each on its own thread with its own I/O context,
// so that a message is stamped as soon as it can be read, whatever the other pages are doing.
// Bridge pages speak WebSocket; the baseline's page reads and writes lines over plain TCP.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "bench/src/stats.hpp"

namespace bench {

// How a page's messages reach the wire and come back from it.
class Transport {
 public:
  using Got = std::function<void(std::string_view message, std::int64_t at)>;
  virtual ~Transport() = default;
  // Reads the next message and hands it to `got` with the instant it was read; a failed read
  // ends reading.
  virtual void read(Got got) = 0;
  // Writes `text`, which stays alive until `done`.
  virtual void write(const std::string& text, std::function<void()> done) = 0;
};

class PageClient {
 public:
  // A WebSocket page on 127.0.0.1 at `port`, path /api/v1, without Origin. Throws
  // std::runtime_error when it cannot connect or the handshake fails.
  static std::unique_ptr<PageClient> websocket(std::uint16_t port);
  // A page that reads and writes lines over TCP, for the baseline relay.
  static std::unique_ptr<PageClient> lines(std::uint16_t port);

  ~PageClient();
  PageClient(const PageClient&) = delete;
  PageClient& operator=(const PageClient&) = delete;

  // Sends the text that `make` gives. It is made on the page's thread right before it is written,
  // so that a stamp inside it is as late as it can be. Thread-safe.
  void send(std::function<std::string()> make);
  void send(std::string text);

  std::vector<DataSample> data() const;
  std::vector<std::int64_t> ticks() const;  // when each tick arrived
  std::size_t messages() const;             // every message read so far

 private:
  PageClient();
  void start(std::unique_ptr<Transport> transport);
  void read_next();
  void received(std::string_view message, std::int64_t at);
  void write_next();

  boost::asio::io_context context_;
  std::unique_ptr<Transport> transport_;
  std::deque<std::function<std::string()>> pending_;  // page thread only
  std::string writing_;
  bool write_in_flight_ = false;
  mutable std::mutex mutex_;
  std::vector<DataSample> data_;
  std::vector<std::int64_t> ticks_;
  std::size_t messages_ = 0;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  std::thread thread_;

  friend class TransportMaker;
};

}  // namespace bench
