#pragma once

#include "core/base/src/std_stream.hpp"

namespace cli {

// The console calls that attaching to the parent's console needs.
class ConsoleApi {
 public:
  using Handle = void*;
  virtual ~ConsoleApi() = default;
  virtual Handle std_handle(base::StdStream stream) = 0;
  // Attaches to the parent process's console; false when there is none.
  virtual bool attach_parent() = 0;
  virtual void set_std_handle(base::StdStream stream, Handle handle) = 0;
};

// Neither null nor the invalid-handle value.
bool is_valid_handle(ConsoleApi::Handle handle);

// A windowed program started from a console has no standard output or error of its own; unless
// both are already valid (redirected to files or pipes), attach to the parent's console and keep
// the handles that were valid, so that redirected output stays redirected. Failures are ignored.
void attach_parent_console(ConsoleApi& console);

// The same with the system's console calls; nothing where there is no such thing.
void attach_parent_console();

}  // namespace cli
