#include "dcs/bridge/src/wording.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>

namespace wording {
namespace {

using dialogs::DialogIcon;
using dialogs::DialogMessage;
using dialogs::Question;
using install::InstallStatus;
using install::Step;

// The menu item with which the user adds or removes the add-ons, as the texts name it.
constexpr std::string_view kConfigureAddOns = "Configure optional add-ons";

// Log ages in whole seconds.
constexpr std::int64_t kDay = 86'400;
constexpr std::int64_t kTwoDays = 172'800;
constexpr std::int64_t kMonthOnlyAge = 25'920'000;

constexpr std::array<std::string_view, 12> kMonths = {"January", "February", "March",     "April",
                                                      "May",     "June",     "July",      "August",
                                                      "September", "October", "November", "December"};

// `pattern` with each "{}" replaced by the next of `values`.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string out;
  auto value = values.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.substr(i, 2) == "{}" && value != values.end()) {
      out += *value++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

DialogMessage message(std::string heading, std::string body) {
  return {std::string(kTitle), std::move(heading), std::move(body), "Close"};
}

Question question(std::string heading, std::string body, std::vector<std::string> buttons, DialogIcon icon) {
  return {std::string(kTitle), std::move(heading), std::move(body), {}, std::move(buttons), icon};
}

std::string_view status_sentence(InstallStatus status) {
  switch (status) {
    case InstallStatus::outdated: return "The Tolvaro script is out of date and will be updated.";
    case InstallStatus::modified:
      return "The Tolvaro script was changed by hand. It will be replaced, and the changed copy kept beside it.";
    case InstallStatus::installFailed:
      return "Some of its files are missing or could not be read. They will be written again.";
    default: return "Everything is up to date.";
  }
}

// The age of `log_time` at `now` in whole seconds, for a log time before `now`; worked out from
// whole seconds and their fractions, so that no time of the file system's range overflows.
std::int64_t age_in_seconds(machine::FileTime log_time, machine::FileTime now) {
  using std::chrono::floor;
  using std::chrono::seconds;
  const auto now_s = floor<seconds>(now);
  const auto log_s = floor<seconds>(log_time);
  std::int64_t age = (now_s - log_s).count();
  if (now - now_s < log_time - log_s) --age;
  return age;
}

// Which part of the program a path of an install report belongs to.
enum class Part { Script, MapMarker, BanditTool };

Part part_of(const machine::Path& folder, const machine::Path& path) {
  const std::optional<install::AddOn> add_on = install::add_on_of_path(folder, path);
  if (!add_on) return Part::Script;
  return *add_on == install::AddOn::MapMarker ? Part::MapMarker : Part::BanditTool;
}

std::string_view part_name(Part part) {
  switch (part) {
    case Part::Script: return "the Tolvaro script";
    case Part::MapMarker: return "the F10 map marker";
    case Part::BanditTool: return "the bandit tool";
  }
  return "";
}

bool was_there(Part part, const install::FolderStatus& before) {
  switch (part) {
    case Part::Script: return before.collector;
    case Part::MapMarker: return before.map_marker;
    case Part::BanditTool: return before.bandit_tool;
  }
  return false;
}

// Whether the step changed something in the folder; the others only say what was found.
bool changes(Step::Kind kind) {
  switch (kind) {
    case Step::Kind::Unchanged:
    case Step::Kind::HandEditedCopyAlreadySaved:
    case Step::Kind::LeftOwnLine:
    case Step::Kind::KeptFolder:
    case Step::Kind::KeptCollector: return false;
    default: return true;
  }
}

// The line of one step, or none for a step the user need not hear about.
std::optional<std::string> step_line(const Step& step, const machine::Path& folder,
                                     const install::FolderStatus& before) {
  const Part part = part_of(folder, step.path);
  const std::string_view name = part_name(part);
  switch (step.kind) {
    case Step::Kind::Unchanged: return std::nullopt;
    case Step::Kind::Wrote: return fill(was_there(part, before) ? "Updated {}." : "Added {}.", {name});
    case Step::Kind::KeptHandEditedCopy:
    case Step::Kind::HandEditedCopyAlreadySaved: return fill("Kept your edited copy of {} beside it.", {name});
    case Step::Kind::RemovedFile: return fill("Removed {}.", {name});
    case Step::Kind::RemovedFolder: return fill("Removed {}.", {name});
    case Step::Kind::KeptFolder:
      return fill("Kept the folder of {}, which holds files that are not Tolvaro's.", {name});
    case Step::Kind::BackedUp: return "Backed up Export.lua first.";
    case Step::Kind::AddedLine: return "Added Tolvaro's line to Export.lua.";
    case Step::Kind::RemovedExtraLines: return "Removed extra copies of Tolvaro's line from Export.lua.";
    case Step::Kind::LeftOwnLine: return "Left your own Tolvaro line in Export.lua as it is.";
    case Step::Kind::RemovedLine: return "Removed Tolvaro's line from Export.lua.";
    case Step::Kind::KeptCollector: return "Kept the Tolvaro script, which your own line in Export.lua still loads.";
  }
  return std::nullopt;
}

std::string_view refusal_text(machine::FolderCheckError::Kind kind) {
  using Kind = machine::FolderCheckError::Kind;
  switch (kind) {
    // A path that cannot be made absolute names no folder on a drive of this PC either.
    case Kind::NotLocal:
    case Kind::CannotMakeAbsolute: return "That folder can't be used: it must be on a drive of this PC.";
    case Kind::NotAFolder: return "That folder doesn't exist.";
    case Kind::ProgramFolder: return "That is the DCS program folder, not the folder DCS writes to.";
    case Kind::NeverWritten: return "That folder has no DCS settings or log in it.";
  }
  return "";
}

}  // namespace

DialogMessage stopped_dialog(std::string_view reason) {
  return message("Tolvaro DCS Bridge stopped",
                 fill("It ran into an error and had to stop: {}\n\nStart it again from the Start Menu.", {reason}));
}

DialogMessage couldnt_start_dialog(std::string_view reason) {
  return message(
      "Tolvaro DCS Bridge couldn't start",
      fill("{}\n\nStart it again from the Start Menu. If this keeps happening, restart your PC.", {reason}));
}

std::string folder_text(const machine::KnownFolders& known_folders, const machine::Path& folder) {
  if (std::optional<machine::Path> saved_games = known_folders.saved_games())
    if (std::optional<std::string> rest = machine::text_below(*saved_games, folder); rest && !rest->empty())
      return "Saved Games" + *rest;
  return folder.text();
}

std::string log_age_note(std::optional<machine::FileTime> log_time, machine::FileTime now) {
  if (!log_time) return "No DCS log yet";
  if (*log_time >= now) return "DCS log written today";
  const std::int64_t age = age_in_seconds(*log_time, now);
  if (age < kDay) return "DCS log written today";
  if (age < kTwoDays) return "DCS log written yesterday";
  using std::chrono::floor;
  const std::chrono::year_month_day written{floor<std::chrono::days>(*log_time)};
  const std::chrono::year_month_day today{floor<std::chrono::days>(now)};
  const std::string_view month = kMonths[static_cast<unsigned>(written.month()) - 1];
  if (age < kMonthOnlyAge || written.year() == today.year()) return fill("DCS log last written in {}", {month});
  return fill("DCS log last written in {} {}", {month, std::to_string(static_cast<int>(written.year()))});
}

Question repair_question(std::string_view folder_text, InstallStatus status) {
  std::string heading = "Repair Tolvaro in DCS";
  std::string body;
  switch (status) {
    case InstallStatus::simulatorNotFound:
    case InstallStatus::notInstalled:
      heading = "Set up Tolvaro in DCS";
      body = fill("Tolvaro will be set up in {}, with the F10 map marker and the bandit tool (both recommended).\n\n"
                  "To leave either out, use {} in the tray menu afterwards.",
                  {folder_text, kConfigureAddOns});
      break;
    case InstallStatus::wrongFolderSuspected:
      body = fill("{} Tolvaro will be set up in {}, the folder you picked.\n\n"
                  "The optional add-ons there stay as they are, or both go in if Tolvaro is new there.",
                  {"DCS is flying but Tolvaro hears nothing, so DCS probably reads another folder.", folder_text});
      break;
    default:
      body = fill("Installed in {}. {}\n\n"
                  "The optional add-ons stay as they are. To add or remove them, use {} in the tray menu.",
                  {folder_text, status_sentence(status), kConfigureAddOns});
      break;
  }
  return question(std::move(heading), std::move(body), {"Repair", "Cancel"}, DialogIcon::None);
}

Question pick_folder_question(std::span<const PickCandidate> candidates, machine::FileTime now) {
  Question q = question("Where does DCS keep its Saved Games folder?",
                        candidates.empty() ? "Tolvaro couldn't find DCS on this PC. Pick the folder DCS uses under "
                                             "Saved Games, usually Saved Games\\DCS."
                                           : "We couldn't work it out on our own. Pick the folder DCS uses:",
                        {"Browse\u2026", "Skip for now"}, DialogIcon::None);
  for (const PickCandidate& c : candidates) q.choices.push_back({c.folder_text, log_age_note(c.log_time, now)});
  return q;
}

dialogs::FolderRequest folder_picker(const std::optional<machine::Path>& start_folder) {
  dialogs::FolderRequest request{std::string(kFolderPickerTitle), std::nullopt};
  if (start_folder) request.start_folder = start_folder->text();
  return request;
}

Question program_folder_question(std::string_view folder_text) {
  return question("That's the DCS program folder",
                  fill("You picked {}, where DCS itself is installed.\n\n"
                       "Tolvaro goes in the folder DCS writes to, usually Saved Games\\DCS under your user folder.",
                       {folder_text}),
                  {"Pick another folder", "Skip for now"}, DialogIcon::Warning);
}

Question not_a_dcs_folder_question(std::string_view folder_text) {
  return question("This doesn't look like a DCS folder",
                  fill("{} has no DCS settings or log in it.\n\n"
                       "If DCS has never been started on this PC, start it once first, then try again.",
                       {folder_text}),
                  {"Pick another folder", "Install here anyway"}, DialogIcon::Warning);
}

Question folder_cant_be_used_question(std::string_view reason) {
  return question("That folder can't be used", std::string(reason), {"Pick another folder", "Skip for now"},
                  DialogIcon::Warning);
}

Question addons_question(install::AddOn add_on, bool installed) {
  const bool map_marker = add_on == install::AddOn::MapMarker;
  const std::string_view heading = map_marker ? "F10 map marker (recommended)" : "Bandit tool (recommended)";
  const std::string_view description =
      map_marker ? "Click the F10 map to load a steerpoint into the F-16 and send it to Quessa."
                 : "Adds a practice bandit from the F10 map.";
  const std::string_view state = installed     ? "It is installed."
                                 : map_marker ? "It is not installed."
                                              : "It is not installed. If you add it, DCS needs a restart to load it.";
  std::vector<std::string> buttons = installed ? std::vector<std::string>{"Keep it (recommended)", "Remove it"}
                                               : std::vector<std::string>{"Add it (recommended)", "Leave it out"};
  return question(std::string(heading),
                  fill("{} {}\n\nYou can change this again any time with {} in the tray menu.",
                       {description, state, kConfigureAddOns}),
                  std::move(buttons), DialogIcon::None);
}

std::optional<install::AddOnAction> addon_action(const dialogs::DialogAnswer& answer, bool installed) {
  if (answer.kind != dialogs::DialogAnswer::Kind::Button) return std::nullopt;
  if (answer.index == 0) return install::AddOnAction::Install;
  if (answer.index == 1) return installed ? install::AddOnAction::Remove : install::AddOnAction::LeaveAsIs;
  return std::nullopt;
}

std::vector<std::string> done_lines(const install::InstallReport& report, const install::FolderStatus& before) {
  bool changed = false;
  bool wrote_bandit_tool = false;
  std::vector<std::string> lines;
  for (const Step& step : report.steps) {
    changed = changed || changes(step.kind);
    if (step.kind == Step::Kind::Wrote && part_of(report.folder, step.path) == Part::BanditTool)
      wrote_bandit_tool = true;
    std::optional<std::string> line = step_line(step, report.folder, before);
    if (line && std::ranges::find(lines, *line) == lines.end()) lines.push_back(std::move(*line));
  }
  // What a run that changed nothing found needs no action, and no restart.
  if (!changed) return {"Everything was already in place. Nothing was changed."};
  if (wrote_bandit_tool) lines.push_back("If DCS is open, restart DCS to load the bandit tool.");
  lines.push_back("If DCS is open, restart your mission to pick up the change.");
  return lines;
}

DialogMessage done_message(std::span<const std::string> lines) {
  std::string body;
  for (const std::string& line : lines) body += (body.empty() ? "" : "\n\n") + line;
  return message("Done", std::move(body));
}

std::string install_error_text(const install::InstallError& error) {
  using Kind = install::InstallError::Kind;
  switch (error.kind) {
    case Kind::NoInstallFound: return "No DCS folder was found on this PC.";
    case Kind::CannotTellWhichFolder: return "Tolvaro couldn't tell which DCS folder to use.";
    case Kind::FolderRefused:
      if (error.refusal) return std::string(refusal_text(error.refusal->kind));
      break;
    case Kind::FolderMissing: return "The DCS folder doesn't exist yet. Start DCS once, then try again.";
    case Kind::LockHeld: return "Another install or repair is running. Wait for it to finish, then try again.";
    case Kind::ReadOnly: return "Export.lua is read-only. Clear its read-only box in Properties, then try again.";
    // A text that would hide the hook line is as unsafe to change as one that is not UTF-8.
    case Kind::NotUtf8:
    case Kind::OpenAtEnd: return "Export.lua isn't text Tolvaro can change safely, so it was left alone.";
    case Kind::BackupIsFolder: return "Export.lua could not be backed up, because a folder has the backup's name.";
    case Kind::PutBackFailed:
      // Without a copy from before, none is promised.
      if (!error.backup) return "Writing Export.lua failed, and so did putting it back.";
      return "Writing Export.lua failed, and so did putting it back. Its backup, Export.lua.Tolvaro-backup, is "
             "beside it.";
    case Kind::Io:
      return fill("Tolvaro couldn't {} one of its files in your DCS folder. Your antivirus may have blocked it.",
                  {install::word(error.operation)});
    case Kind::WrittenFileGone:
    case Kind::WrittenFileDiffers:
      return "A file Tolvaro wrote did not stay as written. Security software may have removed or changed it.";
  }
  return error.text();
}

DialogMessage repair_stopped_message(const install::InstallError& error) {
  return message("Repair stopped", install_error_text(error));
}

}  // namespace wording
