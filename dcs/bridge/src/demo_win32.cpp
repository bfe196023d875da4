#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "core/base/src/log.hpp"
#include "core/ui/src/dialog_host.hpp"
#include "dcs/bridge/src/demo.hpp"
#include "dcs/bridge/src/output.hpp"
#include "dcs/bridge/src/repair.hpp"

namespace demo {
namespace {

void print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) bridge::print_line(line);
}

int run_demo_tray(const DemoTray& settings) {
  // The demo closes itself after a minute unless the person quits it first; then its worker is told
  // to end at once.
  std::stop_source stop;
  auto worker = [token = stop.get_token()](tray::TrayEvents<DemoMessage> events) {
    std::mutex mutex;
    std::condition_variable_any stopping;
    std::unique_lock lock(mutex);
    stopping.wait_for(lock, token, std::chrono::seconds(60), [] { return false; });
    if (!token.stop_requested()) events.quit();
  };
  auto handler = [&settings](tray::TrayUi& ui, tray::TrayEvent<DemoMessage> event) {
    if (std::optional<std::string> line = handle_tray_event(settings, ui, event)) bridge::print_line(*line);
  };
  std::expected<void, tray::UiError> ran =
      tray::run<DemoMessage>(kDemoWindowClass, worker, handler, [&stop] {
        stop.request_stop();
        return true;
      });
  if (ran) return 0;
  base::log(base::Level::Error, ran.error().text());
  return 1;
}

}  // namespace

int ui_demo(cli::DemoKind kind) {
  if (std::optional<DemoTray> settings = demo_tray(kind)) return run_demo_tray(*settings);
  dialogs::DialogHost dialogs;
  switch (kind) {
    case cli::DemoKind::question:
      print(question_piece(dialogs, repair::utc_now()));
      break;
    case cli::DemoKind::folder:
      print(folder_piece(dialogs));
      break;
    case cli::DemoKind::repair:
      repair_piece(dialogs, bridge::print_line);
      break;
    case cli::DemoKind::result:
      result_piece(dialogs);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace demo
