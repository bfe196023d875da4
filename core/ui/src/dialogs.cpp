#include "core/ui/src/dialogs.hpp"

namespace dialogs {

std::string to_string(const DialogAnswer& answer) {
  switch (answer.kind) {
    case DialogAnswer::Kind::Choice:
      return "Choice(" + std::to_string(answer.index) + ")";
    case DialogAnswer::Kind::Button:
      return "Button(" + std::to_string(answer.index) + ")";
    case DialogAnswer::Kind::Closed:
      break;
  }
  return "Closed";
}

TaskDialogPlan plan_question(const Question& question) {
  TaskDialogPlan plan{question.title, question.heading, question.body, {}, 0, 0, question.icon};
  for (std::size_t i = 0; i < question.choices.size(); ++i) {
    const QuestionChoice& choice = question.choices[i];
    plan.buttons.push_back({kFirstChoiceId + static_cast<int>(i),
                            choice.note ? choice.label + "\n" + *choice.note : choice.label});
  }
  for (std::size_t j = 0; j < question.buttons.size(); ++j)
    plan.buttons.push_back({kFirstButtonId + static_cast<int>(j), question.buttons[j]});
  const bool links = !question.choices.empty();
  plan.flags = links ? (kUseCommandLinks | kAllowCancellation) : kAllowCancellation;
  plan.default_button = links ? kFirstChoiceId : kFirstButtonId;
  return plan;
}

TaskDialogPlan plan_message(const DialogMessage& message) {
  return {message.title,       message.heading,    message.body, {{kFirstButtonId, message.button}},
          kAllowCancellation, kFirstButtonId,     DialogIcon::None};
}

DialogAnswer answer_of(int pressed) {
  if (pressed >= kFirstChoiceId && pressed < kFirstButtonId)
    return DialogAnswer::choice(static_cast<std::size_t>(pressed - kFirstChoiceId));
  if (pressed >= kFirstButtonId) return DialogAnswer::button(static_cast<std::size_t>(pressed - kFirstButtonId));
  return DialogAnswer::closed();
}

}  // namespace dialogs
