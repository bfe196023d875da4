#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dcs/bridge/src/output.hpp"

namespace bridge::testing {

// Takes the plain output lines written while it lives, in place of standard output.
class OutputCapture : public OutputSink {
 public:
  OutputCapture() { previous_ = set_output_sink(this); }
  ~OutputCapture() override { set_output_sink(previous_); }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  void write_line(std::string_view line) override { writes_.emplace_back(line); }

  // Each line as written, without its final line feed (a line may hold a line feed inside).
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const std::string& w : writes_) {
      std::string line = w;
      if (!line.empty() && line.back() == '\n') line.pop_back();
      out.push_back(std::move(line));
    }
    return out;
  }
  // Each write whole, as standard output would receive it.
  const std::vector<std::string>& writes() const { return writes_; }
  void clear() { writes_.clear(); }

 private:
  std::vector<std::string> writes_;
  OutputSink* previous_ = nullptr;
};

}  // namespace bridge::testing
