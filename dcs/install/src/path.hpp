#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace machine {

// A Windows path as the system hands it out: UTF-16 units, possibly with unpaired surrogates.
// Only `text()` turns it into UTF-8, with U+FFFD for what UTF-8 cannot hold. The path is kept
// exactly as written: comparing folders is `same_folder`'s business (machine.hpp).
class Path {
 public:
  Path() = default;
  // From UTF-8 text (invalid sequences become U+FFFD).
  explicit Path(std::string_view utf8);
  explicit Path(const char* utf8) : Path(std::string_view(utf8)) {}
  explicit Path(std::u16string units) : units_(std::move(units)) {}

  const std::u16string& units() const { return units_; }
  std::string text() const;
  bool empty() const { return units_.empty(); }

  // The path followed by a relative name (which may hold separators itself), with one backslash
  // between them unless the path already ends in a separator or is a bare drive ("C:").
  Path join(std::string_view relative_utf8) const;
  Path join(const Path& relative) const;

  // The path's text with `suffix` appended directly (for names like "x.lua.tolvaro-new").
  Path plus(std::string_view suffix_utf8) const;

  // The folder that holds the path: trailing separators and the last name dropped. None for a
  // root ("C:\", "\\server\share\"), a bare drive, an empty path or a single relative name.
  std::optional<Path> parent() const;

  friend bool operator==(const Path&, const Path&) = default;
  friend std::strong_ordering operator<=>(const Path&, const Path&) = default;

 private:
  std::u16string units_;
};

inline bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace machine
