#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace net {

// Sets what the platform needs on the page listener between open and bind, so that no other
// program can bind the port while the listener holds it.
void set_listener_options(boost::asio::ip::tcp::acceptor& listener, boost::system::error_code& ec);

}  // namespace net
