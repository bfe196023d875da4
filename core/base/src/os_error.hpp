#pragma once

#include <cstdint>
#include <string>

namespace base {

// A failed call to the operating system: its error code (0 when there is none; an HRESULT where the
// caller reports errors that way, see hresult_error) and the text shown to the user, which for a
// system error is the system's message followed by " (os error N)".
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

// The HRESULT that stands for a Win32 error code (the rule of HRESULT_FROM_WIN32): a code from 1 up
// gets the Win32 facility and the failure bit; 0, and a value that is already an HRESULT (its top bit
// set), stay as they are.
std::uint32_t hresult_from_win32(std::uint32_t code);

// The error of a Win32 call, kept as an HRESULT for code that speaks HRESULTs (the UI toolkit):
// `code` is hresult_from_win32(win32_code); the text is os_error(win32_code)'s, so that the user reads
// the same message for the same failure in every module.
OsError hresult_error(std::uint32_t win32_code);

}  // namespace base
