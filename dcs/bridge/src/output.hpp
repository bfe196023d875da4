#pragma once

#include <string_view>

namespace bridge {

// Writes one plain output line on standard output: the text and one line feed, in one write. A
// failed write is ignored.
void print_line(std::string_view text);

// Receives each plain output line (with its final LF) in place of standard output.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void write_line(std::string_view line) = 0;
};

// Routes plain output lines to `sink` (null: back to standard output); returns the previous sink.
// For tests, which read what the verbs print.
OutputSink* set_output_sink(OutputSink* sink);

}  // namespace bridge
