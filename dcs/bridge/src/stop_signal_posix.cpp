// Console stop events as POSIX signals: SIGINT for Ctrl+C, SIGQUIT for Ctrl+Break (the terminal's
// other interrupt key), SIGHUP for the console closing (the terminal hanging up) and SIGTERM for
// system shutdown. A logoff has no signal of its own here: it reaches a process as SIGHUP or
// SIGTERM, so its listener never fires. Asio's signal_set takes the signals through a self-pipe, so
// nothing runs inside the signal handler but a write.
#include <csignal>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "core/net/src/kit/wake.hpp"
#include "dcs/bridge/src/stop_signal.hpp"

namespace stop_signal {

namespace asio = boost::asio;

namespace {

class SignalEvent final : public StopEvent {
 public:
  explicit SignalEvent(const Executor& executor) : signals_(executor) {}

  boost::system::error_code listen(int signal) {
    boost::system::error_code ec;
    signals_.add(signal, ec);
    return ec;
  }

  // A signal that came while nobody waited is kept by the set and given to the next wait.
  asio::awaitable<void> arrived() override {
    auto [ec, signal] = co_await signals_.async_wait(asio::as_tuple(asio::use_awaitable));
    (void)signal;
    if (ec) throw boost::system::system_error(ec);
  }

 private:
  asio::signal_set signals_;
};

// An event that this system never delivers.
class NeverEvent final : public StopEvent {
 public:
  asio::awaitable<void> arrived() override { return net::kit::until_cancelled(); }
};

Listening on_signal(const Executor& executor, int signal) {
  auto event = std::make_unique<SignalEvent>(executor);
  if (boost::system::error_code ec = event->listen(signal)) return std::unexpected(ec.message());
  return event;
}

}  // namespace

Listening wait_ctrl_c(const Executor& executor) { return on_signal(executor, SIGINT); }
Listening wait_ctrl_break(const Executor& executor) { return on_signal(executor, SIGQUIT); }
Listening wait_console_close(const Executor& executor) { return on_signal(executor, SIGHUP); }
Listening wait_logoff(const Executor&) { return std::make_unique<NeverEvent>(); }
Listening wait_shutdown(const Executor& executor) { return on_signal(executor, SIGTERM); }

}  // namespace stop_signal
