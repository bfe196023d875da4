#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "dcs/protocol/src/page_message.hpp"
#include "dcs/protocol/src/strict_json.hpp"

namespace protocol {
namespace {

using namespace std::string_literals;
using page_message::collector_number;

struct NumberCase {
  double value;
  std::string text;
};

class CollectorNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(CollectorNumberTest, ShortestRoundTripWithoutExponent) {
  const std::string text = collector_number(GetParam().value);
  EXPECT_EQ(text, GetParam().text);
  EXPECT_EQ(std::strtod(text.c_str(), nullptr), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, CollectorNumberTest,
    ::testing::Values(
        NumberCase{0.0, "0"}, NumberCase{-0.0, "0"}, NumberCase{1.0, "1"}, NumberCase{0.5, "0.5"},
        NumberCase{0.1, "0.1"}, NumberCase{-2.5, "-2.5"}, NumberCase{600, "600"},
        NumberCase{0.30000000000000004, "0.30000000000000004"},
        NumberCase{1e21, "1000000000000000000000"}, NumberCase{1e22, "10000000000000000000000"},
        NumberCase{1e-7, "0.0000001"}, NumberCase{-1e-7, "-0.0000001"},
        NumberCase{123456789012345680000.0, "123456789012345680000"},
        NumberCase{9007199254740993.0, "9007199254740992"},  // 2^53 + 1 is not a double
        NumberCase{123.456, "123.456"}, NumberCase{-1234.5e-10, "-0.00000012345"},
        NumberCase{4294967295.0, "4294967295"}, NumberCase{1e15 + 0.5, "1000000000000000.5"},
        NumberCase{std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"},
        NumberCase{2.2250738585072014e-308, "0." + std::string(307, '0') + "22250738585072014"},
        NumberCase{std::numeric_limits<double>::max(),
                   "17976931348623157" + std::string(292, '0')}));

TEST(CollectorWrite, Lines) {
  EXPECT_EQ((CollectorWrite{Clickable{25, 3001, 1, 0.0}}).to_line(), "clickable 25:3001 1");
  EXPECT_EQ((CollectorWrite{Clickable{0, 4294967295u, -0.0, {}}}).to_line(),
            "clickable 0:4294967295 0");
  EXPECT_EQ((CollectorWrite{Clickable{7, 3000, 0.1, {}}}).to_line(), "clickable 7:3000 0.1");
  EXPECT_EQ((CollectorWrite{Highlight{2.5, "X"}}).to_line(), "highlight X 2.5");
  EXPECT_EQ((CollectorWrite{Highlight{600, "PNT_1"}}).to_line(), "highlight PNT_1 600");
}

// "highlight ", the element, a blank and "1": 12 bytes besides the element.
TEST(CollectorWrite, LineLimitIsEightThousandBytes) {
  const CollectorWrite fits{Highlight{1, std::string(7988, 'E')}};
  ASSERT_EQ(fits.to_line().size(), 8000u);
  EXPECT_EQ(page_message::check_write_line(fits), fits);

  const CollectorWrite over{Highlight{1, std::string(7989, 'E')}};
  const auto refused = page_message::check_write_line(over);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), WriteError{WriteError::LineTooLong{}});
  EXPECT_EQ(refused.error().fmt(), "write line is over the 8000 byte limit");
}

TEST(PageTexts, Hello) {
  EXPECT_EQ(page_message::hello_message(
                "0.5.0", DcsStatus{install::InstallStatus::installed, 8, false, true}),
            R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":"installed","installedCollectorVersion":8,"isCollectorQuiet":false,"isSimulatorRunning":true}})");
  EXPECT_EQ(page_message::hello_message(
                "0.5.0", DcsStatus{install::InstallStatus::wrongFolderSuspected, {}, true, false}),
            R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":"wrongFolderSuspected","installedCollectorVersion":null,"isCollectorQuiet":true,"isSimulatorRunning":false}})");
}

TEST(PageTexts, HelloEscapesTheVersionAsAJsonString) {
  const std::string hello = page_message::hello_message("1.0 \"beta\"\\", DcsStatus{});
  const auto parsed = strict_json::parse(hello);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->at("bridgeVersion"), "1.0 \"beta\"\\");
  EXPECT_EQ(parsed->at("dcs").at("installState"), "simulatorNotFound");
}

TEST(PageTexts, Tick) {
  EXPECT_EQ(page_message::tick_message(1234), R"({"type":"tick","ms":1234})");
  EXPECT_EQ(page_message::tick_message(std::numeric_limits<std::uint64_t>::max()),
            R"({"type":"tick","ms":18446744073709551615})");
}

TEST(CollectorPackets, OnlyUtf8TextHoldingOneObject) {
  for (const std::string& good : {"{}"s, " {\"a\":[1,{\"b\":null}]}\r\n"s, "{\"\xC3\xA9\":\"\xE2\x82\xAC\"}"s}) {
    EXPECT_TRUE(CollectorPacket::from_datagram(good).has_value()) << good;
  }
  for (const std::string& bad : {""s, "[1]"s, "5"s, "\"x\""s, "null"s, "{\"a\":\"\xFF\"}"s,
                                 "{}\xFF"s, "{}\0"s, "\xEF\xBB\xBF{}"s, "{} {}"s, "{\"a\":1"s}) {
    EXPECT_FALSE(CollectorPacket::from_datagram(bad).has_value()) << bad;
  }
}

TEST(CollectorPackets, WrappedByteForByte) {
  const std::string datagram = " {\"x\": 1.50, \"y\":\"\\u00e9\"}\n";
  const auto packet = CollectorPacket::from_datagram(datagram);
  ASSERT_TRUE(packet.has_value());
  const std::string data = page_message::data_message(*packet);
  EXPECT_EQ(data, "{\"type\":\"data\",\"sim\":\"dcs\",\"data\": {\"x\": 1.50, \"y\":\"\\u00e9\"}\n}");
  EXPECT_EQ(data.substr(0, 34), R"({"type":"data","sim":"dcs","data":)");
  EXPECT_TRUE(strict_json::is_object(data));
}

}  // namespace
}  // namespace protocol

namespace {

TEST(CollectorNumber, NonFiniteValuesAreNamedNotLaidOut) {
  // Write lines never hold them, but an error text built from a value made in code may.
  EXPECT_EQ(protocol::page_message::collector_number(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(protocol::page_message::collector_number(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(protocol::page_message::collector_number(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

}  // namespace
