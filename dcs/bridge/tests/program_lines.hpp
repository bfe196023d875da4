#pragma once

// Reading what the program wrote: its log lines on standard error.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace bridge::testing {

// Standard error as "level message" per line, after checking that every line has the log format:
// the seconds right-aligned in 9 characters with 3 decimals, the level padded to 5, the message.
inline std::vector<std::string> log_lines(const std::string& err) {
  static const std::regex line_format(R"( *[0-9]+\.[0-9]{3} (info |warn |error) (.*))");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < err.size()) {
    std::size_t end = err.find('\n', start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "standard error does not end in a line feed: " << err;
      break;
    }
    std::string line = err.substr(start, end - start);
    std::smatch m;
    if (line.size() < 17 || line[9] != ' ' || !std::regex_match(line, m, line_format)) {
      ADD_FAILURE() << "not a log line: [" << line << "]";
    } else {
      std::string level = m[1].str();
      level.erase(level.find_last_not_of(' ') + 1);
      lines.push_back(level + " " + m[2].str());
    }
    start = end + 1;
  }
  return lines;
}

}  // namespace bridge::testing
