#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace base {

enum class Level { Info, Warn, Error };

// Writes one log line on standard error: seconds since the first log line of the process, the
// level word and the message. Never fails; a line that cannot be written is lost.
void log(Level level, std::string_view message);
inline void info(std::string_view message) { log(Level::Info, message); }
inline void warn(std::string_view message) { log(Level::Warn, message); }

std::string_view level_word(Level level);

// The line as written, for `elapsed` seconds since the first line: "%9.3f %-5s message\n".
std::string format_log_line(double elapsed, Level level, std::string_view message);

// The one lock taken by every write to standard error, log lines or not.
std::mutex& stderr_lock();

// Receives each whole log line (with its final LF) in place of standard error. Called under the
// standard-error lock, from whatever thread logs.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write_line(std::string_view line) = 0;
};

// Routes log lines to `sink` (null: back to standard error); returns the previous sink.
LogSink* set_log_sink(LogSink* sink);

}  // namespace base
