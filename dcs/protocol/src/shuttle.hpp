#pragma once

// The relay between the pages and the collector as a state machine that does no I/O: each event
// comes in with the current instant, and what must be sent, queued, logged or called comes out as
// a list of actions for the collector link to carry out in order.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/base/src/page.hpp"
#include "core/base/src/time.hpp"
#include "core/base/src/token_bucket.hpp"
#include "dcs/protocol/src/page_message.hpp"

namespace protocol {

using base::PageId;
using base::SharedText;

namespace event {
struct PageOpened {
  PageId page;
};
// The text need only live for the handle() call.
struct PageText {
  PageId page;
  std::string_view text;
};
struct PageClosed {
  PageId page;
};
// The bytes need only live for the handle() call (a view into the receive buffer).
struct CollectorDatagram {
  std::string_view bytes;
};
struct StatusChanged {};
// Fed when next_deadline() has come and after every other event; acts only on what is due.
struct Timer {};
struct Stop {};
}  // namespace event

using ShuttleEvent = std::variant<event::PageOpened, event::PageText, event::PageClosed,
                                  event::CollectorDatagram, event::StatusChanged, event::Timer,
                                  event::Stop>;

namespace action {
// One UDP datagram to the collector: the read line, a write line or a release line.
struct SendToCollector {
  std::string bytes;
};
// Onto the page's outgoing queue ("data" messages).
struct SendToPage {
  PageId page;
  SharedText text;
};
// Build the page's hello with this quiet value and queue it.
struct SendHello {
  PageId page;
  bool collector_quiet;
};
// Into the page's latest-value cell, replacing what is there ("tick" messages).
struct SendLatest {
  PageId page;
  SharedText text;
};
// Call the mode's repair opener.
struct OpenRepair {};
// Forget the link to the page; it comes back as PageClosed.
struct ClosePage {
  PageId page;
};
// A log line at "warn" when warn is set, else at "info".
struct Log {
  std::string text;
  bool warn;
};
}  // namespace action

using ShuttleAction = std::variant<action::SendToCollector, action::SendToPage, action::SendHello,
                                   action::SendLatest, action::OpenRepair, action::ClosePage,
                                   action::Log>;
using ShuttleActions = std::vector<ShuttleAction>;

// A press that waits for its release.
struct HeldPress {
  CollectorWrite release;  // Clickable with the press's release value and no release value
  base::Instant deadline;
};

// A ticks switch refused by the page's bucket, tried again at `due`.
struct PendingTicksSwitch {
  bool on;
  base::Instant due;
};

// What the relay keeps for one open page.
struct PageState {
  using PressKey = std::pair<std::uint32_t, std::uint32_t>;  // (device, command)

  std::map<PressKey, HeldPress> held_presses;
  std::optional<PendingTicksSwitch> pending_ticks_switch;
  base::TokenBucket writes_bucket;
  base::TokenBucket ticks_switch_bucket;
  std::uint32_t log_quota;
  bool closing = false;
  bool ticks_on = false;

  explicit PageState(base::Instant now);

  // Holds a clickable that has a release value until now + the hold time, replacing (without
  // releasing) a press held on the same device and command. Other writes are not held.
  void hold_press(const CollectorWrite& write, base::Instant now);
};

class ShuttleCore {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{200};
  static constexpr std::chrono::milliseconds kTickInterval{10};
  static constexpr std::chrono::seconds kQuietAfter{1};
  static constexpr std::uint32_t kDatagramsPerPoll = 2;
  static constexpr std::uint32_t kWritesPerSecond = 60;
  static constexpr std::uint32_t kTicksSwitchesPerSecond = 10;
  static constexpr std::chrono::milliseconds kTicksSwitchRetry{100};
  static constexpr std::size_t kMaxHeldPresses = 32;
  static constexpr std::chrono::seconds kHoldTime{2};
  static constexpr std::chrono::seconds kRepairInterval{5};
  static constexpr std::uint32_t kLogQuota = 10;

  // The starting state: the given read line, the first poll due at `now`, the collector quiet.
  ShuttleCore(ReadLine read_line, base::Instant now);
  explicit ShuttleCore(base::Instant now) : ShuttleCore(ReadLine::default_line(), now) {}

  // Takes one event at `now` (which must not go backwards; an earlier instant finds nothing due)
  // and returns what the caller must carry out, in order.
  ShuttleActions handle(const ShuttleEvent& event, base::Instant now);

  // When the caller must next feed a Timer; may lie in the past.
  base::Instant next_deadline() const;

  // The collector is heard and at least one page has ticks on.
  bool ticks_running() const;

  // No valid packet for kQuietAfter, or none yet since start.
  bool collector_quiet() const { return collector_quiet_; }

  // Collector datagrams taken since the last poll; the caller stops reading its socket once this
  // reaches kDatagramsPerPoll, until the next poll.
  std::uint32_t datagrams_this_poll() const { return datagrams_this_poll_; }
  bool takes_datagrams() const { return datagrams_this_poll_ < kDatagramsPerPoll; }

  const ReadLine& read_line() const { return read_line_; }

 private:
  void page_opened(PageId id, base::Instant now, ShuttleActions& out);
  void page_text(PageId id, std::string_view text, base::Instant now, ShuttleActions& out);
  void page_closed(PageId id, ShuttleActions& out);
  void collector_datagram(std::string_view bytes, base::Instant now, ShuttleActions& out);
  void timer(base::Instant now, ShuttleActions& out);
  void stop(ShuttleActions& out);

  void writes(PageId id, PageState& page, const std::vector<CollectorWrite>& writes,
              base::Instant now, ShuttleActions& out);
  void ticks(PageId id, PageState& page, bool on, base::Instant now, ShuttleActions& out);
  void open_repair(PageId id, PageState& page, base::Instant now, ShuttleActions& out);

  void close_page(PageId id, PageState& page, std::string_view reason, ShuttleActions& out);
  static void log_limited(std::uint32_t& quota, std::string message, ShuttleActions& out);
  static void release_presses(PageId id, const std::vector<CollectorWrite>& releases,
                              std::string_view reason, ShuttleActions& out);
  void hello_all(ShuttleActions& out) const;
  bool any_ticks_on() const;

  ReadLine read_line_;
  base::Instant next_poll_;
  base::Instant tick_origin_;
  base::Instant next_tick_;
  std::optional<base::Instant> last_packet_;
  std::optional<base::Instant> last_repair_request_;
  std::map<PageId, PageState> pages_;
  std::uint64_t last_tick_ms_ = 0;
  std::uint32_t datagrams_this_poll_ = 0;
  std::uint32_t collector_log_quota_ = kLogQuota;
  bool collector_quiet_ = true;
};

}  // namespace protocol
