#include "dcs/protocol/src/shuttle.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace protocol {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

// One action as a short line, so that a scenario reads as the list of what the link would do.
std::string show(const ShuttleAction& a) {
  return std::visit(
      Overloaded{
          [](const action::SendToCollector& x) { return "collector " + x.bytes; },
          [](const action::SendToPage& x) { return "page " + std::to_string(x.page) + " " + *x.text; },
          [](const action::SendHello& x) {
            return "hello " + std::to_string(x.page) + (x.collector_quiet ? " quiet" : " heard");
          },
          [](const action::SendLatest& x) {
            return "latest " + std::to_string(x.page) + " " + *x.text;
          },
          [](const action::OpenRepair&) -> std::string { return "open repair"; },
          [](const action::ClosePage& x) { return "close " + std::to_string(x.page); },
          [](const action::Log& x) { return (x.warn ? "warn " : "info ") + x.text; },
      },
      a);
}

std::vector<std::string> show(const ShuttleActions& actions) {
  std::vector<std::string> out;
  for (const ShuttleAction& a : actions) out.push_back(show(a));
  return out;
}

const std::string kPoll = "collector read loget:LoGetSelfData.Name";
const std::string kData = R"({"type":"data","sim":"dcs","data":{}})";

std::string tick(std::uint64_t ms) { return R"({"type":"tick","ms":)" + std::to_string(ms) + "}"; }

std::string writes(const std::vector<std::string>& list) {
  std::string out = R"({"type":"writes","sim":"dcs","writes":[)";
  for (std::size_t i = 0; i < list.size(); ++i) out += (i ? "," : "") + list[i];
  return out + "]}";
}

std::string press(std::uint32_t device, std::uint32_t command, const std::string& value,
                  const std::string& release = "") {
  std::string out = R"({"channel":"clickable","device":")" + std::to_string(device) +
                    R"(","address":")" + std::to_string(command) + R"(","value":)" + value;
  if (!release.empty()) out += R"(,"releaseValue":)" + release;
  return out + "}";
}

std::string highlight() { return R"({"channel":"highlight","address":"X","value":1})"; }

std::vector<std::string> highlights(std::size_t n) { return std::vector<std::string>(n, highlight()); }

std::string subscribe(const std::string& keys) {
  return R"({"type":"subscribe","sim":"dcs","keys":)" + keys + "}";
}

std::string ticks(bool on) { return std::string(R"({"type":"ticks","on":)") + (on ? "true" : "false") + "}"; }

const std::string kOpenRepair = R"({"type":"openRepair"})";

// The core with a fake clock: every call names its instant as the time since the core started.
class Shuttle : public ::testing::Test {
 protected:
  static constexpr base::Instant kStart = base::Instant{} + 1000s;

  static base::Instant at(base::Duration since_start) { return kStart + since_start; }

  std::vector<std::string> feed(base::Duration t, const ShuttleEvent& event) {
    return show(core.handle(event, at(t)));
  }
  std::vector<std::string> opened(base::Duration t, PageId id) { return feed(t, event::PageOpened{id}); }
  std::vector<std::string> text(base::Duration t, PageId id, const std::string& message) {
    return feed(t, event::PageText{id, message});
  }
  std::vector<std::string> closed(base::Duration t, PageId id) { return feed(t, event::PageClosed{id}); }
  std::vector<std::string> datagram(base::Duration t, const std::string& bytes) {
    return feed(t, event::CollectorDatagram{bytes});
  }
  std::vector<std::string> timer(base::Duration t) { return feed(t, event::Timer{}); }

  // A timer step with the poll's read line left out, for scenarios about something else.
  std::vector<std::string> timer_without_poll(base::Duration t) {
    std::vector<std::string> out = timer(t);
    if (!out.empty() && out.front().starts_with("collector read ")) out.erase(out.begin());
    return out;
  }

  // What the link does while idle: a Timer at every deadline up to and including `until`.
  std::vector<std::pair<base::Duration, std::string>> run_until(base::Duration until) {
    std::vector<std::pair<base::Duration, std::string>> out;
    while (core.next_deadline() <= at(until)) {
      const base::Duration t = core.next_deadline() - kStart;
      for (std::string& line : timer(t)) out.emplace_back(t, std::move(line));
    }
    return out;
  }

