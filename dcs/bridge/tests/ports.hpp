#pragma once

// Ports that are free right now on 127.0.0.1, for a program that must be told its ports: the system
// picks one, and the socket is closed again before the program binds it.

#include <cstdint>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

namespace bridge::testing {

inline std::uint16_t free_tcp_port() {
  boost::asio::io_context context;
  boost::asio::ip::tcp::acceptor acceptor(context);
  acceptor.open(boost::asio::ip::tcp::v4());
  acceptor.bind({boost::asio::ip::address_v4::loopback(), 0});
  return acceptor.local_endpoint().port();
}

inline std::uint16_t free_udp_port() {
  boost::asio::io_context context;
  boost::asio::ip::udp::socket socket(context, {boost::asio::ip::address_v4::loopback(), 0});
  return socket.local_endpoint().port();
}

}  // namespace bridge::testing
