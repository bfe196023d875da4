// The version reader of an installed collector script, embedded::read_collector_version.
//
// Properties: its answer is that of a second reader, written here on the raw bytes without
// decoding them (the valid UTF-8 forms of the white-space characters are matched as bytes; every
// other byte above ASCII is a character that is neither white space, "=" nor a digit, and no
// invalid sequence may swallow an ASCII byte); a line added after the text never changes a version
// read, and gives its own when there was none.

#include <optional>

#include "dcs/install/src/embedded.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

// The length of the white-space character (Unicode White_Space) that starts at `at`, or 0.
std::size_t white_space_at(std::string_view s, std::size_t at) {
  const unsigned char c = static_cast<unsigned char>(s[at]);
  if ((c >= 0x09 && c <= 0x0D) || c == 0x20) return 1;
  constexpr std::string_view kForms[] = {
      "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
      "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
      "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
      "\xE3\x80\x80",
  };
  for (std::string_view form : kForms)
    if (s.substr(at).starts_with(form)) return form.size();
  return 0;
}

std::size_t skip_white_space(std::string_view s, std::size_t at) {
  while (at < s.size()) {
    const std::size_t n = white_space_at(s, at);
    if (n == 0) break;
    at += n;
  }
  return at;
}

std::optional<std::uint32_t> version_in(std::string_view line) {
  constexpr std::string_view kName = "COLLECTOR_VERSION";
  const std::size_t name = line.find(kName);
  if (name == std::string_view::npos) return std::nullopt;
  std::size_t at = skip_white_space(line, name + kName.size());
  if (at >= line.size() || line[at] != '=') return std::nullopt;
  at = skip_white_space(line, at + 1);
  const std::size_t digits_end = std::min(line.find_first_not_of("0123456789", at), line.size());
  std::string_view digits = line.substr(at, digits_end - at);
  if (digits.empty()) return std::nullopt;
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  constexpr std::string_view kLargest = "4294967295";
  if (digits.size() > kLargest.size() || (digits.size() == kLargest.size() && digits > kLargest))
    return std::nullopt;
  std::uint32_t value = 0;
  for (char d : digits) value = value * 10 + static_cast<std::uint32_t>(d - '0');
  return value;
}

std::optional<std::uint32_t> reference(std::string_view text) {
  for (std::string_view line : fuzz::split(text, '\n'))
    if (std::optional<std::uint32_t> version = version_in(line)) return version;
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::bytes(data, size);
  const std::optional<std::uint32_t> version = embedded::read_collector_version(text);
  FUZZ_CHECK(version == reference(text));
  const std::optional<std::uint32_t> extended =
      embedded::read_collector_version(std::string(text) + "\nCOLLECTOR_VERSION = 1\n");
  FUZZ_CHECK(extended == (version ? *version : 1u));
  return 0;
}
