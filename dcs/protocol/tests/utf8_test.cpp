#include "dcs/protocol/src/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace protocol::utf8 {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

struct Case {
  std::string bytes;
  bool valid;
  std::string lossy;
};

class Utf8Test : public ::testing::TestWithParam<Case> {};

TEST_P(Utf8Test, ValidityAndLossyDecoding) {
  const Case& c = GetParam();
  EXPECT_EQ(is_valid(c.bytes), c.valid);
  EXPECT_EQ(decode_lossy(c.bytes), c.lossy);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Test,
    ::testing::Values(
        Case{"", true, ""}, Case{"plain {}", true, "plain {}"},
        Case{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        Case{"\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},  // U+10FFFF, the last one
        // A lone continuation byte and bytes that never start a character.
        Case{"a\x80z", false, "a" + kReplacement + "z"},
        Case{"\xFF\xFE", false, kReplacement + kReplacement},
        // Overlong forms, surrogates and values past U+10FFFF: each bad byte is replaced on its
        // own, since none of them can start or continue a well-formed sequence.
        Case{"\xC0\x80", false, kReplacement + kReplacement},
        Case{"\xE0\x80\x80", false, kReplacement + kReplacement + kReplacement},
        Case{"\xED\xA0\x80", false, kReplacement + kReplacement + kReplacement},
        Case{"\xF4\x90\x80\x80", false, kReplacement + kReplacement + kReplacement + kReplacement},
        // A cut-off sequence is one maximal part, replaced once.
        Case{"x\xE2\x82", false, "x" + kReplacement},
        Case{"\xF0\x9F\x98z", false, kReplacement + "z"},
        Case{"\xE2\x82\xE2\x82\xAC", false, kReplacement + "\xE2\x82\xAC"}));

}  // namespace
}  // namespace protocol::utf8