  ShuttleCore core{kStart};
};

TEST_F(Shuttle, FirstTimerPollsTheDefaultLineAndHellosSayQuiet) {
  EXPECT_TRUE(core.collector_quiet());
  EXPECT_EQ(core.next_deadline(), at(0ms));
  EXPECT_THAT(opened(0ms, 1), ElementsAre("hello 1 quiet"));
  EXPECT_THAT(timer(0ms), ElementsAre(kPoll));
  EXPECT_EQ(core.next_deadline(), at(200ms));
  EXPECT_THAT(feed(10ms, event::StatusChanged{}), ElementsAre("hello 1 quiet"));
}

TEST_F(Shuttle, PollsEveryTwoHundredMillisecondsWithoutMakingUpMissedOnes) {
  using P = std::pair<base::Duration, std::string>;
  EXPECT_THAT(run_until(600ms), ElementsAre(P{0ms, kPoll}, P{200ms, kPoll}, P{400ms, kPoll},
                                            P{600ms, kPoll}));
  EXPECT_THAT(timer(799ms), IsEmpty());
  // A late step polls once and the cadence starts again from it.
  EXPECT_THAT(timer(1350ms), ElementsAre(kPoll));
  EXPECT_EQ(core.next_deadline(), at(1550ms));
  // A step that is on time keeps the cadence: 1550 + 200.
  EXPECT_THAT(timer(1550ms), ElementsAre(kPoll));
  EXPECT_EQ(core.next_deadline(), at(1750ms));
}

TEST_F(Shuttle, LastSubscriberWinsAndTheDefaultLineReturnsWhenAllPagesAreGone) {
  opened(0ms, 1);
  opened(0ms, 2);
  EXPECT_THAT(text(1ms, 1, subscribe(R"(["a:1","a:2"])")), ElementsAre("info page 1 subscribed to 2 keys"));
  EXPECT_THAT(text(2ms, 2, subscribe(R"(["b:1"])")), ElementsAre("info page 2 subscribed to 1 keys"));
  // The same line again changes nothing and logs nothing.
  EXPECT_THAT(text(3ms, 1, subscribe(R"(["b:1"])")), IsEmpty());
  EXPECT_THAT(timer(10ms), ElementsAre("collector read b:1"));

  // Both pages get the data, whatever they subscribed to.
  EXPECT_THAT(datagram(20ms, "{}"), ElementsAre("page 1 " + kData, "page 2 " + kData,
                                                "info collector packets are arriving",
                                                "hello 1 heard", "hello 2 heard"));

  EXPECT_THAT(closed(30ms, 2), IsEmpty());
  EXPECT_THAT(timer(210ms), ElementsAre("collector read b:1"));
  EXPECT_THAT(closed(220ms, 1), IsEmpty());
  EXPECT_THAT(timer(410ms), ElementsAre(kPoll));
}

TEST_F(Shuttle, EmptySubscribeGoesBackToTheDefaultLine) {
  opened(0ms, 1);
  EXPECT_THAT(text(0ms, 1, subscribe("[]")), IsEmpty());  // already the current line
  text(0ms, 1, subscribe(R"(["a:1"])"));
  EXPECT_THAT(text(0ms, 1, subscribe("[]")), ElementsAre("info page 1 subscribed to 1 keys"));
  EXPECT_EQ(core.read_line(), ReadLine::default_line());
}

