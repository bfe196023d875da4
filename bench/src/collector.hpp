#pragma once

// The collector's end of the link, played as the collector script plays it inside the simulator:
// it takes the datagrams that wait on its socket once per frame, and after a frame in which a
// read line came it answers with packets. Every poll gets two packets, the most the bridge takes
// per poll: one poll paced (one packet after each of two frames), the next one burst (both
// packets back to back). Write lines are stamped the moment they arrive, not at a frame.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/src/stats.hpp"

namespace bench {

struct CollectorOptions {
  int frames_per_second = 60;
  std::size_t packet_bytes = 2000;
};

// The text of one packet sent at `sent` in `mode`: the collector's header keys with as many
// contacts as fit in `bytes`. The benchmark's keys come first, so that a page finds them without
// parsing the rest.
std::string packet_text(std::int64_t sent, char mode, std::size_t bytes);

// The stamp of a packet inside a data message or a bare packet: when it was sent and its mode.
bool read_packet_stamp(std::string_view text, std::int64_t& sent, char& mode);

// The send stamp carried as the value of a write line "clickable D:C V".
bool read_write_stamp(std::string_view line, std::int64_t& sent);

class Collector {
 public:
  // Binds 127.0.0.1 at a free port; throws std::runtime_error when it cannot.
  explicit Collector(CollectorOptions options);
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  std::uint16_t port() const { return port_; }
  // Starts the frame loop, answering towards 127.0.0.1 at `relay_port`.
  void start(std::uint16_t relay_port);
  void stop();

  std::vector<WriteSample> writes() const;
  std::size_t polls() const { return polls_.load(); }
  // Datagrams that were neither a read line nor a write line.
  std::size_t strays() const { return strays_.load(); }

 private:
  void loop(std::uint16_t relay_port);

  CollectorOptions options_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<std::size_t> polls_{0};
  std::atomic<std::size_t> strays_{0};
  mutable std::mutex mutex_;
  std::vector<WriteSample> writes_;
  std::thread thread_;
};

}  // namespace bench
