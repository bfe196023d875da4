#pragma once

#include <expected>
#include <optional>
#include <utility>

#include "core/net/src/kit/wait_list.hpp"

namespace net::kit {

// The waiting receive and send of the kit's channels, written once over what each end does
// without waiting. Both look at the channel again after every wake, so a wake that finds nothing
// only makes them wait again, and both stop at a cancellation rather than take or give a value
// that their caller will never see.

// The next value from `receiver`, waiting while there is none; nothing once it is closed.
// `receiver` has try_receive() (a T or a ReceiveError) and wait() (ready when there may be a
// value or the end), and stays in place until this ends.
template <class T, class Receiver>
boost::asio::awaitable<std::optional<T>> receive_waiting(Receiver& receiver) {
  for (;;) {
    auto value = receiver.try_receive();
    if (value) co_return std::move(*value);
    if (value.error() == ReceiveError::closed) co_return std::nullopt;
    co_await receiver.wait();
    co_await throw_if_aborted();
  }
}

// Queues `value` through `sender`, waiting on `wait_room()` (ready when there may be room or the
// receiver is gone) while the channel is full; gives the value back only when the receiver is
// gone. A cancelled send loses the value. `sender` stays in place until this ends.
template <class T, class Sender, class WaitRoom>
boost::asio::awaitable<std::expected<void, T>> send_waiting(Sender& sender, T value, WaitRoom wait_room) {
  for (;;) {
    auto sent = sender.try_send(std::move(value));
    if (sent) co_return std::expected<void, T>{};
    if (sent.error().error == SendError::closed) co_return std::unexpected(std::move(sent.error().value));
    value = std::move(sent.error().value);
    co_await wait_room();
    co_await throw_if_aborted();
  }
}

}  // namespace net::kit
