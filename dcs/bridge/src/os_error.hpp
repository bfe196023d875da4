#pragma once

#include <cstdint>
#include <string>

namespace bridge {

// A failed call to the operating system: its error code (0 when there is none) and the text shown
// to the user, which for a system error is the system's message followed by " (os error N)".
struct OsError {
  std::uint32_t code = 0;
  std::string text;
  bool operator==(const OsError&) const = default;
};

// The error for a system error code, with the system's message.
OsError os_error(std::uint32_t code);

}  // namespace bridge
