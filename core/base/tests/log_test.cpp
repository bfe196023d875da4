#include <gtest/gtest.h>

#include <thread>

#include "core/base/src/log.hpp"
#include "core/base/tests/log_capture.hpp"

namespace {

struct LineCase {
  double elapsed;
  base::Level level;
  std::string_view message;
  std::string_view expected;
};

TEST(FormatLogLine, TimeLevelAndMessage) {
  const LineCase cases[] = {
      {0.0, base::Level::Info, "first", "    0.000 info  first\n"},
      {3.25, base::Level::Info, "page 1 connected", "    3.250 info  page 1 connected\n"},
      {12.345, base::Level::Warn, "w", "   12.345 warn  w\n"},
      {7.0, base::Level::Error, "e", "    7.000 error e\n"},
      // A longer number takes the room it needs and shifts the rest right.
      {100000.0, base::Level::Info, "late", "100000.000 info  late\n"},
      {0.0004, base::Level::Info, "rounds down", "    0.000 info  rounds down\n"},
      {1.0005, base::Level::Info, "x", "    1.000 info  x\n"},
      {59.9996, base::Level::Warn, "rounds up", "   60.000 warn  rounds up\n"},
      // The message goes out as it is: no escaping, a line feed in it splits the line.
      {1.5, base::Level::Warn, "two\nlines \"quoted\"", "    1.500 warn  two\nlines \"quoted\"\n"},
      {1.5, base::Level::Info, "", "    1.500 info  \n"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(base::format_log_line(c.elapsed, c.level, c.message), c.expected) << c.message;
  }
}

TEST(Log, WritesWholeLinesToTheSinkWithLevels) {
  base::testing::LogCapture capture;
  base::info("page 1 connected");
  base::warn("a warning");
  base::log(base::Level::Error, "an error");
  auto entries = capture.entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (base::testing::LogCapture::Entry{"info", "page 1 connected"}));
  EXPECT_EQ(entries[1], (base::testing::LogCapture::Entry{"warn", "a warning"}));
  EXPECT_EQ(entries[2], (base::testing::LogCapture::Entry{"error", "an error"}));
  for (const std::string& line : capture.lines()) {
    ASSERT_GE(line.size(), 17u);
    // Time right-aligned in 9 characters with 3 decimals, then one blank; one LF at the end only.
    EXPECT_EQ(line[5], '.') << line;
    EXPECT_EQ(line[9], ' ') << line;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
  }
}

TEST(Log, LinesOfManyThreadsNeverInterleave) {
  base::testing::LogCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) base::info("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 1600u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_NE(line.find(" info  thread "), std::string::npos) << line;
  }
}

TEST(Log, TimeCountsFromTheFirstLineOfTheProcess) {
  base::testing::LogCapture capture;
  base::info("a");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  base::info("b");
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  double first = std::stod(lines[0].substr(0, 9));
  double second = std::stod(lines[1].substr(0, 9));
  EXPECT_GE(first, 0.0);
  EXPECT_GE(second - first, 0.019);
}

}  // namespace
