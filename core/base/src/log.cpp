#include "core/base/src/log.hpp"

#include <atomic>
#include <charconv>

#include <boost/container/small_vector.hpp>

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

// `out` is a std::string or any other contiguous char container.
template <class Out>
void append_line(Out& out, double elapsed, Level level, std::string_view message) {
  const auto put = [&out](std::string_view text) { out.insert(out.end(), text.begin(), text.end()); };
  char number[64];
  auto [end, ec] = std::to_chars(number, number + sizeof number, elapsed, std::chars_format::fixed, 3);
  std::string_view digits = ec == std::errc{} ? std::string_view(number, end - number) : "0.000";
  if (digits.size() < 9) out.insert(out.end(), 9 - digits.size(), ' ');
  put(digits);
  out.push_back(' ');
  std::string_view word = level_word(level);
  put(word);
  if (word.size() < 5) out.insert(out.end(), 5 - word.size(), ' ');
  out.push_back(' ');
  put(message);
  out.push_back('\n');
}

}  // namespace

std::string_view level_word(Level level) {
  switch (level) {
    case Level::Info: return "info";
    case Level::Warn: return "warn";
    case Level::Error: return "error";
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
  // The line is built on the stack, so that it goes out in one write without an allocation for an
  // ordinary line. Not in a buffer kept per thread: a thread_local object with a destructor makes
  // the runtime's exit take a lock that a thread ending at the same moment may hold.
  boost::container::small_vector<char, 256> line;
  append_line(line, elapsed, level, message);
  const std::string_view text(line.data(), line.size());
  std::lock_guard guard(stderr_lock());
  if (LogSink* sink = g_sink.load()) {
    sink->write_line(text);
  } else {
    write_std(StdStream::Err, text);
  }
}

}  // namespace base
