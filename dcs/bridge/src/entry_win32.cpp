// The process entry of the Windows program: wide arguments, kept as the system gave them.
#include <vector>

#include "dcs/bridge/src/main.hpp"

int wmain(int argc, wchar_t** argv) {
  std::vector<bridge::OsString> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return cli::main(args, bridge::process_environment());
}
