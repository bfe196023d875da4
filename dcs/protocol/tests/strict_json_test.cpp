#include "dcs/protocol/src/strict_json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace protocol::strict_json {
namespace {

using namespace std::string_literals;

std::string nested(std::size_t depth, std::string_view inner = "") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

struct Case {
  std::string name;
  std::string text;
  bool json;    // parse() gives a value
  bool object;  // is_object() says yes
};

class StrictJsonTest : public ::testing::TestWithParam<Case> {};

TEST_P(StrictJsonTest, AcceptsExactlyOneValue) {
  const Case& c = GetParam();
  EXPECT_EQ(parse(c.text).has_value(), c.json);
  EXPECT_EQ(is_object(c.text), c.object);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrictJsonTest,
    ::testing::Values(
        Case{"EmptyObject", "{}", true, true},
        Case{"JsonWhitespaceAround", " \t\r\n{\"a\":[1,2.5,-3,true,null,\"x\"]}\n\r\t ", true, true},
        Case{"Array", "[1,2]", true, false}, Case{"Number", "5", true, false},
        Case{"String", "\"text\"", true, false},
        Case{"Empty", "", false, false}, Case{"OnlyBlanks", "  \n", false, false},
        Case{"TwoObjects", "{}{}", false, false}, Case{"TrailingComma", "{\"a\":1,}", false, false},
        Case{"TrailingJunk", "{} x", false, false},
        // What nlohmann-json would let through on its own.
        Case{"NulAfterObject", "{}\0junk"s, false, false},
        Case{"NulAtEnd", "{}\0"s, false, false},
        Case{"ByteOrderMark", "\xEF\xBB\xBF{}", false, false},
        // Blanks that JSON does not count as whitespace.
        Case{"FormFeed", "\f{}", false, false}, Case{"NoBreakSpace", "\xC2\xA0{}", false, false},
        Case{"Comment", "{} // note", false, false},
        // Numbers: a 64-bit float's range, nothing past it.
        Case{"HugeExponent", "[1e400]", false, false}, Case{"NegativeHuge", "[-1e309]", false, false},
        Case{"LargestFloat", "[1.7976931348623157e308]", true, false},
        Case{"TinyUnderflowsToZero", "[1e-400]", true, false},
        Case{"IntegerBeyondUint64", "[18446744073709551616]", true, false},
        Case{"LeadingZero", "[01]", false, false}, Case{"LeadingPlus", "[+1]", false, false},
        Case{"NaNWord", "[NaN]", false, false},
        // UTF-8 inside and outside strings.
        Case{"Utf8InString", "{\"k\":\"\xC3\xA9\"}", true, true},
        Case{"BadUtf8InString", "{\"k\":\"\xC3\x28\"}", false, false},
        Case{"OverlongInString", "{\"k\":\"\xC0\xAF\"}", false, false},
        Case{"SurrogateBytesInString", "{\"k\":\"\xED\xA0\x80\"}", false, false},
        Case{"LoneSurrogateEscape", "{\"k\":\"\\ud800\"}", false, false},
        Case{"PairedSurrogateEscape", "{\"k\":\"\\ud83d\\ude00\"}", true, true},
        Case{"EscapedNulIsText", "{\"k\":\"\\u0000\"}", true, true},
        Case{"RawControlInString", "{\"k\":\"a\tb\"}", false, false},
        // Nesting: 128 levels, not one more.
        Case{"Depth128", nested(128), true, false},
        Case{"Depth129", nested(129), false, false},
        Case{"ObjectAtDepth128", "{\"a\":" + nested(127, "1") + "}", true, true},
        Case{"ObjectAtDepth129", "{\"a\":" + nested(128, "1") + "}", false, false},
        Case{"VeryDeep", nested(100000), false, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(StrictJson, KeepsNumberKindsAndTheLastOfRepeatedKeys) {
  const auto value = parse(R"({"u":1,"n":-2,"f":2.5,"z":-0.0,"k":1,"k":"last"})");
  ASSERT_TRUE(value.has_value());
  EXPECT_TRUE(value->at("u").is_number_unsigned());
  EXPECT_TRUE(value->at("n").is_number_integer() && !value->at("n").is_number_unsigned());
  EXPECT_TRUE(value->at("f").is_number_float());
  EXPECT_TRUE(std::signbit(value->at("z").get<double>()));
  EXPECT_EQ(value->at("k"), "last");
  EXPECT_EQ(value->size(), 5u);
}

TEST(StrictJson, BuildsNestedValuesAndWalksKeysInByteOrder) {
  const auto value = parse(R"({"type":"x","b":[1,[2,{"c":[]}],{}],"a":{"d":null},"B":0,"\u00e9":1})");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->dump(), R"({"B":0,"a":{"d":null},"b":[1,[2,{"c":[]}],{}],"type":"x","é":1})");
}

TEST(StrictJson, RepeatedKeyReplacesAnOpenedContainer) {
  const auto value = parse(R"({"a":{"x":[1,2]},"a":[3],"b":1})");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->dump(), R"({"a":[3],"b":1})");
}

}  // namespace
}  // namespace protocol::strict_json
