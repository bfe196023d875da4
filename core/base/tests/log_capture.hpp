#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/src/log.hpp"

namespace base::testing {

// Takes the log lines written while it lives, in place of standard error. Thread-safe: lines may
// come from any thread.
class LogCapture : public LogSink {
 public:
  struct Entry {
    std::string level;
    std::string message;
    bool operator==(const Entry&) const = default;
  };

  LogCapture() { previous_ = set_log_sink(this); }
  ~LogCapture() override { set_log_sink(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void write_line(std::string_view line) override {
    std::lock_guard guard(mutex_);
    lines_.emplace_back(line);
  }

  // The whole lines, time and final LF included.
  std::vector<std::string> lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }

  // Level word and message of each line, the time left out.
  std::vector<Entry> entries() const {
    std::vector<Entry> out;
    for (const std::string& line : lines()) {
      // "%9.3f %-5s message\n": the level sits after the first blank that follows the time.
      std::size_t space = line.find(' ', line.find_first_not_of(' '));
      std::string level = line.substr(space + 1, 5);
      while (!level.empty() && level.back() == ' ') level.pop_back();
      std::string message = line.substr(space + 7);
      if (!message.empty() && message.back() == '\n') message.pop_back();
      out.push_back({level, message});
    }
    return out;
  }

  // Messages only, in order.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (Entry& e : entries()) out.push_back(std::move(e.message));
    return out;
  }

  bool contains(std::string_view message) const {
    for (const Entry& e : entries())
      if (e.message == message) return true;
    return false;
  }

  void clear() {
    std::lock_guard guard(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  LogSink* previous_ = nullptr;
};

}  // namespace base::testing
