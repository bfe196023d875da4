#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dcs/bridge/src/os_string.hpp"

namespace bridge::testing {

struct ProgramResult {
  int exit_code = -1;
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, byte for byte
};

using EnvVar = std::pair<std::string, OsString>;

// Runs the bridge program built beside this test (on Windows, the one TOLVARO_BRIDGE_PROGRAM names
// if it is set) with `args`, standard output and error on pipes,
// in this process's environment without any of the bridge's own variables (TOLVARO_DCS_* and
// BRIDGE_ALLOWED_ORIGINS), plus `env`. Waits for its end 60 s at most; past that it is killed and
// the exit code is -1.
ProgramResult run_bridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env = {});

// The full path of that program.
OsString bridge_program_path();

// The bridge program running beside the test, as run_bridge starts it, its standard error taken
// as it comes.
class RunningBridge {
 public:
  // Where its standard output goes.
  enum class Output {
    // On Windows left unset, so that the program attaches to the console of its parent, this test,
    // as it attaches to a console window; the test process gets a console of its own first, which
    // only the two of them share. Natively a pipe, as below.
    console,
    // A pipe, read as it comes; finish() gives it.
    pipe,
  };
  RunningBridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env = {},
                Output out = Output::console);
  ~RunningBridge();  // a program still running is killed
  RunningBridge(const RunningBridge&) = delete;
  RunningBridge& operator=(const RunningBridge&) = delete;

  // Standard error so far.
  std::string err() const;
  // Waits until standard error holds `text`, the program ends or `limit` passes; whether it holds it.
  bool wait_for_err(std::string_view text, std::chrono::milliseconds limit);
  // Ctrl+C: SIGINT natively; on Windows the console's Ctrl+C event.
  void ctrl_c();
  // Waits for the end, at most `limit`; past it the program is killed and the exit code is -1.
  // Standard output is there when it went to a pipe.
  ProgramResult finish(std::chrono::milliseconds limit);
  // The system's id of the process.
  long process_id() const;

  struct Process;

 private:
  std::shared_ptr<Process> process_;  // shared with its pipe readers
};

}  // namespace bridge::testing
