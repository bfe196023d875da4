#include "core/net/src/capped_stream.hpp"

#include <algorithm>
#include <limits>
#include <string>

namespace net {

namespace {

class StreamCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "page stream"; }
  std::string message(int ev) const override {
    switch (static_cast<StreamError>(ev)) {
      case StreamError::HandshakeOverCap: return "handshake over the size cap";
      case StreamError::TooManyBytes: return "page sent more bytes than allowed";
    }
    return "page stream error";
  }
};

}  // namespace

const boost::system::error_category& stream_category() {
  static const StreamCategory category;
  return category;
}

boost::system::error_code make_error_code(StreamError e) { return {static_cast<int>(e), stream_category()}; }

CappedStream::CappedStream(boost::asio::ip::tcp::socket socket, std::uint64_t handshake_cap)
    : socket_(std::move(socket)), meter_(std::make_shared<Meter>(Meter{handshake_cap, std::nullopt, {}})) {}

void CappedStream::enter_message_mode(std::uint32_t rate, std::uint32_t burst, base::Instant now, Now clock) {
  meter_->bytes.emplace(static_cast<double>(burst), static_cast<double>(rate), now);
  meter_->clock = std::move(clock);
}

void CappedStream::stop_reading() {
  meter_->reads_stopped = true;
  boost::system::error_code ignored;
  socket_.cancel(ignored);
}

boost::system::error_code CappedStream::Meter::charge(std::size_t n) {
  if (!bytes) {
    handshake_left -= std::min<std::uint64_t>(handshake_left, n);
    return {};
  }
  constexpr std::size_t kLargest = std::numeric_limits<std::uint32_t>::max();
  const auto cost = static_cast<std::uint32_t>(std::min(n, kLargest));
  if (bytes->try_take(cost, clock())) return {};
  return make_error_code(StreamError::TooManyBytes);
}

void teardown(boost::beast::role_type, CappedStream& stream, boost::system::error_code& ec) {
  // Operations still pending on the socket are cancelled first: Wine does not end them on close.
  boost::system::error_code ignored;
  stream.next_layer().cancel(ignored);
  stream.next_layer().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  stream.next_layer().close(ec);
}

}  // namespace net
