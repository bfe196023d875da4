#include <string>

#include "core/base/src/unicode.hpp"
#include "dcs/bridge/src/os_string.hpp"

namespace bridge {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

std::u16string_view units(OsStringView raw) {
  return {reinterpret_cast<const char16_t*>(raw.data()), raw.size()};
}

}  // namespace

std::string to_text(OsStringView raw) { return base::unicode::utf16_to_utf8(units(raw)); }

std::optional<std::string> to_text_if_unicode(OsStringView raw) {
  if (!base::unicode::is_valid_utf16(units(raw))) return std::nullopt;
  return base::unicode::utf16_to_utf8(units(raw));
}

OsString to_os(std::string_view text) {
  std::u16string wide = base::unicode::utf8_to_utf16(text);
  return OsString(wide.begin(), wide.end());
}

machine::Path to_path(OsStringView raw) { return machine::Path(std::u16string(units(raw))); }

}  // namespace bridge
