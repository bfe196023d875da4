#include "dcs/protocol/src/shuttle.hpp"

#include <algorithm>

#include "core/base/src/clip.hpp"
#include "core/base/src/quota.hpp"
#include "core/base/src/unicode.hpp"

// g++ 12 reports the storage of an action variant as maybe uninitialized when the action vector
// grows and moves its elements; the moves are of fully built variants.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace protocol {
namespace {

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

std::string id_text(PageId id) { return std::to_string(id); }

void info(std::string text, ShuttleActions& out) {
  out.push_back(action::Log{std::move(text), false});
}

void warn(std::string text, ShuttleActions& out) {
  out.push_back(action::Log{std::move(text), true});
}

// Takes out every held press for which `due` says so, in ascending (device, command).
template <typename Due>
std::vector<CollectorWrite> take_presses(PageState& page, Due due) {
  std::vector<CollectorWrite> releases;
  for (auto it = page.held_presses.begin(); it != page.held_presses.end();) {
    if (due(it->second)) {
      releases.push_back(std::move(it->second.release));
      it = page.held_presses.erase(it);
    } else {
      ++it;
    }
  }
  return releases;
}

std::vector<CollectorWrite> take_all_presses(PageState& page) {
  return take_presses(page, [](const HeldPress&) { return true; });
}

}  // namespace

PageState::PageState(base::Instant now)
    : writes_bucket(ShuttleCore::kWritesPerSecond, ShuttleCore::kWritesPerSecond, now),
      ticks_switch_bucket(ShuttleCore::kTicksSwitchesPerSecond,
                          ShuttleCore::kTicksSwitchesPerSecond, now),
      log_quota(ShuttleCore::kLogQuota) {}

void PageState::hold_press(const CollectorWrite& write, base::Instant now) {
  const auto* press = std::get_if<Clickable>(&write.kind);
  if (press == nullptr || !press->release_value) return;
  HeldPress held{CollectorWrite{Clickable{press->device, press->command, *press->release_value, {}}},
                 now + ShuttleCore::kHoldTime};
  held_presses.insert_or_assign(PressKey{press->device, press->command}, std::move(held));
}

ShuttleCore::ShuttleCore(ReadLine read_line, base::Instant now)
    : read_line_(std::move(read_line)), next_poll_(now), tick_origin_(now), next_tick_(now) {}

ShuttleActions ShuttleCore::handle(const ShuttleEvent& event, base::Instant now) {
  ShuttleActions out;
  std::visit(Overloaded{
                 [&](const event::PageOpened& e) { page_opened(e.page, now, out); },
                 [&](const event::PageText& e) { page_text(e.page, e.text, now, out); },
                 [&](const event::PageClosed& e) { page_closed(e.page, out); },
                 [&](const event::CollectorDatagram& e) { collector_datagram(e.bytes, now, out); },
                 [&](const event::StatusChanged&) { hello_all(out); },
                 [&](const event::Timer&) { timer(now, out); },
                 [&](const event::Stop&) { stop(out); },
             },
             event);
  return out;
}

void ShuttleCore::page_opened(PageId id, base::Instant now, ShuttleActions& out) {
  // Page ids are never reused, so this is an open for a page the core still holds: that page is
  // gone for the link, so its presses are released rather than forgotten, and the new page starts
  // afresh.
  if (const auto it = pages_.find(id); it != pages_.end()) {
    release_presses(id, take_all_presses(it->second), "it closed", out);
    pages_.erase(it);
  }
  pages_.emplace(id, PageState(now));
  out.push_back(action::SendHello{id, collector_quiet_});
}

void ShuttleCore::page_text(PageId id, std::string_view text, base::Instant now,
                            ShuttleActions& out) {
  const auto it = pages_.find(id);
  if (it == pages_.end()) {
    warn("ignoring a message from page " + id_text(id) + ", which is not open", out);
    return;
  }
  PageState& page = it->second;
  if (page.closing) return;

  auto message = PageMessage::parse(text);
  if (!message) {
    const PageMessageError& error = message.error();
    std::string line;
    if (std::holds_alternative<SubscribeError>(error.kind))
      line = "refusing page " + id_text(id) + "'s subscribe, keeping the previous one: ";
    else if (std::holds_alternative<WritesError>(error.kind))
      line = "refusing page " + id_text(id) + "'s writes, sending none of them: ";
    else
      line = "ignoring a message from page " + id_text(id) + ": ";
    line += error.fmt();
    log_limited(page.log_quota, std::move(line), out);
    return;
  }

  std::visit(Overloaded{
                 [&](PageMessage::Subscribe& m) {
                   if (m.line == read_line_) return;
                   read_line_ = std::move(m.line);
                   const auto keys = std::count(read_line_.text.begin(), read_line_.text.end(), ' ');
                   info("page " + id_text(id) + " subscribed to " + std::to_string(keys) + " keys",
                        out);
                 },
                 [&](PageMessage::Writes& m) { writes(id, page, m.writes, now, out); },
                 [&](PageMessage::Ticks& m) { ticks(id, page, m.on, now, out); },
                 [&](PageMessage::OpenRepair&) { open_repair(id, page, now, out); },
             },
             message->kind);
}

