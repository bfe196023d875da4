#include "dcs/bridge/src/output.hpp"

#include <string>

#include "core/base/src/std_stream.hpp"

namespace bridge {

void print_line(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  base::write_std(base::StdStream::out, line);
}

}  // namespace bridge