TEST_F(Shuttle, TakesTwoDatagramsAPoll) {
  opened(0ms, 1);
  timer(0ms);
  EXPECT_TRUE(core.takes_datagrams());
  EXPECT_THAT(datagram(1ms, "{}"), ElementsAre("page 1 " + kData, "info collector packets are arriving",
                                               "hello 1 heard"));
  EXPECT_EQ(core.datagrams_this_poll(), 1u);
  EXPECT_THAT(datagram(2ms, "{}"), ElementsAre("page 1 " + kData));
  EXPECT_EQ(core.datagrams_this_poll(), 2u);
  EXPECT_FALSE(core.takes_datagrams());
  EXPECT_THAT(datagram(3ms, "{}"), ElementsAre("warn dropping a collector datagram past 2 a poll"));

  // The next poll opens two more; a datagram that is not a packet uses up one of them.
  EXPECT_THAT(timer(200ms), ElementsAre(kPoll));
  EXPECT_EQ(core.datagrams_this_poll(), 0u);
  EXPECT_THAT(datagram(201ms, "[1]"),
              ElementsAre("warn dropping a collector datagram that is not a packet: [1]"));
  EXPECT_THAT(datagram(202ms, "{}"), ElementsAre("page 1 " + kData));
  EXPECT_THAT(datagram(203ms, "{}"), ElementsAre("warn dropping a collector datagram past 2 a poll"));
}

TEST_F(Shuttle, OneDataTextIsSharedByAllPages) {
  opened(0ms, 1);
  opened(0ms, 2);
  opened(0ms, 3);
  const ShuttleActions actions = core.handle(event::CollectorDatagram{"{}"}, at(1ms));
  ASSERT_GE(actions.size(), 3u);
  const auto& first = std::get<action::SendToPage>(actions[0]);
  EXPECT_EQ(std::get<action::SendToPage>(actions[1]).text, first.text);
  EXPECT_EQ(std::get<action::SendToPage>(actions[2]).text, first.text);
}

TEST_F(Shuttle, NotAPacketIsLoggedClippedAndLossilyDecoded) {
  EXPECT_THAT(datagram(0ms, "\xFF{\"a\":1}"),
              ElementsAre("warn dropping a collector datagram that is not a packet: \xEF\xBF\xBD{\"a\":1}"));
  timer(0ms);
  EXPECT_THAT(datagram(1ms, std::string(100, 'z')),
              ElementsAre("warn dropping a collector datagram that is not a packet: " +
                          std::string(80, 'z') + "..."));
  // Neither counts as a packet: the collector is still quiet.
  EXPECT_TRUE(core.collector_quiet());
}

TEST_F(Shuttle, CollectorWarningsShareOneQuotaForTheWholeRun) {
  std::vector<std::string> warnings;
  for (int poll = 0; poll < 5; ++poll) {
    const base::Duration t = poll * 200ms;
    timer(t);
    for (const char* bytes : {"x", "x", "{}"})
      for (std::string& line : datagram(t + 1ms, bytes))
        if (line.starts_with("warn ")) warnings.push_back(line);
  }
  const std::string not_packet = "warn dropping a collector datagram that is not a packet: x";
  const std::string past = "warn dropping a collector datagram past 2 a poll";
  EXPECT_THAT(warnings, ElementsAre(not_packet, not_packet, past, not_packet, not_packet, past,
                                    not_packet, not_packet, past,
                                    not_packet + " (further ones are not logged)"));
}

TEST_F(Shuttle, FallsQuietOneSecondAfterTheLastPacket) {
  opened(0ms, 1);
  opened(0ms, 2);
  timer(0ms);
  datagram(50ms, "{}");
  EXPECT_FALSE(core.collector_quiet());
  timer(200ms);
  timer(400ms);
  timer(600ms);
  timer(800ms);
  // A datagram that is not a packet does not count as being heard.
  datagram(900ms, "nope");
  EXPECT_EQ(core.next_deadline(), at(1000ms));
  timer(1000ms);
  EXPECT_EQ(core.next_deadline(), at(1050ms));
  EXPECT_THAT(timer(1049ms), IsEmpty());
  EXPECT_THAT(timer(1050ms), ElementsAre("info collector is quiet: no packet for 1 second",
                                         "hello 1 quiet", "hello 2 quiet"));
  EXPECT_TRUE(core.collector_quiet());
  EXPECT_THAT(timer(1100ms), IsEmpty());
  EXPECT_THAT(datagram(1500ms, "{}"), ElementsAre("page 1 " + kData, "page 2 " + kData,
                                                  "info collector packets are arriving",
                                                  "hello 1 heard", "hello 2 heard"));
  EXPECT_FALSE(core.collector_quiet());
}

