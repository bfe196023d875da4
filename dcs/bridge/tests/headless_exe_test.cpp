// The program in headless mode from the outside, on free ports: its log lines, a page over
// WebSocket, a collector over UDP, Ctrl+C, and the exit codes of a start that fails.
#include <gtest/gtest.h>

#include <algorithm>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"
#include "dcs/bridge/tests/ports.hpp"
#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/program_runner.hpp"
#include "dcs/shuttle/tests/fakes.hpp"

namespace {

using namespace net::testing;
using bridge::to_os;
using bridge::testing::EnvVar;
using bridge::testing::log_lines;
using bridge::testing::ProgramResult;
using bridge::testing::RunningBridge;
using bridge::testing::run_bridge;
using Lines = std::vector<std::string>;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;

// A Wine start can take a while on a busy machine.
constexpr std::chrono::seconds kStartPatience{60};

const std::string kInUse = " is already in use. Tolvaro DCS Bridge, or the older Node bridge, is probably already running.";

struct Ports {
  std::uint16_t page = bridge::testing::free_tcp_port();
  std::uint16_t listen = bridge::testing::free_udp_port();
  std::uint16_t collector = bridge::testing::free_udp_port();

  std::vector<EnvVar> env() const {
    return {{"TOLVARO_DCS_PAGE_PORT", to_os(std::to_string(page))},
            {"TOLVARO_DCS_LISTEN_PORT", to_os(std::to_string(listen))},
            {"TOLVARO_DCS_COLLECTOR_PORT", to_os(std::to_string(collector))}};
  }
  std::string banner() const {
    return "info Tolvaro DCS Bridge 0.5.0 running: pages on ws://127.0.0.1:" + std::to_string(page) +
           "/api/v1, collector replies on UDP " + std::to_string(listen) + ", collector at UDP " +
           std::to_string(collector) + ". Ctrl+C stops it.";
  }
};

std::string hello(bool quiet) {
  return std::string(R"({"type":"hello","bridgeVersion":"0.5.0","wireVersion":3,"dcs":{"installState":"simulatorNotFound",)") +
         R"("installedCollectorVersion":null,"isCollectorQuiet":)" + (quiet ? "true" : "false") +
         R"(,"isSimulatorRunning":false}})";
}

// What the server answers a handshake with `path` and `headers`, up to its close.
asio::awaitable<std::string> answer_to(std::uint16_t port, std::string path, std::string headers) {
  auto client = co_await RawClient::connect(port);
  const std::string request = upgrade_request(path, headers);
  co_await client.send(request);
  co_return co_await client.read_to_end();
}

asio::awaitable<std::string> head_of(std::uint16_t port, std::string path, std::string headers) {
  auto client = co_await RawClient::connect(port);
  auto head = co_await client.upgrade(path, headers);
  co_return head.value_or("");
}

class HeadlessProgram : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure() && bridge_) ADD_FAILURE() << "standard error:\n" << bridge_->err();
  }

  // Starts the program and waits for its banner.
  bool start(std::vector<EnvVar> extra = {}) {
    std::vector<EnvVar> env = ports.env();
    env.insert(env.end(), extra.begin(), extra.end());
    bridge_.emplace(std::vector<bridge::OsString>{to_os("headless")}, env);
    return bridge_->wait_for_err("Ctrl+C stops it.\n", kStartPatience);
  }

  Runtime rt;
  shuttle::testing::FakeCollector collector{rt.executor()};
  Ports ports{.collector = collector.port()};
  std::optional<RunningBridge> bridge_;
};

