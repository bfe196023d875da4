// The Windows program on the registry and the folders of this test's Wine prefix: Start with
// Windows on the Run key, and check, install and remove on prepared DCS folder trees.
#include "core/base/src/win32.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "dcs/bridge/tests/dcs_folders_win32.hpp"
#include "dcs/bridge/tests/program_lines.hpp"
#include "dcs/bridge/tests/program_runner.hpp"
#include "dcs/install/src/embedded.hpp"
#include "dcs/install/src/export_lua.hpp"

namespace {

using bridge::testing::DcsFolders;
using bridge::testing::Lines;
using bridge::testing::log_lines;
using bridge::testing::ProgramResult;
using bridge::testing::run_bridge;
using bridge::testing::utf8;
using bridge::testing::wide;

const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* kValueName = L"Tolvaro DCS Bridge";

std::optional<std::wstring> run_value(DWORD* type = nullptr) {
  DWORD size = 0, value_type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_ANY, &value_type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring data(size / 2 + 1, L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_ANY, &value_type, data.data(), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  if (type) *type = value_type;
  data.resize(size / 2);
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  return data;
}

TEST(BridgeProgram, StartWithWindowsWritesAndRemovesTheRunValue) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);

  ProgramResult on = run_bridge({L"start-with-windows", L"on"});
  EXPECT_EQ(on.exit_code, 0);
  EXPECT_EQ(on.out, "Tolvaro DCS Bridge will start with Windows\n");
  EXPECT_EQ(on.err, "");
  DWORD type = 0;
  std::optional<std::wstring> value = run_value(&type);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(*value, L"\"" + bridge::testing::bridge_program_path() + L"\" --autostart");

  // Again: the same value, success.
  ProgramResult again = run_bridge({L"start-with-windows", L"on"});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(run_value(), value);

  ProgramResult off = run_bridge({L"start-with-windows", L"off"});
  EXPECT_EQ(off.exit_code, 0);
  EXPECT_EQ(off.out, "Tolvaro DCS Bridge will not start with Windows\n");
  EXPECT_EQ(off.err, "");
  EXPECT_FALSE(run_value().has_value());

  // Off with nothing to remove is success too.
  ProgramResult off_again = run_bridge({L"start-with-windows", L"off"});
  EXPECT_EQ(off_again.exit_code, 0);
  EXPECT_EQ(off_again.out, "Tolvaro DCS Bridge will not start with Windows\n");
}

TEST(BridgeProgram, TrayModeRefusesABadConfigurationBeforeAnyWindow) {
  struct Case {
    std::vector<bridge::OsString> args;
    std::vector<bridge::testing::EnvVar> env;
    int exit_code;
    std::string line;
  };
  const Case cases[] = {
      {{},
       {{"TOLVARO_DCS_LISTEN_PORT", L"0"}, {"TOLVARO_DCS_PAGE_PORT", L"08080"}},
       2,
       "error TOLVARO_DCS_LISTEN_PORT=\"0\" is not a port from 1 to 65535"},
      {{L"--autostart"},
       {{"TOLVARO_DCS_PAGE_PORT", L"+80"}, {"TOLVARO_DCS_LISTEN_PORT", L"x"}},
       2,
       "error TOLVARO_DCS_PAGE_PORT=\"+80\" is not a port from 1 to 65535"},
  };
  for (const Case& c : cases) {
    ProgramResult r = run_bridge(c.args, c.env);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.line;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(log_lines(r.err), Lines{c.line});
  }
}

// DCS folders.

const std::string kHook(export_lua::HOOK_LINE);

