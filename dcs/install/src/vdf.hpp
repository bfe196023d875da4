#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace machine {

// The paths of the Steam libraries that hold DCS World (app 223750), in file order, from the
// bytes of Steam's steamapps\libraryfolders.vdf. A file that does not parse as a whole, that is
// larger than 1 MiB or that nests blocks deeper than 8 gives none.
std::vector<std::string> parse_library_folders(std::string_view bytes);

}  // namespace machine
