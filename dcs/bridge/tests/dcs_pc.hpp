#pragma once

// The in-memory PC of whole bridge runs: one DCS installation, found through the registry, and its
// user folder in Saved Games, where nothing is installed yet.

#include <string>

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
  fake.set_known_folder(machine::KnownFolder::profile, "C:\\Users\\ann");
  fake.set_known_folder(machine::KnownFolder::saved_games, kSavedGames);
  fake.set_known_folder(machine::KnownFolder::local_app_data, "C:\\Users\\ann\\AppData\\Local");
  fake.add_folder("D:\\DCS World");
  fake.set_registry(machine::RegistryRoot::CurrentUser, "Software\\Eagle Dynamics\\DCS World", "Path", "D:\\DCS World");
  fake.add_folder(std::string(kDcs) + "\\Config");
}

}  // namespace bridge::testing
