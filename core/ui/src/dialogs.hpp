#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The program's few modal windows: a question (a task dialog with command links and buttons), a
// message (a task dialog with one button) and a folder picker. This header holds what they show and
// answer and the pure plan of a task dialog; DialogHost (dialog_host.hpp) shows them on Windows.
namespace dialogs {

enum class DialogIcon { None = 0, Information = 1, Warning = 2 };

struct QuestionChoice {
  std::string label;
  std::optional<std::string> note;  // the command link's second, smaller line
};

struct Question {
  std::string title;    // window title
  std::string heading;  // main instruction (large text)
  std::string body;     // content text
  std::vector<QuestionChoice> choices;  // command links
  std::vector<std::string> buttons;     // push buttons
  DialogIcon icon = DialogIcon::None;
};

struct DialogMessage {
  std::string title;
  std::string heading;
  std::string body;
  std::string button;
};

struct FolderRequest {
  std::string title;
  std::optional<std::string> start_folder;  // where the picker opens
};

// The answer of a question: a command link or a button by index, or Closed (closed, cancelled, or
// not shown at all).
struct DialogAnswer {
  enum class Kind { Choice, Button, Closed };
  Kind kind = Kind::Closed;
  std::size_t index = 0;

  static DialogAnswer choice(std::size_t i) { return {Kind::Choice, i}; }
  static DialogAnswer button(std::size_t i) { return {Kind::Button, i}; }
  static DialogAnswer closed() { return {}; }
  bool operator==(const DialogAnswer&) const = default;
};
// "Choice(n)", "Button(n)", "Closed".
std::string to_string(const DialogAnswer& answer);
// For test failure messages.
inline void PrintTo(const DialogAnswer& answer, std::ostream* out) { *out << to_string(answer); }

// The dialog service, implemented by DialogHost; the tray's TrayUi offers the same operations.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual DialogAnswer ask(const Question& question) = 0;
  // The chosen folder's path, or nothing when the picker was cancelled, closed or failed.
  virtual std::optional<std::string> pick_folder(const FolderRequest& request) = 0;
  virtual void tell(const DialogMessage& message) = 0;
  // Raises the newest open dialog; whether it came to the front.
  virtual bool bring_top_dialog_to_front() = 0;
};

// Button ids: command link i is 1000 + i, push button j is 2000 + j.
inline constexpr int kFirstChoiceId = 1000;
inline constexpr int kFirstButtonId = 2000;
// TASKDIALOG_FLAGS the plans use.
inline constexpr std::uint32_t kAllowCancellation = 0x08;  // TDF_ALLOW_DIALOG_CANCELLATION
inline constexpr std::uint32_t kUseCommandLinks = 0x10;    // TDF_USE_COMMAND_LINKS
// FILEOPENDIALOGOPTIONS the folder picker adds: FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM |
// FOS_PATHMUSTEXIST.
inline constexpr std::uint32_t kFolderPickerOptions = 0x860;
// HRESULT_FROM_WIN32(ERROR_CANCELLED): what a file dialog is told to close with.
inline constexpr std::uint32_t kCancelledResult = 0x800704C7;

struct TaskDialogButton {
  int id = 0;
  std::string text;
  bool operator==(const TaskDialogButton&) const = default;
};

// Everything a task dialog is shown with, before any Windows call.
struct TaskDialogPlan {
  std::string title;
  std::string heading;
  std::string body;
  std::vector<TaskDialogButton> buttons;
  std::uint32_t flags = 0;
  int default_button = 0;
  DialogIcon icon = DialogIcon::None;
};

// A question: choices first (label, or label LF note), then buttons; command links and cancellation
// when there is a choice (default 1000), cancellation alone otherwise (default 2000).
TaskDialogPlan plan_question(const Question& question);
// A message: one button 2000, cancellation, no icon.
TaskDialogPlan plan_message(const DialogMessage& message);
// The answer for the id the dialog returned: 1000-1999 a choice, 2000 and above a button, anything
// else (the cancel id of Escape, the close button or WM_CLOSE) Closed.
DialogAnswer answer_of(int pressed);

}  // namespace dialogs
