#pragma once

// Ports that are free right now on 127.0.0.1, for a program that must be told its ports: the system
// picks one, and the socket is closed again before the program binds it.

#include <cstdint>
#include <string>
#include <string_view>

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

// The page port (a TCP listener) and the listen port (a UDP socket) held without address reuse, as
// another program would hold them.
struct HeldPorts {
  HeldPorts(boost::asio::io_context& context, std::uint16_t page_port, std::uint16_t listen_port)
      : page(context), listen(context, {boost::asio::ip::address_v4::loopback(), listen_port}) {
    page.open(boost::asio::ip::tcp::v4());
    page.bind({boost::asio::ip::address_v4::loopback(), page_port});
    page.listen();
  }
  boost::asio::ip::tcp::acceptor page;
  boost::asio::ip::udp::socket listen;
};

// What the bridge says of a port that another program holds.
inline std::string in_use_text(std::string_view protocol, std::uint16_t port) {
  return std::string(protocol) + " port 127.0.0.1:" + std::to_string(port) +
         " is already in use. Tolvaro DCS Bridge, or the older Node bridge, is probably already running.";
}

}  // namespace bridge::testing