TEST_F(Shuttle, HeldPressIsReleasedAfterTwoSeconds) {
  opened(0ms, 1);
  timer(0ms);
  EXPECT_THAT(text(100ms, 1, writes({press(25, 3001, "1", "0")})), ElementsAre("collector clickable 25:3001 1"));
  EXPECT_EQ(core.next_deadline(), at(200ms));
  timer_without_poll(2000ms);
  EXPECT_EQ(core.next_deadline(), at(2100ms));
  EXPECT_THAT(timer_without_poll(2099ms), IsEmpty());
  EXPECT_THAT(timer_without_poll(2100ms),
              ElementsAre("collector clickable 25:3001 0", "info released 1 held presses for page 1: the press expired"));
  EXPECT_THAT(timer_without_poll(4200ms), IsEmpty());
}

TEST_F(Shuttle, PressWithoutReleaseValueAndHighlightsAreNotHeld) {
  opened(0ms, 1);
  EXPECT_THAT(text(0ms, 1, writes({press(25, 3001, "1"), highlight()})),
              ElementsAre("collector clickable 25:3001 1", "collector highlight X 1"));
  EXPECT_THAT(closed(1ms, 1), IsEmpty());
}

TEST_F(Shuttle, PressOnAHeldKeyReplacesItAndRestartsItsTime) {
  opened(0ms, 1);
  text(0ms, 1, writes({press(25, 3001, "1", "0")}));
  EXPECT_THAT(text(1500ms, 1, writes({press(25, 3001, "0.5", "-1")})),
              ElementsAre("collector clickable 25:3001 0.5"));
  EXPECT_THAT(timer_without_poll(2000ms), IsEmpty());
  EXPECT_THAT(timer_without_poll(3500ms),
              ElementsAre("collector clickable 25:3001 -1", "info released 1 held presses for page 1: the press expired"));
}

TEST_F(Shuttle, ClosedPageReleasesItsPressesInDeviceThenCommandOrder) {
  opened(0ms, 1);
  opened(0ms, 2);
  text(0ms, 1, writes({press(2, 3001, "1", "0"), press(1, 3002, "1", "0"), press(1, 3001, "1", "0")}));
  text(0ms, 2, writes({press(9, 3009, "1", "0")}));
  EXPECT_THAT(closed(500ms, 1), ElementsAre("collector clickable 1:3001 0", "collector clickable 1:3002 0",
                                            "collector clickable 2:3001 0",
                                            "info released 3 held presses for page 1: it closed"));
  // Page 2's press is untouched and expires on its own.
  EXPECT_THAT(timer_without_poll(2000ms),
              ElementsAre("collector clickable 9:3009 0", "info released 1 held presses for page 2: the press expired"));
}

TEST_F(Shuttle, StopReleasesEveryPagesPressesAndKeepsThePages) {
  opened(0ms, 1);
  opened(0ms, 2);
  opened(0ms, 3);
  text(0ms, 2, writes({press(5, 3005, "1", "0")}));
  text(0ms, 1, writes({press(4, 3004, "1", "2"), press(3, 3003, "1", "0")}));
  EXPECT_THAT(feed(100ms, event::Stop{}),
              ElementsAre("collector clickable 3:3003 0", "collector clickable 4:3004 2",
                          "info released 2 held presses for page 1: the bridge is stopping",
                          "collector clickable 5:3005 0",
                          "info released 1 held presses for page 2: the bridge is stopping"));
  EXPECT_THAT(feed(101ms, event::Stop{}), IsEmpty());
  EXPECT_THAT(feed(102ms, event::StatusChanged{}), ElementsAre("hello 1 quiet", "hello 2 quiet", "hello 3 quiet"));
}

