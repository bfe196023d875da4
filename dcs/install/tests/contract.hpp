#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dcs/install/src/machine.hpp"

// The behaviour every implementation of the machine services must show, run against the real
// services under Wine and against the in-memory machine, so that the in-memory one stays true to
// Windows where the install code can tell.
namespace machine::testing {

// What a test needs beyond the services themselves to set a machine up.
class ContractBed {
 public:
  virtual ~ContractBed() = default;
  // A new bundle of services on the bed's machine (two bundles see the same files and locks).
  virtual Machine machine() = 0;
  // An empty folder of this test, local and absolute.
  virtual Path scratch() = 0;
  virtual void set_read_only(const Path& path, bool read_only) = 0;
  // Windows refuses to open a read-only file for writing or to replace it; Wine run as root
  // does not, so tests of that are skipped there.
  virtual bool refuses_writes_to_read_only() = 0;
  // A registry key under HKEY_CURRENT_USER of this test, not yet created.
  virtual std::string registry_scratch_key() = 0;
  virtual void set_registry_raw(std::string_view subkey, std::string_view name, std::uint32_t type,
                                std::string bytes) = 0;
  // Points the Saved Games known folder at `path`.
  virtual void set_saved_games(const Path& path) = 0;
  // The executable name of a process that runs while the test runs.
  virtual std::string running_process() = 0;
};

struct BedMaker {
  const char* name;
  std::function<std::unique_ptr<ContractBed>()> make;
};
inline void PrintTo(const BedMaker& maker, std::ostream* out) { *out << maker.name; }

class MachineContract : public ::testing::TestWithParam<BedMaker> {
 protected:
  void SetUp() override {
    bed_ = GetParam().make();
    machine_ = bed_->machine();
    root_ = bed_->scratch();
  }
  const FileSystem& files() const { return *machine_.files; }
  Path at(std::string_view relative) const { return root_.join(relative); }

  std::unique_ptr<ContractBed> bed_;
  Machine machine_;
  Path root_;
};

}  // namespace machine::testing

// Runs the contract on the given beds; use inside namespace machine::testing.
#define TOLVARO_CONTRACT_BEDS(prefix, ...)                                                  \
  INSTANTIATE_TEST_SUITE_P(prefix, MachineContract, ::testing::Values(__VA_ARGS__),         \
                           [](const ::testing::TestParamInfo<BedMaker>& info) {             \
                             return std::string(info.param.name);                           \
                           })
