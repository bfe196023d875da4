#include "bench/src/baseline.hpp"

#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include "bench/src/bridge_process.hpp"

namespace bench {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;
using ErrorCode = boost::system::error_code;
using namespace std::chrono_literals;

BaselineRelay::BaselineRelay(std::uint16_t collector_port)
    : udp_(context_, udp::endpoint(asio::ip::address_v4::loopback(), 0)),
      collector_(asio::ip::address_v4::loopback(), collector_port),
      acceptor_(context_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
      poll_timer_(context_),
      tick_timer_(context_) {
  udp_port_ = udp_.local_endpoint().port();
  tcp_port_ = acceptor_.local_endpoint().port();
  accept();
  receive_datagram();
  next_poll_ = std::chrono::steady_clock::now();
  poll();
  thread_ = std::thread([this] {
    tid_ = ::gettid();
    tid_.notify_all();
    context_.run();
  });
}

std::optional<std::int64_t> BaselineRelay::cpu_ns() const {
  tid_.wait(0);
  return thread_cpu_ns(tid_.load());
}

BaselineRelay::~BaselineRelay() {
  context_.stop();
  thread_.join();
}

void BaselineRelay::accept() {
  acceptor_.async_accept([this](ErrorCode ec, tcp::socket socket) {
    if (ec) return;
    socket.set_option(tcp::no_delay(true));
    read_line(clients_.emplace_back(std::move(socket)));
    accept();
  });
}

void BaselineRelay::receive_datagram() {
  udp_.async_receive(asio::buffer(datagram_), [this](ErrorCode ec, std::size_t n) {
    if (!ec) {
      const std::array<asio::const_buffer, 2> line{asio::buffer(datagram_.data(), n), asio::buffer("\n", 1)};
      for (Client& client : clients_) {
        ErrorCode ignored;
        asio::write(client.socket, line, ignored);
      }
    }
    receive_datagram();
  });
}

void BaselineRelay::read_line(Client& client) {
  asio::async_read_until(client.socket, asio::dynamic_buffer(client.lines), '\n',
                         [this, &client](ErrorCode ec, std::size_t n) {
                           if (ec) return;
                           const std::string line = client.lines.substr(0, n - 1);
                           client.lines.erase(0, n);
                           if (line == "ticks on") {
                             client.ticking = true;
                             if (!ticking_) {
                               ticking_ = true;
                               next_tick_ = std::chrono::steady_clock::now();
                               tick();
                             }
                           } else {
                             ErrorCode ignored;
                             udp_.send_to(asio::buffer(line), collector_, 0, ignored);
                           }
                           read_line(client);
                         });
}

void BaselineRelay::poll() {
  ErrorCode ignored;
  udp_.send_to(asio::buffer("read bench", 10), collector_, 0, ignored);
  next_poll_ += 200ms;
  poll_timer_.expires_at(next_poll_);
  poll_timer_.async_wait([this](ErrorCode ec) {
    if (!ec) poll();
  });
}

void BaselineRelay::tick() {
  for (Client& client : clients_) {
    if (!client.ticking) continue;
    ErrorCode ignored;
    asio::write(client.socket, asio::buffer("tick\n", 5), ignored);
  }
  const auto now = std::chrono::steady_clock::now();
  next_tick_ += 10ms;
  if (next_tick_ <= now) next_tick_ = now + 10ms;
  tick_timer_.expires_at(next_tick_);
  tick_timer_.async_wait([this](ErrorCode ec) {
    if (!ec) tick();
  });
}

}  // namespace bench
