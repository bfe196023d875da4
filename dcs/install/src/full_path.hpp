#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace machine::detail {

// The system's full path of `path` (GetFullPathNameW on Windows, which also resolves relative
// paths against the working folder; natively `full_path_without_system`). None on failure.
std::optional<std::u16string> system_full_path(std::u16string_view path);

}  // namespace machine::detail
