// The settings file reader, settings::read, over the in-memory machine: the input is the whole
// settings.json.
//
// Properties: reading never fails, whatever the file holds; the folders it gives, written back
// with serialise, read back the same; remembering a folder afterwards keeps every folder read
// (except those naming the same folder) and adds the new one last, dropping the oldest when 8 or
// more were there.

#include "core/base/src/log.hpp"
#include "core/base/src/unicode.hpp"
#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using machine::Path;

constexpr std::string_view kLocal = "C:\\Users\\ann\\AppData\\Local";
constexpr std::string_view kFile = "C:\\Users\\ann\\AppData\\Local\\Tolvaro\\DcsBridge\\settings.json";
constexpr std::string_view kPicked = "D:\\Saved Games\\DCS";

// Keeps the logs of millions of runs off standard error.
struct Quiet : base::LogSink {
  void write_line(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Quiet quiet;
  static const bool routed = (base::set_log_sink(&quiet), true);
  (void)routed;

  machine::testing::FakeMachine fake;
  fake.add_drive('D');
  fake.add_folder(kLocal);
  fake.set_known_folder(machine::KnownFolder::LocalAppData, kLocal);
  fake.add_file(kFile, fuzz::bytes(data, size));
  const machine::Machine m = fake.machine();

  const std::vector<Path> folders = settings::read(m);
  for (const Path& folder : folders) FUZZ_CHECK(base::unicode::is_valid_utf8(folder.text()));

  fake.add_file(kFile, settings::serialise(folders));
  FUZZ_CHECK(settings::read(m) == folders);

  const auto remembered = settings::remember(m, Path(kPicked));
  FUZZ_CHECK(remembered && *remembered == Path(kFile));
  std::vector<Path> expected;
  for (const Path& folder : folders)
    if (!machine::same_folder(folder, Path(kPicked))) expected.push_back(folder);
  // One oldest entry goes per update, so a longer list written by hand shrinks by one.
  const bool full = expected.size() >= settings::kMaxHandPicked;
  expected.push_back(Path(kPicked));
  if (full) expected.erase(expected.begin());
  FUZZ_CHECK(settings::read(m) == expected);
  return 0;
}
