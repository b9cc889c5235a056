#pragma once

// quorvex-cli and quorvex-sim as separate processes, the way a bench script runs them: their
// output streams, exit codes, wall time and CPU time.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SampleFirmware.h"

namespace quorvex::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// A finished quorvex-cli.
struct CliResult {
  int code = -1;  // exit code, or 128 + signal
  std::string out;
  std::string err;
  double seconds = 0;     // wall time
  double cpuSeconds = 0;  // user + system
};

// A quorvex-cli started in the background; Wait() collects it.
class CliProcess {
 public:
  // stdin is /dev/null (no terminal to ask); XDG_CONFIG_HOME is `config`.
  CliProcess(const fs::path& dir, const fs::path& config, const std::vector<std::string>& args)
      : out_(dir / ("stdout-" + std::to_string(++count_))),
        err_(dir / ("stderr-" + std::to_string(count_))),
        start_(Clock::now()) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
      const int in = ::open("/dev/null", O_RDONLY);
      const int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      std::vector<char*> argv{const_cast<char*>(QUORVEX_CLI)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QUORVEX_CLI, argv.data());
      ::_exit(127);
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;
  ~CliProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // What the command has written to stdout so far (each log line is flushed).
  [[nodiscard]] std::string OutputSoFar() const { return Slurp(out_); }

  CliResult Wait() {
    int status = 0;
    rusage usage{};
    ::wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    CliResult result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    result.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = Slurp(out_);
    result.err = Slurp(err_);
    return result;
  }

 private:
  static inline int count_ = 0;
  fs::path out_;
  fs::path err_;
  Clock::time_point start_;
  pid_t pid_ = -1;
};

// A simulated instrument in its own process, reachable through the symbolic link `port`; it
// records every request it recognised into `requests` when it ends.
class SimProcess {
 public:
  SimProcess(const fs::path& dir, const std::vector<std::string>& options)
      : link_(dir / "port"), record_(dir / "requests"), out_(dir / "sim-stdout") {
    std::vector<std::string> args{"--link", link_.string(), "--record", record_.string()};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      const int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, 1);
      std::vector<char*> argv{const_cast<char*>(QUORVEX_SIM)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QUORVEX_SIM, argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 250 && !fs::exists(link_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() { Stop(); }

  [[nodiscard]] std::string Port() const { return link_.string(); }
  [[nodiscard]] bool Ready() const { return fs::exists(link_); }
  // The pseudo-terminal's own path, the first line the simulator prints.
  [[nodiscard]] std::string TerminalPath() const {
    const std::vector<std::string> lines = Lines(Slurp(out_));
    return lines.empty() ? std::string() : lines.front();
  }
  [[nodiscard]] pid_t Pid() const { return pid_; }

  // Waits up to `limit` for the simulator to end by itself; its exit code, or nothing.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (Clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitCode_;
  }

  // Ends the simulator (SIGTERM) and returns its exit code.
  int Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return exitCode_;
  }

  // The requests the instrument recognised, one payload in hex a line; after Stop().
  [[nodiscard]] std::vector<std::string> Requests() const { return Lines(Slurp(record_)); }

 private:
  fs::path link_;
  fs::path record_;
  fs::path out_;
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

// A folder of its own for each test, with an empty settings folder and a firmware file.
class Workspace {
 public:
  Workspace() {
    dir_ = fs::temp_directory_path() /
           ("quorvex-robust-" + std::to_string(::getpid()) + "-" + std::to_string(++count_));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace() {
    std::error_code error;
    fs::permissions(dir_ / "config", fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(dir_, error);
  }

  [[nodiscard]] const fs::path& Dir() const { return dir_; }
  [[nodiscard]] fs::path Config() const { return dir_ / "config"; }

  // A firmware file named "ROBUST", not marked written.
  [[nodiscard]] std::string Firmware() const {
    const fs::path path = dir_ / "fw.fls";
    WriteFirmwareFile(path.string(), SampleImage("ROBUST", false));
    return path.string();
  }

  CliResult Run(const std::vector<std::string>& args) const {
    CliProcess cli(dir_, Config(), args);
    return cli.Wait();
  }

 private:
  static inline int count_ = 0;
  fs::path dir_;
};

}  // namespace quorvex::test
