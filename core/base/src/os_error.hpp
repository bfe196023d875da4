#pragma once

#include <cstdint>
#include <string>

namespace base {

// A failed call to the operating system: its error code (0 when there is none) and the text shown
// to the user, which for a system error is the system's message followed by " (os error N)".
struct OsError {
  std::uint32_t code = 0;
  std::string text;
  bool operator==(const OsError&) const = default;
};

// The system's message for an error code, without the line end the system puts after it; on
// Windows "Windows error N" when the system has no message for the code.
std::string system_message(std::uint32_t code);

// The error for a system error code: "{message} (os error {code})". The one way every module
// turns a system error code into its text.
OsError os_error(std::uint32_t code);

}  // namespace base
