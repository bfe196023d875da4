#include "dcs/protocol/src/page_message.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace protocol {
namespace {

using ::testing::ElementsAre;

std::string writes_message(const std::string& writes) {
  return R"({"type":"writes","sim":"dcs","writes":)" + writes + "}";
}

std::string subscribe_message(const std::string& keys) {
  return R"({"type":"subscribe","sim":"dcs","keys":)" + keys + "}";
}

std::string click(const std::string& device, const std::string& command, const std::string& more = "") {
  return R"({"channel":"clickable","device":")" + device + R"(","address":")" + command +
         R"(","value":1)" + more + "}";
}

std::string repeat(const std::string& element, std::size_t n) {
  std::string out = "[";
  for (std::size_t i = 0; i < n; ++i) out += (i ? "," : "") + element;
  return out + "]";
}

struct Refusal {
  std::string name;
  std::string text;
  std::string error;
};

class RefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, GivesTheTextOfTheFirstFailingCheck) {
  const auto parsed = PageMessage::parse(GetParam().text);
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error().fmt(), GetParam().error);
}

const std::string k100(100, 'x');
const std::string k100Clipped = std::string(80, 'x') + "...";

INSTANTIATE_TEST_SUITE_P(
    Messages, RefusalTest,
    ::testing::Values(
        Refusal{"Empty", "", "message is not JSON"},
        Refusal{"TwoObjects", R"({"type":"openRepair"}{"type":"openRepair"})", "message is not JSON"},
        Refusal{"Array", "[1,2]", "message is not a JSON object"},
        Refusal{"String", R"("openRepair")", "message is not a JSON object"},
        Refusal{"NoType", "{}", "message has no type string"},
        Refusal{"NumberType", R"({"type":5})", "message has no type string"},
        Refusal{"NullType", R"({"type":null,"x":1})", "message has no type string"},
        Refusal{"CapitalisedType", R"({"type":"Subscribe"})", "message has an unknown type Subscribe"},
        Refusal{"TickType", R"({"type":"tick"})", "message has an unknown type tick"},
        Refusal{"LongTypeIsClipped", R"({"type":")" + k100 + R"("})",
                "message has an unknown type " + k100Clipped},
        Refusal{"OpenRepairWithSim", R"({"type":"openRepair","sim":"dcs"})",
                "openRepair has an unknown field sim"},
        Refusal{"FieldsInByteOrder", R"({"type":"ticks","on":true,"b":1,"a":2})",
                "ticks has an unknown field a"},
        Refusal{"UpperCaseSortsFirst", R"({"type":"ticks","on":true,"b":1,"Z":2})",
                "ticks has an unknown field Z"},
        Refusal{"LongFieldIsClipped", R"({"type":"openRepair",")" + k100 + R"(":1})",
                "openRepair has an unknown field " + k100Clipped},
        Refusal{"UnknownBeforeMissing", R"({"type":"ticks","x":1})", "ticks has an unknown field x"},
        Refusal{"SubscribeWithoutSim", R"({"type":"subscribe","keys":[]})",
                "subscribe is missing its sim"},
        Refusal{"SubscribeWithNothing", R"({"type":"subscribe"})", "subscribe is missing its sim"},
        Refusal{"SubscribeWithoutKeys", R"({"type":"subscribe","sim":"dcs"})",
                "subscribe is missing its keys"},
        Refusal{"WritesWithoutWrites", R"({"type":"writes","sim":"dcs"})",
                "writes is missing its writes"},
        Refusal{"TicksWithoutOn", R"({"type":"ticks"})", "ticks is missing its on"},
        Refusal{"SimInCapitals", R"({"type":"subscribe","sim":"DCS","keys":[]})",
                R"(subscribe must have sim "dcs")"},
        Refusal{"SimNumber", R"({"type":"writes","sim":1,"writes":[]})", R"(writes must have sim "dcs")"},
        Refusal{"SimBeforeKeys", R"({"type":"subscribe","sim":"x","keys":5})",
                R"(subscribe must have sim "dcs")"},
        Refusal{"OnNumber", R"({"type":"ticks","on":1})", "ticks' on must be true or false"},
        Refusal{"OnString", R"({"type":"ticks","on":"true"})", "ticks' on must be true or false"},
        // Subscribe.
        Refusal{"KeysNotList", subscribe_message("\"arg:3001\""), "subscribe's keys must be a list"},
        Refusal{"KeyNotString", subscribe_message(R"(["arg:3001",7])"),
                "every subscribe key must be a string"},
        Refusal{"StringsCheckedBeforeGrammar", subscribe_message(R"(["Arg:1",7])"),
                "every subscribe key must be a string"},
        Refusal{"FirstBadKeyNamed", subscribe_message(R"(["arg:1","Arg:1","arg:"])"),
                "read key Arg:1 is not channel:[device:]address"},
        Refusal{"LongBadKeyIsClipped", subscribe_message(R"([")" + k100 + R"("])"),
                "read key " + k100Clipped + " is not channel:[device:]address"},
        // Writes.
        Refusal{"WritesNotList", writes_message("{}"), "writes must be a list"},
        Refusal{"ThirtyThreeWrites", writes_message(repeat("5", 33)),
                "33 writes in one message, over the limit of 32"},
        Refusal{"WriteNotObject", writes_message("[5]"), "write 0: not an object"},
        Refusal{"NoChannel", writes_message("[{}]"), "write 0: channel must be a string"},
        Refusal{"ChannelNumber", writes_message(R"([{"channel":1,"address":"x","value":1}])"),
                "write 0: channel must be a string"},
        Refusal{"NoAddress", writes_message(R"([{"channel":"clickable"}])"),
                "write 0: address must be a string"},
        Refusal{"NoValue", writes_message(R"([{"channel":"clickable","address":"3001"}])"),
                "write 0: value must be a number"},
        Refusal{"ValueString", writes_message(R"([{"channel":"highlight","address":"X","value":"1"}])"),
                "write 0: value must be a number"},
        Refusal{"ValueBoolean", writes_message(R"([{"channel":"highlight","address":"X","value":true}])"),
                "write 0: value must be a number"},
        Refusal{"ChannelCheckedAfterValue", writes_message(R"([{"channel":"blink","address":"X"}])"),
                "write 0: value must be a number"},
        Refusal{"UnsupportedChannel",
                writes_message("[" + click("1", "3001") + "," + click("1", "3002") +
                               R"(,{"channel":"blink","address":"X","value":1}])"),
                "write 2: channel blink is not supported by the collector"},
        Refusal{"LongChannelIsClipped",
                writes_message(R"([{"channel":")" + k100 + R"(","address":"X","value":1}])"),
                "write 0: channel " + k100Clipped + " is not supported by the collector"},
        Refusal{"NoDevice", writes_message(R"([{"channel":"clickable","address":"3001","value":1}])"),
                "write 0: device must be a string"},
        Refusal{"DeviceNumber",
                writes_message(R"([{"channel":"clickable","device":25,"address":"3001","value":1}])"),
                "write 0: device must be a string"},
        Refusal{"ReleaseValueString", writes_message("[" + click("01", "1", R"(,"releaseValue":"0")") + "]"),
                "write 0: releaseValue must be a number"},
        Refusal{"DeviceBeforeCommand", writes_message("[" + click("01", "x") + "]"),
                "write 0: device 01 is not a decimal id with no leading zero"},
        Refusal{"CommandNotDecimal", writes_message("[" + click("25", "3001.0") + "]"),
                "write 0: command 3001.0 is not a decimal id with no leading zero"},
        Refusal{"CommandTooLow", writes_message("[" + click("25", "12") + "]"),
                "write 0: command 12 is not at least 3000"},
        Refusal{"Command2999", writes_message("[" + click("25", "2999") + "]"),
                "write 0: command 2999 is not at least 3000"},
        Refusal{"EmptyElement", writes_message(R"([{"channel":"highlight","address":"","value":1}])"),
                "write 0: highlight : element must be one token of printable ASCII"},
        Refusal{"ElementWithBlank", writes_message(R"([{"channel":"highlight","address":"a b","value":1}])"),
                "write 0: highlight a b: element must be one token of printable ASCII"},
        Refusal{"ElementNotAscii",
                writes_message(R"([{"channel":"highlight","address":"\u00e9","value":1}])"),
                "write 0: highlight \xC3\xA9: element must be one token of printable ASCII"},
        Refusal{"ElementBeforeSeconds", writes_message(R"([{"channel":"highlight","address":"","value":0}])"),
                "write 0: highlight : element must be one token of printable ASCII"},
        Refusal{"SecondsZero", writes_message(R"([{"channel":"highlight","address":"X","value":0}])"),
                "write 0: highlight seconds 0 are not in (0, 600]"},
        Refusal{"SecondsNegativeZero", writes_message(R"([{"channel":"highlight","address":"X","value":-0.0}])"),
                "write 0: highlight seconds -0 are not in (0, 600]"},
        Refusal{"SecondsNegative", writes_message(R"([{"channel":"highlight","address":"X","value":-1}])"),
                "write 0: highlight seconds -1 are not in (0, 600]"},
        Refusal{"SecondsOver", writes_message(R"([{"channel":"highlight","address":"X","value":600.5}])"),
                "write 0: highlight seconds 600.5 are not in (0, 600]"},
        Refusal{"SecondsHuge", writes_message(R"([{"channel":"highlight","address":"X","value":1e21}])"),
                "write 0: highlight seconds 1000000000000000000000 are not in (0, 600]"},
        Refusal{"HighlightLineTooLong",
                writes_message(R"([{"channel":"highlight","address":")" + std::string(7989, 'E') +
                               R"(","value":1}])"),
                "write 0: write line is over the 8000 byte limit"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

