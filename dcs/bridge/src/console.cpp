#include "dcs/bridge/src/console.hpp"

#include <cstdint>

namespace cli {

bool is_valid_handle(ConsoleApi::Handle handle) {
  // INVALID_HANDLE_VALUE is the handle with all bits set.
  return handle != nullptr && reinterpret_cast<std::intptr_t>(handle) != -1;
}

void attach_parent_console(ConsoleApi& console) {
  const ConsoleApi::Handle out = console.std_handle(base::StdStream::Out);
  const ConsoleApi::Handle err = console.std_handle(base::StdStream::Err);
  if (is_valid_handle(out) && is_valid_handle(err)) return;
  if (!console.attach_parent()) return;
  // Attaching points every standard handle at the console; put back the ones that led elsewhere.
  if (is_valid_handle(out)) console.set_std_handle(base::StdStream::Out, out);
  if (is_valid_handle(err)) console.set_std_handle(base::StdStream::Err, err);
}

}  // namespace cli
