#include "dcs/install/src/embedded.hpp"

#include <algorithm>
#include <cstdlib>

#include "core/base/src/log.hpp"
#include "dcs/install/src/unicode.hpp"

namespace embedded {
namespace {

constexpr std::uint64_t kBanditToolReleases[] = {0xe3e62f8c51f2195d, 0xe9cb43a35f77baf6};
constexpr std::uint64_t kReticleLuaReleases[] = {0xa03ec6d37c52e05b, 0x3a5911517bf2c24c};
constexpr std::uint64_t kCollectorReleases[] = {
    0xfb4e6faa772a5c81, 0x6d595351d03fbe52, 0x8131520eacbc1aba,
    0xfe96d043fda0aee8, 0xc7c72087aff6a3f,  0xf610da881b2ac0,
};

struct ReleaseList {
  std::string_view relative_path;
  std::span<const std::uint64_t> hashes;
};

constexpr ReleaseList kReleaseLists[] = {
    {"Hooks\\TolvaroBandits.lua", kBanditToolReleases},
    {"Tolvaro\\reticle\\reticle.lua", kReticleLuaReleases},
    {"Tolvaro\\collectorScript.lua", kCollectorReleases},
};

bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

// The version a line gives, if any.
std::optional<std::uint32_t> version_in_line(std::u32string_view line) {
  constexpr std::u32string_view kName = U"COLLECTOR_VERSION";
  const std::size_t at = line.find(kName);
  if (at == std::u32string_view::npos) return std::nullopt;
  std::size_t i = at + kName.size();
  while (i < line.size() && machine::is_white_space(line[i])) ++i;
  if (i >= line.size() || line[i] != U'=') return std::nullopt;
  ++i;
  while (i < line.size() && machine::is_white_space(line[i])) ++i;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < line.size() && is_digit(line[i]); ++i, ++digits) {
    value = value * 10 + (line[i] - U'0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::uint64_t release_hash(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    hash ^= static_cast<unsigned char>(bytes[i]);
    hash *= 0x100000001b3;
  }
  return hash;
}

std::span<const std::uint64_t> earlier_releases(std::string_view relative_path) {
  for (const ReleaseList& list : kReleaseLists)
    if (list.relative_path == relative_path) return list.hashes;
  return {};
}

FileState state_of(std::string bytes, std::string_view contents, std::span<const std::uint64_t> earlier) {
  if (bytes == contents) return {FileState::Kind::Current, {}, {}};
  const std::uint64_t hash = release_hash(bytes);
  const bool known = std::find(earlier.begin(), earlier.end(), hash) != earlier.end();
  return {known ? FileState::Kind::EarlierRelease : FileState::Kind::Edited, std::move(bytes), {}};
}

FileState compare_installed(const machine::FileSystem& files, const machine::Path& path,
                            const EmbeddedFile& file) {
  machine::ReadOutcome outcome = files.read(path);
  if (std::holds_alternative<machine::Missing>(outcome)) return {FileState::Kind::Absent, {}, {}};
  if (auto* error = std::get_if<machine::IoError>(&outcome))
    return {FileState::Kind::Unreadable, {}, std::move(*error)};
  return state_of(std::move(std::get<machine::Bytes>(outcome)), file.contents,
                  earlier_releases(file.relative_path));
}

std::optional<std::uint32_t> read_collector_version(std::string_view bytes) {
  const std::u32string text = machine::decode_utf8(bytes);
  std::u32string_view rest = text;
  while (true) {
    const std::size_t lf = rest.find(U'\n');
    std::u32string_view line = rest.substr(0, lf);
    if (lf != std::u32string_view::npos && line.ends_with(U'\r')) line.remove_suffix(1);
    if (std::optional<std::uint32_t> version = version_in_line(line)) return version;
    if (lf == std::u32string_view::npos) return std::nullopt;
    rest.remove_prefix(lf + 1);
  }
}

std::uint32_t collector_version() {
  // The build refuses a collector without the assignment, so this is only a last guard.
  static const std::uint32_t version = [] {
    std::optional<std::uint32_t> v = read_collector_version(COLLECTOR_FILE.contents);
    if (!v) {
      base::log(base::Level::Error, "the embedded collector assigns COLLECTOR_VERSION");
      std::abort();
    }
    return *v;
  }();
  return version;
}

}  // namespace embedded
