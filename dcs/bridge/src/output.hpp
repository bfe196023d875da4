#pragma once

#include <string_view>

namespace bridge {

// Writes one plain output line on standard output: the text and one line feed, in one write. A
// failed write is ignored.
void print_line(std::string_view text);

}  // namespace bridge
