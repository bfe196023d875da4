// The Export.lua rules: a user's Export.lua through export_lua::analyse, scan, edit,
// with_hook_line and installed_text.
//
// Properties:
// - the scan's lines cover the text exactly, in order, each ending at its LF or at the text's end;
// - a text is refused exactly when it starts with a UTF-16 mark or holds a NUL, and what the edits
//   make of a refused text is refused too;
// - an edit keeps every byte of the lines that are not ours (the mark of a dropped line and all),
//   taking along only the line end before a dropped last line; it leaves `keep` of our lines, or
//   all when there are fewer, and the user's own lines (read again, the text is refused only when
//   the dropped lines uncovered a UTF-16 mark at its start);
// - removing our lines after adding ours gives back the original bytes:
//   edit(with_hook_line(t), 0) == edit(t, 0), which is t itself when t had none of ours; and the
//   added line counts as one more of ours, unless the install refuses to add it;
// - an install's text holds exactly one of our lines, a second install changes nothing, and a
//   remove afterwards gives back what a remove would have given before.

#include "dcs/install/src/export_lua.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using namespace export_lua;

constexpr std::string_view kMark = "\xEF\xBB\xBF";

bool refused_by_rule(std::string_view text) {
  return (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) ||
         text.find('\0') != std::string_view::npos;
}

void check_spans(std::string_view text, const ExportLuaScan& lines) {
  std::size_t at = 0;
  for (const LineSpan& span : lines) {
    FUZZ_CHECK(span.start == at && span.end > span.start && span.end <= text.size());
    const std::string_view line = text.substr(span.start, span.end - span.start);
    const std::size_t lf = line.find('\n');
    FUZZ_CHECK(lf == line.size() - 1 || (lf == std::string_view::npos && span.end == text.size()));
    at = span.end;
  }
  FUZZ_CHECK(at == text.size());
}

// The lines that an edit with `keep` keeps are in what it gives, in order and byte for byte; only
// the last of them may lose its line end, when dropped lines follow it. Besides them it gives only
// the marks of dropped lines.
void check_edit(std::string_view text, const ExportLuaScan& lines, ExportLuaCounts counts,
                std::size_t keep) {
  const std::string edited = edit(text, keep);
  std::vector<std::string_view> kept;
  std::size_t kept_bytes = 0;
  std::size_t marks = 0;
  std::size_t ours = 0;
  for (const LineSpan& span : lines) {
    const std::string_view line = text.substr(span.start, span.end - span.start);
    if (span.kind != LineKind::Ours || ours++ < keep) {
      kept.push_back(line);
      kept_bytes += line.size();
    } else if (line.starts_with(kMark)) {
      ++marks;
    }
  }
  std::size_t at = 0;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    std::string_view line = kept[i];
    if (i + 1 == kept.size() && line.data() + line.size() != text.data() + text.size()) {
      if (line.ends_with("\r\n")) line.remove_suffix(2);
      else if (line.ends_with('\n')) line.remove_suffix(1);
    }
    const std::size_t found = edited.find(line, at);
    FUZZ_CHECK(found != std::string::npos);
    at = found + line.size();
  }
  const std::size_t most = kept_bytes + 3 * marks;
  FUZZ_CHECK(edited.size() <= most && edited.size() + 2 >= most);
  const bool drops_last_line_without_end =
      !lines.empty() && lines.back().kind == LineKind::Ours && ours > keep && !text.ends_with('\n');
  if (!drops_last_line_without_end) FUZZ_CHECK(edited.size() == most);
  // Dropping the first lines may uncover bytes FF FE or FE FF that now start the text, which the
  // next analysis takes for UTF-16; every other edited text reads as what the edit left.
  const auto after = analyse(edited);
  if (!after) {
    FUZZ_CHECK(edited.starts_with("\xFF\xFE") || edited.starts_with("\xFE\xFF"));
    return;
  }
  FUZZ_CHECK(*after == (ExportLuaCounts{std::min(counts.ours, keep), counts.own}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::bytes(data, size);
  const ExportLuaScan lines = scan(text);
  check_spans(text, lines);

  const auto counts = analyse(text);
  FUZZ_CHECK(counts.has_value() == !refused_by_rule(text));
  if (!counts) {
    FUZZ_CHECK(counts.error().text() == kRefusal);
    FUZZ_CHECK(!analyse(with_hook_line(text)));
    FUZZ_CHECK(!analyse(edit(text, 0)));
    FUZZ_CHECK(!analyse(edit(text, 1)));
    return 0;
  }
  ExportLuaCounts counted;
  for (const LineSpan& span : lines) {
    if (span.kind == LineKind::Ours) ++counted.ours;
    if (span.kind == LineKind::OwnLine) ++counted.own;
  }
  FUZZ_CHECK(*counts == counted);

  check_edit(text, lines, *counts, 0);
  check_edit(text, lines, *counts, 1);
  FUZZ_CHECK(edit(text, counts->ours) == text);
  const std::string removed = edit(text, 0);
  if (counts->ours == 0) FUZZ_CHECK(removed == text);

  // Adding our line, as an install does to a text without one; the install refuses exactly the
  // texts where the added line would not count as ours.
  const std::string added = with_hook_line(text);
  const auto added_counts = analyse(added);
  FUZZ_CHECK(added_counts && added_counts->own == counts->own);
  const auto appended = installed_text(text, {0, 0});
  FUZZ_CHECK(appended.has_value() == (added_counts->ours == counts->ours + 1));
  if (appended) {
    FUZZ_CHECK(*appended == added);
    FUZZ_CHECK(edit(added, 0) == removed);
    FUZZ_CHECK(edit(added, counts->ours + 1) == added);
  } else {
    FUZZ_CHECK(appended.error().text() != kRefusal);
  }

  // The install itself, then a second install and a remove.
  const auto installed = installed_text(text, *counts);
  if (!installed) {
    FUZZ_CHECK(counts->ours == 0 && counts->own == 0 && !appended);
    return 0;
  }
  if (!*installed) {
    FUZZ_CHECK(counts->ours == 1 || (counts->ours == 0 && counts->own > 0));
    return 0;
  }
  const std::string& result = **installed;
  const auto result_counts = analyse(result);
  if (!result_counts) {
    FUZZ_CHECK(result.starts_with("\xFF\xFE") || result.starts_with("\xFE\xFF"));
    return 0;
  }
  FUZZ_CHECK(result_counts->ours == 1 && result_counts->own == counts->own);
  const auto again = installed_text(result, *result_counts);
  FUZZ_CHECK(again && !*again);
  FUZZ_CHECK(edit(result, 0) == removed);
  return 0;
}
