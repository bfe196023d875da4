#include "dcs/bridge/src/output.hpp"

#include <atomic>
#include <string>

#include "core/base/src/std_stream.hpp"

namespace bridge {
namespace {

std::atomic<OutputSink*> g_sink{nullptr};

}  // namespace

void print_line(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  if (OutputSink* sink = g_sink.load()) {
    sink->write_line(line);
    return;
  }
  base::write_std(base::StdStream::Out, line);
}

OutputSink* set_output_sink(OutputSink* sink) { return g_sink.exchange(sink); }

}  // namespace bridge
