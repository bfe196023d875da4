#include "bench/src/report.hpp"

#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

namespace bench {

namespace {

using Json = nlohmann::ordered_json;

std::string printf_string(const char* format, auto... values) {
  char line[256];
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

std::string number_or_dash(std::optional<double> value, const char* format) {
  return value ? printf_string(format, *value) : std::string("-");
}

std::optional<double> ratio(double figure, double base) {
  if (base <= 0) return std::nullopt;
  return figure / base;
}

std::string latency_row(const std::string& label, int pages, const std::optional<Summary>& s,
                        const std::optional<Summary>& base) {
  const auto field = [](const std::optional<Summary>& x, double Summary::*f) -> std::optional<double> {
    if (!x) return std::nullopt;
    return (*x).*f;
  };
  const auto times = [&](double Summary::*f) -> std::optional<double> {
    if (!s || !base) return std::nullopt;
    return ratio((*s).*f, (*base).*f);
  };
  std::string row = printf_string("%-30s %5d %6zu", label.c_str(), pages, s ? s->n : std::size_t{0});
  for (double Summary::*f : {&Summary::p50, &Summary::p99, &Summary::max})
    row += printf_string(" %9s", number_or_dash(field(s, f), "%.1f").c_str());
  row += " |";
  for (double Summary::*f : {&Summary::p50, &Summary::p99, &Summary::max})
    row += printf_string(" %9s", number_or_dash(field(base, f), "%.1f").c_str());
  row += " |";
  for (double Summary::*f : {&Summary::p50, &Summary::p99, &Summary::max})
    row += printf_string(" %6s", number_or_dash(times(f), "%.2f").c_str());
  return row + "\n";
}

std::string resource_row(const std::string& label, const std::optional<Resources>& r) {
  if (!r) return printf_string("%-30s %10s %10s %10s %10s\n", label.c_str(), "-", "-", "-", "-");
  return printf_string("%-30s %10.2f %10lld %10lld %10s\n", label.c_str(), r->cpu_ms_per_s,
                       static_cast<long long>(r->rss_kib), static_cast<long long>(r->peak_kib),
                       number_or_dash(r->allocations_per_s, "%.1f").c_str());
}

std::string allocation_row(const std::string& label, const std::optional<Allocations>& a) {
  if (!a) return printf_string("%-30s %5s %9s %12s\n", label.c_str(), "-", "-", "-");
  return printf_string("%-30s %5zu %9zu %12.2f\n", label.c_str(), a->pages, a->datagrams, a->per_datagram_per_page);
}

Json summary_json(const std::optional<Summary>& s, const std::optional<Summary>& base) {
  Json out;
  out["n"] = s ? s->n : 0;
  const auto put = [&](const char* key, double Summary::*f) {
    out[key] = s ? Json((*s).*f) : Json(nullptr);
  };
  put("p50Us", &Summary::p50);
  put("p99Us", &Summary::p99);
  put("maxUs", &Summary::max);
  if (base) {
    const auto put_ratio = [&](const char* key, double Summary::*f) {
      const std::optional<double> r = s ? ratio((*s).*f, (*base).*f) : std::nullopt;
      out[key] = r ? Json(*r) : Json(nullptr);
    };
    put_ratio("ratioP50", &Summary::p50);
    put_ratio("ratioP99", &Summary::p99);
    put_ratio("ratioMax", &Summary::max);
  }
  return out;
}

Json resources_json(const std::optional<Resources>& r) {
  Json out;
  out["cpuMsPerS"] = r ? Json(r->cpu_ms_per_s) : Json(nullptr);
  out["rssKiB"] = r ? Json(r->rss_kib) : Json(nullptr);
  out["peakRssKiB"] = r ? Json(r->peak_kib) : Json(nullptr);
  out["allocationsPerS"] = r && r->allocations_per_s ? Json(*r->allocations_per_s) : Json(nullptr);
  return out;
}

Json allocations_json(const std::optional<Allocations>& a) {
  Json out;
  out["datagrams"] = a ? Json(a->datagrams) : Json(nullptr);
  out["perDatagramPerPage"] = a ? Json(a->per_datagram_per_page) : Json(nullptr);
  return out;
}

Json optional_json(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

}  // namespace

std::string table(const Results& r) {
  const Settings& s = r.settings;
  std::string out = printf_string(
      "Relay benchmark (%s build): packets of %zu bytes, collector at %d frames a second, %d writes a second, %.1f s a phase\n\n",
      s.build.c_str(), s.packet_bytes, s.frames_per_second, s.writes_per_second, s.seconds);
  out += printf_string("%-30s %5s %6s %9s %9s %9s | %9s %9s %9s | %6s %6s %6s\n", "latency (us)", "pages", "n", "p50",
                       "p99", "max", "base p50", "base p99", "base max", "x p50", "x p99", "x max");
  // Each row against the baseline with as many clients as the row has pages.
  const Latencies& b = r.baseline;
  const Latencies& b8 = r.baseline_eight;
  out += latency_row("datagram to page, paced", 1, r.one_page.data_paced, b.data_paced);
  out += latency_row("datagram to page, burst", 1, r.one_page.data_burst, b.data_burst);
  out += latency_row("write to collector", 1, r.one_page.write, b.write);
  out += latency_row("datagram to page, paced", 8, r.eight_pages.data_paced, b8.data_paced);
  out += latency_row("datagram to page, burst", 8, r.eight_pages.data_burst, b8.data_burst);
  out += latency_row("write to collector", 8, r.eight_pages.write, b8.write);
  out += latency_row("tick interval (10000 target)", 8, r.eight_pages.tick_interval, b8.tick_interval);
  out += "\n";
  out += printf_string("%-30s %10s %10s %10s %10s\n", "bridge process", "cpu ms/s", "rss KiB", "peak KiB",
                       "allocs/s");
  out += resource_row("idle, no page", r.idle);
  out += resource_row("1 page, ticks off", r.one_page_use);
  out += resource_row("loaded, 8 pages with ticks", r.loaded);
  out += printf_string("%-30s %10s\n", "baseline relay, 1 client",
                       number_or_dash(r.baseline_cpu_ms_per_s, "%.2f").c_str());
  out += printf_string("%-30s %10s\n", "baseline relay, 8 clients",
                       number_or_dash(r.baseline_eight_cpu_ms_per_s, "%.2f").c_str());
  out += "\n";
  out += printf_string("%-30s %5s %9s %12s\n", "bridge heap allocations", "pages", "datagrams", "per datagram");
  out += allocation_row("relaying, ticks off, no writes", r.one_page_allocations);
  out += allocation_row("relaying, ticks off, no writes", r.eight_page_allocations);
  out += printf_string("\nbridge log: %zu warnings, %zu errors\n", r.warnings, r.errors);
  for (const std::string& line : r.first_warnings) out += "  " + line + "\n";
  return out;
}

std::string json(const Results& r) {
  const Settings& s = r.settings;
  Json out;
  out["settings"] = {{"build", s.build},
                     {"seconds", s.seconds},
                     {"idleSeconds", s.idle_seconds},
                     {"packetBytes", s.packet_bytes},
                     {"framesPerSecond", s.frames_per_second},
                     {"writesPerSecond", s.writes_per_second},
                     {"quick", s.quick}};
  const Latencies& b = r.baseline;
  const Latencies& b8 = r.baseline_eight;
  Json baseline;
  baseline["onePage"] = {{"cpuMsPerS", optional_json(r.baseline_cpu_ms_per_s)},
                         {"dataPaced", summary_json(b.data_paced, std::nullopt)},
                         {"dataBurst", summary_json(b.data_burst, std::nullopt)},
                         {"write", summary_json(b.write, std::nullopt)}};
  baseline["eightPages"] = {{"cpuMsPerS", optional_json(r.baseline_eight_cpu_ms_per_s)},
                            {"dataPaced", summary_json(b8.data_paced, std::nullopt)},
                            {"dataBurst", summary_json(b8.data_burst, std::nullopt)},
                            {"write", summary_json(b8.write, std::nullopt)},
                            {"tickInterval", summary_json(b8.tick_interval, std::nullopt)}};
  out["baseline"] = baseline;
  Json bridge;
  bridge["onePage"] = {{"dataPaced", summary_json(r.one_page.data_paced, b.data_paced)},
                       {"dataBurst", summary_json(r.one_page.data_burst, b.data_burst)},
                       {"write", summary_json(r.one_page.write, b.write)},
                       {"allocations", allocations_json(r.one_page_allocations)}};
  bridge["eightPages"] = {{"dataPaced", summary_json(r.eight_pages.data_paced, b8.data_paced)},
                          {"dataBurst", summary_json(r.eight_pages.data_burst, b8.data_burst)},
                          {"write", summary_json(r.eight_pages.write, b8.write)},
                          {"tickInterval", summary_json(r.eight_pages.tick_interval, b8.tick_interval)},
                          {"allocations", allocations_json(r.eight_page_allocations)}};
  bridge["idle"] = resources_json(r.idle);
  bridge["onePageUse"] = resources_json(r.one_page_use);
  bridge["loaded"] = resources_json(r.loaded);
  bridge["warnings"] = r.warnings;
  bridge["errors"] = r.errors;
  out["bridge"] = bridge;
  return out.dump(2) + "\n";
}

std::size_t count_level(const std::string& log, const std::string& level, std::vector<std::string>* first) {
  // A log line: seconds in 9 characters, a blank, the level padded to 5, a blank, the message.
  std::string padded = level;
  padded.resize(5, ' ');
  padded += ' ';
  std::size_t count = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 10 + padded.size() || line.compare(10, padded.size(), padded) != 0) continue;
    ++count;
    if (first && first->size() < 5) first->push_back(line.substr(10 + padded.size()));
  }
  return count;
}

}  // namespace bench