// Read keys: each alone in a subscribe.
struct KeyCase {
  std::string key;
  bool valid;
};

class ReadKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(ReadKeyTest, FollowsTheKeyGrammar) {
  const std::string& key = GetParam().key;
  const auto parsed = PageMessage::parse(subscribe_message(nlohmann::json::array({key}).dump()));
  if (GetParam().valid) {
    ASSERT_TRUE(parsed.has_value()) << parsed.error().fmt();
    EXPECT_EQ(std::get<PageMessage::Subscribe>(parsed->kind).line.text, "read " + key);
  } else {
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().fmt(), "read key " + key + " is not channel:[device:]address");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ReadKeyTest,
    ::testing::Values(KeyCase{"arg:25:3001", true}, KeyCase{"arg:3001", true},
                      KeyCase{"a:007:x", true}, KeyCase{"arg:a%20b.c_d", true},
                      KeyCase{"loget:LoGetSelfData.Name", true}, KeyCase{"x:%25", true},
                      KeyCase{"Arg:1", false}, KeyCase{"arg:", false}, KeyCase{"arg::1", false},
                      KeyCase{"arg:1:", false}, KeyCase{"arg:1:2:3", false}, KeyCase{"arg:a-b", false},
                      KeyCase{"arg:a%2b", false}, KeyCase{"arg:a%2", false}, KeyCase{"arg:a%", false},
                      KeyCase{"arg:a b", false}, KeyCase{"arg", false}, KeyCase{":x", false},
                      KeyCase{"a1:x", false}, KeyCase{"arg:x1:y", false}, KeyCase{"arg:\xC3\xA9", false},
                      KeyCase{"arg:x\t", false}, KeyCase{"", false}));

