// The machine contract on the in-memory machine.

#include "dcs/install/tests/contract.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace machine::testing {
namespace {

class FakeBed final : public ContractBed {
 public:
  FakeBed() { fake_.add_folder("C:\\Contract"); }
  Machine machine() override { return fake_.machine(); }
  Path scratch() override { return Path("C:\\Contract"); }
  void set_read_only(const Path& path, bool read_only) override { fake_.set_read_only(path, read_only); }
  bool refuses_writes_to_read_only() override { return true; }
  std::string registry_scratch_key() override { return "Software\\TolvaroContractTests\\1"; }
  void set_registry_raw(std::string_view subkey, std::string_view name, std::uint32_t type,
                        std::string bytes) override {
    fake_.set_registry_raw(RegistryRoot::CurrentUser, subkey, name, type, std::move(bytes));
  }
  void set_saved_games(const Path& path) override { fake_.set_known_folder(KnownFolder::saved_games, path); }
  std::string running_process() override {
    fake_.add_process("Contract-Runner.exe");
    return "Contract-Runner.exe";
  }

 private:
  FakeMachine fake_;
};

TOLVARO_CONTRACT_BEDS(InMemory, BedMaker{"InMemory", [] { return std::make_unique<FakeBed>(); }});

}  // namespace
}  // namespace machine::testing
