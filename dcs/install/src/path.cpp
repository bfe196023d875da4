#include "dcs/install/src/path.hpp"

#include "dcs/install/src/unicode.hpp"

namespace machine {
namespace {

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// Units of the path's root: "C:\" 3, "C:" 2, "\\server\share\" all of it, "\" 1, else 0.
std::size_t root_length(std::u16string_view s) {
  if (s.size() >= 2 && is_separator(s[0]) && is_separator(s[1])) {
    std::size_t i = 2;
    for (int part = 0; part < 2; ++part) {
      while (i < s.size() && !is_separator(s[i])) ++i;
      if (i < s.size()) ++i;
    }
    return i;
  }
  if (s.size() >= 2 && is_drive_letter(s[0]) && s[1] == u':')
    return (s.size() >= 3 && is_separator(s[2])) ? 3 : 2;
  if (!s.empty() && is_separator(s[0])) return 1;
  return 0;
}

}  // namespace

Path::Path(std::string_view utf8) : units_(utf8_to_utf16(utf8)) {}

std::string Path::text() const { return utf16_to_utf8(units_); }

Path Path::join(const Path& relative) const {
  if (relative.empty()) return *this;
  if (units_.empty()) return relative;
  std::u16string out = units_;
  bool bare_drive = out.size() == 2 && out[1] == u':' && is_drive_letter(out[0]);
  if (!is_separator(out.back()) && !bare_drive) out.push_back(u'\\');
  out += relative.units_;
  return Path(std::move(out));
}

Path Path::join(std::string_view relative_utf8) const { return join(Path(relative_utf8)); }

Path Path::plus(std::string_view suffix_utf8) const {
  return Path(units_ + utf8_to_utf16(suffix_utf8));
}

std::optional<Path> Path::parent() const {
  std::u16string_view s = units_;
  const std::size_t root = root_length(s);
  std::size_t end = s.size();
  while (end > root && is_separator(s[end - 1])) --end;
  if (end <= root) return std::nullopt;
  std::size_t start = end;  // of the last name
  while (start > root && !is_separator(s[start - 1])) --start;
  std::size_t cut = start;
  while (cut > root && is_separator(s[cut - 1])) --cut;
  if (cut == 0) return std::nullopt;
  return Path(std::u16string(s.substr(0, cut)));
}

}  // namespace machine
