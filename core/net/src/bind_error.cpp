#include "core/net/src/bind_error.hpp"

#include <boost/asio/error.hpp>

namespace net {

std::string_view protocol_word(Protocol protocol) { return protocol == Protocol::Tcp ? "TCP" : "UDP"; }

BindError BindError::from(Protocol protocol, std::uint16_t port, const boost::system::error_code& error) {
  return BindError{protocol, port, error == boost::asio::error::address_in_use, error};
}

std::string BindError::text() const {
  std::string where = std::string(protocol_word(protocol)) + " port 127.0.0.1:" + std::to_string(port);
  if (in_use)
    return where + " is already in use. Tolvaro DCS Bridge, or the older Node bridge, is probably already running.";
  return "cannot open " + where + ": " + error.message();
}

}  // namespace net
