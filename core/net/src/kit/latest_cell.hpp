#pragma once

#include <memory>
#include <utility>

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

// A latest-value cell, which Asio's channels cannot be: the writer replaces a value that the reader
// has not taken yet, so the reader only ever sees the newest. A channel of one value otherwise: each
// change and the writer's going notify the reader's wake; the reader sees the cell closed once the
// writer is gone and the last value is taken, and the writer learns when the reader is gone.
template <class T>
class LatestCell {
 public:
  class Writer {
   public:
    // Replaces the value; false (and the value dropped) when the reader is gone.
    bool set(T value) { return sender_.replace(std::move(value)); }

   private:
    friend class LatestCell;
    explicit Writer(typename Channel<T>::Sender sender) : sender_(std::move(sender)) {}
    typename Channel<T>::Sender sender_;
  };

  class Reader {
   public:
    // The newest value not taken yet; `Empty` when there is none, `Closed` when none will come.
    std::expected<T, ReceiveError> try_take() { return receiver_.try_receive(); }
    // Ends at the next change, or at once when one came since the last wait; throws when cancelled.
    boost::asio::awaitable<void> wait() const { return receiver_.wait(); }

   private:
    friend class LatestCell;
    explicit Reader(typename Channel<T>::Receiver receiver) : receiver_(std::move(receiver)) {}
    typename Channel<T>::Receiver receiver_;
  };

  // A new, empty cell, whose changes notify `changed` (one of its own when none is given).
  static std::pair<Writer, Reader> make(const Executor& executor, std::shared_ptr<Wake> changed = nullptr) {
    auto [sender, receiver] = Channel<T>::make(executor, 1, std::move(changed));
    return {Writer(std::move(sender)), Reader(std::move(receiver))};
  }
};

}  // namespace net::kit
