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
  auto [events, event_receiver] = net::PageEventQueue::make(executor, net::page_event_queue_size);
  std::expected<net::PageServer, net::BindError> server =
      net::page_server::start(executor, page_server_config(config), std::move(events));
  if (!server) co_return std::unexpected(server.error());
  // When the UDP socket cannot be opened, the link drops the page server it was handed, which
  // closes the listener again.
  co_return shuttle::ShuttleHandle::start(executor, config.listen_port, config.collector_port,
                                          std::move(config.version), std::move(status), std::move(repair),
                                          std::move(*server), std::move(event_receiver));
}

}  // namespace run
