#pragma once

#include <expected>

#include "dcs/install/src/machine.hpp"

namespace machine::detail {

// Creates `path` and its missing parents with `create_dir` (one folder); a folder that exists
// already (`is_folder`) is success, also when creating it failed because it was there.
template <typename CreateDir, typename IsFolder>
std::expected<void, IoError> create_dir_all(const Path& path, CreateDir create_dir,
                                            IsFolder is_folder) {
  if (path.empty()) return {};
  std::expected<void, IoError> made = create_dir(path);
  if (made) return made;
  if (!made.error().is_not_found()) {
    if (is_folder(path)) return {};
    return made;
  }
  std::optional<Path> parent = path.parent();
  if (!parent) return made;
  if (auto up = create_dir_all(*parent, create_dir, is_folder); !up) return up;
  made = create_dir(path);
  if (made || is_folder(path)) return {};
  return made;
}

}  // namespace machine::detail
