#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>

namespace net {

enum class Protocol { Tcp, Udp };

// "TCP" or "UDP".
std::string_view protocol_word(Protocol protocol);

// The failure to open a local port on 127.0.0.1.
struct BindError {
  Protocol protocol;
  std::uint16_t port;
  // The system said the address is in use (WSAEADDRINUSE / EADDRINUSE), and nothing else.
  bool in_use;
  // The system's error.
  boost::system::error_code error;

  // Classifies the system's error for the port.
  static BindError from(Protocol protocol, std::uint16_t port, const boost::system::error_code& error);

  // "TCP port 127.0.0.1:2992 is already in use. ..." or "cannot open TCP port 127.0.0.1:2992: ...".
  std::string text() const;
};

}  // namespace net
