#include "dcs/bridge/src/repair.hpp"

#include <algorithm>
#include <string>
#include <variant>

#include "dcs/bridge/src/wording.hpp"
#include "dcs/install/src/scan.hpp"

namespace repair {
namespace {

using dialogs::DialogAnswer;
using install::AddOnAction;
using install::InstallStatus;
using machine::Path;

// The folder picker loop behind "Browse…": a picked folder must pass the folder check, or the
// user agrees to one DCS never wrote to; after a refusal the user may pick again.
std::optional<Path> browse(RepairContext& context) {
  context.picker_shown = true;
  const machine::KnownFolders& kf = *context.machine.known_folders;
  const dialogs::FolderRequest request = wording::folder_picker(kf.saved_games());
  for (;;) {
    const std::optional<std::string> picked = context.dialogs.pick_folder(request);
    if (!picked) return std::nullopt;
    std::expected<Path, machine::FolderCheckError> checked = machine::check_folder_kind(context.machine, Path(*picked));
    if (checked) return std::move(*checked);
    const machine::FolderCheckError& refusal = checked.error();
    DialogAnswer answer;
    switch (refusal.kind) {
      case machine::FolderCheckError::Kind::ProgramFolder:
        answer = context.dialogs.ask(wording::program_folder_question(wording::folder_text(kf, refusal.path)));
        break;
      case machine::FolderCheckError::Kind::NeverWritten:
        answer = context.dialogs.ask(wording::not_a_dcs_folder_question(wording::folder_text(kf, refusal.path)));
        if (answer == DialogAnswer::button(wording::kInstallAnywayButton)) {
          context.consented = refusal.path;
          return refusal.path;
        }
        break;
      default:
        answer = context.dialogs.ask(wording::folder_cant_be_used_question(refusal.text()));
        break;
    }
    if (answer != DialogAnswer::button(wording::kPickAnotherButton)) return std::nullopt;
  }
}

// Step 1: the folder to work on; none ends the flow quietly or after the refusal question.
std::optional<Path> choose(RepairContext& context, std::optional<InstallStatus> tray_status,
                           const install::FolderChooser& chooser, const install::ConsentCallback& consent) {
  const machine::Machine& m = context.machine;
  install::FolderChoice choice;
  if (tray_status == InstallStatus::wrongFolderSuspected) {
    // The folder the scan trusts is in doubt, so even a single known folder is put to the user.
    std::optional<Path> picked = pick_folder(context, machine::discover_folders(m, machine::hand_picked_folders(m)));
    if (!picked) return std::nullopt;
    choice = install::choose_folder(m, picked, chooser, consent);
  } else {
    choice = install::choose_folder(m, std::nullopt, chooser, consent);
    if (std::holds_alternative<install::NotFound>(choice)) {
      std::optional<Path> picked = pick_folder(context, {});
      if (!picked) return std::nullopt;
      choice = install::choose_folder(m, picked, chooser, consent);
    }
  }
  while (const auto* refused = std::get_if<install::Refused>(&choice)) {
    // "Pick another folder" leads to the folder picker here as everywhere else.
    const DialogAnswer answer = context.dialogs.ask(wording::folder_cant_be_used_question(refused->error.text()));
    if (answer != DialogAnswer::button(wording::kPickAnotherButton)) return std::nullopt;
    std::optional<Path> picked = browse(context);
    if (!picked) return std::nullopt;
    choice = install::choose_folder(m, picked, chooser, consent);
  }
  if (auto* found = std::get_if<install::Found>(&choice)) return std::move(found->path);
  return std::nullopt;  // several folders, and the user skipped
}

// Plain mode: a first set-up brings both add-ons; a repair keeps the ones that are there.
install::Options repair_options(const install::FolderStatus& folder) {
  if (folder.status == InstallStatus::simulatorNotFound || folder.status == InstallStatus::notInstalled)
    return {AddOnAction::Install, AddOnAction::Install};
  return {folder.map_marker ? AddOnAction::Install : AddOnAction::LeaveAsIs,
          folder.bandit_tool ? AddOnAction::Install : AddOnAction::LeaveAsIs};
}

}  // namespace

std::optional<Path> pick_folder(RepairContext& context, const std::vector<machine::FolderCandidate>& candidates) {
  context.picker_shown = true;
  struct Offered {
    Path folder;
    std::optional<machine::FileTime> log_time;
  };
  std::vector<Offered> offered;
  for (const machine::FolderCandidate& c : candidates)
    offered.push_back({c.saved_games, context.machine.files->modified_time(c.saved_games.join("Logs\\dcs.log"))});
  // Newest log first, folders without one last; equals keep their order.
  std::ranges::stable_sort(offered, [](const Offered& a, const Offered& b) {
    return a.log_time && (!b.log_time || *a.log_time > *b.log_time);
  });
  std::vector<wording::PickCandidate> shown;
  for (const Offered& o : offered)
    shown.push_back({wording::folder_text(*context.machine.known_folders, o.folder), o.log_time});

  const DialogAnswer answer = context.dialogs.ask(wording::pick_folder_question(shown, context.now()));
  if (answer.kind == DialogAnswer::Kind::Choice && answer.index < offered.size())
    return offered[answer.index].folder;
  if (answer == DialogAnswer::button(wording::kBrowseButton)) return browse(context);
  return std::nullopt;
}

bool confirm_unknown_folder(RepairContext& context, const Path& folder) {
  if (context.consented && machine::same_folder(*context.consented, folder)) return true;
  const DialogAnswer answer = context.dialogs.ask(
      wording::not_a_dcs_folder_question(wording::folder_text(*context.machine.known_folders, folder)));
  if (answer != DialogAnswer::button(wording::kInstallAnywayButton)) return false;
  context.consented = folder;
  return true;
}

install::FolderChooser folder_chooser(RepairContext& context) {
  return [&context](const std::vector<machine::FolderCandidate>& candidates) {
    return pick_folder(context, candidates);
  };
}

install::ConsentCallback consent_callback(RepairContext& context) {
  return [&context](const Path& folder) { return confirm_unknown_folder(context, folder); };
}

void run_repair(const machine::Machine& machine, dialogs::Dialogs& dialogs, const Clock& now, bool add_ons,
                std::optional<InstallStatus> tray_status) {
  RepairContext context{machine, dialogs, now, std::nullopt, false};
  const install::FolderChooser chooser = folder_chooser(context);
  const install::ConsentCallback consent = consent_callback(context);

  const std::optional<Path> folder = choose(context, tray_status, chooser, consent);
  if (!folder) return;
  const install::FolderStatus before = install::check_folder(machine, *folder);

  install::Options options;
  if (!add_ons) {
    const InstallStatus asked = tray_status == InstallStatus::wrongFolderSuspected ? *tray_status : before.status;
    const DialogAnswer answer =
        dialogs.ask(wording::repair_question(wording::folder_text(*machine.known_folders, *folder), asked));
    if (answer != DialogAnswer::button(wording::kRepairButton)) return;
    options = repair_options(before);
  } else {
    const std::optional<AddOnAction> map_marker = wording::addon_action(
        dialogs.ask(wording::addons_question(install::AddOn::MapMarker, before.map_marker)), before.map_marker);
    if (!map_marker) return;
    const std::optional<AddOnAction> bandit_tool = wording::addon_action(
        dialogs.ask(wording::addons_question(install::AddOn::BanditTool, before.bandit_tool)), before.bandit_tool);
    if (!bandit_tool) return;
    options = {*map_marker, *bandit_tool};
  }

  // A folder the user picked is handed over as named; otherwise the engine finds the same single
  // folder again without asking.
  const install::InstallRequest request{context.picker_shown ? folder : std::nullopt, options};
  const std::expected<install::InstallReport, install::InstallError> result =
      install::apply(machine, request, chooser, consent, [](const install::Step&) {});
  if (!result) {
    dialogs.tell(wording::repair_stopped_message(result.error()));
    return;
  }
  dialogs.tell(wording::done_message(wording::done_lines(*result, before)));
}

}  // namespace repair
