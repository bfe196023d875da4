// The relay benchmark: the bridge's headless program as a child process, a collector played over
// UDP and pages over WebSocket, against a bare loopback relay in the same run. Prints one table,
// or JSON with --json.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/src/baseline.hpp"
#include "bench/src/bridge_process.hpp"
#include "bench/src/collector.hpp"
#include "bench/src/pages.hpp"
#include "bench/src/report.hpp"

namespace bench {
namespace {

constexpr std::string_view kUsage =
    "usage: relay_bench [--quick] [--json] [--seconds S] [--idle-seconds S] [--packet-bytes N]\n"
    "                   [--fps N] [--writes-per-second N] [--bridge PATH]\n"
    "  --quick               a short run with a handful of samples (1 s phases)\n"
    "  --json                JSON instead of the table\n"
    "  --seconds S           length of each measured phase with pages (default 8)\n"
    "  --idle-seconds S      length of the phase without pages (default 4)\n"
    "  --packet-bytes N      largest size of a collector packet, filled with contacts (default 2000)\n"
    "  --fps N               the collector's frames a second (default 60)\n"
    "  --writes-per-second N writes sent by the pages during each phase (default 50)\n"
    "  --bridge PATH         the bridge program (default: the one of this build)\n";

struct Options {
  Settings settings{.seconds = 8, .idle_seconds = 4, .packet_bytes = 2000, .frames_per_second = 60,
                    .writes_per_second = 50, .quick = false, .build = TOLVARO_BENCH_BUILD_TYPE};
  bool json = false;
  std::string bridge = TOLVARO_BENCH_BRIDGE;
};

[[noreturn]] void usage_error(const std::string& what) {
  std::cerr << "relay_bench: " << what << "\n" << kUsage;
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage_error(std::string(arg) + " needs a value");
      return argv[++i];
    };
    const auto positive = [&](double v) {
      if (!(v > 0)) usage_error(std::string(arg) + " must be above 0");
      return v;
    };
    if (arg == "--quick") {
      o.settings.quick = true;
      o.settings.seconds = 1;
      o.settings.idle_seconds = 0.5;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--seconds") {
      o.settings.seconds = positive(std::atof(value().c_str()));
    } else if (arg == "--idle-seconds") {
      o.settings.idle_seconds = positive(std::atof(value().c_str()));
    } else if (arg == "--packet-bytes") {
      o.settings.packet_bytes = static_cast<std::size_t>(positive(std::atof(value().c_str())));
      if (o.settings.packet_bytes > 60000) usage_error("--packet-bytes must be at most 60000");
    } else if (arg == "--fps") {
      o.settings.frames_per_second = static_cast<int>(positive(std::atof(value().c_str())));
    } else if (arg == "--writes-per-second") {
      o.settings.writes_per_second = static_cast<int>(positive(std::atof(value().c_str())));
    } else if (arg == "--bridge") {
      o.bridge = value();
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      usage_error("unknown option " + std::string(arg));
    }
  }
  return o;
}

void progress(const Options& o, const std::string& what) {
  if (!o.json) std::cerr << "relay_bench: " << what << "\n";
}

void sleep_ns(std::int64_t ns) {
  if (ns > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

std::int64_t to_ns(double seconds) { return static_cast<std::int64_t>(seconds * 1e9); }

// Runs one measured phase of `seconds`: the collector keeps answering polls, and the pages take
// turns to send `writes_per_second` writes, each made by `write_text` with its number.
using WriteText = std::string (*)(std::uint64_t seq);

Window run_phase(double seconds, const std::vector<PageClient*>& pages, int writes_per_second, WriteText write_text) {
  const Window window{now_ns(), now_ns() + to_ns(seconds)};
  const std::int64_t gap = kNsPerS / writes_per_second;
  std::int64_t next = window.begin;
  for (std::uint64_t seq = 0; now_ns() < window.end; ++seq) {
    sleep_ns(std::min(next, window.end) - now_ns());
    if (now_ns() >= window.end) break;
    pages[seq % pages.size()]->send([seq, write_text] { return write_text(seq); });
    next += gap;
  }
  return window;
}

// A clickable write without a release value, so that no press is held; its value is the instant
// it goes out, which the collector gets back in the write line.
std::string bridge_write(std::uint64_t seq) {
  return R"({"type":"writes","sim":"dcs","writes":[{"channel":"clickable","device":"25","address":")" +
         std::to_string(3000 + seq % 1000) + R"(","value":)" + std::to_string(now_ns()) + "}]}";
}

