// The verbs that work on DCS folders: check, install and remove.
#include <stdexcept>
#include <string>

#include "core/base/src/log.hpp"
#include "dcs/bridge/src/output.hpp"
#include "dcs/bridge/src/verbs.hpp"
#include "dcs/install/src/discovery.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/settings.hpp"

namespace cli {
namespace {

using install::InstallError;
using machine::Path;

constexpr std::string_view kDcsProcess = "DCS.exe";

// `label` followed by blanks up to `width` characters, then `value`.
std::string padded(std::string_view label, std::size_t width, std::string_view value) {
  std::string line(label);
  if (line.size() < width) line.resize(width, ' ');
  line += value;
  return line;
}

std::string check_line(std::string_view label, std::string_view value) { return padded(label, 19, value); }

std::string_view present(bool there) { return there ? "present" : "absent"; }

void print_remembered(const machine::KnownFolders& kf, const install::InstallReport& report) {
  if (!report.remembered) return;
  if (report.remembered->has_value()) {
    bridge::print_line("remembered this folder in " + machine::show_path(kf, **report.remembered));
  } else {
    base::warn("could not remember the folder: " + report.remembered->error().text());
  }
}

void report_install_error(const machine::KnownFolders& kf, const InstallError& error) {
  switch (error.kind) {
    case InstallError::Kind::CannotTellWhichFolder:
      for (const machine::FolderCandidate& c : error.candidates)
        bridge::print_line(padded("found", 11, machine::show_path(kf, c.saved_games)));
      break;
    case InstallError::Kind::FolderRefused:
      // The one refusal a user may override from the command line says how.
      if (error.refusal && error.refusal->kind == machine::FolderCheckError::Kind::NeverWritten) {
        base::log(base::Level::Error, error.text() + " To install there anyway, add --allow-unknown-folder.");
        return;
      }
      break;
    default: break;
  }
  base::log(base::Level::Error, error.text());
}

}  // namespace

std::vector<std::string> check_lines(const machine::KnownFolders& kf, const install::ScanResult& scan,
                                     bool dcs_running) {
  std::vector<std::string> lines;
  lines.push_back(check_line("state:", install::wire_word(scan.status)));
  if (scan.chosen) lines.push_back(check_line("folder:", machine::show_path(kf, *scan.chosen)));
  const std::string installed = scan.collector_version ? std::to_string(*scan.collector_version) : "none";
  lines.push_back(check_line("collector version:",
                             installed + " (this bridge has " + std::to_string(embedded::collector_version()) + ")"));
  lines.push_back(check_line("map marker:", present(scan.map_marker)));
  lines.push_back(check_line("bandit tool:", present(scan.bandit_tool)));
  lines.push_back(check_line("DCS running:", dcs_running ? "yes" : "no"));
  if (scan.folders.size() == 1) {
    for (const std::string& problem : scan.folders.front().status.problems) lines.push_back("  " + problem);
  } else {
    for (const install::FolderReport& report : scan.folders) {
      lines.push_back(check_line("also checked:", machine::show_path(kf, report.candidate.saved_games) + " (" +
                                                      std::string(install::wire_word(report.status.status)) + ")"));
      for (const std::string& problem : report.status.problems) lines.push_back("  " + problem);
    }
  }
  return lines;
}

int check_exit_code(install::InstallStatus status) {
  if (status == install::InstallStatus::installed) return 0;
  return 10 + static_cast<int>(status);
}

int install_exit_code(const InstallError& error) {
  switch (error.kind) {
    case InstallError::Kind::NoInstallFound: return 10;
    case InstallError::Kind::CannotTellWhichFolder: return 3;
    case InstallError::Kind::FolderRefused: return 2;
    case InstallError::Kind::LockHeld: return 4;
    default: return 1;
  }
}

std::optional<Path> no_folder_picker(const std::vector<machine::FolderCandidate>&) { return std::nullopt; }

install::ConsentCallback consent_from_flag(bool allow_unknown_folder) {
  return [allow_unknown_folder](const Path&) { return allow_unknown_folder; };
}

install::StepSink print_step(const machine::KnownFolders& kf) {
  return [&kf](const install::Step& step) { bridge::print_line(install::report_line(kf, step)); };
}

int check_verb(const machine::Machine& m) {
  const install::ScanResult scan = install::scan(m);
  const bool running = m.processes->is_running(kDcsProcess);
  for (const std::string& line : check_lines(*m.known_folders, scan, running)) bridge::print_line(line);
  return check_exit_code(scan.status);
}

int install_verb(const machine::Machine& m, const InstallArgs& args, const MakePrompt& make_prompt) {
  std::unique_ptr<InstallPrompt> prompt;
  if (args.prompt) {
    prompt = make_prompt();
    if (!prompt) throw std::logic_error("install --prompt was given no dialogs");
  }
  const machine::KnownFolders& kf = *m.known_folders;
  install::InstallRequest request{std::nullopt, {args.map_marker, args.bandit_tool}};
  if (args.saved_games) request.saved_games = bridge::to_path(*args.saved_games);

  install::FolderChooser chooser = no_folder_picker;
  install::ConsentCallback consent = consent_from_flag(args.allow_unknown_folder);
  if (prompt) {
    chooser = [p = prompt.get()](const std::vector<machine::FolderCandidate>& c) { return p->pick_folder(c); };
    consent = [p = prompt.get()](const Path& folder) { return p->confirm_unknown_folder(folder); };
  }
  const install::StepSink steps = print_step(kf);

  std::expected<install::InstallReport, InstallError> result = install::apply(m, request, chooser, consent, steps);
  if (prompt && !result && result.error().kind == InstallError::Kind::NoInstallFound) {
    // Nothing was found: the folder window alone lets the user name the folder.
    if (std::optional<Path> picked = prompt->pick_folder({})) {
      request.saved_games = std::move(*picked);
      result = install::apply(m, request, chooser, consent, steps);
    }
  }
  if (prompt && prompt->dialog_failed()) {
    base::log(base::Level::Error, "a dialog failed; the install may be incomplete");
    return 1;
  }
  if (!result) {
    report_install_error(kf, result.error());
    return install_exit_code(result.error());
  }
  print_remembered(kf, *result);
  if (m.processes->is_running(kDcsProcess))
    bridge::print_line("DCS is running: restart the mission to load the collector, and DCS for the bandit tool.");
  return 0;
}

int remove_verb(const machine::Machine& m) {
  const machine::KnownFolders& kf = *m.known_folders;
  struct Failure {
    Path folder;
    InstallError error;
  };
  std::vector<machine::FolderCandidate> folders;
  std::vector<Failure> failures;
  {
    std::expected<install::InstallLock, InstallError> lock = install::take_install_lock(m);
    if (!lock) {
      base::log(base::Level::Error, lock.error().text());
      return install_exit_code(lock.error());
    }
    folders = machine::discover_folders(m, machine::hand_picked_folders(m));
    const install::StepSink steps = print_step(kf);
    for (const machine::FolderCandidate& folder : folders) {
      std::expected<std::vector<install::Step>, InstallError> removed =
          install::remove_from_folder(m, folder.saved_games, steps);
      if (!removed) failures.push_back({folder.saved_games, std::move(removed.error())});
    }
  }
  if (folders.empty()) {
    bridge::print_line("no DCS folder found; nothing to remove");
    return 0;
  }
  for (const Failure& f : failures)
    base::log(base::Level::Error, "removing from " + machine::show_path(kf, f.folder) + ": " + f.error.text());
  return failures.empty() ? 0 : 1;
}

}  // namespace cli
