#include "core/base/src/win32.hpp"

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <utility>
#include <variant>
#include <vector>

#include "core/ui/src/dialog_host.hpp"
#include "core/ui/src/ui_thread.hpp"
#include "core/ui/src/wide.hpp"

namespace dialogs {

static_assert(kAllowCancellation == TDF_ALLOW_DIALOG_CANCELLATION);
static_assert(kUseCommandLinks == TDF_USE_COMMAND_LINKS);
static_assert(kFolderPickerOptions == (FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST));
static_assert(kCancelledResult == static_cast<std::uint32_t>(HRESULT_FROM_WIN32(ERROR_CANCELLED)));
static_assert(ui_thread::WM_DIALOG_BEHIND == WM_APP + 4);

namespace {

using FileDialog = win32::ComPtr<IFileDialog>;
// A task dialog by its window, or a folder picker by its object.
using OpenDialog = std::variant<HWND, FileDialog>;

const HRESULT kCancelled = static_cast<HRESULT>(kCancelledResult);

// The file dialogs of this thread that quitting told to close while their Show has not returned,
// and the timers that keep telling them.
struct PendingFileDialogs {
  std::vector<FileDialog> dialogs;
  std::vector<UINT_PTR> timers;
};

// Made when first needed and freed once nothing is pending. A plain pointer, not a thread_local
// object with a destructor: that would make the runtime's exit take a lock which a thread ending
// at the same moment may hold.
thread_local PendingFileDialogs* t_pending = nullptr;

PendingFileDialogs& pending() {
  if (t_pending == nullptr) t_pending = new PendingFileDialogs;
  return *t_pending;
}

void free_pending_if_idle() {
  if (t_pending != nullptr && t_pending->dialogs.empty() && t_pending->timers.empty()) {
    delete t_pending;
    t_pending = nullptr;
  }
}

// COM identity: the IUnknown every interface of one object yields.
IUnknown* identity(const FileDialog& dialog) { return dialog.as<IUnknown>().get(); }

void CALLBACK reclose_file_dialogs(HWND, UINT, UINT_PTR timer, DWORD) {
  ui_thread::guarded([timer] {
    PendingFileDialogs& list = pending();
    if (list.dialogs.empty()) {
      KillTimer(nullptr, timer);
      std::erase(list.timers, timer);
      free_pending_if_idle();
      return;
    }
    // A copy: telling a dialog to close may run code of this thread that changes the list.
    const std::vector<FileDialog> open = list.dialogs;
    for (const FileDialog& dialog : open) dialog->Close(kCancelled);
  });
}

// Shows the window above all others and makes it the foreground window; whether it ended in front.
// A window that could not come to the front flashes its taskbar button until it does.
bool raise_window(HWND window) {
  constexpr UINT kPlace = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
  static_assert(kPlace == 0x53);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, kPlace);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, kPlace);
  SetForegroundWindow(window);
  if (GetForegroundWindow() == window) return true;
  static_assert((FLASHW_ALL | FLASHW_TIMERNOFG) == 15);
  FLASHWINFO flash{sizeof(FLASHWINFO), window, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
  return false;
}

PCWSTR main_icon(DialogIcon icon) {
  switch (icon) {
    case DialogIcon::Information:
      return TD_INFORMATION_ICON;
    case DialogIcon::Warning:
      return TD_WARNING_ICON;
    case DialogIcon::None:
      break;
  }
  return nullptr;
}

}  // namespace

struct DialogHost::State {
  std::vector<OpenDialog> open;  // oldest first
  std::optional<std::uintptr_t> owner;
  bool quitting = false;