TEST_F(Shuttle, ThirtyThirdHeldPressIsSentAndClosesThePage) {
  opened(0ms, 1);
  std::vector<std::string> first;
  for (std::uint32_t i = 0; i < 32; ++i) first.push_back(press(1, 3000 + i, "1", "0"));
  EXPECT_EQ(text(0ms, 1, writes(first)).size(), 32u);

  EXPECT_THAT(text(10ms, 1, writes({press(1, 3000, "1", "0"), press(2, 3000, "1", "0"), press(3, 3000, "1", "0")})),
              ElementsAre("collector clickable 1:3000 1", "collector clickable 2:3000 1",
                          "warn closing page 1: more than 32 presses held", "close 1"));

  // A closing page's messages are ignored without a word, and its read line stays.
  EXPECT_THAT(text(20ms, 1, subscribe(R"(["a:1"])")), IsEmpty());
  EXPECT_THAT(text(20ms, 1, "junk"), IsEmpty());
  EXPECT_EQ(core.read_line(), ReadLine::default_line());

  // It still counts as a page: data and hellos reach it until it is gone.
  EXPECT_THAT(datagram(30ms, "{}"),
              ElementsAre("page 1 " + kData, "info collector packets are arriving", "hello 1 heard"));

  // The press over the limit stays held and is released with the others.
  const std::vector<std::string> released = closed(40ms, 1);
  ASSERT_EQ(released.size(), 34u);
  EXPECT_EQ(released[0], "collector clickable 1:3000 0");
  EXPECT_EQ(released[32], "collector clickable 2:3000 0");
  EXPECT_EQ(released[33], "info released 33 held presses for page 1: it closed");
}

TEST_F(Shuttle, MoreThanSixtyWritesASecondCloseThePage) {
  opened(0ms, 1);
  // 29 tokens are left, and 10 ms add only 0.6 of one.
  EXPECT_EQ(text(0ms, 1, writes(highlights(31))).size(), 31u);
  EXPECT_THAT(text(10ms, 1, writes(highlights(31))),
              ElementsAre("warn closing page 1: more than 60 writes a second", "close 1"));
  EXPECT_THAT(text(5000ms, 1, writes(highlights(1))), IsEmpty());

  // Sixty in one second pass, and again after a second's rest, but not one more.
  opened(6000ms, 2);
  EXPECT_EQ(text(6000ms, 2, writes(highlights(30))).size(), 30u);
  EXPECT_EQ(text(6000ms, 2, writes(highlights(30))).size(), 30u);
  EXPECT_EQ(text(7000ms, 2, writes(highlights(30))).size(), 30u);
  EXPECT_EQ(text(7000ms, 2, writes(highlights(30))).size(), 30u);
  EXPECT_THAT(text(7000ms, 2, writes(highlights(1))),
              ElementsAre("warn closing page 2: more than 60 writes a second", "close 2"));
}

TEST_F(Shuttle, RefusedWritesSendNothingAndCostNothing) {
  opened(0ms, 1);
  EXPECT_THAT(text(0ms, 1, writes(highlights(33))),
              ElementsAre("warn refusing page 1's writes, sending none of them: "
                          "33 writes in one message, over the limit of 32"));
  EXPECT_THAT(text(0ms, 1, writes({highlight(), press(25, 12, "1")})),
              ElementsAre("warn refusing page 1's writes, sending none of them: "
                          "write 1: command 12 is not at least 3000"));
  EXPECT_THAT(text(0ms, 1, writes({})), IsEmpty());
  // The bucket is still full.
  EXPECT_EQ(text(0ms, 1, writes(highlights(30))).size(), 30u);
  EXPECT_EQ(text(0ms, 1, writes(highlights(30))).size(), 30u);
}

TEST_F(Shuttle, RefusalTextsByKind) {
  opened(0ms, 1);
  EXPECT_THAT(text(0ms, 1, subscribe(R"(["Bad"])")),
              ElementsAre("warn refusing page 1's subscribe, keeping the previous one: "
                          "read key Bad is not channel:[device:]address"));
  EXPECT_THAT(text(0ms, 1, "{}"), ElementsAre("warn ignoring a message from page 1: message has no type string"));
  EXPECT_THAT(text(0ms, 1, ticks(true) + "x"), ElementsAre("warn ignoring a message from page 1: message is not JSON"));
  EXPECT_EQ(core.read_line(), ReadLine::default_line());
}

