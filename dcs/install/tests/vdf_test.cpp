#include <gmock/gmock.h>

#include "dcs/install/src/vdf.hpp"

namespace machine {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kTwoLibraries = R"("libraryfolders"
{
	"0"
	{
		"path"		"C:\\Program Files (x86)\\Steam"
		"label"		""
		"apps"
		{
			"228980"		"412"
		}
	}
	"1"
	{
		"path"		"D:\\SteamLibrary"
		"apps"
		{
			"223750"		"123456789"
			"228980"		"412"
		}
	}
	"2"
	{
		"PATH"		"E:\\Games\\Steam"
		"Apps"
		{
			"223750"		"1"
		}
	}
}
)";

TEST(LibraryFolders, ListsTheLibrariesThatHoldDcsInFileOrder) {
  EXPECT_THAT(parse_library_folders(kTwoLibraries), ElementsAre("D:\\SteamLibrary", "E:\\Games\\Steam"));
}

TEST(LibraryFolders, TableOfLayouts) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> libraries;
  };
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"old layout: paths as text values", R"("LibraryFolders" { "TimeNextStatsReport" "1" "1" "D:\\SteamLibrary" })", {}},
      {"no 223750 among the apps", R"("libraryfolders" { "0" { "path" "D:\\L" "apps" { "2237500" "1" } } })", {}},
      {"apps is text", R"("libraryfolders" { "0" { "path" "D:\\L" "apps" "223750" } })", {}},
      {"path is a block", R"("libraryfolders" { "0" { "path" { } "apps" { "223750" "1" } } })", {}},
      {"libraryfolders is text", R"("libraryfolders" "x")", {}},
      {"first of two libraryfolders counts", R"("a" "b" "LIBRARYFOLDERS" { "0" { "path" "D:\\A" "apps" { "223750" "" } } } "libraryfolders" { "0" { "path" "D:\\B" "apps" { "223750" "" } } })", {"D:\\A"}},
      {"first path of a library counts", R"("libraryfolders" { "0" { "path" "D:\\A" "path" "D:\\B" "apps" { "223750" { } } } })", {"D:\\A"}},
      {"comments and escapes", "// written by Steam\n\"libraryfolders\" // trailing\n{ \"0\" { \"path\" \"D:\\\\Q\\\"uote\\n\\t\\x\" \"apps\" { \"223750\" \"1\" } } }// end", {"D:\\Q\"uote\n\tx"}},
      {"one byte order mark", bom + R"("libraryfolders" { "0" { "path" "D:\\L" "apps" { "223750" "1" } } })", {"D:\\L"}},
      {"two byte order marks", bom + bom + R"("libraryfolders" { })", {}},
      {"unicode white space between tokens", "\"libraryfolders\"\xE3\x80\x80{\xC2\xA0\"0\"{\"path\"\"D:\\\\L\"\"apps\"{\"223750\"\"1\"}}}", {"D:\\L"}},
      {"invalid UTF-8 becomes U+FFFD", "\"libraryfolders\" { \"0\" { \"path\" \"D:\\\\\xFF\" \"apps\" { \"223750\" \"1\" } } }", {"D:\\\xEF\xBF\xBD"}},
      {"unclosed brace", R"("libraryfolders" { "0" { "path" "D:\\L" "apps" { "223750" "1" } } )", {}},
      {"unclosed quote", R"("libraryfolders" { "0" { "path" "D:\\L)", {}},
      {"ends after a backslash", "\"libraryfolders\" { \"0\" \"\\", {}},
      {"stray character", R"("libraryfolders" { "0" { "path" "D:\\L" "apps" { "223750" "1" } } } x)", {}},
      {"single slash", R"("libraryfolders" / { })", {}},
      {"key missing its value", R"("libraryfolders" { "0" { "path" "D:\\L" "apps" { "223750" "1" } } } "dangling")", {}},
      {"brace where a key stands", R"("libraryfolders" { { } })", {}},
      {"closing brace at the top", R"("libraryfolders" { } })", {}},
      {"empty text", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_library_folders(c.text), c.libraries) << c.name;
}

std::string nested(int depth) {
  std::string text = "\"libraryfolders\" { \"0\" { \"path\" \"D:\\\\L\" \"apps\" { \"223750\" \"1\" } } ";
  // The libraryfolders block is at depth 1; a chain of blocks beside the library reaches `depth`.
  std::string deep = "\"deep\" ";
  for (int i = 2; i <= depth; ++i) deep += "{ \"k\" ";
  deep += "\"v\" ";
  for (int i = 2; i <= depth; ++i) deep += "} ";
  return text + deep + "}";
}

TEST(LibraryFolders, BlocksNestAtMostEightDeep) {
  EXPECT_THAT(parse_library_folders(nested(8)), ElementsAre("D:\\L"));
  EXPECT_THAT(parse_library_folders(nested(9)), IsEmpty());
  EXPECT_THAT(parse_library_folders(std::string(100000, '{')), IsEmpty());
}

TEST(LibraryFolders, AFileOfMoreThanOneMebibyteGivesNone) {
  std::string text = kTwoLibraries;
  std::string padded = text + "//" + std::string(1'048'576 - text.size() - 2, 'x');
  ASSERT_EQ(padded.size(), 1'048'576u);
  EXPECT_THAT(parse_library_folders(padded), ElementsAre("D:\\SteamLibrary", "E:\\Games\\Steam"));
  EXPECT_THAT(parse_library_folders(padded + "x"), IsEmpty());
  EXPECT_THAT(parse_library_folders(text + "//" + std::string(2 * 1'048'576, 'x')), IsEmpty());
  // Invalid bytes grow when they become U+FFFD: the decoded text counts.
  std::string grows = text + "//" + std::string(1'048'576 - text.size() - 3, 'x') + "\xFF";
  ASSERT_EQ(grows.size(), 1'048'576u);
  EXPECT_THAT(parse_library_folders(grows), IsEmpty());
}

}  // namespace
}  // namespace machine
