#include <string>

#include "dcs/bridge/src/os_string.hpp"
#include "dcs/bridge/src/unicode.hpp"

namespace bridge {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

std::u16string_view units(OsStringView raw) {
  return {reinterpret_cast<const char16_t*>(raw.data()), raw.size()};
}

}  // namespace

std::string to_text(OsStringView raw) { return unicode::utf16_lossy(units(raw)); }

std::optional<std::string> to_text_if_unicode(OsStringView raw) {
  if (!unicode::is_valid_utf16(units(raw))) return std::nullopt;
  return unicode::utf16_lossy(units(raw));
}

OsString to_os(std::string_view text) {
  std::u16string wide = unicode::utf8_to_utf16(text);
  return OsString(wide.begin(), wide.end());
}

machine::Path to_path(OsStringView raw) { return machine::Path(std::u16string(units(raw))); }

}  // namespace bridge
