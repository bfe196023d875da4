#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace base {

// A log quota for a warning that could repeat without end. Lets through `quota` lines, the last of
// them marked " (further ones are not logged)", and none after that. Returns the line to log, if any.
std::optional<std::string> within_quota(std::uint32_t& quota, std::string message);

}  // namespace base
