#pragma once

// The console control handler of the stop listeners, for tests that play the system's part.
namespace stop_signal::win32 {

// What the handler does for the console event `event` (CTRL_C_EVENT ...): wakes its listeners and
// returns true, or returns false when nobody listens for it. For the console closing, logoff and
// system shutdown it returns only once no listener for the event is left (or after 20 seconds).
bool on_console_event(unsigned long event);

}  // namespace stop_signal::win32
