#include "dcs/bridge/src/services.hpp"

#include <utility>

#include <boost/asio/this_coro.hpp>

#include "core/net/src/page_event.hpp"

namespace run {

namespace asio = boost::asio;

net::PageServerConfig page_server_config(const bridge::BridgeConfig& config) {
  net::PageServerConfig settings;
  settings.path = "/api/v1";
  settings.handshake_timeout = std::chrono::seconds(5);
  settings.send_timeout = std::chrono::seconds(2);
  settings.max_message_size = 1048576;
  settings.max_pages = 8;
  settings.max_handshakes = 4;
  settings.handshake_cap = 16384;
  settings.page_queue = 64;
  settings.messages_per_second = 200;
  settings.bytes_per_second = 65536;
  settings.byte_burst = 2097152;
  settings.allowed_origins = {config.allowed_origins.begin(), config.allowed_origins.end()};
  settings.port = config.page_port;
  return settings;
}

asio::awaitable<std::expected<shuttle::ShuttleHandle, net::BindError>> start_services(
    bridge::BridgeConfig config, std::shared_ptr<shuttle::StatusSource> status,
    std::shared_ptr<shuttle::RepairOpener> repair) {
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  auto [events, event_receiver] = net::PageEventQueue::make(executor, net::kPageEventQueueSize);
  std::expected<net::PageServer, net::BindError> server =
      net::page_server::start(executor, page_server_config(config), std::move(events));
  if (!server) co_return std::unexpected(server.error());
  // When the UDP socket cannot be opened, the link drops the page server it was handed, which
  // closes the listener again.
  co_return shuttle::ShuttleHandle::start(executor, config.listen_port, config.collector_port,
                                          std::move(config.version), std::move(status), std::move(repair),
                                          std::move(*server), std::move(event_receiver));
}

asio::awaitable<std::optional<std::string>> stop_link(shuttle::ShuttleHandle link) {
  // Awaited from a named local: g++ 12 can destroy the temporaries of a co_await expression twice.
  asio::awaitable<net::kit::TaskEnd> stopping = std::move(link).stop();
  const net::kit::TaskEnd end = co_await std::move(stopping);
  if (end.how == net::kit::TaskEnd::How::Finished) co_return std::nullopt;
  co_return shuttle::handle::describe_end(end);
}

}  // namespace run
