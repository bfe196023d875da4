#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <boost/asio/buffer.hpp>
#include <boost/asio/compose.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/system/error_code.hpp>

#include "core/base/src/time.hpp"
#include "core/base/src/token_bucket.hpp"

namespace net {

// The errors of a page's stream itself.
enum class StreamError {
  HandshakeOverCap = 1,  // "handshake over the size cap"
  TooManyBytes,          // "page sent more bytes than allowed"
};
const boost::system::error_category& stream_category();
boost::system::error_code make_error_code(StreamError e);

// The page's TCP socket as the WebSocket stream sees it. Until the page holds a page slot it caps
// the bytes a client may send during its handshake; from then on it meters every byte the page
// sends against the page's byte bucket. Writes pass through unchanged; the stream only keeps track
// of them, so that a frame of its own is never put in the middle of another.
class CappedStream {
 public:
  using executor_type = boost::asio::ip::tcp::socket::executor_type;
  using next_layer_type = boost::asio::ip::tcp::socket;
  using Now = std::function<base::Instant()>;

  // Starts in handshake mode with `handshake_cap` bytes to read.
  CappedStream(boost::asio::ip::tcp::socket socket, std::uint64_t handshake_cap);

  executor_type get_executor() noexcept { return socket_.get_executor(); }
  next_layer_type& next_layer() noexcept { return socket_; }
  const next_layer_type& next_layer() const noexcept { return socket_; }

  // Leaves handshake mode for good: from now on reads take their bytes from a bucket of `burst`
  // bytes that refills at `rate` bytes a second, full at `now`; `clock` tells the time of each read.
  void enter_message_mode(std::uint32_t rate, std::uint32_t burst, base::Instant now, Now clock);
  bool in_message_mode() const { return meter_->bytes.has_value(); }

  // Ends reading for good, as the closing of a page does: every later read fails at once with
  // operation_aborted without touching the socket, and what is pending on the socket is cancelled.
  // A write cut short by that shows in writes_whole().
  void stop_reading();
  // While held, writes are taken and dropped as if they went out: the page's handshake writes the
  // library's answer itself, without the field in which the library names itself.
  void hold_writes(bool held) { meter_->writes_held = held; }
  // Whether a write is in flight.
  bool writing() const { return meter_->writes_in_flight > 0; }
  // Whether every write so far has ended without an error, so that what went out ends where a
  // write of the WebSocket library ended and another frame may follow.
  bool writes_whole() const { return !meter_->write_failed; }

  template <class MutableBufferSequence, class ReadToken>
  auto async_read_some(const MutableBufferSequence& buffers, ReadToken&& token);

  template <class ConstBufferSequence, class WriteToken>
  auto async_write_some(const ConstBufferSequence& buffers, WriteToken&& token);

 private:
  // Shared with reads and writes in flight: they may complete after the stream is gone.
  struct Meter {
    std::uint64_t handshake_left;
    std::optional<base::TokenBucket> bytes;
    Now clock;
    bool reads_stopped = false;
    bool writes_held = false;
    unsigned writes_in_flight = 0;
    bool write_failed = false;

    bool handshake_spent() const { return !bytes && handshake_left == 0; }
    // Accounts for `n` bytes just read; an error when they must be thrown away.
    boost::system::error_code charge(std::size_t n);
  };

  template <class MutableBufferSequence>
  struct ReadOp;
  template <class ConstBufferSequence>
  struct WriteOp;

  boost::asio::ip::tcp::socket socket_;
  std::shared_ptr<Meter> meter_;
};

template <class MutableBufferSequence>
struct CappedStream::ReadOp {
  enum class Phase { Start, Failing, Reading };
  boost::asio::ip::tcp::socket* socket;  // only touched when the read starts
  std::shared_ptr<Meter> meter;
  MutableBufferSequence buffers;
  Phase phase = Phase::Start;

  template <class Self>
  void operator()(Self& self, boost::system::error_code ec = {}, std::size_t n = 0) {
    switch (phase) {
      case Phase::Start:
        if (meter->reads_stopped || meter->handshake_spent()) {
          // Fails without touching the socket; completions are never run inline.
          phase = Phase::Failing;
          boost::asio::post(socket->get_executor(), std::move(self));
          return;
        }
        phase = Phase::Reading;
        socket->async_read_some(buffers, std::move(self));
        return;
      case Phase::Failing:
        if (meter->reads_stopped) {
          self.complete(boost::asio::error::operation_aborted, 0);
        } else {
          self.complete(make_error_code(StreamError::HandshakeOverCap), 0);
        }
        return;
      case Phase::Reading:
        // A socket shut down for receiving has ended its stream.
        if (ec == boost::asio::error::shut_down) ec = boost::asio::error::eof;
        if (!ec && n > 0) {
          ec = meter->charge(n);
          if (ec) n = 0;  // the bytes are thrown away
        }
        self.complete(ec, n);
        return;
    }
  }
};

template <class MutableBufferSequence, class ReadToken>
auto CappedStream::async_read_some(const MutableBufferSequence& buffers, ReadToken&& token) {
  return boost::asio::async_compose<ReadToken, void(boost::system::error_code, std::size_t)>(
      ReadOp<MutableBufferSequence>{&socket_, meter_, buffers}, token, socket_);
}

template <class ConstBufferSequence>
struct CappedStream::WriteOp {
  enum class Phase { Start, Dropping, Writing };
  boost::asio::ip::tcp::socket* socket;  // only touched when the write starts
  std::shared_ptr<Meter> meter;
  ConstBufferSequence buffers;
  Phase phase = Phase::Start;

  template <class Self>
  void operator()(Self& self, boost::system::error_code ec = {}, std::size_t n = 0) {
    switch (phase) {
      case Phase::Start:
        if (meter->writes_held) {
          // Completions are never run inline.
          phase = Phase::Dropping;
          boost::asio::post(socket->get_executor(), std::move(self));
          return;
        }
        phase = Phase::Writing;
        ++meter->writes_in_flight;
        socket->async_write_some(buffers, std::move(self));
        return;
      case Phase::Dropping:
        self.complete({}, boost::asio::buffer_size(buffers));
        return;
      case Phase::Writing:
        --meter->writes_in_flight;
        if (ec) meter->write_failed = true;
        self.complete(ec, n);
        return;
    }
  }
};

template <class ConstBufferSequence, class WriteToken>
auto CappedStream::async_write_some(const ConstBufferSequence& buffers, WriteToken&& token) {
  return boost::asio::async_compose<WriteToken, void(boost::system::error_code, std::size_t)>(
      WriteOp<ConstBufferSequence>{&socket_, meter_, buffers}, token, socket_);
}

// The WebSocket closing handshake's last step for a page: shut the socket down and close it at
// once. The library's own teardown would wait for the page to close its side first, and a page
// that never does must not keep its slot.
void teardown(boost::beast::role_type role, CappedStream& stream, boost::system::error_code& ec);

template <class TeardownHandler>
void async_teardown(boost::beast::role_type role, CappedStream& stream, TeardownHandler&& handler) {
  boost::system::error_code ignored;
  teardown(role, stream, ignored);
  boost::asio::post(stream.get_executor(), boost::beast::bind_front_handler(std::forward<TeardownHandler>(handler),
                                                                            boost::system::error_code{}));
}

}  // namespace net
