#include "dcs/shuttle/src/udp_resets.hpp"

#include <winsock2.h>
#include <mswsock.h>

namespace shuttle {

void disable_udp_resets(boost::asio::ip::udp::socket& socket) {
  BOOL report = FALSE;
  DWORD returned = 0;
  // Failure leaves the reports on; the link ignores them then.
  ::WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr,
             nullptr);
}

}  // namespace shuttle
