#pragma once

// The bridge under test: the headless program as a child process on ports of the benchmark's
// choosing, so that its CPU time and memory are its own and not mixed with the benchmark's.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace bench {

// Ports that are free right now on 127.0.0.1: the system picks one and the socket is closed again
// before the bridge binds it.
std::uint16_t free_tcp_port();
std::uint16_t free_udp_port();

struct BridgePorts {
  std::uint16_t page = 0;
  std::uint16_t listen = 0;
  std::uint16_t collector = 0;
};

// What the process has used so far.
struct Usage {
  std::int64_t cpu_ns = 0;   // user and system time of all its threads
  std::int64_t rss_kib = 0;  // resident now (VmRSS)
  std::int64_t peak_kib = 0; // the most resident so far (VmHWM)
};

// Reads /proc/<pid>: CPU time from every thread's schedstat (nanoseconds), falling back on stat's
// utime and stime (clock ticks) where schedstat is missing; memory from status.
std::optional<Usage> usage_of(pid_t pid);

// The CPU time of one thread of this process, from its schedstat.
std::optional<std::int64_t> thread_cpu_ns(pid_t tid);

class BridgeProcess {
 public:
  // Starts `program headless` with the port variables set, the rest of the bridge's variables taken
  // out of the environment, and a fresh allocation count file named for it. Throws
  // std::runtime_error when it cannot start.
  BridgeProcess(const std::string& program, BridgePorts ports);
  ~BridgeProcess();  // a bridge still running is stopped
  BridgeProcess(const BridgeProcess&) = delete;
  BridgeProcess& operator=(const BridgeProcess&) = delete;

  // Waits for the banner that says the services run; false when the program ended or `limit` passed.
  bool wait_ready(std::chrono::milliseconds limit);
  pid_t pid() const { return pid_; }
  std::string err() const;  // its standard error so far
  // The heap allocations the program has made so far (calls of its operator new), when it counts
  // them (the bench's variant of the program does); nothing for a program that does not.
  std::optional<std::uint64_t> allocations() const;
  // Ctrl+C, then the wait for its end (killed after `limit`); the exit code, -1 when killed.
  int stop(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string count_path_;          // the file the program counts its allocations into
  void* count_ = nullptr;           // the same file, mapped here
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string err_;
  bool err_ended_ = false;
  std::thread err_reader_;
};

}  // namespace bench
