#include <gmock/gmock.h>

#include "dcs/install/src/embedded.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace embedded {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using machine::Path;
using machine::testing::FakeMachine;
using Kind = FileState::Kind;

std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

TEST(EmbeddedHash, IsFnv1aWithoutTheCrsOfCrLf) {
  EXPECT_EQ(release_hash(""), 0xcbf29ce484222325u);
  EXPECT_EQ(release_hash("a"), 0xaf63dc4c8601ec8cu);
  EXPECT_EQ(release_hash("foobar"), 0x85944171f73967e8u);
  EXPECT_EQ(release_hash("a\r\nb\r\n"), release_hash("a\nb\n"));
  EXPECT_EQ(release_hash("\r\n"), release_hash("\n"));
  EXPECT_NE(release_hash("\r\r\n"), release_hash("\n"));  // only the CR right before the LF goes
  EXPECT_NE(release_hash("a\rb"), release_hash("ab"));
  EXPECT_NE(release_hash("a\r"), release_hash("a"));
  EXPECT_NE(release_hash("\n"), release_hash(""));
}

TEST(EmbeddedHash, EarlierReleasesAreListedForThreeFiles) {
  EXPECT_THAT(earlier_releases("Hooks\\TolvaroBandits.lua"), ElementsAre(0xe3e62f8c51f2195du, 0xe9cb43a35f77baf6u));
  EXPECT_THAT(earlier_releases("Tolvaro\\reticle\\reticle.lua"), ElementsAre(0xa03ec6d37c52e05bu, 0x3a5911517bf2c24cu));
  EXPECT_THAT(earlier_releases("Tolvaro\\collectorScript.lua"),
              ElementsAre(0xfb4e6faa772a5c81u, 0x6d595351d03fbe52u, 0x8131520eacbc1abau, 0xfe96d043fda0aee8u,
                          0xc7c72087aff6a3fu, 0xf610da881b2ac0u));
  EXPECT_THAT(earlier_releases("Tolvaro\\reticle\\reticle.dlg"), IsEmpty());
  EXPECT_THAT(earlier_releases("Tolvaro\\reticle\\prompt.dlg"), IsEmpty());
  EXPECT_THAT(earlier_releases("Tolvaro\\reticle\\reticle.png"), IsEmpty());
  // Looked up by the exact text.
  EXPECT_THAT(earlier_releases("hooks\\TolvaroBandits.lua"), IsEmpty());
  EXPECT_EQ(earlier_releases(COLLECTOR_FILE.relative_path).size(), 6u);
  EXPECT_EQ(earlier_releases(BANDIT_TOOL_FILE.relative_path).size(), 2u);
  EXPECT_EQ(earlier_releases(MAP_MARKER_FILES[0].relative_path).size(), 2u);
}

TEST(EmbeddedState, TellsCurrentEarlierAndEditedCopiesApart) {
  const std::string current = "line one\nline two\n";
  const std::string earlier = "line one of an older release\n";
  const std::uint64_t list[] = {0x1234, release_hash(earlier)};

  EXPECT_EQ(state_of(current, current, list).kind, Kind::Current);
  FileState old = state_of(earlier, current, list);
  EXPECT_EQ(old.kind, Kind::EarlierRelease);
  EXPECT_EQ(old.bytes, earlier);
  // An earlier release that an editor saved with CR LF is still that release.
  EXPECT_EQ(state_of(crlf(earlier), current, list).kind, Kind::EarlierRelease);
  // The current release with CR LF is no release at all.
  FileState converted = state_of(crlf(current), current, list);
  EXPECT_EQ(converted.kind, Kind::Edited);
  EXPECT_EQ(converted.bytes, crlf(current));
  EXPECT_EQ(state_of(earlier + "\r", current, list).kind, Kind::Edited);
  EXPECT_EQ(state_of("", current, list).kind, Kind::Edited);
  EXPECT_EQ(state_of(earlier, current, {}).kind, Kind::Edited);
}

