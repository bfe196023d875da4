#pragma once

#include <string>
#include <string_view>

namespace base {

// A text from outside, shortened for a log line or an error text: more than 80 characters (Unicode
// scalar values) become the first 80 followed by "...".
std::string clip(std::string_view text);

}  // namespace base
