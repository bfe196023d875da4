#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core/net/src/kit/slots.hpp"
#include "core/net/src/kit/wake.hpp"
#include "core/net/src/page_event.hpp"

namespace net {

struct PageServerShared;
class StopFlag;

// Why a page's task ended.
enum class CloseReason {
  BridgeStopping,    // "the bridge is stopping"
  BridgeClosed,      // "the bridge closed it"
  Disconnected,      // "it disconnected"
  ConnectionFailed,  // "its connection failed"
  TooManyMessages,   // "it sent too many messages"
  Closed,            // "it closed"
  SendFailed,        // "sending to it failed"
  StoppedReading,    // "it stopped reading"
};
std::string_view close_reason_text(CloseReason reason);

// Held by a page task once the page was reported Connected: reports it Closed when it goes, however
// the task ends (returned, aborted or failed). When the event queue is full, a detached task waits
// for room; when the collector link is gone, the event is dropped.
class PageGuard {
 public:
  PageGuard(PageEventQueue::Sender events, PageId page) : events_(std::move(events)), page_(page) {}
  PageGuard(const PageGuard&) = delete;
  PageGuard& operator=(const PageGuard&) = delete;
  ~PageGuard();

 private:
  PageEventQueue::Sender events_;
  PageId page_;
};

namespace connection {

// The task of one page connection, from the accepted socket to its close: handshake under its
// time-out and the stop flag, page slot, Connected, the page's read and write loops, close line and
// close handshake. `wake` is the one wake its write loop waits on, which the accept loop notifies
// when the server stops.
boost::asio::awaitable<void> serve_page(boost::asio::ip::tcp::socket socket, kit::Slots::Permit handshake_slot,
                                        PageId page, std::shared_ptr<StopFlag> stop, std::shared_ptr<kit::Wake> wake,
                                        std::shared_ptr<PageServerShared> shared, PageEventQueue::Sender events);

// Queues `event`, waiting for room while racing the stop flag (in random order when both are
// ready). True when queued; false when the stop came first or the collector link is gone. `queued`,
// when given, runs in the very step that queues the event.
boost::asio::awaitable<bool> send_event(PageEventQueue::Sender& events, PageEvent event, StopFlag& stop,
                                        const std::function<void()>& queued = {});

}  // namespace connection
}  // namespace net
