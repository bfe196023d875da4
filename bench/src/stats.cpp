#include "bench/src/stats.hpp"

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

double at_rank(const std::vector<std::int64_t>& sorted, double p) {
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  const std::size_t index = std::clamp<std::size_t>(rank, 1, sorted.size()) - 1;
  return static_cast<double>(sorted[index]) / 1e3;
}

}  // namespace

std::optional<Summary> summarize(std::vector<std::int64_t> ns) {
  if (ns.empty()) return std::nullopt;
  std::sort(ns.begin(), ns.end());
  return Summary{ns.size(), at_rank(ns, 0.50), at_rank(ns, 0.99), static_cast<double>(ns.back()) / 1e3};
}

std::vector<std::int64_t> data_latencies(const std::vector<DataSample>& samples, char mode, Window window) {
  std::vector<std::int64_t> out;
  for (const DataSample& s : samples)
    if (s.mode == mode && window.holds(s.sent)) out.push_back(s.received - s.sent);
  return out;
}

std::vector<std::int64_t> write_latencies(const std::vector<WriteSample>& samples, Window window) {
  std::vector<std::int64_t> out;
  for (const WriteSample& s : samples)
    if (window.holds(s.sent)) out.push_back(s.received - s.sent);
  return out;
}

std::vector<std::int64_t> tick_intervals(const std::vector<std::int64_t>& ticks, Window window) {
  std::vector<std::int64_t> out;
  for (std::size_t i = 1; i < ticks.size(); ++i)
    if (window.holds(ticks[i - 1]) && window.holds(ticks[i])) out.push_back(ticks[i] - ticks[i - 1]);
  return out;
}

}  // namespace bench