TEST(EmbeddedState, ComparesTheInstalledCopyWithoutWriting) {
  FakeMachine fake;
  machine::Machine m = fake.machine();
  const Path path("C:\\DCS\\Scripts\\Tolvaro\\collectorScript.lua");
  EXPECT_EQ(compare_installed(*m.files, path, COLLECTOR_FILE).kind, Kind::Absent);
  fake.add_file(path, COLLECTOR_FILE.contents);
  EXPECT_EQ(compare_installed(*m.files, path, COLLECTOR_FILE).kind, Kind::Current);
  fake.add_file(path, crlf(COLLECTOR_FILE.contents));
  EXPECT_EQ(compare_installed(*m.files, path, COLLECTOR_FILE).kind, Kind::Edited);
  fake.add_file(path, "");
  EXPECT_EQ(compare_installed(*m.files, path, COLLECTOR_FILE).kind, Kind::Edited);

  // A file that exists but cannot be read is never taken for an absent one.
  fake.fail({machine::testing::Op::read, path.text(), machine::kErrorSharingViolation});
  FileState locked = compare_installed(*m.files, path, COLLECTOR_FILE);
  EXPECT_EQ(locked.kind, Kind::Unreadable);
  EXPECT_EQ(locked.error.code, machine::kErrorSharingViolation);
  EXPECT_THAT(locked.error.text, ::testing::HasSubstr("(os error 32)"));
  fake.clear_faults();

  const Path picture("C:\\DCS\\Scripts\\Tolvaro\\reticle\\reticle.png");
  fake.add_file(picture, std::string(MAP_MARKER_FILES[3].contents) + "x");
  EXPECT_EQ(compare_installed(*m.files, picture, MAP_MARKER_FILES[3]).kind, Kind::Edited);
  for (const machine::testing::Call& call : fake.calls())
    EXPECT_EQ(call.op, machine::testing::Op::read) << call.path;
}

TEST(EmbeddedVersion, ReadsTheFirstAssignmentOfANumber) {
  struct Case {
    std::string text;
    std::optional<std::uint32_t> version;
  };
  const Case cases[] = {
      {"local COLLECTOR_VERSION = 8 -- raised whenever a header key changes\n", 8},
      {"COLLECTOR_VERSION=12abc", 12},
      {"-- COLLECTOR_VERSION = 5\nlocal COLLECTOR_VERSION = 8\n", 5},
      {"if COLLECTOR_VERSION == 3 then\nCOLLECTOR_VERSION = 4\n", 4},
      {"COLLECTOR_VERSION = 007", 7},
      {"COLLECTOR_VERSION = 4294967295", 4294967295u},
      {"COLLECTOR_VERSION = 4294967296\nCOLLECTOR_VERSION = 9\n", 9},
      {"COLLECTOR_VERSION = 99999999999999999999999\n", std::nullopt},
      {"COLLECTOR_VERSION = x\nCOLLECTOR_VERSION =\n", std::nullopt},
      // Only the first COLLECTOR_VERSION of a line counts.
      {"x = COLLECTOR_VERSION; COLLECTOR_VERSION = 3\n", std::nullopt},
      {"COLLECTOR_VERSION\t=\xC2\xA0" "6\r\n", 6},  // tab and no-break space are white space
      {"\xFF COLLECTOR_VERSION = 2", 2},
      {"collector_version = 1", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(read_collector_version(c.text), c.version) << c.text;
}

TEST(EmbeddedFiles, AreTheSixFilesOfThisRelease) {
  EXPECT_EQ(collector_version(), 8u);
  EXPECT_EQ(read_collector_version(COLLECTOR_FILE.contents), 8u);
  EXPECT_EQ(COLLECTOR_FILE.relative_path, "Tolvaro\\collectorScript.lua");
  EXPECT_EQ(BANDIT_TOOL_FILE.relative_path, "Hooks\\TolvaroBandits.lua");
  EXPECT_EQ(MAP_MARKER_FILES[0].relative_path, "Tolvaro\\reticle\\reticle.lua");
  EXPECT_EQ(MAP_MARKER_FILES[1].relative_path, "Tolvaro\\reticle\\reticle.dlg");
  EXPECT_EQ(MAP_MARKER_FILES[2].relative_path, "Tolvaro\\reticle\\prompt.dlg");
  EXPECT_EQ(MAP_MARKER_FILES[3].relative_path, "Tolvaro\\reticle\\reticle.png");
  for (const EmbeddedFile* text : {&COLLECTOR_FILE, &BANDIT_TOOL_FILE, &MAP_MARKER_FILES[0], &MAP_MARKER_FILES[1],
                                   &MAP_MARKER_FILES[2]}) {
    EXPECT_GT(text->contents.size(), 1000u) << text->relative_path;
    EXPECT_EQ(text->contents.find('\r'), std::string_view::npos) << text->relative_path;
    EXPECT_EQ(text->contents.find('\0'), std::string_view::npos) << text->relative_path;
  }
  EXPECT_TRUE(MAP_MARKER_FILES[3].contents.starts_with("\x89PNG\r\n\x1A\n"));
}

}  // namespace
}  // namespace embedded
