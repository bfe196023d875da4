#include "dcs/install/src/discovery.hpp"

#include <algorithm>

#include "core/base/src/clip.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/src/unicode.hpp"
#include "dcs/install/src/vdf.hpp"

namespace machine {
namespace {

using install::log_once;
using base::Level;

Path with_backslashes(Path path) {
  std::u16string units = path.units();
  for (char16_t& u : units)
    if (u == u'/') u = u'\\';
  return Path(std::move(units));
}

// A value that names a folder on its own: "X:\..." or "\\...". Anything else would be resolved
// against the working folder of the program.
bool is_absolute(const std::u32string_view text) {
  const bool drive = text.size() >= 3 && ((text[0] | 0x20) >= U'a' && (text[0] | 0x20) <= U'z') &&
                     text[1] == U':' && text[2] == U'\\';
  const bool share = text.size() >= 2 && text[0] == U'\\' && text[1] == U'\\';
  return drive || share;
}

// A folder from the registry; a value that is absent, empty or not absolute counts as absent.
std::optional<Path> read_folder_value(const Machine& m, const RegistryPlace& place, bool trim) {
  std::optional<std::string> value = m.registry->read_string(place.root, place.subkey, place.value);
  if (!value) return std::nullopt;
  std::u32string text = decode_utf8(*value);
  std::u32string_view view = text;
  if (trim) view = trim_white_space(view);
  std::u32string folder(view);
  for (char32_t& c : folder)
    if (c == U'/') c = U'\\';
  if (!is_absolute(folder)) return std::nullopt;
  return Path(encode_utf8(folder));
}

std::vector<Path> steam_libraries(const Machine& m, const Path& steam) {
  const Path file = steam.join(kSteamLibraryList);
  ReadOutcome outcome = m.files->read(file);
  if (const auto* error = std::get_if<IoError>(&outcome)) {
    log_once(Level::Warn, "cannot read " + show_path(*m.known_folders, file) + ": " + error->text);
    return {};
  }
  std::vector<Path> libraries;
  if (const auto* bytes = std::get_if<Bytes>(&outcome))
    for (const std::string& library : parse_library_folders(*bytes)) libraries.emplace_back(library);
  return libraries;
}

bool is_plain_word(std::u32string_view word) {
  for (char32_t c : word) {
    const bool ok = (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') ||
                    (c >= U'0' && c <= U'9') || c == U'-' || c == U'_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string FolderCheckError::text() const {
  const std::string p = path.text();
  switch (kind) {
    case Kind::NotLocal:
      return p + ", is not a folder on a local drive such as C:";
    case Kind::CannotMakeAbsolute:
      return p + " cannot be made absolute";
    case Kind::NotAFolder:
      return p + " is not a folder";
    case Kind::ProgramFolder:
      return p + " is where DCS itself is installed. Pick the DCS folder under Saved Games instead, "
                 "such as C:\\Users\\<you>\\Saved Games\\DCS: the one with Config and Logs folders in it.";
    case Kind::NeverWritten:
      return p + " has no Config folder and no Logs\\dcs.log, so DCS has probably never written to "
                 "it. The DCS folder under Saved Games is usually C:\\Users\\<you>\\Saved Games\\DCS.";
  }
  return p;
}

std::optional<Path> install_variant(const Machine& m, const Path& saved_games, const Path& install) {
  const Path file = install.join("dcs_variant.txt");
  ReadOutcome outcome = m.files->read(file);
  const KnownFolders& known = *m.known_folders;
  std::string name = "DCS";
  if (const auto* error = std::get_if<IoError>(&outcome)) {
    log_once(Level::Warn, "skipping the DCS install at " + show_path(known, install) +
                              ": cannot read " + show_path(known, file) + ": " + error->text);
    return std::nullopt;
  }
  if (const auto* bytes = std::get_if<Bytes>(&outcome)) {
    std::u32string text = decode_utf8(*bytes);
    std::u32string_view word = text;
    while (!word.empty() && word.front() == 0xFEFF) word.remove_prefix(1);
    word = trim_white_space(word);
    auto skip = [&](const std::string& reason) {
      log_once(Level::Info, "skipping the DCS install at " + show_path(known, install) + ": " + reason);
      return std::nullopt;
    };
    const std::string written = encode_utf8(word);
    if (!is_plain_word(word))
      return skip("its dcs_variant.txt holds " + base::clip(written) + ", which is not one plain word");
    const std::string lower = ascii_lower(written);
    if (lower == "dcs_server" || lower == "dcs_serverrelease" || lower == "dcs_serveropenbeta")
      return skip("it is a dedicated server");
    if (!written.empty()) name = "DCS." + written;
  }
  const Path joined = saved_games.join(name);
  std::expected<Path, AbsoluteError> absolute = local_absolute(joined);
  return absolute ? *absolute : joined;
}

std::vector<FolderCandidate> discover_folders(const Machine& m, const std::vector<Path>& extra_folders) {
  std::vector<FolderCandidate> found;
  if (std::optional<Path> saved_games = m.known_folders->saved_games()) {
    std::vector<Path> installs;
    for (const RegistryPlace& place : kInstallPlaces)
      if (std::optional<Path> folder = read_folder_value(m, place, true)) installs.push_back(*folder);
    std::optional<Path> steam = read_folder_value(m, kSteamPlaces[0], false);
    if (!steam) steam = read_folder_value(m, kSteamPlaces[1], false);
    if (steam)
      for (const Path& library : steam_libraries(m, *steam))
        installs.push_back(with_backslashes(library.join(kDcsInSteamLibrary)));

    std::vector<Path> present;
    for (const Path& install : installs) {
      if (m.files->kind(install) == PathKind::Folder) {
        present.push_back(install);
      } else {
        log_once(Level::Info, "skipping the DCS install at " + show_path(*m.known_folders, install) +
                                  ": the folder is gone");
      }
    }
    for (const Path& install : present)
      if (std::optional<Path> folder = install_variant(m, *saved_games, install))
        found.push_back({*folder, install});
  } else {
    log_once(Level::Warn, "Windows did not say where Saved Games is, so no DCS install can be used");
  }
  for (const Path& extra : extra_folders) found.push_back({extra, std::nullopt});

  std::vector<FolderCandidate> kept;
  std::vector<std::string> keys;
  for (FolderCandidate& candidate : found) {
    std::string key = normalise(candidate.saved_games);
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
    keys.push_back(std::move(key));
    kept.push_back(std::move(candidate));
  }
  return kept;
}

std::expected<Path, FolderCheckError> check_folder_kind(const Machine& m, const Path& path) {
  using Kind = FolderCheckError::Kind;
  std::expected<Path, AbsoluteError> absolute = local_absolute(path);
  if (!absolute) {
    Kind kind = absolute.error().why == AbsoluteError::Why::NotLocal ? Kind::NotLocal
                                                                      : Kind::CannotMakeAbsolute;
    return std::unexpected(FolderCheckError{kind, path});
  }
  const Path& folder = *absolute;
  const FileSystem& files = *m.files;
  if (files.kind(folder) != PathKind::Folder)
    return std::unexpected(FolderCheckError{Kind::NotAFolder, folder});
  if (files.kind(folder.join("bin\\DCS.exe")) == PathKind::File ||
      files.kind(folder.join("bin-mt\\DCS.exe")) == PathKind::File)
    return std::unexpected(FolderCheckError{Kind::ProgramFolder, folder});
  if (files.kind(folder.join("Config")) == PathKind::Folder ||
      files.kind(folder.join("Logs\\dcs.log")) == PathKind::File)
    return folder;
  return std::unexpected(FolderCheckError{Kind::NeverWritten, folder});
}

std::vector<Path> hand_picked_folders(const Machine& m) {
  std::vector<Path> kept;
  for (const Path& folder : settings::read(m)) {
    std::expected<Path, FolderCheckError> checked = check_folder_kind(m, folder);
    if (checked) {
      kept.push_back(*checked);
      continue;
    }
    const FolderCheckError& error = checked.error();
    if (error.kind == FolderCheckError::Kind::NeverWritten) {
      kept.push_back(error.path);
      continue;
    }
    // The path is shown shortened, like every path in a log line.
    std::string text = error.text();
    const std::string plain = error.path.text();
    const std::string shown = show_path(*m.known_folders, error.path);
    if (!plain.empty()) {
      for (std::size_t at = text.find(plain); at != std::string::npos;
           at = text.find(plain, at + shown.size()))
        text.replace(at, plain.size(), shown);
    }
    log_once(Level::Warn, "ignoring a hand-picked folder from the settings file: " + text);
  }
  return kept;
}

}  // namespace machine
