#pragma once

// The in-memory PC of whole bridge runs: one DCS installation, found through the registry, and its
// user folder in Saved Games, where nothing is installed yet.

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "dcs/install/src/settings.hpp"
#include "dcs/install/tests/fake_machine.hpp"

namespace bridge::testing {

inline constexpr const char* kSavedGames = "C:\\Users\\ann\\Saved Games";
inline constexpr const char* kDcs = "C:\\Users\\ann\\Saved Games\\DCS";

inline void add_one_dcs(machine::testing::FakeMachine& fake) {
  // Problems a scan logs once per run are logged again for each test's run.
  install::testing::forget_logged_once();
  fake.add_drive('D');
  fake.add_folder(kSavedGames);
  fake.add_folder("C:\\Users\\ann\\AppData\\Local");
  fake.set_known_folder(machine::KnownFolder::Profile, "C:\\Users\\ann");
  fake.set_known_folder(machine::KnownFolder::SavedGames, kSavedGames);
  fake.set_known_folder(machine::KnownFolder::LocalAppData, "C:\\Users\\ann\\AppData\\Local");
  fake.add_folder("D:\\DCS World");
  fake.set_registry(machine::RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World", "Path", "D:\\DCS World");
  fake.add_folder(std::string(kDcs) + "\\Config");
}

// Tells when the simulator monitor has ended: a machine handed to it has a process list that says
// so when it is destroyed, which the monitor does as it ends.
class MonitorEnd {
 public:
  machine::Machine watch(machine::Machine machine) const {
    machine.processes = std::make_unique<Watched>(std::move(machine.processes), ended_);
    return machine;
  }
  bool ended() const { return ended_->load(); }

 private:
  class Watched final : public machine::ProcessList {
   public:
    Watched(std::unique_ptr<machine::ProcessList> inner, std::shared_ptr<std::atomic<bool>> ended)
        : inner_(std::move(inner)), ended_(std::move(ended)) {}
    ~Watched() override { ended_->store(true); }
    bool is_running(std::string_view exe_name) const override { return inner_->is_running(exe_name); }

   private:
    std::unique_ptr<machine::ProcessList> inner_;
    std::shared_ptr<std::atomic<bool>> ended_;
  };

  std::shared_ptr<std::atomic<bool>> ended_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace bridge::testing
