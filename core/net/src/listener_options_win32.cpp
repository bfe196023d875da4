#include "core/net/src/listener_options.hpp"

#include <winsock2.h>

namespace net {

// On Windows, address reuse would let a second listener share a port in use, so it stays off; the
// exclusive option keeps other programs from binding the port with address reuse of their own.
void set_listener_options(boost::asio::ip::tcp::acceptor& listener, boost::system::error_code& ec) {
  using exclusive_address_use = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
  listener.set_option(exclusive_address_use(true), ec);
}

}  // namespace net
