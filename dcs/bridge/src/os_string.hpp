#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dcs/install/src/path.hpp"

namespace bridge {

// A text exactly as the operating system handed it over (a program argument, an environment
// value): UTF-16 units on Windows, which may hold unpaired surrogates, and bytes elsewhere, which
// may not be UTF-8. It is turned into text only where text is needed, so that a folder path can be
// passed on to the system unchanged.
#if defined(_WIN32)
using OsChar = wchar_t;
#else
using OsChar = char;
#endif
using OsString = std::basic_string<OsChar>;
using OsStringView = std::basic_string_view<OsChar>;

// The text of `raw` in UTF-8, each invalid sequence replaced by U+FFFD.
std::string to_text(OsStringView raw);
// The text of `raw` in UTF-8, or nothing when `raw` is not valid Unicode.
std::optional<std::string> to_text_if_unicode(OsStringView raw);
// `text` (UTF-8) in the system's form.
OsString to_os(std::string_view text);
// A folder argument as a path: on Windows the UTF-16 units exactly as given, unpaired surrogates
// included; elsewhere the bytes read as UTF-8, each invalid sequence replaced by U+FFFD.
machine::Path to_path(OsStringView raw);

}  // namespace bridge
