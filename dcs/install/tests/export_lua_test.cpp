#include <gmock/gmock.h>

#include "dcs/install/src/export_lua.hpp"

namespace export_lua {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kHook(HOOK_LINE);

std::vector<LineKind> kinds_of(std::string_view text) {
  std::vector<LineKind> kinds;
  for (const LineSpan& span : scan(text)) kinds.push_back(span.kind);
  return kinds;
}

const char* name(LineKind kind) {
  switch (kind) {
    case LineKind::Ours: return "Ours";
    case LineKind::OwnLine: return "OwnLine";
    case LineKind::Other: return "Other";
  }
  return "?";
}

TEST(ExportLuaAnalyse, RefusesUtf16AndNulTexts) {
  const std::string refused[] = {
      std::string("\xFF\xFE" "d\0o\0", 6),  // UTF-16 LE with its mark
      std::string("\xFE\xFF\0d\0o", 6),     // UTF-16 BE with its mark
      "\xFF\xFE",
      std::string("a = 1\n\0", 7),
      std::string("d\0o\0f\0i\0l\0e\0", 12),  // UTF-16 without a mark
  };
  for (const std::string& text : refused) {
    auto got = analyse(text);
    ASSERT_FALSE(got) << text.size();
    EXPECT_EQ(got.error().text(),
              "it is not saved as UTF-8 text (it looks like UTF-16). Save it as UTF-8 in Notepad, then try again");
  }
  EXPECT_EQ(analyse(""), (ExportLuaCounts{0, 0}));
  EXPECT_EQ(analyse("\xFF"), (ExportLuaCounts{0, 0}));
  EXPECT_EQ(analyse("\xFE\xFE a = 1"), (ExportLuaCounts{0, 0}));
  EXPECT_EQ(analyse(kHook + "\n" + kHook + " -- mine\n" + kHook), (ExportLuaCounts{2, 1}));
}

struct LineCase {
  std::string line;
  LineKind kind;
};

TEST(ExportLuaScan, TellsTheHookLineInAnySpellingFromOwnAndOtherLines) {
  const LineCase cases[] = {
      {kHook, LineKind::Ours},
      {"dofile(require('lfs').writedir()..'Scripts/Tolvaro/collectorScript.lua');", LineKind::Ours},
      {"DOFILE(REQUIRE(\"LFS\").WRITEDIR()..[[SCRIPTS\\TOLVARO\\COLLECTORSCRIPT.LUA]])", LineKind::Ours},
      {"  dofile ( require ( \"lfs\" ) . writedir ( ) .. \"Scripts\\\\Tolvaro\\\\collectorScript.lua\" ) ;; ",
       LineKind::Ours},
      {"\t" + kHook + "\t;", LineKind::Ours},
      {"\xEF\xBB\xBF" + kHook, LineKind::Ours},
      {kHook + "\r\r", LineKind::Ours},  // a CR that is not part of the line end is white space
      {kHook + " -- loads the collector", LineKind::OwnLine},
      {kHook + " --[[ a note ]]", LineKind::OwnLine},
      {"local f = loadfile(lfs.writedir() .. \"Scripts/Tolvaro/collectorScript.lua\"); f()", LineKind::OwnLine},
      {"local p = 'Scripts\\\\Tolvaro\\\\collectorScript.lua' dofile(base .. p)", LineKind::OwnLine},
      {"dofile(lfs.writedir()..[==[Scripts//Tolvaro//CollectorScript.lua]==])", LineKind::OwnLine},
      {"pcall(dofile, lfs.writedir() .. [[Scripts\\Tolvaro\\collectorScript.lua]])", LineKind::OwnLine},
      {"-- " + kHook, LineKind::Other},
      {"--[[ " + kHook + " ]]", LineKind::Other},
      {"-- dofile Tolvaro/collectorScript.lua", LineKind::Other},
      {"print(\"Tolvaro/collectorScript.lua\")", LineKind::Other},
      {"dofile(x .. \"Tolvaro/collectorScript.lua.bak\")", LineKind::Other},
      {"dofile(x .. Tolvaro/collectorScript.lua)", LineKind::Other},
      {"dofile(x) -- Tolvaro/collectorScript.lua'", LineKind::Other},
      {"x = 'Tolvaro\\collectorScript.lua' -- dofile", LineKind::Other},
      // A backslash in a quoted string skips the next byte, so an escaped quote does not close
      // the string and the dashes after it are no comment; an escaped backslash does close it.
      {"x = \"a\\\"--\" " + kHook, LineKind::OwnLine},
      {"x = 'a\\'--' " + kHook, LineKind::OwnLine},
      {"x = \"a\\\\\" -- " + kHook, LineKind::Other},
      {"x = 'a\\\\' -- " + kHook, LineKind::Other},
      {"", LineKind::Other},
  };
  for (const LineCase& c : cases) {
    std::vector<LineKind> got = kinds_of(c.line + "\n");
    ASSERT_EQ(got.size(), 1u) << c.line;
    EXPECT_EQ(name(got[0]), name(c.kind)) << c.line;
  }
}

TEST(ExportLuaScan, LongCommentsAndLongStringsHideTheirLinesAndStringsDoNot) {
  const std::string commented = "--[=[ off for now\n" + kHook + "\n]=]\n" + kHook + "\n";
  EXPECT_THAT(kinds_of(commented), ElementsAre(LineKind::Other, LineKind::Other, LineKind::Other, LineKind::Ours));
  const std::string in_string = "local s = [==[\n" + kHook + "\n]==]\n";
  EXPECT_THAT(kinds_of(in_string), ElementsAre(LineKind::Other, LineKind::Other, LineKind::Other));
  // A line that starts inside a comment is never Ours, but what follows the closer is code.
  const std::string closed = "--[[ a\n]] " + kHook + "\n" + kHook;
  EXPECT_THAT(kinds_of(closed), ElementsAre(LineKind::Other, LineKind::OwnLine, LineKind::Ours));
  // Comment and long-bracket openers inside quoted strings open nothing, closed or not.
  const std::string strings = "s = \"--[[\" t = '[[' u = \"unclosed --[[\n" + kHook + "\n";
  EXPECT_THAT(kinds_of(strings), ElementsAre(LineKind::Other, LineKind::Ours));
  // A long comment that opens and closes on one line leaves the next line alone.
  const std::string one_line = "--[==[ note ]==] x = 1\n" + kHook + "\n";
  EXPECT_THAT(kinds_of(one_line), ElementsAre(LineKind::Other, LineKind::Ours));
  // An escaped quote keeps the string open, so "--[[" inside it opens nothing; a backslash at the
  // very end of an unclosed string leaves the next line alone.
  const std::string escaped = "x = \"a\\\"--[[\" " + kHook + "\n" + kHook + "\ny = 'b\\\n" + kHook + "\n";
  EXPECT_THAT(kinds_of(escaped), ElementsAre(LineKind::OwnLine, LineKind::Ours, LineKind::Other, LineKind::Ours));
  // Only the closer of the same level ends a long string; until it, the lines are in the string.
  const std::string string_levels = "s = [==[ ]=] ]]\n" + kHook + "\n]===] ]=]\n]==] " + kHook + "\n" + kHook;
  EXPECT_THAT(kinds_of(string_levels),
              ElementsAre(LineKind::Other, LineKind::Other, LineKind::Other, LineKind::OwnLine, LineKind::Ours));
  // Only the closer of the same level ends a long comment.
  const std::string levels = "--[==[\n]] ]=] still a comment\n" + kHook + "\n]==]\n";
  EXPECT_THAT(kinds_of(levels), ElementsAre(LineKind::Other, LineKind::Other, LineKind::Other, LineKind::Other));
}

TEST(ExportLuaScan, SpansCoverEveryByteWithTheirLineEnds) {
  EXPECT_THAT(scan(""), IsEmpty());
  EXPECT_THAT(scan("\n"), ElementsAre(LineSpan{0, 1, LineKind::Other}));
  EXPECT_THAT(scan("a\r\nbc"), ElementsAre(LineSpan{0, 3, LineKind::Other}, LineSpan{3, 5, LineKind::Other}));
  EXPECT_THAT(scan("a\n" + kHook + "\r\n\n"),
              ElementsAre(LineSpan{0, 2, LineKind::Other}, LineSpan{2, 2 + kHook.size() + 2, LineKind::Ours},
                          LineSpan{4 + kHook.size(), 5 + kHook.size(), LineKind::Other}));
  // Latin-1 bytes are not UTF-8; they become U+FFFD for the rules and stay as they are.
  EXPECT_THAT(kinds_of("-- caf\xE9\n" + kHook + " \xE9"), ElementsAre(LineKind::Other, LineKind::OwnLine));
}

struct EditCase {
  std::string text;
  std::size_t keep;
  std::string expected;
};

TEST(ExportLuaEdit, DropsHookLinesAfterTheFirstKeepAndNothingElse) {
  const std::string own = kHook + " -- mine";
  const EditCase cases[] = {
      {kHook + "\r\n" + kHook, 1, kHook},
      {kHook + "\n" + kHook, 1, kHook},
      {"a\n" + kHook + "\nb\n" + kHook + "\nc\n" + kHook + "\n", 1, "a\n" + kHook + "\nb\nc\n"},
      {"a\r\n" + kHook + "\r\nb\r\n" + kHook, 1, "a\r\n" + kHook + "\r\nb"},
      {"a\r\n" + kHook, 0, "a"},
      {"a\n" + kHook + "\n" + kHook, 0, "a"},
      {kHook + "\r\n", 0, ""},
      {"\xEF\xBB\xBF" + kHook + "\r\nx = 1\r\n", 0, "\xEF\xBB\xBFx = 1\r\n"},
      {"\xEF\xBB\xBF" + kHook, 0, "\xEF\xBB\xBF"},
      {own + "\n-- " + kHook + "\n" + kHook + "\n", 0, own + "\n-- " + kHook + "\n"},
      {"x = 1\n", 0, "x = 1\n"},
      {"", 0, ""},
      // The bytes after a dropped first line stay as they are, even ones that a later read takes
      // for a UTF-16 mark.
      {kHook + "\n\xFF\xFEx = 1\n", 0, "\xFF\xFEx = 1\n"},
  };
  for (const EditCase& c : cases) EXPECT_EQ(edit(c.text, c.keep), c.expected) << c.text;
}

TEST(ExportLuaAppend, UsesTheTextsOwnLineEnds) {
  EXPECT_EQ(with_hook_line(""), kHook + "\r\n");
  EXPECT_EQ(with_hook_line("a = 1"), "a = 1\r\n" + kHook);
  EXPECT_EQ(with_hook_line("a\nb\n"), "a\nb\n" + kHook + "\n");
  EXPECT_EQ(with_hook_line("a\nb"), "a\nb\n" + kHook);
  EXPECT_EQ(with_hook_line("a\r\nb\n"), "a\r\nb\n" + kHook + "\r\n");
  EXPECT_EQ(with_hook_line("a\r"), "a\r\r\n" + kHook);
  // A lone CR at the end gets a CR LF after it even in a text of LF line ends: an LF would make
  // it a CR LF, which the edit that takes the line out again removes whole.
  EXPECT_EQ(with_hook_line("x\ny\r"), "x\ny\r\r\n" + kHook);
  EXPECT_EQ(with_hook_line("\n\r"), "\n\r\r\n" + kHook);
  EXPECT_EQ(with_hook_line("x\r\ny\r"), "x\r\ny\r\r\n" + kHook);
  EXPECT_EQ(with_hook_line("x\ny\r\n"), "x\ny\r\n" + kHook + "\r\n");
}

TEST(ExportLuaAppend, RemovingTheAppendedLineGivesBackEveryText) {
  const std::string texts[] = {
      "",
      "\n",
      "a = 1",
      "a = 1\n",
      "a = 1\r\n",
      "a\r\nb\nc",
      "a\r",
      "x\ny\r",
      "\n\r",
      "\r",
      "x\r\ny\r",
      "a\n\r\r",
      "\r\n\r\n",
      "\xEF\xBB\xBF",
      "\xEF\xBB\xBFlocal x = 1\r\n",
      "-- caf\xE9 \xFC\xDF\n-- \xA9 1999",
      "function LuaExportStart() end\n\n\n",
      "  \t ",
  };
  for (const std::string& text : texts) {
    const std::string installed = with_hook_line(text);
    auto counts = analyse(installed);
    ASSERT_TRUE(counts) << text;
    EXPECT_EQ(counts->ours, 1u) << text;
    EXPECT_EQ(edit(installed, 0), text);
    EXPECT_EQ(edit(installed, 1), installed);
  }
}

// What an install makes of a text, as the install engine computes it: the new text, "none" when
// the file stays as it is, or the refusal's text.
std::string installed(std::string_view text) {
  auto got = installed_text(text, *analyse(text));
  if (!got) return "refused: " + std::string(got.error().text());
  return got->value_or("none");
}

TEST(ExportLuaInstall, DecidesTheNewTextFromTheCounts) {
  EXPECT_EQ(install_change({0, 0}), InstallChange::AddLine);
  EXPECT_EQ(install_change({0, 2}), InstallChange::LeaveOwnLine);
  EXPECT_EQ(install_change({1, 0}), InstallChange::Unchanged);
  EXPECT_EQ(install_change({1, 3}), InstallChange::Unchanged);
  EXPECT_EQ(install_change({2, 1}), InstallChange::RemoveExtraCopies);
  EXPECT_EQ(installed("x\n"), "x\n" + kHook + "\n");
  EXPECT_EQ(installed(kHook + " -- mine\n"), "none");
  EXPECT_EQ(installed(kHook), "none");
  const std::string three = kHook + "\n" + kHook + "\n" + kHook + "\n";
  EXPECT_EQ(installed(three), kHook + "\n");
}

TEST(ExportLuaInstall, RefusesToAppendToATextThatEndsInsideALongCommentOrString) {
  const std::string refused =
      "refused: it ends inside a --[[ comment or [[ string that is never closed. Close it, then try again";
  struct InstallCase {
    std::string text;
    std::string expected;
  };
  const InstallCase cases[] = {
      // The appended line would be part of the comment or string: never run, never found again,
      // so every install would append one more.
      {"--[[ old tools\n", refused},
      {"x = 1\r\n--[==[\r\n]] ]=]\r\n", refused},
      {"s = [[\nabc", refused},
      {"s = [=[ ]] \n", refused},
      // A hook line before the open comment needs no new line, and extra copies before it go.
      {kHook + "\n--[[ old tools\n", "none"},
      {kHook + "\n" + kHook + "\n--[[ old tools\n" + kHook + "\n", kHook + "\n--[[ old tools\n" + kHook + "\n"},
      // After closed ones, and after openers that open nothing, the line is appended as ever.
      {"--[[ old tools\n]]", "--[[ old tools\n]]\n" + kHook},
      {"--[==[ a ]==]\n", "--[==[ a ]==]\n" + kHook + "\n"},
      {"-- [[ a line comment\n", "-- [[ a line comment\n" + kHook + "\n"},
      {"s = '[[' t = \"--[[\"\n", "s = '[[' t = \"--[[\"\n" + kHook + "\n"},
  };
  for (const InstallCase& c : cases) EXPECT_EQ(installed(c.text), c.expected) << c.text;
  // The same line appended anyway would not count, which is why it is refused.
  EXPECT_EQ(analyse(with_hook_line("--[[ old tools\n")), (ExportLuaCounts{0, 0}));
}

}  // namespace
}  // namespace export_lua
