#include "dcs/bridge/src/os_string.hpp"
#include "dcs/bridge/src/unicode.hpp"

namespace bridge {

std::string to_text(OsStringView raw) { return unicode::utf8_lossy(raw); }

std::optional<std::string> to_text_if_unicode(OsStringView raw) {
  if (!unicode::is_valid_utf8(raw)) return std::nullopt;
  return std::string(raw);
}

OsString to_os(std::string_view text) { return OsString(text); }

machine::Path to_path(OsStringView raw) { return machine::Path(raw); }

}  // namespace bridge
