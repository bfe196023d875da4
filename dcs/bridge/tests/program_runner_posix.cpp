#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "dcs/bridge/tests/program_runner.hpp"

extern char** environ;

namespace bridge::testing {
namespace {

bool is_bridge_variable(std::string_view entry) {
  return entry.starts_with("TOLVARO_DCS_") || entry.starts_with("BRIDGE_ALLOWED_ORIGINS=");
}

// Reads `fd` to its end, handing each chunk to `add`.
template <class Add>
void read_all(int fd, Add add) {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    add(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  ::close(fd);
}

struct Started {
  pid_t pid;
  int out;  // reading ends of the pipes
  int err;
};

Started start(const std::vector<OsString>& args, const std::vector<EnvVar>& env) {
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
  return {pid, out_pipe[0], err_pipe[0]};
}

int exit_code_of(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

OsString bridge_program_path() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "TolvaroDcsBridge").native();
}

ProgramResult run_bridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env) {
  return RunningBridge(args, env, RunningBridge::Output::pipe).finish(std::chrono::seconds(60));
}

struct RunningBridge::Process {
  pid_t pid = -1;
  bool reaped = false;
  int exit_code = -1;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string out, err;
  bool err_ended = false;
  std::thread out_reader, err_reader;
};

// Standard output is a pipe whatever `out` says: there is no console to share.
RunningBridge::RunningBridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env, Output)
    : process_(std::make_shared<Process>()) {
  const Started started = start(args, env);
  Process& p = *process_;
  p.pid = started.pid;
  p.out_reader = std::thread([&p, fd = started.out] {
    read_all(fd, [&](std::string_view chunk) {
      std::lock_guard lock(p.mutex);
      p.out += chunk;
    });
  });
  p.err_reader = std::thread([&p, fd = started.err] {
    read_all(fd, [&](std::string_view chunk) {
      std::lock_guard lock(p.mutex);
      p.err += chunk;
      p.changed.notify_all();
    });
    std::lock_guard lock(p.mutex);
    p.err_ended = true;
    p.changed.notify_all();
  });
}

RunningBridge::~RunningBridge() {
  if (!process_->reaped) finish(std::chrono::milliseconds(0));
}

std::string RunningBridge::err() const {
  std::lock_guard lock(process_->mutex);
  return process_->err;
}

bool RunningBridge::wait_for_err(std::string_view text, std::chrono::milliseconds limit) {
  Process& p = *process_;
  std::unique_lock lock(p.mutex);
  return p.changed.wait_for(lock, limit, [&] { return p.err.find(text) != std::string::npos || p.err_ended; }) &&
         p.err.find(text) != std::string::npos;
}

void RunningBridge::ctrl_c() { ::kill(process_->pid, SIGINT); }

long RunningBridge::process_id() const { return process_->pid; }

ProgramResult RunningBridge::finish(std::chrono::milliseconds limit) {
  Process& p = *process_;
  if (!p.reaped) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(p.pid, &status, WNOHANG);
      if (done == p.pid) {
        p.exit_code = exit_code_of(status);
        break;
      }
      if (done < 0 && errno != EINTR) break;
      if (std::chrono::steady_clock::now() >= end) {
        ::kill(p.pid, SIGKILL);
        while (::waitpid(p.pid, &status, 0) < 0 && errno == EINTR) {
        }
        p.exit_code = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    p.reaped = true;
    p.out_reader.join();
    p.err_reader.join();
  }
  std::lock_guard lock(p.mutex);
  return {p.exit_code, p.out, p.err};
}

}  // namespace bridge::testing
