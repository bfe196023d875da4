// Steam's library file (steamapps\libraryfolders.vdf), machine::parse_library_folders.
//
// Properties: every path it gives is UTF-8; written into a library file of their own, the paths
// read back the same, in the same order (when that file is within the 1 MiB limit).

#include "core/base/src/unicode.hpp"
#include "dcs/install/src/vdf.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

// A quoted text as the parser reads it back: a backslash before each backslash and double quote.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string library_file(const std::vector<std::string>& paths) {
  std::string out = "\"libraryfolders\"\n{\n";
  for (std::size_t i = 0; i < paths.size(); ++i) {
    out += "\t\"" + std::to_string(i) + "\"\n\t{\n";
    out += "\t\t\"path\"\t\t" + quoted(paths[i]) + "\n";
    out += "\t\t\"apps\"\n\t\t{\n\t\t\t\"223750\"\t\t\"1\"\n\t\t}\n\t}\n";
  }
  return out + "}\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> paths = machine::parse_library_folders(fuzz::bytes(data, size));
  for (const std::string& path : paths) FUZZ_CHECK(base::unicode::is_valid_utf8(path));
  const std::string file = library_file(paths);
  if (file.size() <= 1'048'576) FUZZ_CHECK(machine::parse_library_folders(file) == paths);
  return 0;
}