TEST_F(DcsFolders, InstallThenCheckThenRemoveGivesExportLuaBackByteForByte) {
  const std::string original = "-- my own exports\r\nlocal x = 1";
  put("Saved Games\\DCS\\Scripts\\Export.lua", original);

  ProgramResult before = run({L"check"});
  EXPECT_EQ(before.exit_code, 11);
  EXPECT_EQ(before.out, text(check_lines("notInstalled", at("Saved Games\\DCS"), "none", false)));
  EXPECT_EQ(before.err, "");

  ProgramResult installed = run({L"install"});
  EXPECT_EQ(installed.exit_code, 0);
  EXPECT_EQ(installed.out,
            text({
                "wrote      " + dcs("Scripts\\Tolvaro\\collectorScript.lua"),
                "wrote      " + dcs("Scripts\\Tolvaro\\reticle\\reticle.lua"),
                "wrote      " + dcs("Scripts\\Tolvaro\\reticle\\reticle.dlg"),
                "wrote      " + dcs("Scripts\\Tolvaro\\reticle\\prompt.dlg"),
                "wrote      " + dcs("Scripts\\Tolvaro\\reticle\\reticle.png"),
                "wrote      " + dcs("Scripts\\Hooks\\TolvaroBandits.lua"),
                "backed up  " + dcs("Scripts\\Export.lua") + " to " + dcs("Scripts\\Export.lua.Tolvaro-backup"),
                "added      the collector line to " + dcs("Scripts\\Export.lua"),
            }));
  EXPECT_EQ(installed.err, "");
  EXPECT_EQ(file("Saved Games\\DCS\\Scripts\\Export.lua"), original + "\r\n" + kHook);
  EXPECT_EQ(file("Saved Games\\DCS\\Scripts\\Tolvaro\\collectorScript.lua"),
            std::string(embedded::COLLECTOR_FILE.contents));
  EXPECT_EQ(file("Saved Games\\DCS\\Scripts\\Tolvaro\\reticle\\reticle.png"),
            std::string(embedded::MAP_MARKER_FILES[3].contents));

  ProgramResult after = run({L"check"});
  EXPECT_EQ(after.exit_code, 0);
  EXPECT_EQ(after.out, text(check_lines("installed", at("Saved Games\\DCS"), "8", true)));
  EXPECT_EQ(after.err, "");

  ProgramResult removed = run({L"remove"});
  EXPECT_EQ(removed.exit_code, 0);
  EXPECT_EQ(removed.out, text({
                             "removed    the collector line from " + dcs("Scripts\\Export.lua"),
                             "removed    " + dcs("Scripts\\Tolvaro\\collectorScript.lua"),
                             "removed    " + dcs("Scripts\\Hooks\\TolvaroBandits.lua"),
                             "removed    " + dcs("Scripts\\Tolvaro\\reticle\\reticle.lua"),
                             "removed    " + dcs("Scripts\\Tolvaro\\reticle\\reticle.dlg"),
                             "removed    " + dcs("Scripts\\Tolvaro\\reticle\\prompt.dlg"),
                             "removed    " + dcs("Scripts\\Tolvaro\\reticle\\reticle.png"),
                             "removed    " + dcs("Scripts\\Tolvaro\\reticle"),
                             "removed    " + dcs("Scripts\\Tolvaro"),
                         }));
  EXPECT_EQ(removed.err, "");
  EXPECT_EQ(file("Saved Games\\DCS\\Scripts\\Export.lua"), original);
  EXPECT_EQ(file("Saved Games\\DCS\\Scripts\\Export.lua.Tolvaro-backup"), original);
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts\\Tolvaro"));
  EXPECT_EQ(run({L"check"}).exit_code, 11);
}

TEST_F(DcsFolders, WithoutAnyDcsInstallation) {
  eagle_.remove();
  ProgramResult check = run({L"check"});
  EXPECT_EQ(check.exit_code, 10);
  EXPECT_EQ(check.out, text({"state:             simulatorNotFound", "collector version: none (this bridge has 8)",
                             "map marker:        absent", "bandit tool:       absent", "DCS running:       no"}));
  EXPECT_EQ(check.err, "");

  ProgramResult install = run({L"install"});
  EXPECT_EQ(install.exit_code, 10);
  EXPECT_EQ(install.out, "");
  EXPECT_EQ(log_lines(install.err),
            Lines{"error no DCS install was found. Pass the DCS folder under Saved Games with --saved-games."});

  ProgramResult remove = run({L"remove"});
  EXPECT_EQ(remove.exit_code, 0);
  EXPECT_EQ(remove.out, "no DCS folder found; nothing to remove\n");
  EXPECT_EQ(remove.err, "");
}

