#pragma once

// A dialog service for tests of flows that ask the user: it answers from a script given in
// advance and records everything it was shown, in order.

#include <gtest/gtest.h>

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/ui/src/dialogs.hpp"

namespace dialogs::testing {

// A scripted reply to the folder picker: the folder's path, or none for a cancel.
struct Picked {
  std::optional<std::string> folder;
};

class ScriptedDialogs final : public Dialogs {
 public:
  using Shown = std::variant<Question, DialogMessage, FolderRequest>;
  using Reply = std::variant<DialogAnswer, Picked>;

  ScriptedDialogs() = default;
  // The replies in the order the dialogs will be shown; messages take none.
  explicit ScriptedDialogs(std::vector<Reply> script) : script_(script.begin(), script.end()) {}

  ScriptedDialogs& then(DialogAnswer answer) {
    script_.emplace_back(answer);
    return *this;
  }
  ScriptedDialogs& then_pick(std::optional<std::string> folder) {
    script_.emplace_back(Picked{std::move(folder)});
    return *this;
  }

  // A question or a picker with no reply left, or one of the other kind, fails the test and is
  // answered as closed: a flow that asks more than the script foresaw is a fault of its own.
  DialogAnswer ask(const Question& question) override {
    shown_.emplace_back(question);
    if (const DialogAnswer* answer = next<DialogAnswer>("the question \"" + question.heading + "\""))
      return *answer;
    return DialogAnswer::closed();
  }
  std::optional<std::string> pick_folder(const FolderRequest& request) override {
    shown_.emplace_back(request);
    if (const Picked* picked = next<Picked>("the folder picker \"" + request.title + "\"")) return picked->folder;
    return std::nullopt;
  }
  void tell(const DialogMessage& message) override { shown_.emplace_back(message); }
  bool bring_top_dialog_to_front() override {
    ++raised_;
    return false;
  }

  // Everything shown, in order.
  const std::vector<Shown>& shown() const { return shown_; }
  // Each dialog in one line: a question or message by its heading, the picker as "picker: " and
  // its title.
  std::vector<std::string> headings() const {
    std::vector<std::string> out;
    for (const Shown& s : shown_) {
      if (const auto* q = std::get_if<Question>(&s)) out.push_back(q->heading);
      if (const auto* m = std::get_if<DialogMessage>(&s)) out.push_back(m->heading);
      if (const auto* f = std::get_if<FolderRequest>(&s)) out.push_back("picker: " + f->title);
    }
    return out;
  }
  std::vector<Question> questions() const { return all<Question>(); }
  std::vector<DialogMessage> messages() const { return all<DialogMessage>(); }
  std::vector<FolderRequest> folder_requests() const { return all<FolderRequest>(); }
  // Whether every scripted reply was used.
  bool finished() const { return script_.empty(); }
  int raised() const { return raised_; }

 private:
  template <class T>
  const T* next(const std::string& what) {
    if (script_.empty()) {
      ADD_FAILURE() << "no scripted reply left for " << what;
      return nullptr;
    }
    if (!std::holds_alternative<T>(script_.front())) {
      ADD_FAILURE() << "the script's next reply is not for " << what;
      return nullptr;
    }
    last_ = std::get<T>(script_.front());
    script_.pop_front();
    return &std::get<T>(last_);
  }
  template <class T>
  std::vector<T> all() const {
    std::vector<T> out;
    for (const Shown& s : shown_)
      if (const auto* t = std::get_if<T>(&s)) out.push_back(*t);
    return out;
  }

  std::deque<Reply> script_;
  Reply last_;
  std::vector<Shown> shown_;
  int raised_ = 0;
};

}  // namespace dialogs::testing
