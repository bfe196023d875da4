#pragma once

// What one run of the benchmark found, as a table for people and as JSON for machines.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bench/src/stats.hpp"

namespace bench {

struct Settings {
  double seconds = 0;       // of each measured phase with pages
  double idle_seconds = 0;  // of the phase without pages
  std::size_t packet_bytes = 0;
  int frames_per_second = 0;
  int writes_per_second = 0;
  bool quick = false;
  std::string build;  // the build type of this tree
};

// The latencies of one relay with a given number of pages.
struct Latencies {
  std::optional<Summary> data_paced;
  std::optional<Summary> data_burst;
  std::optional<Summary> write;
  std::optional<Summary> tick_interval;
};

// The bridge process over one phase.
struct Resources {
  double cpu_ms_per_s = 0;
  std::int64_t rss_kib = 0;
  std::int64_t peak_kib = 0;
  std::optional<double> allocations_per_s;  // calls of its operator new, when the program counts them
};

// The bridge's heap allocations while it relays datagrams to its pages, with ticks off and no
// writes: every allocation of the process in that time, over every data message a page received.
struct Allocations {
  std::size_t pages = 0;
  std::size_t datagrams = 0;  // data messages received, per page
  double per_datagram_per_page = 0;
};

struct Results {
  Settings settings;
  Latencies baseline;        // one line client, ticks off
  Latencies baseline_eight;  // eight line clients, ticks on
  Latencies one_page;
  Latencies eight_pages;
  std::optional<double> baseline_cpu_ms_per_s;        // the baseline relay's thread, 1 client, ticks off
  std::optional<double> baseline_eight_cpu_ms_per_s;  // the same with 8 clients, ticks on
  std::optional<Allocations> one_page_allocations;
  std::optional<Allocations> eight_page_allocations;
  std::optional<Resources> idle;      // no page; the collector answering every poll
  std::optional<Resources> one_page_use;
  std::optional<Resources> loaded;    // 8 pages with ticks on, packets and writes flowing
  std::size_t warnings = 0;           // warn lines in the bridge's log
  std::size_t errors = 0;             // error lines in the bridge's log
  std::vector<std::string> first_warnings;
};

std::string table(const Results& results);
std::string json(const Results& results);

// The number of lines of `log` at `level` ("warn", "error"), and the first few of them.
std::size_t count_level(const std::string& log, const std::string& level, std::vector<std::string>* first = nullptr);

}  // namespace bench