TEST_F(DcsFolders, TwoInstallationsAndNoFolderGiven) {
  add_open_beta();

  ProgramResult install = run({L"install"});
  EXPECT_EQ(install.exit_code, 3);
  EXPECT_EQ(install.out,
            text({"found      " + at("Saved Games\\DCS"), "found      " + at("Saved Games\\DCS.openbeta")}));
  EXPECT_EQ(log_lines(install.err), Lines{"error cannot tell which folder; pass --saved-games"});
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts"));
  EXPECT_FALSE(exists("Saved Games\\DCS.openbeta\\Scripts"));

  // Naming one installs there; check then lists both folders.
  ProgramResult named = run({L"install", L"--saved-games", wide(at("Saved Games\\DCS.openbeta")), L"--map-marker",
                             L"off", L"--bandit-tool", L"off"});
  EXPECT_EQ(named.exit_code, 0);
  EXPECT_EQ(named.out,
            text({"wrote      " + at("Saved Games\\DCS.openbeta\\Scripts\\Tolvaro\\collectorScript.lua"),
                  "added      the collector line to " + at("Saved Games\\DCS.openbeta\\Scripts\\Export.lua")}));
  EXPECT_EQ(named.err, "");
  ProgramResult check = run({L"check"});
  EXPECT_EQ(check.exit_code, 0);
  Lines lines = check_lines("installed", at("Saved Games\\DCS.openbeta"), "8", false);
  lines.push_back("also checked:      " + at("Saved Games\\DCS") + " (notInstalled)");
  lines.push_back("also checked:      " + at("Saved Games\\DCS.openbeta") + " (installed)");
  EXPECT_EQ(check.out, text(lines));
}

TEST_F(DcsFolders, AFolderDcsNeverWroteToIsRefusedUnlessAllowed) {
  std::filesystem::create_directories(path("Flights"));
  ProgramResult refused = run({L"install", L"--saved-games", wide(at("Flights"))});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(log_lines(refused.err),
            Lines{"error " + at("Flights") +
                  " has no Config folder and no Logs\\dcs.log, so DCS has probably never written to it. The DCS "
                  "folder under Saved Games is usually C:\\Users\\<you>\\Saved Games\\DCS. To install there anyway, "
                  "add --allow-unknown-folder."});
  EXPECT_FALSE(exists("Flights\\Scripts"));

  put("DCS World\\bin\\DCS.exe", "MZ");
  ProgramResult program_folder = run({L"install", L"--saved-games", wide(at("DCS World")), L"--allow-unknown-folder"});
  EXPECT_EQ(program_folder.exit_code, 2);
  EXPECT_EQ(log_lines(program_folder.err),
            Lines{"error " + at("DCS World") +
                  " is where DCS itself is installed. Pick the DCS folder under Saved Games instead, such as "
                  "C:\\Users\\<you>\\Saved Games\\DCS: the one with Config and Logs folders in it."});

  ProgramResult allowed =
      run({L"install", L"--allow-unknown-folder", L"--bandit-tool", L"off", L"--saved-games", wide(at("Flights"))});
  EXPECT_EQ(allowed.exit_code, 0);
  EXPECT_EQ(allowed.out, text({
                             "wrote      " + at("Flights\\Scripts\\Tolvaro\\collectorScript.lua"),
                             "wrote      " + at("Flights\\Scripts\\Tolvaro\\reticle\\reticle.lua"),
                             "wrote      " + at("Flights\\Scripts\\Tolvaro\\reticle\\reticle.dlg"),
                             "wrote      " + at("Flights\\Scripts\\Tolvaro\\reticle\\prompt.dlg"),
                             "wrote      " + at("Flights\\Scripts\\Tolvaro\\reticle\\reticle.png"),
                             "added      the collector line to " + at("Flights\\Scripts\\Export.lua"),
                             "remembered this folder in " + at("Local\\Tolvaro\\DcsBridge\\settings.json"),
                         }));
  EXPECT_EQ(log_lines(allowed.err),
            Lines{"warn " + at("Flights") + " has no sign that DCS ever wrote to it; installing there as asked"});
  EXPECT_EQ(file("Flights\\Scripts\\Export.lua"), kHook + "\r\n");
}