void ShuttleCore::writes(PageId id, PageState& page, const std::vector<CollectorWrite>& writes,
                         base::Instant now, ShuttleActions& out) {
  if (writes.empty()) return;
  if (!page.writes_bucket.try_take(static_cast<std::uint32_t>(writes.size()), now)) {
    close_page(id, page, "more than " + std::to_string(kWritesPerSecond) + " writes a second", out);
    return;
  }
  for (const CollectorWrite& write : writes) {
    out.push_back(action::SendToCollector{write.to_line()});
    page.hold_press(write, now);
    if (page.held_presses.size() > kMaxHeldPresses) {
      // The press over the limit has been sent and stays held, so it is released with the rest.
      close_page(id, page, "more than " + std::to_string(kMaxHeldPresses) + " presses held", out);
      return;
    }
  }
}

void ShuttleCore::ticks(PageId id, PageState& page, bool on, base::Instant now,
                        ShuttleActions& out) {
  if (on == page.ticks_on) {
    page.pending_ticks_switch.reset();
    return;
  }
  const bool any_on_before = any_ticks_on();
  if (page.ticks_switch_bucket.try_take(1, now)) {
    page.pending_ticks_switch.reset();
    page.ticks_on = on;
    if (on && !any_on_before) next_tick_ = now;
    return;
  }
  page.pending_ticks_switch = PendingTicksSwitch{on, now + kTicksSwitchRetry};
  log_limited(page.log_quota,
              "delaying page " + id_text(id) + "'s ticks switch: more than " +
                  std::to_string(kTicksSwitchesPerSecond) + " a second",
              out);
}

void ShuttleCore::open_repair(PageId id, PageState& page, base::Instant now,
                              ShuttleActions& out) {
  if (last_repair_request_ && now < *last_repair_request_ + kRepairInterval) {
    log_limited(page.log_quota,
                "ignoring page " + id_text(id) + "'s openRepair: one every " +
                    std::to_string(kRepairInterval.count()) + " seconds",
                out);
    return;
  }
  last_repair_request_ = now;
  info("page " + id_text(id) + " asked for the repair window", out);
  out.push_back(action::OpenRepair{});
}

void ShuttleCore::page_closed(PageId id, ShuttleActions& out) {
  if (const auto it = pages_.find(id); it != pages_.end()) {
    std::vector<CollectorWrite> releases = take_all_presses(it->second);
    pages_.erase(it);
    release_presses(id, releases, "it closed", out);
  }
  if (pages_.empty()) read_line_ = ReadLine::default_line();
}

void ShuttleCore::collector_datagram(std::string_view bytes, base::Instant now,
                                     ShuttleActions& out) {
  if (datagrams_this_poll_ >= kDatagramsPerPoll) {
    log_limited(collector_log_quota_,
                "dropping a collector datagram past " + std::to_string(kDatagramsPerPoll) +
                    " a poll",
                out);
    return;
  }
  ++datagrams_this_poll_;

  const std::optional<CollectorPacket> packet = CollectorPacket::from_datagram(bytes);
  if (!packet) {
    log_limited(collector_log_quota_,
                "dropping a collector datagram that is not a packet: " +
                    base::clip(base::unicode::utf8_lossy(bytes)),
                out);
    return;
  }

  if (!pages_.empty()) {
    const auto data = std::make_shared<const std::string>(page_message::data_message(*packet));
    for (const auto& [id, page] : pages_) out.push_back(action::SendToPage{id, data});
  }
  last_packet_ = now;
  if (collector_quiet_) {
    collector_quiet_ = false;
    info("collector packets are arriving", out);
    hello_all(out);
  }
}

