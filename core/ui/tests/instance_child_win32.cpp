// Another instance for the single-instance tests, started by them as a child process:
//   instance_child tray <class>  a tray window of the class; asked to show itself it quits with
//                                exit code 7, closed (WM_CLOSE) it quits with 0
//   instance_child deaf <class>  a plain window of the class that ignores WM_CLOSE; ends after 30 s
#include "core/base/src/win32.hpp"

#include <string>

#include "core/ui/src/tray.hpp"
#include "core/ui/src/wide.hpp"

namespace {

constexpr int kShown = 7;

int run_tray(const std::string& class_name) {
  int code = 0;
  auto result = tray::run<int>(
      class_name, [](tray::TrayEvents<int>) {},
      [&code](tray::TrayUi& ui, tray::TrayEvent<int> event) {
        if (std::holds_alternative<tray::AnotherInstanceStarted>(event)) {
          code = kShown;
          ui.quit();
        }
      });
  return result ? code : 1;
}

LRESULT CALLBACK deaf_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) return 0;  // stays
  if (message == WM_TIMER) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int run_deaf(const std::string& class_name) {
  const std::u16string name = wide::to_wide(class_name);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &deaf_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = win32::wz(name);
  if (RegisterClassExW(&window_class) == 0) return 1;
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, win32::wz(name), win32::wz(name), 0, 0, 0, 0, 0, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  if (window == nullptr) return 1;
  SetTimer(window, 1, 30000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  DestroyWindow(window);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::string mode = wide::from_wide(reinterpret_cast<const char16_t*>(argv[1]));
  const std::string class_name = wide::from_wide(reinterpret_cast<const char16_t*>(argv[2]));
  if (mode == "tray") return run_tray(class_name);
  if (mode == "deaf") return run_deaf(class_name);
  return 2;
}
