#pragma once

// The bare loopback relay that the bridge is measured against: a minimal Asio program on its own
// thread that passes every datagram from the collector to each of its TCP clients as a line, and
// every line from a client to the collector as a datagram. It takes as many clients as connect, so
// that it fans out to as many as the bridge has pages. So that the collector plays it as it plays
// the bridge, it sends "read" to the collector every 200 ms; to each client that has sent the line
// "ticks on" it sends the line "tick" every 10 ms, scheduled as the bridge schedules its ticks.

#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

namespace bench {

class BaselineRelay {
 public:
  // Binds its UDP socket and TCP listener on 127.0.0.1 at free ports and starts its thread.
  explicit BaselineRelay(std::uint16_t collector_port);
  ~BaselineRelay();
  BaselineRelay(const BaselineRelay&) = delete;
  BaselineRelay& operator=(const BaselineRelay&) = delete;

  std::uint16_t udp_port() const { return udp_port_; }
  std::uint16_t tcp_port() const { return tcp_port_; }
  // The CPU time of its thread so far.
  std::optional<std::int64_t> cpu_ns() const;

 private:
  struct Client {
    explicit Client(boost::asio::ip::tcp::socket socket) : socket(std::move(socket)) {}
    boost::asio::ip::tcp::socket socket;
    std::string lines;
    bool ticking = false;
  };

  void accept();
  void receive_datagram();
  void read_line(Client& client);
  void poll();
  void tick();

  boost::asio::io_context context_;
  boost::asio::ip::udp::socket udp_;
  boost::asio::ip::udp::endpoint collector_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::list<Client> clients_;  // relay thread only
  boost::asio::steady_timer poll_timer_;
  boost::asio::steady_timer tick_timer_;
  std::chrono::steady_clock::time_point next_poll_;
  std::chrono::steady_clock::time_point next_tick_;
  bool ticking_ = false;  // the tick timer runs
  std::array<char, 65536> datagram_{};
  std::uint16_t udp_port_ = 0;
  std::uint16_t tcp_port_ = 0;
  std::atomic<pid_t> tid_{0};
  std::thread thread_;
};

}  // namespace bench
