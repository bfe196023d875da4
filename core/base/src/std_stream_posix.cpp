#include <cerrno>
#include <unistd.h>

#include "core/base/src/std_stream.hpp"

namespace base {

bool write_std(StdStream stream, std::string_view bytes) {
  int fd = stream == StdStream::Out ? STDOUT_FILENO : STDERR_FILENO;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace base
