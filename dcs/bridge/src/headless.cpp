#include "dcs/bridge/src/headless.hpp"

#include <string>
#include <utility>
#include <variant>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/this_coro.hpp>

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/config.hpp"
#include "dcs/bridge/src/services.hpp"

namespace run {

namespace asio = boost::asio;

void notify_headless(RelayWakeCell& cell) { (void)cell.status_changed(); }

namespace {

std::string banner(const bridge::BridgeConfig& config) {
  return "Tolvaro DCS Bridge " + config.version + " running: pages on ws://127.0.0.1:" +
         std::to_string(config.page_port) + "/api/v1, collector replies on UDP " + std::to_string(config.listen_port) +
         ", collector at UDP " + std::to_string(config.collector_port) + ". Ctrl+C stops it.";
}

}  // namespace

asio::awaitable<int> run_until_stopped(HeadlessSetup setup) {
  using namespace asio::experimental::awaitable_operators;

  std::expected<bridge::BridgeConfig, bridge::ConfigError> config = bridge::BridgeConfig::from_env(setup.env);
  if (!config) {
    base::log(base::Level::Error, config.error().text());
    co_return 2;
  }
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  // Listening starts before anything slow, so a Ctrl+C during the scan is kept for the wait.
  std::vector<stop_signal::StopListener> listeners = setup.listen(executor);

  MonitorShare share = start_monitor(first_look(setup.machine), setup.monitor_machine(), notify_headless);
  ClearOnExit clear_wake{share.wake};

  auto source = std::make_shared<HeadlessStatusSource>(share.commands, share.status);
  auto repair = std::make_shared<HeadlessRepairOpener>();
  // Awaited from a named local: g++ 12 can destroy the temporaries of a co_await expression twice.
  asio::awaitable<std::expected<shuttle::ShuttleHandle, net::BindError>> starting =
      start_services(*config, source, repair);
  std::expected<shuttle::ShuttleHandle, net::BindError> started = co_await std::move(starting);
  if (!started) {
    base::log(base::Level::Error, "Tolvaro DCS Bridge did not start: " + started.error().text());
    co_return 1;
  }
  shuttle::ShuttleHandle& link = *started;
  share.wake->set(link.commands());
  base::info(banner(*config));

  asio::awaitable<stop_signal::StopReason> stop = stop_signal::first_stop(listeners);
  asio::awaitable<net::kit::TaskEnd> ended = link.ended();
  const std::variant<stop_signal::StopReason, net::kit::TaskEnd> first =
      co_await (std::move(stop) || std::move(ended));

  if (const auto* end = std::get_if<net::kit::TaskEnd>(&first)) {
    base::log(base::Level::Error, "Tolvaro DCS Bridge stopped on an error: " + shuttle::handle::describe_end(*end));
    co_return 1;
  }
  base::info("stopping on " + std::string(stop_signal::reason_text(std::get<stop_signal::StopReason>(first))));
  // No time-out here: the link stops the page server, whose grace periods bound the wait.
  asio::awaitable<std::optional<std::string>> stopping = stop_link(std::move(link));
  const std::optional<std::string> error = co_await std::move(stopping);
  if (error) {
    base::log(base::Level::Error, "Tolvaro DCS Bridge stopped on an error: " + *error);
    co_return 1;
  }
  base::info("stopped");
  co_return 0;
}

}  // namespace run
