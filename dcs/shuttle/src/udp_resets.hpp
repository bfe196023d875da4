#pragma once

#include <boost/asio/ip/udp.hpp>

namespace shuttle {

// On Windows a datagram sent to a port without a listener makes a later receive on the same socket
// fail with a connection reset; while DCS is not running that would be every poll. This turns the
// report off where the system allows it. Best effort: a reset that still comes is ignored by the
// link anyway.
void disable_udp_resets(boost::asio::ip::udp::socket& socket);

}  // namespace shuttle
