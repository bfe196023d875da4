#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/base/src/win32.hpp"
#include "dcs/bridge/tests/program_runner.hpp"

namespace bridge::testing {
namespace {

using win32::Handle;

// Quotes one argument the way the C runtime splits a command line: backslashes are literal unless
// they precede a double quote.
void append_argument(std::wstring& line, const std::wstring& arg) {
  line.push_back(L' ');
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') line.append(backslashes * 2 + 1, L'\\');
    else line.append(backslashes, L'\\');
    backslashes = 0;
    line.push_back(c);
  }
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

std::wstring upper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return out;
}

std::wstring name_of(const std::wstring& entry) {
  // Entries such as "=C:=C:\dir" start with their equals sign.
  std::size_t eq = entry.find(L'=', 1);
  return upper(entry.substr(0, eq));
}

std::vector<std::wstring> environment_entries(const std::vector<EnvVar>& env) {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
    std::wstring entry(p);
    std::wstring name = name_of(entry);
    if (name.starts_with(L"TOLVARO_DCS_") || name == L"BRIDGE_ALLOWED_ORIGINS") continue;
    entries.push_back(entry);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : env) entries.push_back(to_os(name) + L"=" + value);
  // Windows expects the block sorted by name, without regard to case.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::wstring& a, const std::wstring& b) { return name_of(a) < name_of(b); });
  return entries;
}

std::wstring command_line(const std::wstring& path, const std::vector<OsString>& args) {
  std::wstring line = L"\"" + path + L"\"";
  for (const OsString& a : args) append_argument(line, a);
  return line;
}

std::wstring environment_block(const std::vector<EnvVar>& env) {
  std::wstring block;
  for (const std::wstring& entry : environment_entries(env)) {
    block += entry;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

struct Started {
  Handle process;
  DWORD id = 0;
  Handle out;  // reading ends of the pipes; `out` none when standard output was left unset
  Handle err;
};

// Starts the program with standard error, and standard output when `out_pipe`, on pipes.
Started start(const std::vector<OsString>& args, const std::vector<EnvVar>& env, bool out_pipe) {
  const std::wstring path = bridge_program_path();
  std::wstring line = command_line(path, args);
  std::wstring block = environment_block(env);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Started started;
  Handle out_write, err_write;
  if ((out_pipe && !CreatePipe(started.out.out(), out_write.out(), &inherit, 0)) ||
      !CreatePipe(started.err.out(), err_write.out(), &inherit, 0))
    throw std::runtime_error("CreatePipe");
  if (out_pipe) SetHandleInformation(started.out.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(started.err.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out_write.get();  // null: the program attaches to its parent's console
  startup.hStdError = err_write.get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                      nullptr, &startup, &info))
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
  const Handle thread(info.hThread);  // only the process is watched
  started.process.reset(info.hProcess);
  started.id = info.dwProcessId;
  return started;
}

// Catches the console events meant for the program, so that they never end the test.
BOOL WINAPI keep_running(DWORD) { return TRUE; }

// A console of this process's own, made once: console events sent to it reach this process and the
// programs attached to it, and nobody else (not the test runner's console).
void own_console() {
  static const bool made = [] {
    FreeConsole();
    const bool allocated = AllocConsole() != 0;
    SetConsoleCtrlHandler(keep_running, TRUE);
    return allocated;
  }();
  if (!made) throw std::runtime_error("AllocConsole failed");
}

}  // namespace

OsString bridge_program_path() {
  // Another build of the program, such as the release a pilot downloads.
  if (const wchar_t* other = _wgetenv(L"TOLVARO_BRIDGE_PROGRAM"); other != nullptr && *other != L'\0') return other;
  wchar_t path[4096];
  DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  std::wstring own(path, length);
  return own.substr(0, own.find_last_of(L'\\') + 1) + L"TolvaroDcsBridge.exe";
}

ProgramResult run_bridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env) {
  return RunningBridge(args, env, RunningBridge::Output::pipe).finish(std::chrono::seconds(60));
}

struct RunningBridge::Process {
  Handle process;
  DWORD id = 0;
  bool ended = false;
  int exit_code = -1;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string out, err;
  bool out_ended = true;  // no pipe for standard output: nothing to read
  bool err_ended = false;
  std::thread out_reader, err_reader;
};

namespace {

// How long the pipes may stay open once the program has ended: longer means that a process it
// started holds them, and their readers are left behind rather than waited for.
constexpr auto kPipesAfterTheEnd = std::chrono::seconds(10);

// Reads `pipe` into `into` until its end, which comes once every writing end is closed.
void read_pipe(const std::shared_ptr<RunningBridge::Process>& p, const Handle& pipe, std::string& into, bool& ended) {
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(pipe.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    std::lock_guard lock(p->mutex);
    into.append(buffer, read);
    p->changed.notify_all();
  }
  std::lock_guard lock(p->mutex);
  ended = true;
  p->changed.notify_all();
}

}  // namespace

RunningBridge::RunningBridge(const std::vector<OsString>& args, const std::vector<EnvVar>& env, Output out)
    : process_(std::make_shared<Process>()) {
  const bool out_pipe = out == Output::pipe;
  if (!out_pipe) own_console();
  Started started = start(args, env, out_pipe);
  Process& p = *process_;
  p.process = std::move(started.process);
  p.id = started.id;
  // Each reader shares the record and its pipe, so that one left behind reads into what still lives.
  if (out_pipe) {
    p.out_ended = false;
    p.out_reader = std::thread([shared = process_, pipe = std::make_shared<Handle>(std::move(started.out))] {
      read_pipe(shared, *pipe, shared->out, shared->out_ended);
    });
  }
  p.err_reader = std::thread([shared = process_, pipe = std::make_shared<Handle>(std::move(started.err))] {
    read_pipe(shared, *pipe, shared->err, shared->err_ended);
  });
}

RunningBridge::~RunningBridge() {
  if (!process_->ended) finish(std::chrono::milliseconds(0));
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

void RunningBridge::ctrl_c() { GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); }

long RunningBridge::process_id() const { return static_cast<long>(process_->id); }

ProgramResult RunningBridge::finish(std::chrono::milliseconds limit) {
  Process& p = *process_;
  if (!p.ended) {
    if (WaitForSingleObject(p.process.get(), static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(p.process.get(), &code);
      p.exit_code = static_cast<int>(code);
    } else {
      TerminateProcess(p.process.get(), 1);
      WaitForSingleObject(p.process.get(), 10000);
      p.exit_code = -1;
    }
    p.ended = true;
    bool pipes_ended = false;
    {
      std::unique_lock lock(p.mutex);
      pipes_ended = p.changed.wait_for(lock, kPipesAfterTheEnd, [&] { return p.out_ended && p.err_ended; });
      if (!pipes_ended) p.err += "[the program's pipes stayed open after it ended]\n";
    }
    for (std::thread* reader : {&p.out_reader, &p.err_reader}) {
      if (!reader->joinable()) continue;
      if (pipes_ended)
        reader->join();
      else
        reader->detach();
    }
  }
  std::lock_guard lock(p.mutex);
  return {p.exit_code, p.out, p.err};
}

}  // namespace bridge::testing
