#include "core/base/src/log.hpp"

#include <atomic>
#include <charconv>

#include "core/base/src/std_stream.hpp"
#include "core/base/src/time.hpp"

namespace base {
namespace {

std::atomic<LogSink*> g_sink{nullptr};

// Set once, by the first log line of the process (a function-local static is initialised once,
// even when threads race for it).
Instant log_start(Instant now) {
  static const Instant start = now;
  return start;
}

void append_line(std::string& out, double elapsed, Level level, std::string_view message) {
  char number[64];
  auto [end, ec] = std::to_chars(number, number + sizeof number, elapsed, std::chars_format::fixed, 3);
  std::string_view digits = ec == std::errc{} ? std::string_view(number, end - number) : "0.000";
  if (digits.size() < 9) out.append(9 - digits.size(), ' ');
  out.append(digits);
  out.push_back(' ');
  std::string_view word = level_word(level);
  out.append(word);
  if (word.size() < 5) out.append(5 - word.size(), ' ');
  out.push_back(' ');
  out.append(message);
  out.push_back('\n');
}

}  // namespace

std::string_view level_word(Level level) {
  switch (level) {
    case Level::info: return "info";
    case Level::warn: return "warn";
    case Level::error: return "error";
  }
  return "error";
}

std::string format_log_line(double elapsed, Level level, std::string_view message) {
  std::string line;
  append_line(line, elapsed, level, message);
  return line;
}

std::mutex& stderr_lock() {
  static std::mutex lock;
  return lock;
}

LogSink* set_log_sink(LogSink* sink) {
  std::lock_guard guard(stderr_lock());
  return g_sink.exchange(sink);
}

void log(Level level, std::string_view message) {
  Instant now = Clock::now();
  double elapsed = seconds_between(log_start(now), now);
  // The line is built in a buffer kept per thread, so that it goes out in one write without an
  // allocation per line.
  thread_local std::string line;
  line.clear();
  append_line(line, elapsed, level, message);
  std::lock_guard guard(stderr_lock());
  if (LogSink* sink = g_sink.load()) {
    sink->write_line(line);
  } else {
    write_std(StdStream::err, line);
  }
}

}  // namespace base
