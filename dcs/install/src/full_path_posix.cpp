#include "dcs/install/src/full_path.hpp"
#include "dcs/install/src/machine.hpp"

namespace machine::detail {

// The native build has no Windows working folder: only drive-absolute paths resolve.
std::optional<std::u16string> system_full_path(std::u16string_view path) {
  return full_path_without_system(path);
}

}  // namespace machine::detail
