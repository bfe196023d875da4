#include "dcs/shuttle/src/udp_resets.hpp"

namespace shuttle {

// An unconnected UDP socket here never hears of refused datagrams.
void disable_udp_resets(boost::asio::ip::udp::socket&) {}

}  // namespace shuttle