TEST_F(HeadlessProgram, ServesPagesAndTheCollectorUntilCtrlC) {
  ASSERT_TRUE(start({{"BRIDGE_ALLOWED_ORIGINS", to_os("https://one.example, https://two.example")}}));
  EXPECT_EQ(log_lines(bridge_->err()),
            (Lines{"info install status: simulatorNotFound", "info DCS is not running", ports.banner()}));

  rt.run([&]() -> asio::awaitable<void> {
    // The read line of the default key, every 200 ms, with no page open.
    CO_ASSERT_EQ(co_await collector.receive(), std::optional<std::string>("read loget:LoGetSelfData.Name"));
    const auto reads = co_await collector.receive_during(2s);
    for (const auto& datagram : reads) EXPECT_EQ(datagram, "read loget:LoGetSelfData.Name");
    EXPECT_GE(reads.size(), 4u);
    EXPECT_LE(reads.size(), 15u);

    // A page without Origin: the hello, a subscribe that becomes the read line, a packet as data.
    auto page = co_await RawClient::connect(ports.page);
    CO_ASSERT_TRUE(co_await page.open());
    CO_ASSERT_EQ(co_await page.read_text(), std::optional<std::string>(hello(true)));
    co_await page.send_frame(op_text, R"({"type":"subscribe","sim":"dcs","keys":["loget:LoGetModelTime"]})");
    const auto subscribed = [](const std::string& d) { return d == "read loget:LoGetModelTime"; };
    auto line = co_await collector.receive_first(subscribed);
    CO_ASSERT_TRUE(line);
    collector.send(R"({"t": 1.5})");
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(R"({"type":"data","sim":"dcs","data":{"t": 1.5}})"));
    CO_EXPECT_EQ(co_await page.read_text(), std::optional<std::string>(hello(false)));

    // Other Origins and paths get their refusal, byte for byte; the configured Origins are let in
    // in place of the built-in ones.
    const std::string forbidden = "HTTP/1.1 403 Forbidden\r\n\r\norigin not allowed";
    const std::string not_found = "HTTP/1.1 404 Not Found\r\n\r\nnot found";
    struct Refusal {
      std::string path, headers, answer;
    };
    const std::vector<Refusal> refusals = {
        {"/api/v1", "Origin: https://evil.example\r\n", forbidden},
        {"/api/v1", "Origin: https://tolvaro.app\r\n", forbidden},
        {"/api/v2", "", not_found},
        {"/", "Origin: https://one.example\r\n", not_found},
    };
    for (const Refusal& refusal : refusals) {
      asio::awaitable<std::string> asking = answer_to(ports.page, refusal.path, refusal.headers);
      const std::string answer = co_await std::move(asking);
      EXPECT_EQ(answer, refusal.answer) << refusal.path << " " << refusal.headers;
    }
    const std::string path = "/api/v1", origin = "Origin: https://two.example\r\n";
    asio::awaitable<std::string> opening = head_of(ports.page, path, origin);
    const std::string allowed = co_await std::move(opening);
    EXPECT_TRUE(allowed.starts_with("HTTP/1.1 101 ")) << allowed;

    // Ctrl+C: the open page is closed, then the program ends.
    bridge_->ctrl_c();
    auto frame = co_await page.read_frame();
    while (frame && frame->opcode != op_close) frame = co_await page.read_frame();
    CO_EXPECT_TRUE(frame);
    co_await page.answer_close();
  });

  ProgramResult r = bridge_->finish(kStartPatience);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  const Lines lines = log_lines(r.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "info stopped");
  // The page that was opening as the stop came may log in between.
  const auto stopping_on = std::find(lines.begin(), lines.end(), "info stopping on Ctrl+C");
  const auto stopping = std::find(lines.begin(), lines.end(), "info stopping");
  EXPECT_LT(stopping_on, stopping);
  EXPECT_LT(stopping, lines.end());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "info stopping on Ctrl+C"), 1);
}

TEST_F(HeadlessProgram, APortInUseEndsTheStartWithExit1) {
  asio::io_context context;
  // Held without address reuse, as another program holds a port.
  tcp::acceptor page_holder(context);
  page_holder.open(tcp::v4());
  page_holder.bind({asio::ip::address_v4::loopback(), ports.page});
  page_holder.listen();
  udp::socket listen_holder(context, {asio::ip::address_v4::loopback(), ports.listen});

  // Both taken: the page port is bound first, so its error is the one.
  ProgramResult both = run_bridge({to_os("headless")}, ports.env());
  EXPECT_EQ(both.exit_code, 1);
  EXPECT_EQ(log_lines(both.err),
            (Lines{"info install status: simulatorNotFound", "info DCS is not running",
                   "error Tolvaro DCS Bridge did not start: TCP port 127.0.0.1:" + std::to_string(ports.page) + kInUse}));

  page_holder.close();
  ProgramResult udp_taken = run_bridge({to_os("headless")}, ports.env());
  EXPECT_EQ(udp_taken.exit_code, 1);
  EXPECT_EQ(log_lines(udp_taken.err),
            (Lines{"info install status: simulatorNotFound", "info DCS is not running",
                   "error Tolvaro DCS Bridge did not start: UDP port 127.0.0.1:" + std::to_string(ports.listen) + kInUse}));
  EXPECT_EQ(udp_taken.out, "");
}

TEST_F(HeadlessProgram, ABadPortVariableEndsItWithExit2BeforeAnythingElse) {
  const std::pair<std::string, std::string> cases[] = {
      {"TOLVARO_DCS_PAGE_PORT", "0"},
      {"TOLVARO_DCS_LISTEN_PORT", "x"},
      {"TOLVARO_DCS_COLLECTOR_PORT", "65536"},
  };
  for (const auto& [name, value] : cases) {
    std::vector<EnvVar> env = ports.env();
    for (EnvVar& var : env)
      if (var.first == name) var.second = to_os(value);
    ProgramResult r = run_bridge({to_os("headless")}, env);
    EXPECT_EQ(r.exit_code, 2) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(log_lines(r.err), (Lines{"error " + name + "=\"" + value + "\" is not a port from 1 to 65535"})) << name;
  }
}

}  // namespace