void ShuttleCore::timer(base::Instant now, ShuttleActions& out) {
  // 1. Poll: the read line goes out first.
  if (now >= next_poll_) {
    out.push_back(action::SendToCollector{read_line_.text});
    datagrams_this_poll_ = 0;
    next_poll_ += kPollInterval;
    if (next_poll_ <= now) next_poll_ = now + kPollInterval;  // missed polls are not made up
  }

  // 2. Presses whose hold time is over.
  for (auto& [id, page] : pages_) {
    std::vector<CollectorWrite> releases =
        take_presses(page, [now](const HeldPress& press) { return press.deadline <= now; });
    release_presses(id, releases, "the press expired", out);
  }

  // 3. Ticks switches that were delayed by their bucket.
  for (auto& [id, page] : pages_) {
    if (!page.pending_ticks_switch || now < page.pending_ticks_switch->due) continue;
    if (!page.ticks_switch_bucket.try_take(1, now)) {
      page.pending_ticks_switch->due = now + kTicksSwitchRetry;
      continue;
    }
    const bool on = page.pending_ticks_switch->on;
    const bool any_on_before = any_ticks_on();  // counts the switches already made in this step
    page.pending_ticks_switch.reset();
    page.ticks_on = on;
    if (on && !any_on_before) next_tick_ = now;
  }

  // 4. Ticks: the time since start, never going backwards; a late tick is not repeated.
  if (ticks_running() && now >= next_tick_) {
    // A signed 64-bit count of clock ticks always fits in unsigned 64-bit milliseconds.
    std::uint64_t ms = 0;
    if (now > tick_origin_)
      ms = static_cast<std::uint64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(now - tick_origin_).count());
    last_tick_ms_ = std::max(last_tick_ms_, ms);
    const auto tick = std::make_shared<const std::string>(page_message::tick_message(last_tick_ms_));
    out.reserve(out.size() + pages_.size());  // one allocation of the list for every page's tick
    for (const auto& [id, page] : pages_)
      if (page.ticks_on) out.push_back(action::SendLatest{id, tick});
    next_tick_ += kTickInterval;
    if (next_tick_ <= now) next_tick_ = now + kTickInterval;
  }

  // 5. The collector falls quiet.
  if (last_packet_ && now >= *last_packet_ + kQuietAfter && !collector_quiet_) {
    collector_quiet_ = true;
    info("collector is quiet: no packet for 1 second", out);
    hello_all(out);
  }
}

void ShuttleCore::stop(ShuttleActions& out) {
  for (auto& [id, page] : pages_)
    release_presses(id, take_all_presses(page), "the bridge is stopping", out);
}

base::Instant ShuttleCore::next_deadline() const {
  base::Instant deadline = next_poll_;
  for (const auto& [id, page] : pages_) {
    for (const auto& [key, press] : page.held_presses) deadline = std::min(deadline, press.deadline);
    if (page.pending_ticks_switch) deadline = std::min(deadline, page.pending_ticks_switch->due);
  }
  if (last_packet_ && !collector_quiet_) deadline = std::min(deadline, *last_packet_ + kQuietAfter);
  if (ticks_running()) deadline = std::min(deadline, next_tick_);
  return deadline;
}

bool ShuttleCore::ticks_running() const { return !collector_quiet_ && any_ticks_on(); }

bool ShuttleCore::any_ticks_on() const {
  return std::any_of(pages_.begin(), pages_.end(),
                     [](const auto& entry) { return entry.second.ticks_on; });
}

void ShuttleCore::close_page(PageId id, PageState& page, std::string_view reason,
                             ShuttleActions& out) {
  page.closing = true;
  warn("closing page " + id_text(id) + ": " + std::string(reason), out);
  out.push_back(action::ClosePage{id});
}

void ShuttleCore::log_limited(std::uint32_t& quota, std::string message, ShuttleActions& out) {
  if (auto line = base::within_quota(quota, std::move(message))) warn(std::move(*line), out);
}

void ShuttleCore::release_presses(PageId id, const std::vector<CollectorWrite>& releases,
                                  std::string_view reason, ShuttleActions& out) {
  if (releases.empty()) return;
  for (const CollectorWrite& release : releases)
    out.push_back(action::SendToCollector{release.to_line()});
  info("released " + std::to_string(releases.size()) + " held presses for page " + id_text(id) +
           ": " + std::string(reason),
       out);
}

void ShuttleCore::hello_all(ShuttleActions& out) const {
  for (const auto& [id, page] : pages_) out.push_back(action::SendHello{id, collector_quiet_});
}

}  // namespace protocol
