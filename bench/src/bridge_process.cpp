#include "bench/src/bridge_process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "bench/src/allocation_count.hpp"

extern char** environ;

namespace bench {

namespace asio = boost::asio;

std::uint16_t free_tcp_port() {
  asio::io_context context;
  asio::ip::tcp::acceptor acceptor(context);
  acceptor.open(asio::ip::tcp::v4());
  acceptor.bind({asio::ip::address_v4::loopback(), 0});
  return acceptor.local_endpoint().port();
}

std::uint16_t free_udp_port() {
  asio::io_context context;
  asio::ip::udp::socket socket(context, {asio::ip::address_v4::loopback(), 0});
  return socket.local_endpoint().port();
}

namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value in kB of a "Name:   123 kB" line of /proc/<pid>/status.
std::int64_t status_kib(const std::string& status, std::string_view name) {
  const std::size_t at = status.find(std::string(name) + ":");
  if (at == std::string::npos) return 0;
  return std::strtoll(status.c_str() + at + name.size() + 1, nullptr, 10);
}

// The first field of a schedstat file: nanoseconds on a CPU.
std::optional<std::int64_t> schedstat_ns(const std::string& path) {
  const auto text = read_file(path);
  if (!text) return std::nullopt;
  return std::strtoll(text->c_str(), nullptr, 10);
}

std::optional<std::int64_t> all_threads_ns(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (dir == nullptr) return std::nullopt;
  std::int64_t total = 0;
  bool any = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const auto ns = schedstat_ns(tasks + "/" + entry->d_name + "/schedstat");
    if (!ns) continue;
    total += *ns;
    any = true;
  }
  ::closedir(dir);
  if (!any) return std::nullopt;
  return total;
}

std::optional<std::int64_t> stat_ns(pid_t pid) {
  const auto text = read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!text) return std::nullopt;
  // The fields after the command name, which may hold blanks, start after its ')'.
  std::istringstream fields(text->substr(text->rfind(')') + 2));
  std::vector<std::string> values;
  for (std::string field; fields >> field;) values.push_back(field);
  if (values.size() < 13) return std::nullopt;
  // utime and stime, fields 14 and 15 of the line, are the 12th and 13th after the name.
  const std::int64_t ticks = std::stoll(values[11]) + std::stoll(values[12]);
  return ticks * (1'000'000'000 / ::sysconf(_SC_CLK_TCK));
}

bool is_bridge_variable(std::string_view entry) {
  return entry.starts_with("TOLVARO_DCS_") || entry.starts_with("BRIDGE_ALLOWED_ORIGINS=") ||
         entry.starts_with(std::string(kAllocationCountVariable) + "=");
}

}  // namespace

std::optional<Usage> usage_of(pid_t pid) {
  const auto status = read_file("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::nullopt;
  std::optional<std::int64_t> cpu = all_threads_ns(pid);
  if (!cpu) cpu = stat_ns(pid);
  if (!cpu) return std::nullopt;
  return Usage{*cpu, status_kib(*status, "VmRSS"), status_kib(*status, "VmHWM")};
}

std::optional<std::int64_t> thread_cpu_ns(pid_t tid) {
  return schedstat_ns("/proc/self/task/" + std::to_string(tid) + "/schedstat");
}

BridgeProcess::BridgeProcess(const std::string& program, BridgePorts ports) {
  std::string count_path = "/tmp/relay_bench_allocations_XXXXXX";
  const int count_fd = ::mkstemp(count_path.data());
  if (count_fd < 0) throw std::runtime_error("bridge: no allocation count file");
  count_path_ = count_path;
  if (::ftruncate(count_fd, kAllocationCountBytes) == 0) {
    void* mapped = ::mmap(nullptr, kAllocationCountBytes, PROT_READ | PROT_WRITE, MAP_SHARED, count_fd, 0);
    if (mapped != MAP_FAILED) count_ = mapped;
  }
  ::close(count_fd);

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (!is_bridge_variable(*e)) env.emplace_back(*e);
  env.push_back("TOLVARO_DCS_PAGE_PORT=" + std::to_string(ports.page));
  env.push_back("TOLVARO_DCS_LISTEN_PORT=" + std::to_string(ports.listen));
  env.push_back("TOLVARO_DCS_COLLECTOR_PORT=" + std::to_string(ports.collector));
  env.push_back(std::string(kAllocationCountVariable) + "=" + count_path_);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string verb = "headless";
  std::string path = program;
  char* argv[] = {path.data(), verb.data(), nullptr};

  int err_pipe[2];
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("bridge: no pipe");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("bridge: cannot fork");
  if (pid_ == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::execve(path.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(err_pipe[1]);
  err_reader_ = std::thread([this, fd = err_pipe[0]] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard lock(mutex_);
      err_.append(buffer, static_cast<std::size_t>(n));
      changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    err_ended_ = true;
    changed_.notify_all();
  });
}

BridgeProcess::~BridgeProcess() {
  if (!reaped_) stop(std::chrono::seconds(5));
  if (count_) ::munmap(count_, kAllocationCountBytes);
  ::unlink(count_path_.c_str());
}

std::optional<std::uint64_t> BridgeProcess::allocations() const {
  if (!count_) return std::nullopt;
  const std::uint64_t n = std::atomic_ref<std::uint64_t>(*static_cast<std::uint64_t*>(count_)).load();
  // A program that counts has allocated long before it is ready; 0 means it does not count.
  if (n == 0) return std::nullopt;
  return n;
}

bool BridgeProcess::wait_ready(std::chrono::milliseconds limit) {
  constexpr std::string_view kBanner = "Ctrl+C stops it.\n";
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [&] { return err_.find(kBanner) != std::string::npos || err_ended_; });
  return err_.find(kBanner) != std::string::npos;
}

std::string BridgeProcess::err() const {
  std::lock_guard lock(mutex_);
  return err_;
}

int BridgeProcess::stop(std::chrono::milliseconds limit) {
  if (reaped_) return -1;
  ::kill(pid_, SIGINT);
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  int code = -1;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  reaped_ = true;
  err_reader_.join();
  return code;
}

}  // namespace bench
