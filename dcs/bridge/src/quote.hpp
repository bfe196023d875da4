#pragma once

#include <string>
#include <string_view>

namespace bridge {

// A value the user typed or set, shown on one readable line: between double quotes, with a
// backslash before a double quote or backslash, tab, carriage return and line feed as \t, \r, \n,
// and other invisible characters as \u{hex}. An empty value shows as "".
std::string quoted(std::string_view text);

}  // namespace bridge
