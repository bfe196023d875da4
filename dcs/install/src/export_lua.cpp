#include "dcs/install/src/export_lua.hpp"

#include <algorithm>

#include "dcs/install/src/unicode.hpp"

namespace export_lua {
namespace {

// Where the lexer stands at a line's end: outside comments and long strings, or inside a long
// comment or long string of a bracket level.
struct LexState {
  enum class Mode { Normal, LongComment, LongString };
  Mode mode = Mode::Normal;
  std::size_t level = 0;
  bool normal() const { return mode == Mode::Normal; }
};

// The level of a long bracket "[", n "=", "[" opening at `at`, or none.
std::optional<std::size_t> opener_level(std::u32string_view line, std::size_t at) {
  if (at >= line.size() || line[at] != U'[') return std::nullopt;
  std::size_t i = at + 1;
  while (i < line.size() && line[i] == U'=') ++i;
  if (i >= line.size() || line[i] != U'[') return std::nullopt;
  return i - at - 1;
}

// The position just after the first closer "]", `level` "=", "]" at or after `from`, or npos.
std::size_t after_closer(std::u32string_view line, std::size_t from, std::size_t level) {
  for (std::size_t j = from; j < line.size(); ++j) {
    if (line[j] != U']') continue;
    std::size_t k = j + 1;
    while (k < line.size() && k - j - 1 < level && line[k] == U'=') ++k;
    if (k - j - 1 == level && k < line.size() && line[k] == U']') return k + 1;
  }
  return std::u32string_view::npos;
}

// Runs the lexer over one line from `state`, leaving in `state` where the line ends; returns the
// code text: what lies outside comments.
std::u32string code_text(std::u32string_view line, LexState& state) {
  std::u32string code;
  std::size_t i = 0;
  while (i < line.size()) {
    if (!state.normal()) {
      const std::size_t end = after_closer(line, i, state.level);
      if (end == std::u32string_view::npos) return code;
      i = end;
      state = {};
      continue;
    }
    const char32_t c = line[i];
    if (c == U'-' && i + 1 < line.size() && line[i + 1] == U'-') {
      if (std::optional<std::size_t> level = opener_level(line, i + 2)) {
        state = {LexState::Mode::LongComment, *level};
        i += 2 + *level + 2;
        continue;
      }
      return code;  // a line comment
    }
    if (c == U'[') {
      if (std::optional<std::size_t> level = opener_level(line, i)) {
        const std::size_t end = after_closer(line, i + *level + 2, *level);
        if (end == std::u32string_view::npos) {
          code.append(line.substr(i));
          state = {LexState::Mode::LongString, *level};
          return code;
        }
        code.append(line.substr(i, end - i));
        i = end;
        continue;
      }
    }
    if (c == U'"' || c == U'\'') {
      std::size_t j = i + 1;
      while (j < line.size()) {
        if (line[j] == U'\\') {
          j += 2;
        } else if (line[j] == c) {
          ++j;
          break;
        } else {
          ++j;
        }
      }
      j = std::min(j, line.size());
      code.append(line.substr(i, j - i));
      i = j;
      continue;
    }
    code.push_back(c);
    ++i;
  }
  return code;
}

// Every "/" turned into "\" and runs of "\" collapsed into one.
std::string with_single_backslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '/') c = '\\';
    if (c == '\\' && !out.empty() && out.back() == '\\') continue;
    out.push_back(c);
  }
  return out;
}

// The form in which every spelling of the hook line looks the same: no white space, lower case,
// double quotes for single quotes and for doubled brackets, single backslashes, no trailing
// semicolons.
std::string canonical(std::u32string_view line) {
  std::u32string packed;
  for (char32_t c : line)
    if (!machine::is_white_space(c)) packed.push_back(c);
  const std::string lower = machine::lower_full(machine::encode_utf8(packed));
  std::string quoted;
  quoted.reserve(lower.size());
  for (std::size_t i = 0; i < lower.size(); ++i) {
    const char c = lower[i];
    if (c == '\'') {
      quoted.push_back('"');
    } else if ((c == '[' || c == ']') && i + 1 < lower.size() && lower[i + 1] == c) {
      quoted.push_back('"');
      ++i;
    } else {
      quoted.push_back(c);
    }
  }
  std::string out = with_single_backslashes(quoted);
  while (!out.empty() && out.back() == ';') out.pop_back();
  return out;
}

const std::string& canonical_hook_line() {
  static const std::string form = canonical(machine::decode_utf8(HOOK_LINE));
  return form;
}