TEST_F(Shuttle, EachPageHasTenQuotaLimitedLinesForItsLife) {
  opened(0ms, 1);
  opened(0ms, 2);
  std::vector<std::string> lines;
  for (int i = 0; i < 8; ++i)
    for (std::string& line : text(0ms, 1, "{}")) lines.push_back(line);
  // The repair and ticks warnings draw on the same quota.
  for (std::string& line : text(0ms, 1, kOpenRepair)) lines.push_back(line);
  for (std::string& line : text(1s, 1, kOpenRepair)) lines.push_back(line);
  for (std::string& line : text(2s, 1, kOpenRepair)) lines.push_back(line);
  for (std::string& line : text(3s, 1, "{}")) lines.push_back(line);
  const std::string no_type = "warn ignoring a message from page 1: message has no type string";
  EXPECT_THAT(lines, ElementsAre(no_type, no_type, no_type, no_type, no_type, no_type, no_type, no_type,
                                 "info page 1 asked for the repair window", "open repair",
                                 "warn ignoring page 1's openRepair: one every 5 seconds",
                                 "warn ignoring page 1's openRepair: one every 5 seconds"
                                 " (further ones are not logged)"));
  // Page 2 has its own quota.
  EXPECT_THAT(text(4s, 2, "{}"), ElementsAre("warn ignoring a message from page 2: message has no type string"));
}

TEST_F(Shuttle, MessagesFromPagesThatAreNotOpenAreAlwaysLogged) {
  for (int i = 0; i < 12; ++i)
    EXPECT_THAT(text(0ms, 7, kOpenRepair), ElementsAre("warn ignoring a message from page 7, which is not open"));
  opened(0ms, 7);
  closed(0ms, 7);
  EXPECT_THAT(text(0ms, 7, kOpenRepair), ElementsAre("warn ignoring a message from page 7, which is not open"));
}

TEST_F(Shuttle, OneRepairRequestEveryFiveSecondsForAllPages) {
  opened(0ms, 1);
  opened(0ms, 2);
  EXPECT_THAT(text(1000ms, 1, kOpenRepair), ElementsAre("info page 1 asked for the repair window", "open repair"));
  EXPECT_THAT(text(5900ms, 2, kOpenRepair),
              ElementsAre("warn ignoring page 2's openRepair: one every 5 seconds"));
  EXPECT_THAT(text(6000ms, 2, kOpenRepair), ElementsAre("info page 2 asked for the repair window", "open repair"));
  // A refused request does not move the five seconds on.
  EXPECT_THAT(text(10999ms, 1, kOpenRepair), ElementsAre("warn ignoring page 1's openRepair: one every 5 seconds"));
  EXPECT_THAT(text(11000ms, 1, kOpenRepair), ElementsAre("info page 1 asked for the repair window", "open repair"));
}

TEST_F(Shuttle, TicksRunWhileTheCollectorIsHeard) {
  opened(0ms, 1);
  opened(0ms, 2);
  timer(0ms);
  EXPECT_THAT(text(10ms, 1, ticks(true)), IsEmpty());
  // Quiet: no ticks even though a page has them on.
  EXPECT_FALSE(core.ticks_running());
  EXPECT_THAT(timer(20ms), IsEmpty());

  datagram(95ms, "{}");
  EXPECT_TRUE(core.ticks_running());
  EXPECT_EQ(core.next_deadline(), at(10ms));  // stale: the first tick goes at the next step
  EXPECT_THAT(timer(95ms), ElementsAre("latest 1 " + tick(95)));
  EXPECT_EQ(core.next_deadline(), at(105ms));
  EXPECT_THAT(timer(105ms), ElementsAre("latest 1 " + tick(105)));
  // A late step sends one tick with the real time and does not repeat the missed ones.
  EXPECT_THAT(timer_without_poll(200ms), ElementsAre("latest 1 " + tick(200)));
  EXPECT_EQ(core.next_deadline(), at(210ms));
  EXPECT_THAT(timer(205ms), IsEmpty());

  // A second page turning ticks on joins the running schedule.
  EXPECT_THAT(text(207ms, 2, ticks(true)), IsEmpty());
  EXPECT_EQ(core.next_deadline(), at(210ms));
  EXPECT_THAT(timer(210ms), ElementsAre("latest 1 " + tick(210), "latest 2 " + tick(210)));

  // Quiet again: the ticks stop.
  for (const auto& [t, line] : run_until(1094ms)) EXPECT_TRUE(line.starts_with("latest ") || line == kPoll);
  EXPECT_EQ(core.next_deadline(), at(1095ms));
  EXPECT_THAT(timer(1095ms), ElementsAre("info collector is quiet: no packet for 1 second",
                                         "hello 1 quiet", "hello 2 quiet"));
  EXPECT_FALSE(core.ticks_running());
  EXPECT_THAT(timer(1100ms), IsEmpty());
}

