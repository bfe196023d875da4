// The machine contract on the in-memory machine, directly and through a shared bundle.

#include <memory>

#include "dcs/install/tests/contract.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace machine::testing {
namespace {

class FakeBed final : public ContractBed {
 public:
  // `shared`: every bundle reaches the in-memory services through machine::share.
  explicit FakeBed(bool shared = false) : shared_(shared) { fake_.add_folder("C:\\Contract"); }
  Machine machine() override {
    if (shared_) return share(std::make_shared<const Machine>(fake_.machine()));
    return fake_.machine();
  }
  Path scratch() override { return Path("C:\\Contract"); }
  void set_read_only(const Path& path, bool read_only) override { fake_.set_read_only(path, read_only); }
  bool refuses_writes_to_read_only() override { return true; }
  std::string registry_scratch_key() override { return "Software\\TolvaroContractTests\\1"; }
  void set_registry_raw(std::string_view subkey, std::string_view name, std::uint32_t type,
                        std::string bytes) override {
    fake_.set_registry_raw(RegistryRoot::CurrentUser, subkey, name, type, std::move(bytes));
  }
  void set_saved_games(const Path& path) override { fake_.set_known_folder(KnownFolder::SavedGames, path); }
  std::string running_process() override {
    fake_.add_process("Contract-Runner.exe");
    return "Contract-Runner.exe";
  }

 private:
  bool shared_;
  FakeMachine fake_;
};

TOLVARO_CONTRACT_BEDS(InMemory, BedMaker{"InMemory", [] { return std::make_unique<FakeBed>(); }},
                      BedMaker{"Shared", [] { return std::make_unique<FakeBed>(true); }});

TEST(SharedMachine, KeepsItsOwnerAliveUntilTheLastServiceGoes) {
  FakeMachine fake;
  fake.add_file("C:\\Shared\\a.txt", "a");
  auto owner = std::make_shared<const Machine>(fake.machine());
  const std::weak_ptr<const Machine> watch = owner;
  Machine shared = share(std::move(owner));
  EXPECT_FALSE(watch.expired()) << "the starter let go; the shared bundle still holds it";
  EXPECT_EQ(shared.files->kind(Path("C:\\Shared\\a.txt")), PathKind::File);

  std::unique_ptr<FileSystem> files = std::move(shared.files);
  shared = Machine{};
  EXPECT_FALSE(watch.expired()) << "one service left is enough";
  files.reset();
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace machine::testing