// Whether code text (outside comments) loads the collector file.
bool loads_collector(std::u32string_view code) {
  const std::string text = with_single_backslashes(machine::lower_full(machine::encode_utf8(code)));
  if (text.find("dofile") == std::string::npos && text.find("loadfile") == std::string::npos)
    return false;
  constexpr std::string_view kFile = "tolvaro\\collectorscript.lua";
  for (std::size_t at = text.find(kFile); at != std::string::npos; at = text.find(kFile, at + 1)) {
    const std::size_t after = at + kFile.size();
    if (after < text.size() && (text[after] == '"' || text[after] == '\'' || text[after] == ']'))
      return true;
  }
  return false;
}

LineKind classify(std::string_view bytes, LexState& state) {
  std::u32string decoded = machine::decode_utf8(bytes);
  std::u32string_view line = decoded;
  while (!line.empty() && line.front() == 0xFEFF) line.remove_prefix(1);
  const bool started_normal = state.normal();
  const std::u32string code = code_text(line, state);
  if (started_normal && state.normal() && canonical(line) == canonical_hook_line())
    return LineKind::Ours;
  if (loads_collector(code)) return LineKind::OwnLine;
  return LineKind::Other;
}

ExportLuaCounts count(const ExportLuaScan& lines) {
  ExportLuaCounts counts;
  for (const LineSpan& span : lines) {
    if (span.kind == LineKind::Ours) ++counts.ours;
    if (span.kind == LineKind::OwnLine) ++counts.own;
  }
  return counts;
}

// The lines of a text, leaving in `state` where the lexer stands at its end.
ExportLuaScan scan(std::string_view text, LexState& state) {
  ExportLuaScan lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    std::string_view line = text.substr(start, (lf == std::string_view::npos ? text.size() : lf) - start);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back({start, end, classify(line, state)});
    start = end;
  }
  return lines;
}

}  // namespace

std::expected<ExportLuaCounts, Refused> analyse(std::string_view text) {
  if (text.size() >= 2 && (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")))
    return std::unexpected(Refused{});
  if (text.find('\0') != std::string_view::npos) return std::unexpected(Refused{});
  return count(scan(text));
}

ExportLuaScan scan(std::string_view text) {
  LexState state;
  return scan(text, state);
}

std::string edit(std::string_view text, std::size_t keep) {
  std::string out;
  out.reserve(text.size());
  std::size_t kept = 0;
  for (const LineSpan& span : scan(text)) {
    const std::string_view line = text.substr(span.start, span.end - span.start);
    if (span.kind != LineKind::Ours || kept < keep) {
      if (span.kind == LineKind::Ours) ++kept;
      out.append(line);
      continue;
    }
    if (line.starts_with("\xEF\xBB\xBF")) out.append("\xEF\xBB\xBF");
    if (line.ends_with('\n')) continue;
    if (out.ends_with("\r\n")) {
      out.resize(out.size() - 2);
    } else if (out.ends_with('\n')) {
      out.pop_back();
    }
  }
  return out;
}

std::string with_hook_line(std::string_view text) {
  if (text.empty()) return std::string(HOOK_LINE) + "\r\n";
  const bool has_lf = text.find('\n') != std::string_view::npos;
  const bool has_crlf = text.find("\r\n") != std::string_view::npos;
  // The edit that takes the line out again removes the line end before it, CR LF when the text
  // ends with one: so a CR that ends the text gets a CR LF after it, never a lone LF.
  const std::string_view line_end = (!has_lf || has_crlf || text.ends_with('\r')) ? "\r\n" : "\n";
  std::string out(text);
  if (text.ends_with('\n')) {
    out.append(HOOK_LINE);
    out.append(line_end);
  } else {
    out.append(line_end);
    out.append(HOOK_LINE);
  }
  return out;
}

InstallChange install_change(ExportLuaCounts counts) {
  if (counts.ours == 0) return counts.own == 0 ? InstallChange::AddLine : InstallChange::LeaveOwnLine;
  if (counts.ours == 1) return InstallChange::Unchanged;
  return InstallChange::RemoveExtraCopies;
}

std::expected<std::optional<std::string>, Refused> installed_text(std::string_view text,
                                                                  ExportLuaCounts counts) {
  switch (install_change(counts)) {
    case InstallChange::AddLine: {
      LexState end;
      (void)scan(text, end);
      if (!end.normal()) return std::unexpected(Refused{Refused::Reason::OpenAtEnd});
      return with_hook_line(text);
    }
    case InstallChange::RemoveExtraCopies:
      return edit(text, 1);
    case InstallChange::LeaveOwnLine:
    case InstallChange::Unchanged:
      break;
  }
  return std::nullopt;
}

}  // namespace export_lua