TEST_F(Shuttle, FirstPageTurningTicksOnGetsATickAtTheNextStep) {
  opened(0ms, 1);
  timer(0ms);
  datagram(1ms, "{}");
  EXPECT_THAT(timer(1ms), IsEmpty());
  EXPECT_THAT(text(157ms, 1, ticks(true)), IsEmpty());
  EXPECT_EQ(core.next_deadline(), at(157ms));
  EXPECT_THAT(timer(157ms), ElementsAre("latest 1 " + tick(157)));
  EXPECT_EQ(core.next_deadline(), at(167ms));
}

TEST_F(Shuttle, EleventhTicksSwitchInASecondIsDelayed) {
  opened(0ms, 1);
  timer(0ms);
  datagram(0ms, "{}");
  for (int i = 0; i < 10; ++i) EXPECT_THAT(text(10ms, 1, ticks(i % 2 == 0)), IsEmpty()) << i;
  // Ten switches leave ticks off; the eleventh turns them on, late.
  EXPECT_THAT(text(10ms, 1, ticks(true)),
              ElementsAre("warn delaying page 1's ticks switch: more than 10 a second"));
  EXPECT_EQ(core.next_deadline(), at(110ms));
  EXPECT_FALSE(core.ticks_running());
  EXPECT_THAT(timer(109ms), IsEmpty());
  EXPECT_THAT(timer(110ms), ElementsAre("latest 1 " + tick(110)));
  EXPECT_TRUE(core.ticks_running());
}

TEST_F(Shuttle, ALaterRefusedSwitchReplacesThePendingOne) {
  opened(0ms, 1);
  timer(0ms);
  datagram(0ms, "{}");
  for (int i = 0; i < 10; ++i) text(0ms, 1, ticks(i % 2 == 0));
  text(0ms, 1, ticks(true));
  EXPECT_EQ(core.next_deadline(), at(100ms));
  // At 60 ms the bucket holds 0.6 of a token: refused again, now due at 160 ms.
  EXPECT_THAT(text(60ms, 1, ticks(true)),
              ElementsAre("warn delaying page 1's ticks switch: more than 10 a second"));
  EXPECT_EQ(core.next_deadline(), at(160ms));
  EXPECT_THAT(timer(100ms), IsEmpty());
  EXPECT_THAT(timer(160ms), ElementsAre("latest 1 " + tick(160)));
}

TEST_F(Shuttle, SendingTheCurrentTicksSettingCancelsAPendingSwitch) {
  opened(0ms, 1);
  timer(0ms);
  datagram(0ms, "{}");
  for (int i = 0; i < 10; ++i) text(0ms, 1, ticks(i % 2 == 0));
  text(0ms, 1, ticks(true));
  EXPECT_THAT(text(50ms, 1, ticks(false)), IsEmpty());
  EXPECT_EQ(core.next_deadline(), at(200ms));
  EXPECT_THAT(timer_without_poll(200ms), IsEmpty());
  EXPECT_FALSE(core.ticks_running());
}