TEST_F(DcsFolders, AUnicodeFolderIsUsedAsGivenAndRememberedForCheckAndRemove) {
  const std::string name = "Fl\xC3\xBCge \xE2\x9C\x88 \xF0\x9F\x98\x80";  // ü, a plane and a two-unit emoji
  const std::string folder = at(name + "\\DCS");
  std::filesystem::create_directories(path(name + "\\DCS\\Config"));
  ProgramResult install = run({L"install", L"--saved-games", wide(folder), L"--map-marker", L"off"});
  EXPECT_EQ(install.exit_code, 0);
  EXPECT_EQ(install.out, text({"wrote      " + folder + "\\Scripts\\Tolvaro\\collectorScript.lua",
                               "wrote      " + folder + "\\Scripts\\Hooks\\TolvaroBandits.lua",
                               "added      the collector line to " + folder + "\\Scripts\\Export.lua",
                               "remembered this folder in " + at("Local\\Tolvaro\\DcsBridge\\settings.json")}));
  EXPECT_EQ(install.err, "");
  EXPECT_EQ(file(name + "\\DCS\\Scripts\\Tolvaro\\collectorScript.lua"),
            std::string(embedded::COLLECTOR_FILE.contents));

  // The remembered folder is the one check looks at.
  ProgramResult check = run({L"check"});
  EXPECT_EQ(check.exit_code, 0);
  Lines lines = check_lines("installed", folder, "8", false);
  lines[4] = "bandit tool:       present";
  EXPECT_EQ(check.out, text(lines));

  // Remove goes through the discovered folder (nothing of ours there) and the remembered one.
  ProgramResult remove = run({L"remove"});
  EXPECT_EQ(remove.exit_code, 0);
  EXPECT_EQ(remove.out, text({"removed    " + folder + "\\Scripts\\Export.lua",
                              "removed    " + folder + "\\Scripts\\Tolvaro\\collectorScript.lua",
                              "removed    " + folder + "\\Scripts\\Hooks\\TolvaroBandits.lua",
                              "removed    " + folder + "\\Scripts\\Tolvaro"}));
  EXPECT_EQ(remove.err, "");
  EXPECT_FALSE(exists(name + "\\DCS\\Scripts\\Export.lua"));
}

TEST_F(DcsFolders, AnotherRunHoldingTheLockTurnsInstallAndRemoveAway) {
  std::filesystem::create_directories(path("Local\\Tolvaro\\DcsBridge"));
  const std::wstring lock = wide(at("Local\\Tolvaro\\DcsBridge\\install.lock"));
  win32::Handle held(CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
  ASSERT_TRUE(held.valid());
  const std::string line = "error another install or remove is running (it holds " +
                           at("Local\\Tolvaro\\DcsBridge\\install.lock") + "). Wait for it to finish.";
  for (const wchar_t* verb : {L"install", L"remove"}) {
    ProgramResult r = run({verb});
    EXPECT_EQ(r.exit_code, 4) << utf8(verb);
    EXPECT_EQ(r.out, "") << utf8(verb);
    EXPECT_EQ(log_lines(r.err), Lines{line}) << utf8(verb);
  }
  held.reset();
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts"));
}

TEST_F(DcsFolders, AReadOnlyExportLuaFailsTheInstallBeforeAnyWrite) {
  put("Saved Games\\DCS\\Scripts\\Export.lua", "x = 1\n");
  ASSERT_TRUE(SetFileAttributesW(path("Saved Games\\DCS\\Scripts\\Export.lua").c_str(), FILE_ATTRIBUTE_READONLY));
  ProgramResult r = run({L"install"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(log_lines(r.err), Lines{"error Export.lua is read-only: " + dcs("Scripts\\Export.lua") +
                                    ". Clear its read-only box in Properties, then try again."});
  EXPECT_FALSE(exists("Saved Games\\DCS\\Scripts\\Tolvaro"));
  EXPECT_EQ(file("Saved Games\\DCS\\Scripts\\Export.lua"), "x = 1\n");
}

}  // namespace
