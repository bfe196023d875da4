#pragma once

#include <string>
#include <string_view>
#include <vector>

// How the UI probe reads what only the process that owns a window can read (a popup menu's items,
// the shell's tooltip tools): it sets a hook from core_ui_probe_hook.dll on the window's thread,
// which makes the system load the DLL into that process, and sends the window the request message
// with its own reply window in wParam and the request's kind in lParam. The hook answers, in the
// owner's process, with one WM_COPYDATA to the reply window: UTF-16 lines, one per item, of
// tab-separated fields in which tab, line feed and backslash are escaped.
namespace ui_testing::probe {

inline constexpr wchar_t kRequestMessage[] = L"TolvaroProbe.Read";

enum Kind : unsigned {
  // Sent to a popup menu window (#32768). Per item: command id, MENUITEMINFO fType, fState,
  // the item's screen rectangle as "left,top,right,bottom", text.
  kMenuItems = 1,
  // Sent to a tooltip window (tooltips_class32). Per tool: its screen rectangle, its text.
  kTools = 2,
};

inline std::wstring escape(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\\') out += L"\\\\";
    else if (c == L'\t') out += L"\\t";
    else if (c == L'\n') out += L"\\n";
    else out += c;
  }
  return out;
}

inline std::wstring unescape(std::wstring_view text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const wchar_t next = text[++i];
    out += next == L't' ? L'\t' : next == L'n' ? L'\n' : next;
  }
  return out;
}

// The fields of every line of a reply.
inline std::vector<std::vector<std::wstring>> split_reply(std::wstring_view reply) {
  std::vector<std::vector<std::wstring>> lines;
  while (!reply.empty()) {
    const std::size_t end = std::min(reply.find(L'\n'), reply.size());
    std::wstring_view line = reply.substr(0, end);
    reply.remove_prefix(std::min(end + 1, reply.size()));
    std::vector<std::wstring> fields;
    for (;;) {
      const std::size_t tab = line.find(L'\t');
      fields.push_back(unescape(line.substr(0, tab)));
      if (tab == std::wstring_view::npos) break;
      line.remove_prefix(tab + 1);
    }
    lines.push_back(std::move(fields));
  }
  return lines;
}

}  // namespace ui_testing::probe