TEST_F(Shuttle, TimerStepsComeInTheirOrder) {
  opened(0ms, 1);
  opened(0ms, 2);
  timer(0ms);
  text(0ms, 1, writes({press(25, 3001, "1", "0")}));
  datagram(1000ms, "{}");
  text(1000ms, 1, ticks(true));
  for (int i = 0; i < 10; ++i) text(1000ms, 2, ticks(i % 2 == 0));
  text(1000ms, 2, ticks(true));  // delayed to 1100 ms
  // One late step at 2000 ms: everything is due at once.
  EXPECT_THAT(timer(2000ms),
              ElementsAre(kPoll, "collector clickable 25:3001 0",
                          "info released 1 held presses for page 1: the press expired",
                          "latest 1 " + tick(2000), "latest 2 " + tick(2000),
                          "info collector is quiet: no packet for 1 second", "hello 1 quiet",
                          "hello 2 quiet"));
}

TEST_F(Shuttle, ClosingPageStillGetsTicksAndItsPressesExpire) {
  opened(0ms, 1);
  timer(0ms);
  datagram(0ms, "{}");
  text(0ms, 1, ticks(true));
  text(0ms, 1, writes({press(1, 3001, "1", "0")}));
  text(0ms, 1, writes(highlights(31)));
  EXPECT_THAT(text(0ms, 1, writes(highlights(31))),
              ElementsAre("warn closing page 1: more than 60 writes a second", "close 1"));
  EXPECT_THAT(timer(10ms), ElementsAre("latest 1 " + tick(10)));
  EXPECT_THAT(feed(10ms, event::StatusChanged{}), ElementsAre("hello 1 heard"));
  datagram(1500ms, "{}");
  EXPECT_THAT(timer_without_poll(2000ms),
              ElementsAre("collector clickable 1:3001 0", "info released 1 held presses for page 1: the press expired",
                          "latest 1 " + tick(2000)));
}

// Page ids are never reused, but should one be opened twice, the presses of the page that had it
// must still be released.
TEST_F(Shuttle, OpeningAnOpenPageAgainReleasesItsPressesAndStartsAfresh) {
  opened(0ms, 1);
  text(0ms, 1, writes({press(1, 3001, "1", "0"), press(1, 3002, "1", "0")}));
  text(0ms, 1, writes(highlights(31)));
  text(0ms, 1, writes(highlights(31)));  // now closing
  EXPECT_THAT(opened(10ms, 1), ElementsAre("collector clickable 1:3001 0", "collector clickable 1:3002 0",
                                           "info released 2 held presses for page 1: it closed",
                                           "hello 1 quiet"));
  // Fresh state: not closing, a full writes bucket, no presses left to release later.
  EXPECT_EQ(text(20ms, 1, writes(highlights(30))).size(), 30u);
  EXPECT_EQ(text(20ms, 1, writes(highlights(30))).size(), 30u);
  EXPECT_THAT(timer_without_poll(2500ms), IsEmpty());
  EXPECT_THAT(closed(3000ms, 1), IsEmpty());
}

TEST_F(Shuttle, NextDeadlineIsTheEarliestThingDue) {
  opened(0ms, 1);
  timer(0ms);
  EXPECT_EQ(core.next_deadline(), at(200ms));
  text(100ms, 1, writes({press(1, 3001, "1", "0")}));
  timer(200ms);
  timer(400ms);
  EXPECT_EQ(core.next_deadline(), at(600ms));
  for (int i = 1; i < 8; ++i) timer(400ms + i * 200ms);  // up to 1800 ms
  EXPECT_EQ(core.next_deadline(), at(2000ms));
  datagram(1850ms, "{}");
  EXPECT_EQ(core.next_deadline(), at(2000ms));
  timer(2000ms);
  EXPECT_EQ(core.next_deadline(), at(2100ms));  // the press
  timer(2100ms);
  EXPECT_EQ(core.next_deadline(), at(2200ms));
  timer(2200ms);
  EXPECT_EQ(core.next_deadline(), at(2400ms));
  timer(2400ms);
  timer(2600ms);
  EXPECT_EQ(core.next_deadline(), at(2800ms));
  timer(2800ms);
  EXPECT_EQ(core.next_deadline(), at(2850ms));  // falling quiet
  timer(2850ms);
  EXPECT_EQ(core.next_deadline(), at(3000ms));  // quiet: only the poll is left
}

}  // namespace
}  // namespace protocol