  // Shows a task dialog modally; the id it ended with, or nothing when it could not be shown.
  std::optional<int> show(const TaskDialogPlan& plan) {
    const std::u16string title = wide::to_wide(plan.title);
    const std::u16string heading = wide::to_wide(plan.heading);
    const std::u16string body = wide::to_wide(plan.body);
    std::vector<std::u16string> texts;
    texts.reserve(plan.buttons.size());
    std::vector<TASKDIALOG_BUTTON> buttons;
    for (const TaskDialogButton& button : plan.buttons) {
      texts.push_back(wide::to_wide(button.text));
      buttons.push_back({button.id, win32::wz(texts.back())});
    }
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.dwFlags = plan.flags;
    config.pszWindowTitle = win32::wz(title);
    config.pszMainIcon = main_icon(plan.icon);
    config.pszMainInstruction = win32::wz(heading);
    config.pszContent = win32::wz(body);
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.data();
    config.nDefaultButton = plan.default_button;
    config.pfCallback = &State::notified;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);
    int pressed = 0;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) return std::nullopt;
    return pressed;
  }

  static HRESULT CALLBACK notified(HWND window, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
    ui_thread::guarded([&] {
      State& host = *reinterpret_cast<State*>(data);
      if (notification == TDN_CREATED) {
        // A dialog whose showing began just before the host quit goes as soon as it exists.
        if (host.quitting) PostMessageW(window, WM_CLOSE, 0, 0);
        host.open.emplace_back(window);
        if (!raise_window(window) && host.owner)
          PostMessageW(reinterpret_cast<HWND>(*host.owner), ui_thread::WM_DIALOG_BEHIND, 0, 0);
      } else if (notification == TDN_DESTROYED) {
        std::erase_if(host.open, [window](const OpenDialog& d) {
          const HWND* listed = std::get_if<HWND>(&d);
          return listed != nullptr && *listed == window;
        });
      }
    });
    return S_OK;
  }

  // The folder picker's steps between creating it and reading its choice; COM is up.
  std::optional<std::string> pick(const FolderRequest& request) {
    FileDialog dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IFileDialog),
                                dialog.out_void())))
      return std::nullopt;
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options)) || FAILED(dialog->SetOptions(options | kFolderPickerOptions)))
      return std::nullopt;
    dialog->SetTitle(win32::wz(wide::to_wide(request.title)));
    if (request.start_folder) {
      // Without it the picker opens where the system chooses.
      win32::ComPtr<IShellItem> folder;
      if (SUCCEEDED(SHCreateItemFromParsingName(win32::wz(wide::to_wide(*request.start_folder)), nullptr,
                                                __uuidof(IShellItem), folder.out_void())))
        dialog->SetFolder(folder.get());
    }
    open.emplace_back(dialog);
    const HRESULT shown = dialog->Show(nullptr);
    std::erase_if(open, [](const OpenDialog& d) { return std::holds_alternative<FileDialog>(d); });
    IUnknown* self = identity(dialog);
    if (t_pending != nullptr) {
      std::erase_if(t_pending->dialogs, [self](const FileDialog& d) { return identity(d) == self; });
      free_pending_if_idle();
    }
    if (FAILED(shown)) return std::nullopt;

    win32::ComPtr<IShellItem> chosen;
    win32::CoTaskText path;
    if (FAILED(dialog->GetResult(chosen.out())) || FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, path.out())))
      return std::nullopt;
    return wide::from_wide(reinterpret_cast<const char16_t*>(path.get()));
  }
};

DialogHost::DialogHost(std::optional<std::uintptr_t> owner) : state_(std::make_unique<State>()) {
  state_->owner = owner;
}

// The listed file dialogs are released with the list.
DialogHost::~DialogHost() = default;

DialogAnswer DialogHost::ask(const Question& question) {
  if (state_->quitting) return DialogAnswer::closed();
  const std::optional<int> pressed = state_->show(plan_question(question));
  return pressed ? answer_of(*pressed) : DialogAnswer::closed();
}

void DialogHost::tell(const DialogMessage& message) {
  if (state_->quitting) return;
  state_->show(plan_message(message));
}

std::optional<std::string> DialogHost::pick_folder(const FolderRequest& request) {
  if (state_->quitting) return std::nullopt;
  // Declared first, so that COM ends after the picker is released; a thread already in another
  // apartment mode goes on without it.
  const win32::ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  return state_->pick(request);
}

bool DialogHost::bring_top_dialog_to_front() {
  if (state_->open.empty()) return false;
  const OpenDialog newest = state_->open.back();
  if (const HWND* window = std::get_if<HWND>(&newest)) return raise_window(*window);
  const auto ole = std::get<FileDialog>(newest).as<IOleWindow>();
  HWND window = nullptr;
  if (!ole || FAILED(ole->GetWindow(&window))) return false;
  return raise_window(window);
}

void DialogHost::close_all() {
  state_->quitting = true;
  const std::vector<OpenDialog> open = std::exchange(state_->open, {});
  for (const OpenDialog& dialog : open) {
    if (const HWND* window = std::get_if<HWND>(&dialog)) {
      PostMessageW(*window, WM_CLOSE, 0, 0);
      continue;
    }
    const FileDialog& file = std::get<FileDialog>(dialog);
    file->Close(kCancelled);
    // Told again every 100 ms until its Show has returned: a picker may not close at the first word.
    pending().dialogs.push_back(file);
    if (const UINT_PTR timer = SetTimer(nullptr, 0, 100, &reclose_file_dialogs)) pending().timers.push_back(timer);
  }
}

std::size_t pending_file_dialogs() { return t_pending != nullptr ? t_pending->dialogs.size() : 0; }
std::size_t running_reclose_timers() { return t_pending != nullptr ? t_pending->timers.size() : 0; }

}  // namespace dialogs
