// Helper of the lock test: takes the install lock, says "locked" on standard output, and keeps the
// lock until its standard input ends.

#include <cstdio>

#include "dcs/install/src/real_machine.hpp"
#include "dcs/install/src/settings.hpp"

int main() {
  machine::Machine m = machine::real_machine();
  auto lock = install::acquire_lock(m);
  if (!lock || !lock->held()) {
    std::fputs("failed\n", stdout);
    std::fflush(stdout);
    return 1;
  }
  std::fputs("locked\n", stdout);
  std::fflush(stdout);
  char buffer[256];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
  return 0;
}
