// The process entry of the native program.
#include <vector>

#include "dcs/bridge/src/main.hpp"

int main(int argc, char** argv) {
  std::vector<bridge::OsString> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return cli::main(args, bridge::process_environment());
}
