#pragma once

// Percentiles of a set of samples, and the samples that the benchmark's clients record.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "bench/src/clock.hpp"

namespace bench {

// p50, p99 and the largest of n samples, in microseconds.
struct Summary {
  std::size_t n = 0;
  double p50 = 0;
  double p99 = 0;
  double max = 0;
};

// Nearest-rank percentiles of `ns`, nanoseconds; nothing for no samples.
std::optional<Summary> summarize(std::vector<std::int64_t> ns);

// One packet as a page got it: when the collector sent it, when the page read it, and how the
// collector sent it ('p' paced, 'b' burst).
struct DataSample {
  std::int64_t sent = 0;
  std::int64_t received = 0;
  char mode = 0;
};

// One write line as the collector got it.
struct WriteSample {
  std::int64_t sent = 0;
  std::int64_t received = 0;
};

// The latencies of the packets of `mode` sent within `window`.
std::vector<std::int64_t> data_latencies(const std::vector<DataSample>& samples, char mode, Window window);

// The latencies of the writes sent within `window`.
std::vector<std::int64_t> write_latencies(const std::vector<WriteSample>& samples, Window window);

// The gaps between successive ticks of one page that both arrived within `window`; `ticks` in the
// order they arrived.
std::vector<std::int64_t> tick_intervals(const std::vector<std::int64_t>& ticks, Window window);

}  // namespace bench
