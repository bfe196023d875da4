#include "dcs/bridge/src/os_string.hpp"

#include "core/base/src/unicode.hpp"

namespace bridge {

std::string to_text(OsStringView raw) { return base::unicode::utf8_lossy(raw); }

std::optional<std::string> to_text_if_unicode(OsStringView raw) {
  if (!base::unicode::is_valid_utf8(raw)) return std::nullopt;
  return std::string(raw);
}

OsString to_os(std::string_view text) { return OsString(text); }

machine::Path to_path(OsStringView raw) { return machine::Path(raw); }

}  // namespace bridge