std::string baseline_write(std::uint64_t seq) {
  return "clickable 25:" + std::to_string(3000 + seq % 1000) + " " + std::to_string(now_ns());
}

// The samples of every page, pooled.
std::vector<DataSample> all_data(const std::vector<PageClient*>& pages) {
  std::vector<DataSample> out;
  for (const PageClient* page : pages) {
    const auto data = page->data();
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

std::vector<std::int64_t> all_tick_intervals(const std::vector<PageClient*>& pages, Window window) {
  std::vector<std::int64_t> out;
  for (const PageClient* page : pages) {
    const auto intervals = tick_intervals(page->ticks(), window);
    out.insert(out.end(), intervals.begin(), intervals.end());
  }
  return out;
}

Latencies latencies(const std::vector<DataSample>& data, const std::vector<WriteSample>& writes, Window window) {
  return {summarize(data_latencies(data, 'p', window)), summarize(data_latencies(data, 'b', window)),
          summarize(write_latencies(writes, window)), std::nullopt};
}

// Lets the messages of a phase that are still on their way arrive.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

// The baseline relay with `clients` line clients: ticks off for one, on for more, as the bridge's
// phases with 1 and with 8 pages have them. Its CPU goes to `cpu_ms_per_s`.
Latencies run_baseline(const Options& o, std::size_t clients, std::optional<double>& cpu_ms_per_s) {
  const Settings& s = o.settings;
  Collector collector({s.frames_per_second, s.packet_bytes});
  BaselineRelay relay(collector.port());
  collector.start(relay.udp_port());
  std::vector<std::unique_ptr<PageClient>> owned;
  std::vector<PageClient*> pages;
  while (pages.size() < clients) {
    owned.push_back(PageClient::lines(relay.tcp_port()));
    pages.push_back(owned.back().get());
  }
  const bool ticks = clients > 1;
  if (ticks)
    for (PageClient* page : pages) page->send("ticks on");
  settle();

  const std::optional<std::int64_t> cpu_before = relay.cpu_ns();
  const Window relaying = run_phase(s.seconds, pages, s.writes_per_second, baseline_write);
  const std::optional<std::int64_t> cpu_after = relay.cpu_ns();
  if (cpu_before && cpu_after)
    cpu_ms_per_s = static_cast<double>(*cpu_after - *cpu_before) / 1e6 / relaying.seconds();
  settle();
  collector.stop();

  Latencies out = latencies(all_data(pages), collector.writes(), relaying);
  if (ticks) out.tick_interval = summarize(all_tick_intervals(pages, relaying));
  return out;
}

struct UseMeter {
  const BridgeProcess& bridge;
  std::optional<Usage> start = usage_of(bridge.pid());
  std::optional<std::uint64_t> allocations = bridge.allocations();
  std::int64_t began = now_ns();

  std::optional<Resources> read() const {
    const std::optional<Usage> end = usage_of(bridge.pid());
    const std::optional<std::uint64_t> allocated = bridge.allocations();
    if (!start || !end) return std::nullopt;
    const double seconds = static_cast<double>(now_ns() - began) / 1e9;
    Resources out{static_cast<double>(end->cpu_ns - start->cpu_ns) / 1e6 / seconds, end->rss_kib, end->peak_kib,
                  std::nullopt};
    if (allocations && allocated) out.allocations_per_s = static_cast<double>(*allocated - *allocations) / seconds;
    return out;
  }
};

// The data messages that `pages` received within `window`, all pages together.
std::size_t data_received(const std::vector<PageClient*>& pages, Window window) {
  std::size_t n = 0;
  for (const PageClient* page : pages)
    for (const DataSample& sample : page->data())
      if (window.holds(sample.received)) ++n;
  return n;
}

// Half a phase with nothing but the relaying of datagrams to `pages` (no writes, ticks off): the
// bridge's allocations over the data messages the pages received meanwhile.
std::optional<Allocations> count_allocations(const Options& o, const BridgeProcess& bridge,
                                             const std::vector<PageClient*>& pages) {
  const std::optional<std::uint64_t> before = bridge.allocations();
  const std::int64_t begin = now_ns();
  sleep_ns(to_ns(o.settings.seconds / 2));
  const std::optional<std::uint64_t> after = bridge.allocations();
  const Window window{begin, now_ns()};
  const std::size_t received = data_received(pages, window);
  if (!before || !after || received == 0) return std::nullopt;
  return Allocations{pages.size(), received / pages.size(),
                     static_cast<double>(*after - *before) / static_cast<double>(received)};
}

void run_bridge(const Options& o, Results& results) {
  const Settings& s = o.settings;
  Collector collector({s.frames_per_second, s.packet_bytes});
  const BridgePorts ports{free_tcp_port(), free_udp_port(), collector.port()};
  BridgeProcess bridge(o.bridge, ports);
  if (!bridge.wait_ready(std::chrono::seconds(30)))
    throw std::runtime_error("the bridge did not start:\n" + bridge.err());
  collector.start(ports.listen);

  progress(o, "bridge idle, no page");
  settle();
  const UseMeter idle{bridge};
  sleep_ns(to_ns(s.idle_seconds));
  results.idle = idle.read();

  progress(o, "bridge with 1 page");
  std::vector<std::unique_ptr<PageClient>> owned;
  const std::string subscribe =
      R"({"type":"subscribe","sim":"dcs","keys":["loget:LoGetModelTime","loget:LoGetSelfData.Name","arg:25:3001"]})";
  const auto open_page = [&] {
    owned.push_back(PageClient::websocket(ports.page));
    owned.back()->send(subscribe);
    return owned.back().get();
  };
  std::vector<PageClient*> pages{open_page()};
  settle();
  results.one_page_allocations = count_allocations(o, bridge, pages);
  const UseMeter one{bridge};
  const Window one_page = run_phase(s.seconds, pages, s.writes_per_second, bridge_write);
  results.one_page_use = one.read();

  progress(o, "bridge with 8 pages, ticks on");
  while (pages.size() < 8) pages.push_back(open_page());
  settle();
  results.eight_page_allocations = count_allocations(o, bridge, pages);
  for (PageClient* page : pages) page->send(R"({"type":"ticks","on":true})");
  settle();
  const UseMeter loaded{bridge};
  const Window eight_pages = run_phase(s.seconds, pages, s.writes_per_second, bridge_write);
  results.loaded = loaded.read();
  settle();
  collector.stop();

  results.one_page = latencies(pages[0]->data(), collector.writes(), one_page);
  results.eight_pages = latencies(all_data(pages), collector.writes(), eight_pages);
  results.eight_pages.tick_interval = summarize(all_tick_intervals(pages, eight_pages));

  const int code = bridge.stop(std::chrono::seconds(10));
  const std::string log = bridge.err();
  results.warnings = count_level(log, "warn", &results.first_warnings);
  results.errors = count_level(log, "error", &results.first_warnings);
  if (code != 0) throw std::runtime_error("the bridge ended with " + std::to_string(code) + ":\n" + log);
}

int run(int argc, char** argv) {
  origin();
  const Options o = parse(argc, argv);
  Results results;
  results.settings = o.settings;
  progress(o, "baseline relay, 1 client");
  results.baseline = run_baseline(o, 1, results.baseline_cpu_ms_per_s);
  progress(o, "baseline relay, 8 clients");
  results.baseline_eight = run_baseline(o, 8, results.baseline_eight_cpu_ms_per_s);
  run_bridge(o, results);
  std::cout << (o.json ? json(results) : table(results));
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  try {
    return bench::run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "relay_bench: " << e.what() << "\n";
    return 1;
  }
}
