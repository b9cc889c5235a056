#pragma once

// quorvex-cli and quorvex-sim as separate processes, the way a bench script runs them: their
// output streams, exit codes, wall time and CPU time.
#include <signal.h>
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

#include "ChildProcess.h"
#include "SampleFirmware.h"
#include "TempFolder.h"

namespace quorvex::test {

namespace fs = std::filesystem;
using process::Clock;

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
        err_(dir / ("stderr-" + std::to_string(count_))) {
    std::vector<std::string> argv{QUORVEX_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    child_.Start({argv,
                  {"XDG_CONFIG_HOME=" + config.string()},
                  process::Redirect::ToFile(out_.string()),
                  process::Redirect::ToFile(err_.string()),
                  {}},
                 &error);
  }

  // What the command has written to stdout so far (each log line is flushed).
  [[nodiscard]] std::string OutputSoFar() const { return Slurp(out_); }
  void Signal(int signal) const { child_.Signal(signal); }

  CliResult Wait() {
    const process::ChildCost cost = child_.Wait();
    CliResult result;
    result.seconds = cost.wallSeconds;
    result.cpuSeconds = cost.cpuSeconds;
    result.code = cost.exitCode;
    result.out = Slurp(out_);
    result.err = Slurp(err_);
    return result;
  }

 private:
  static inline int count_ = 0;
  fs::path out_;
  fs::path err_;
  process::ChildProcess child_;
};

// A simulated instrument in its own process, reachable through the symbolic link `port`; it
// records every request it recognised into `requests` when it ends. `name` tells apart
// several instruments in one folder.
class SimProcess {
 public:
  SimProcess(const fs::path& dir, const std::vector<std::string>& options,
             const std::string& name = "port")
      : link_(dir / name), record_(dir / (name + "-requests")), out_(dir / (name + "-stdout")) {
    std::vector<std::string> argv{QUORVEX_SIM, "--link", link_.string(), "--record",
                                  record_.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string error;
    child_.Start({argv, {}, process::Redirect::ToFile(out_.string()), {}, {}}, &error);
    for (int i = 0; i < 250 && !fs::exists(link_) && child_.Running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  [[nodiscard]] std::string Port() const { return link_.string(); }
  [[nodiscard]] bool Ready() const { return fs::exists(link_); }
  // The pseudo-terminal's own path, the first line the simulator prints.
  [[nodiscard]] std::string TerminalPath() const {
    const std::vector<std::string> lines = Lines(Slurp(out_));
    return lines.empty() ? std::string() : lines.front();
  }
  [[nodiscard]] pid_t Pid() const { return child_.Pid(); }

  // Waits up to `limit` for the simulator to end by itself; its exit code, or nothing.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
    if (!child_.Running()) return exitCode_;
    const auto cost = child_.WaitUntil(Clock::now() + limit);
    if (!cost) return std::nullopt;
    exitCode_ = cost->exitCode;
    return exitCode_;
  }

  // Ends the simulator (SIGTERM) and returns its exit code.
  int Stop() {
    if (child_.Running()) exitCode_ = child_.Stop(SIGTERM).exitCode;
    return exitCode_;
  }

  // The requests the instrument recognised, one payload in hex a line; after Stop().
  [[nodiscard]] std::vector<std::string> Requests() const { return Lines(Slurp(record_)); }

 private:
  fs::path link_;
  fs::path record_;
  fs::path out_;
  process::ChildProcess child_;
  int exitCode_ = -1;
};

// A folder of its own for each test, with an empty settings folder and a firmware file.
class Workspace {
 public:
  Workspace() { fs::create_directories(dir_ / "config"); }

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
  TempFolder folder_{"quorvex-robust"};  // gives back rights a test took away, then goes
  const fs::path& dir_ = folder_.Path();
};

}  // namespace quorvex::test
