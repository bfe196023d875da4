#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text rules of DCS's Export.lua: which texts the program may change, which lines load the
// collector, and the edits that add the hook line or drop copies of it while every other byte
// stays as it was. No file access here; the install operations do that (export_file.hpp).
namespace export_lua {

// The line the program appends to load the collector.
inline constexpr std::string_view HOOK_LINE =
    R"(dofile(require("lfs").writedir()..[[Scripts\Tolvaro\collectorScript.lua]]))";

// Why a text is not changed: it is UTF-16 or holds NUL bytes.
inline constexpr std::string_view kRefusal =
    "it is not saved as UTF-8 text (it looks like UTF-16). Save it as UTF-8 in Notepad, then try again";
// Why the hook line is not added to a text: it would land inside a long comment or long string
// that the text leaves open, where it never runs and is never found again.
inline constexpr std::string_view kOpenAtEndRefusal =
    "it ends inside a --[[ comment or [[ string that is never closed. Close it, then try again";

enum class LineKind {
  Ours,     // a copy of the hook line, in any of its equivalent spellings
  OwnLine,  // a line of the user's that loads the collector some other way
  Other,
};

// One line: byte offsets into the text, its LF included when it has one.
struct LineSpan {
  std::size_t start = 0;
  std::size_t end = 0;
  LineKind kind = LineKind::Other;
  friend bool operator==(const LineSpan&, const LineSpan&) = default;
};
using ExportLuaScan = std::vector<LineSpan>;

struct ExportLuaCounts {
  std::size_t ours = 0;
  std::size_t own = 0;
  friend bool operator==(const ExportLuaCounts&, const ExportLuaCounts&) = default;
};

struct Refused {
  enum class Reason {
    NotUtf8,    // UTF-16 or NUL bytes: nothing in it is read
    OpenAtEnd,  // ends inside a long comment or long string: nothing can be appended
  };
  Reason reason = Reason::NotUtf8;
  std::string_view text() const { return reason == Reason::NotUtf8 ? kRefusal : kOpenAtEndRefusal; }
};

// Refuses a UTF-16 text (FF FE or FE FF at the start) and any text with a NUL byte; otherwise
// counts the lines of each kind. An empty text has no lines.
std::expected<ExportLuaCounts, Refused> analyse(std::string_view text);

// The lines of a text, cut at each LF, with their kinds. A long comment or long string that runs
// over several lines hides what it holds.
ExportLuaScan scan(std::string_view text);

// The text with every Ours line after the first `keep` taken out (with its line end; a dropped
// last line without one takes the line end before it along, and a dropped first line leaves its
// byte order mark). Every other byte is copied.
std::string edit(std::string_view text, std::size_t keep);

// The text with HOOK_LINE appended on a line of its own, using the text's own line ends (CR LF
// when the text has no LF at all or has a CR LF somewhere, else LF). After a text that ends with
// a lone CR the line end is CR LF too: an LF would join that CR into a CR LF, which a later edit
// takes out as one line end.
std::string with_hook_line(std::string_view text);

// What an install does to a file with these counts.
enum class InstallChange {
  AddLine,            // no line loads the collector: append the hook line
  LeaveOwnLine,       // only the user's own lines load it: leave the file alone
  Unchanged,          // exactly one hook line
  RemoveExtraCopies,  // several hook lines: keep the first
};
InstallChange install_change(ExportLuaCounts counts);

// The text an install writes, or none when the file stays as it is. A text that needs the hook
// line but ends inside a long comment or long string is refused (OpenAtEnd): the line would be
// part of it, so it would neither run nor count as ours, and every install would add another.
std::expected<std::optional<std::string>, Refused> installed_text(std::string_view text,
                                                                  ExportLuaCounts counts);

}  // namespace export_lua
