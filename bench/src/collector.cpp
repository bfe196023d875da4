#include "bench/src/collector.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace bench {

namespace {

constexpr std::string_view kStampKey = "\"bench:t\":";
constexpr std::string_view kModeKey = "\"bench:m\":\"";

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool parse_number(std::string_view text, std::int64_t& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc{} && end != text.data();
}

}  // namespace

std::string packet_text(std::int64_t sent, char mode, std::size_t bytes) {
  std::string text = "{" + std::string(kStampKey) + std::to_string(sent) + "," + std::string(kModeKey) + mode +
                     "\",\"collector:version\":8,\"collector:isSrsInstalled\":false,\"collector:contacts\":[";
  // Contacts as the collector's world scan writes them, as many as fit.
  const std::string_view tail = "],\"collector:payload\":null,\"collector:cockpitPresent\":true}";
  for (int i = 0;; ++i) {
    const std::string contact = std::string(i == 0 ? "" : ",") + "{\"name\":\"Contact " + std::to_string(i) +
                                "\",\"coalition\":\"red\",\"latDeg\":41.123456,\"lonDeg\":43.654321,"
                                "\"altFt\":12345.678900,\"level1\":1,\"level3\":1}";
    if (text.size() + contact.size() + tail.size() > bytes) break;
    text += contact;
  }
  text += tail;
  return text;
}

bool read_packet_stamp(std::string_view text, std::int64_t& sent, char& mode) {
  const std::size_t at = text.find(kStampKey);
  if (at == std::string_view::npos) return false;
  if (!parse_number(text.substr(at + kStampKey.size()), sent)) return false;
  const std::size_t m = text.find(kModeKey, at);
  if (m == std::string_view::npos || m + kModeKey.size() >= text.size()) return false;
  mode = text[m + kModeKey.size()];
  return true;
}

bool read_write_stamp(std::string_view line, std::int64_t& sent) {
  if (!line.starts_with("clickable ")) return false;
  const std::size_t blank = line.rfind(' ');
  return parse_number(line.substr(blank + 1), sent);
}

Collector::Collector(CollectorOptions options) : options_(options) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("collector: no UDP socket");
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd_);
    throw std::runtime_error("collector: cannot bind 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
}

Collector::~Collector() {
  stop();
  ::close(fd_);
}

void Collector::start(std::uint16_t relay_port) {
  running_ = true;
  thread_ = std::thread([this, relay_port] { loop(relay_port); });
}

void Collector::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

std::vector<WriteSample> Collector::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

void Collector::loop(std::uint16_t relay_port) {
  const sockaddr_in relay = loopback(relay_port);
  const auto send = [&](char mode) {
    const std::string text = packet_text(now_ns(), mode, options_.packet_bytes);
    ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&relay), sizeof relay);
  };
  const std::int64_t frame = kNsPerS / options_.frames_per_second;
  std::int64_t next_frame = now_ns() + frame;
  bool read_waiting = false;    // a read line came since the last answer
  bool second_due = false;      // the paced poll's second packet goes after the next frame
  std::size_t answered = 0;
  std::string buffer(65536, '\0');

  while (running_) {
    // The socket is watched until the frame ends, so that write lines are stamped on arrival.
    const std::int64_t wait = std::max<std::int64_t>(0, next_frame - now_ns());
    pollfd watched{fd_, POLLIN, 0};
    const timespec timeout{static_cast<time_t>(wait / kNsPerS), static_cast<long>(wait % kNsPerS)};
    if (::ppoll(&watched, 1, &timeout, nullptr) > 0) {
      for (;;) {
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) break;
        const std::int64_t at = now_ns();
        const std::string_view datagram(buffer.data(), static_cast<std::size_t>(n));
        std::int64_t sent = 0;
        if (datagram.starts_with("read")) {
          read_waiting = true;
          ++polls_;
        } else if (read_write_stamp(datagram, sent)) {
          std::lock_guard lock(mutex_);
          writes_.push_back({sent, at});
        } else {
          ++strays_;
        }
      }
    }
    if (now_ns() < next_frame) continue;

    // After the frame: the packets that are due.
    if (second_due) {
      send('p');
      second_due = false;
    }
    if (read_waiting) {
      read_waiting = false;
      if (answered++ % 2 == 0) {
        send('p');
        second_due = true;
      } else {
        send('b');
        send('b');
      }
    }
    next_frame += frame;
    if (next_frame <= now_ns()) next_frame = now_ns() + frame;
  }
}

}  // namespace bench
