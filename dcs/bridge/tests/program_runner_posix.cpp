#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "dcs/bridge/tests/program_runner.hpp"

extern char** environ;

namespace bridge::testing {
namespace {

bool is_bridge_variable(std::string_view entry) {
  return entry.starts_with("TOLVARO_DCS_") || entry.starts_with("BRIDGE_ALLOWED_ORIGINS=");
}

void read_all(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    into.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
}

}  // namespace

OsString bridge_program_path() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "TolvaroDcsBridge").native();
}

ProgramResult run_bridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env) {
  const std::string path = bridge_program_path();
  std::vector<std::string> env_entries;
  for (char** e = environ; *e != nullptr; ++e)
    if (!is_bridge_variable(*e)) env_entries.emplace_back(*e);
  for (const auto& [name, value] : env) env_entries.push_back(name + "=" + value);

  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const OsString& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env_entries) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ProgramResult result;
  std::thread err_reader([&] { read_all(err_pipe[0], result.err); });
  read_all(out_pipe[0], result.out);
  err_reader.join();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace bridge::testing
