#include "bench/src/pages.hpp"

#include <stdexcept>

#include <boost/asio/buffer.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>

#include "bench/src/collector.hpp"

namespace bench {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {

tcp::socket connected(asio::io_context& context, std::uint16_t port) {
  tcp::socket socket(context);
  ErrorCode ec;
  socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
  if (ec) throw std::runtime_error("page: cannot connect to port " + std::to_string(port) + ": " + ec.message());
  socket.set_option(tcp::no_delay(true));
  return socket;
}

class WebSocketTransport final : public Transport {
 public:
  WebSocketTransport(asio::io_context& context, std::uint16_t port) : ws_(connected(context, port)) {
    ErrorCode ec;
    ws_.handshake("127.0.0.1:" + std::to_string(port), "/api/v1", ec);
    if (ec) throw std::runtime_error("page: WebSocket handshake failed: " + ec.message());
    ws_.text(true);
  }

  void read(Got got) override {
    ws_.async_read(buffer_, [this, got = std::move(got)](ErrorCode ec, std::size_t) {
      const std::int64_t at = now_ns();
      if (ec) return;
      // Taken out of the buffer first: `got` starts the next read into it.
      const std::string message = beast::buffers_to_string(buffer_.cdata());
      buffer_.consume(buffer_.size());
      got(message, at);
    });
  }

  void write(const std::string& text, std::function<void()> done) override {
    ws_.async_write(asio::buffer(text), [done = std::move(done)](ErrorCode, std::size_t) { done(); });
  }

 private:
  websocket::stream<tcp::socket> ws_;
  beast::flat_buffer buffer_;
};

class LineTransport final : public Transport {
 public:
  LineTransport(asio::io_context& context, std::uint16_t port) : socket_(connected(context, port)) {}

  void read(Got got) override {
    asio::async_read_until(socket_, asio::dynamic_buffer(buffer_), '\n',
                           [this, got = std::move(got)](ErrorCode ec, std::size_t n) {
                             const std::int64_t at = now_ns();
                             if (ec) return;
                             const std::string message = buffer_.substr(0, n - 1);
                             buffer_.erase(0, n);
                             got(message, at);
                           });
  }

  void write(const std::string& text, std::function<void()> done) override {
    line_ = text + '\n';
    asio::async_write(socket_, asio::buffer(line_), [done = std::move(done)](ErrorCode, std::size_t) { done(); });
  }

 private:
  tcp::socket socket_;
  std::string buffer_;
  std::string line_;
};

}  // namespace

PageClient::PageClient() = default;

PageClient::~PageClient() {
  work_.reset();
  context_.stop();
  if (thread_.joinable()) thread_.join();
  transport_.reset();
}

std::unique_ptr<PageClient> PageClient::websocket(std::uint16_t port) {
  std::unique_ptr<PageClient> page(new PageClient());
  page->start(std::make_unique<WebSocketTransport>(page->context_, port));
  return page;
}

std::unique_ptr<PageClient> PageClient::lines(std::uint16_t port) {
  std::unique_ptr<PageClient> page(new PageClient());
  page->start(std::make_unique<LineTransport>(page->context_, port));
  return page;
}

void PageClient::start(std::unique_ptr<Transport> transport) {
  transport_ = std::move(transport);
  work_.emplace(context_.get_executor());
  read_next();
  thread_ = std::thread([this] { context_.run(); });
}

void PageClient::read_next() {
  transport_->read([this](std::string_view message, std::int64_t at) {
    received(message, at);
    read_next();
  });
}

void PageClient::received(std::string_view message, std::int64_t at) {
  std::lock_guard lock(mutex_);
  ++messages_;
  DataSample sample;
  if (read_packet_stamp(message, sample.sent, sample.mode)) {
    sample.received = at;
    data_.push_back(sample);
  } else if (message.starts_with("{\"type\":\"tick\"") || message == "tick") {
    ticks_.push_back(at);
  }
}

void PageClient::send(std::function<std::string()> make) {
  asio::post(context_, [this, make = std::move(make)]() mutable {
    pending_.push_back(std::move(make));
    if (!write_in_flight_) write_next();
  });
}

void PageClient::send(std::string text) {
  send([text = std::move(text)] { return text; });
}

void PageClient::write_next() {
  if (pending_.empty()) {
    write_in_flight_ = false;
    return;
  }
  write_in_flight_ = true;
  writing_ = pending_.front()();
  pending_.pop_front();
  transport_->write(writing_, [this] { write_next(); });
}

std::vector<DataSample> PageClient::data() const {
  std::lock_guard lock(mutex_);
  return data_;
}

std::vector<std::int64_t> PageClient::ticks() const {
  std::lock_guard lock(mutex_);
  return ticks_;
}

std::size_t PageClient::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

}  // namespace bench
