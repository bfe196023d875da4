#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "core/base/src/page.hpp"
#include "core/net/src/kit/channel.hpp"
#include "core/net/src/kit/latest_cell.hpp"

namespace net {

using base::PageId;
using base::SharedText;

// A page's outgoing queue of texts (its size is the page-queue setting, 64). The collector link
// holds the sender and fills it without waiting; the page's write loop drains it. Dropping the
// sender closes the page ("the bridge closed it").
using PageQueue = kit::Channel<SharedText>;

// A page's latest-value cell for ticks: a tick not sent yet is replaced by the newer one. The
// collector link holds the writer; dropping it closes the page. The page's queue and cell notify
// the one wake its write loop waits on.
using LatestCell = kit::LatestCell<SharedText>;

// What the page server tells the collector link about a page. Every page that was reported
// Connected is reported Closed exactly once, however its task ends; no other page is reported.
struct PageEvent {
  // The page holds a page slot; these are its outgoing channels.
  struct Connected {
    PageId page;
    PageQueue::Sender queue;
    LatestCell::Writer latest;
  };
  // One text message of the page, exactly as received.
  struct Text {
    PageId page;
    std::string text;
  };
  // The page is gone.
  struct Closed {
    PageId page;
  };

  std::variant<Connected, Text, Closed> what;
};

// The one queue of page events from the page server to the collector link.
using PageEventQueue = kit::Channel<PageEvent>;
inline constexpr std::size_t kPageEventQueueSize = 256;

}  // namespace net
