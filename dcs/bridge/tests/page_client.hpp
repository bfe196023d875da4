#pragma once

// A page of the web app connected to the program, driven one step at a time from a test thread that
// also does other things between the steps (such as pressing the program's dialogs). Each step runs
// the raw client on a runtime of the page's own until that step is done.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/tests/raw_client.hpp"
#include "core/net/tests/runtime.hpp"

namespace bridge::testing {

class Page {
 public:
  // Connects to 127.0.0.1 at `port` and opens the page's WebSocket, without an Origin.
  explicit Page(std::uint16_t port) {
    step([this, port]() -> net::testing::asio::awaitable<void> {
      client_.emplace(co_await net::testing::RawClient::connect(port));
      opened_ = co_await client_->open();
    });
  }
  bool opened() const { return opened_; }

  // The next text frame; none at the end, after another frame, or after the client's patience.
  std::optional<std::string> read_text() {
    std::optional<std::string> text;
    step([&]() -> net::testing::asio::awaitable<void> { text = co_await client_->read_text(); });
    return text;
  }
  // Text frames until one starts with `prefix`; that one, or none.
  std::optional<std::string> read_text_starting(std::string_view prefix) {
    for (;;) {
      std::optional<std::string> text = read_text();
      if (!text || text->starts_with(prefix)) return text;
    }
  }
  bool send_text(std::string_view text) {
    bool sent = false;
    step([&]() -> net::testing::asio::awaitable<void> {
      sent = co_await client_->send_frame(net::testing::op_text, text);
    });
    return sent;
  }
  // Whether the program closes the page within the client's patience, whatever it sends until then.
  bool closed_by_server() {
    bool closed = false;
    step([&]() -> net::testing::asio::awaitable<void> { closed = co_await client_->closed_by_server(); });
    return closed;
  }

 private:
  template <class Body>
  void step(Body body) {
    std::exception_ptr failure;
    net::testing::asio::co_spawn(context_, body(), [&](std::exception_ptr e) { failure = e; });
    context_.restart();
    context_.run();
    if (failure) std::rethrow_exception(failure);
  }

  net::testing::asio::io_context context_;
  std::optional<net::testing::RawClient> client_;
  bool opened_ = false;
};

}  // namespace bridge::testing