TEST(ReadLine, EmptyKeysGiveTheDefaultLine) {
  const auto parsed = PageMessage::parse(subscribe_message("[]"));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(std::get<PageMessage::Subscribe>(parsed->kind).line.text, "read loget:LoGetSelfData.Name");
  EXPECT_EQ(std::get<PageMessage::Subscribe>(parsed->kind).line, ReadLine::default_line());
}

TEST(ReadLine, KeepsOrderAndRepeatsAndEscapes) {
  const auto line = page_message::read_line(nlohmann::json::array({"b:2", "a:1", "b:2", "c:x%20y"}));
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->text, "read b:2 a:1 b:2 c:x%20y");
}

// "read" and a blank take 5 bytes, so one key of 7995 bytes fills the line exactly.
TEST(ReadLine, EightThousandBytesPassAndOneMoreIsRefused) {
  const std::string fits = "a:" + std::string(7993, 'x');
  const auto line = page_message::read_line(nlohmann::json::array({fits}));
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->text.size(), 8000u);

  const auto over = page_message::read_line(nlohmann::json::array({fits + "x"}));
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().fmt(), "read line for 1 keys is over the 8000 byte limit");
}

TEST(ReadLine, OverTheLimitCountsEveryKeyOfTheMessage) {
  // "read" and two keys of 3997 bytes, each with its blank, make exactly 8000 bytes.
  const std::string fits = "a:" + std::string(3995, 'x');
  const auto exact = page_message::read_line(nlohmann::json::array({fits, fits}));
  ASSERT_TRUE(exact.has_value());
  EXPECT_EQ(exact->text, "read " + fits + " " + fits);
  EXPECT_EQ(exact->text.size(), 8000u);

  // One byte more in the second key goes over; the keys after it are not looked at, not even
  // their grammar, and the count is that of the whole message.
  const auto over = PageMessage::parse(
      subscribe_message(nlohmann::json::array({fits, fits + "x", "Bad", "a:1"}).dump()));
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().fmt(), "read line for 4 keys is over the 8000 byte limit");
  EXPECT_TRUE(std::holds_alternative<SubscribeError>(over.error().kind));

  // A bad key before the limit is reached is named instead.
  const auto bad = page_message::read_line(nlohmann::json::array({"Bad", fits, fits + "x"}));
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().fmt(), "read key Bad is not channel:[device:]address");
}

