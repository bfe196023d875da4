#pragma once

#include <chrono>
#include <memory>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core/net/src/handshake.hpp"

namespace net {
class StopFlag;
}

namespace net::connection {

// The close handshake of a page takes no longer than this.
inline constexpr std::chrono::milliseconds kCloseTimeout{250};

// Ends the connection and every operation on it. The operations are cancelled before the socket
// closes: Wine does not end a send blocked on a full buffer when its socket merely closes.
void close_socket(boost::asio::ip::tcp::socket& socket);

// One branch of a race with an operation on `socket`: ends when `limit` has passed, after closing
// `socket` so that whatever runs on it ends as well, and sets `fired`. The other branch may still
// end first, with the error of the closed socket, so the flag, not the race, says what happened.
// Once the other branch has won, the socket is left alone, also when the time had come already.
boost::asio::awaitable<void> close_after(std::chrono::milliseconds limit, boost::asio::ip::tcp::socket& socket,
                                         bool& fired);

// Closes a page's socket, as close_after does, when one send has been in flight for longer than
// `limit`. One timer serves every send of the page: it is set for the send in flight and, when it
// rings after that send has ended, set again for the send in flight then, if any; so a send costs
// no timer of its own. A send that ends as the time comes leaves the socket alone when its end is
// told first.
class SendDeadline {
 public:
  SendDeadline(boost::asio::ip::tcp::socket& socket, std::chrono::milliseconds limit);
  ~SendDeadline();  // the socket is left alone from here on
  SendDeadline(const SendDeadline&) = delete;
  SendDeadline& operator=(const SendDeadline&) = delete;

  void started();  // a send begins now
  void ended();    // the send has ended
  // Whether a send ran out of time, and the socket was closed for it.
  bool fired() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// The same, ending when the server stops.
boost::asio::awaitable<void> close_when_stopped(StopFlag& stop, boost::asio::ip::tcp::socket& socket,
                                                bool& fired);

// Sends a Close frame with no status code and no reason and flushes it, all within kCloseTimeout,
// without waiting for the page's answering Close; the outcome does not matter. Reading stops for
// good first; the stream has no read of its own in flight. Nothing is sent on a closed socket (the
// library closes it right after a Close of its own) nor after a write that was cut short. The
// socket is left for the caller to drop.
boost::asio::awaitable<void> close_handshake(PageStream& stream);

}  // namespace net::connection
