#include "core/net/src/listener_options.hpp"

namespace net {

// On POSIX, address reuse only allows a new listener over connections still in TIME_WAIT; a port
// with a live listener stays taken.
void set_listener_options(boost::asio::ip::tcp::acceptor& listener, boost::system::error_code& ec) {
  listener.set_option(boost::asio::socket_base::reuse_address(true), ec);
}

}  // namespace net