TEST(PageMessage, ParsesEveryKind) {
  const auto repair = PageMessage::parse(R"({"type":"openRepair"})");
  ASSERT_TRUE(repair.has_value());
  EXPECT_TRUE(std::holds_alternative<PageMessage::OpenRepair>(repair->kind));

  const auto ticks = PageMessage::parse(R"( {"on":false,"type":"ticks"} )");
  ASSERT_TRUE(ticks.has_value());
  EXPECT_EQ(std::get<PageMessage::Ticks>(ticks->kind).on, false);

  const auto subscribe = PageMessage::parse(subscribe_message(R"(["arg:25:3001"])"));
  ASSERT_TRUE(subscribe.has_value());
  EXPECT_EQ(std::get<PageMessage::Subscribe>(subscribe->kind).line.text, "read arg:25:3001");

  const auto writes = PageMessage::parse(writes_message("[]"));
  ASSERT_TRUE(writes.has_value());
  EXPECT_TRUE(std::get<PageMessage::Writes>(writes->kind).writes.empty());
}

TEST(PageMessage, ParsesWritesInOrderIgnoringExtraKeys) {
  const auto parsed = PageMessage::parse(writes_message(
      R"([{"channel":"clickable","device":"0","address":"3000","value":1.0,"releaseValue":-0.0,"x":[1]},)"
      R"({"channel":"highlight","address":"PNT_1","value":600,"device":"junk","releaseValue":"junk"},)"
      R"({"channel":"clickable","device":"4294967295","address":"4294967295","value":-2.5}])"));
  ASSERT_TRUE(parsed.has_value()) << parsed.error().fmt();
  const auto& writes = std::get<PageMessage::Writes>(parsed->kind).writes;
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0], (CollectorWrite{Clickable{0, 3000, 1.0, -0.0}}));
  EXPECT_EQ(writes[1], (CollectorWrite{Highlight{600, "PNT_1"}}));
  EXPECT_EQ(writes[2], (CollectorWrite{Clickable{4294967295u, 4294967295u, -2.5, std::nullopt}}));
}

TEST(PageMessage, ThirtyTwoWritesPass) {
  const auto parsed = PageMessage::parse(writes_message(repeat(click("1", "3001"), 32)));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(std::get<PageMessage::Writes>(parsed->kind).writes.size(), 32u);
}

TEST(PageMessage, ErrorsKeepTheirKinds) {
  // The relay picks its log line by kind, so the kinds matter as much as the texts.
  EXPECT_EQ(PageMessage::parse(writes_message("[" + click("25", "12") + "]")).error(),
            (PageMessageError{WritesError{WritesError::BadWrite{
                0, WriteItemError{WriteError{WriteError::CommandTooLow{12}}}}}}));
  EXPECT_EQ(PageMessage::parse(subscribe_message("[1]")).error(),
            (PageMessageError{SubscribeError{SubscribeError::KeyNotString{}}}));
  EXPECT_EQ(PageMessage::parse(R"({"type":"subscribe"})").error(),
            (PageMessageError{PageMessageError::MissingField{"subscribe", "sim"}}));
}

struct IdCase {
  std::string text;
  std::optional<std::uint32_t> id;
};

class DecimalIdTest : public ::testing::TestWithParam<IdCase> {};

TEST_P(DecimalIdTest, AcceptsPlainDecimalsThatFit) {
  const auto id = page_message::parse_decimal_id(GetParam().text, IdField::Device);
  if (GetParam().id) {
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(*id, *GetParam().id);
  } else {
    ASSERT_FALSE(id.has_value());
    EXPECT_EQ(id.error().fmt(), "device " + GetParam().text + " is not a decimal id with no leading zero");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ids, DecimalIdTest,
    ::testing::Values(IdCase{"0", 0}, IdCase{"7", 7}, IdCase{"3000", 3000},
                      IdCase{"4294967295", 4294967295u}, IdCase{"01", {}}, IdCase{"00", {}},
                      IdCase{"", {}}, IdCase{"+5", {}}, IdCase{"-1", {}}, IdCase{" 7", {}},
                      IdCase{"7 ", {}}, IdCase{"4294967296", {}}, IdCase{"99999999999", {}},
                      IdCase{"1e3", {}}, IdCase{"\xD9\xA3", {}}));

TEST(DecimalId, NamesTheCommandField) {
  EXPECT_EQ(page_message::parse_decimal_id("x", IdField::Command).error().fmt(),
            "command x is not a decimal id with no leading zero");
}

TEST(WriteError, NotFiniteTexts) {
  // JSON cannot carry such numbers, but the checks stand for writes made in code.
  EXPECT_EQ((WriteError{WriteError::NotFinite{false}}).fmt(), "value must be a finite number");
  EXPECT_EQ((WriteError{WriteError::NotFinite{true}}).fmt(), "releaseValue must be a finite number");
}

}  // namespace
}  // namespace protocol
