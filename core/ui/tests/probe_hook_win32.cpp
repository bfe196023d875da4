// core_ui_probe_hook.dll: the probe's hook procedure, which runs inside the process that owns the
// window it is asked about (see probe_protocol.hpp). Plain Win32 only: it lives in a stranger's
// process for the length of one request.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "core/ui/tests/probe_protocol.hpp"

namespace {

using namespace ui_testing::probe;

std::wstring rect_text(RECT r) {
  return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right) + L"," +
         std::to_wstring(r.bottom);
}

std::wstring menu_items(HWND menu_window) {
  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
  std::wstring out;
  const int count = menu == nullptr ? 0 : GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_STATE | MIIM_ID | MIIM_FTYPE;
    info.dwTypeData = text;
    info.cch = 511;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    RECT r{};
    GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &r);
    out += std::to_wstring(info.wID) + L"\t" + std::to_wstring(info.fType) + L"\t" + std::to_wstring(info.fState) +
           L"\t" + rect_text(r) + L"\t" + escape(text) + L"\n";
  }
  return out;
}

std::wstring tools(HWND tooltip) {
  std::wstring out;
  const int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    // Tooltip texts are at most 1024 characters long.
    wchar_t text[1025] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.lpszText = text;
    if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tool))) continue;
    RECT r = tool.rect;
    MapWindowPoints(tool.hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const bool has_text = tool.lpszText != nullptr && tool.lpszText != LPSTR_TEXTCALLBACKW &&
                          !IS_INTRESOURCE(tool.lpszText);
    out += rect_text(r) + L"\t" + escape(has_text ? tool.lpszText : L"") + L"\n";
  }
  return out;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK probe_hook(int code, WPARAM wparam, LPARAM lparam) {
  static const UINT request = RegisterWindowMessageW(kRequestMessage);
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && call->message == request) {
    std::wstring reply;
    if (call->lParam == kMenuItems) reply = menu_items(call->hwnd);
    if (call->lParam == kTools) reply = tools(call->hwnd);
    COPYDATASTRUCT data{static_cast<ULONG_PTR>(call->lParam), static_cast<DWORD>((reply.size() + 1) * sizeof(wchar_t)), reply.data()};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(reinterpret_cast<HWND>(call->wParam), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
