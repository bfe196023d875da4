#include <windows.h>

#include "dcs/bridge/src/console.hpp"

namespace cli {
namespace {

DWORD std_id(base::StdStream stream) {
  return stream == base::StdStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

class SystemConsole final : public ConsoleApi {
 public:
  Handle std_handle(base::StdStream stream) override { return GetStdHandle(std_id(stream)); }
  bool attach_parent() override { return AttachConsole(ATTACH_PARENT_PROCESS) != 0; }
  void set_std_handle(base::StdStream stream, Handle handle) override { SetStdHandle(std_id(stream), handle); }
};

}  // namespace

void attach_parent_console() {
  SystemConsole console;
  attach_parent_console(console);
}

}  // namespace cli
