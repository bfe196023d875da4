// The command-line parser, cli::parse_command_line, on arguments split from the input at NUL.
//
// The first byte picks the form: even, the rest is the arguments' bytes as a POSIX system hands
// them over (any bytes, UTF-8 or not); odd, the rest is UTF-16 units (little-endian) as Windows
// hands them over (unpaired surrogates allowed), which go through the conversions of the Windows
// build and then to the parser as text.
//
// Properties: parsing never fails other than with a usage error; every error text is UTF-8; a
// DCS folder given with --saved-games is one of the arguments, byte for byte; a value shown
// quoted is UTF-8 on one line; the UTF-16 conversions keep valid text unchanged and replace what
// is not valid.

#include <algorithm>

#include "core/base/src/unicode.hpp"
#include "dcs/bridge/src/command.hpp"
#include "dcs/bridge/src/quote.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

namespace unicode = base::unicode;
using bridge::OsString;

std::vector<OsString> posix_arguments(std::string_view bytes) {
  std::vector<OsString> args;
  for (std::string_view part : fuzz::split(bytes, '\0')) args.emplace_back(part);
  return args;
}

// What the Windows build makes of each argument: bridge::to_text is utf16_to_utf8 there.
std::vector<OsString> windows_arguments(std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  std::vector<OsString> args;
  for (std::u16string_view part : fuzz::split(std::u16string_view(units), u'\0')) {
    const std::string text = unicode::utf16_to_utf8(part);
    FUZZ_CHECK(unicode::is_valid_utf8(text));
    if (unicode::is_valid_utf16(part))
      FUZZ_CHECK(unicode::utf8_to_utf16(text) == part);
    else
      FUZZ_CHECK(text.find("\xEF\xBF\xBD") != std::string::npos);
    args.emplace_back(text);
  }
  return args;
}

void check_quoted(std::string_view text) {
  const std::string shown = bridge::quoted(text);
  FUZZ_CHECK(shown.size() >= 2 && shown.front() == '"' && shown.back() == '"');
  FUZZ_CHECK(unicode::is_valid_utf8(shown));
  for (char c : shown) FUZZ_CHECK(c >= 0x20 || c < 0);
  FUZZ_CHECK(shown.find('\x7F') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest = fuzz::bytes(data + 1, size - 1);
  const std::vector<OsString> args =
      (data[0] & 1) != 0 ? windows_arguments(rest) : posix_arguments(rest);

  for (const OsString& arg : args) check_quoted(bridge::to_text(arg));

  const std::expected<cli::Command, cli::UsageError> parsed = cli::parse_command_line(args);
  if (!parsed) {
    FUZZ_CHECK(unicode::is_valid_utf8(cli::usage_error_text(parsed.error())));
    return 0;
  }
  if (const auto* install = std::get_if<cli::command::Install>(&*parsed)) {
    if (const auto& folder = install->args.saved_games)
      FUZZ_CHECK(std::find(args.begin(), args.end(), *folder) != args.end());
  }
  return 0;
}
