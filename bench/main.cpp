// quorvex-bench: measures complete programming runs and sector listings through quorvex-cli
// against quorvex-sim --pace (bytes held to 62,500-baud line time) and compares them with the
// least time the line needs for exactly the bytes and pauses of each command, counted in a
// run of the same sequence. Then the same commands without pacing (what the host adds, its
// CPU time and peak memory), and the start-up of the window. The last line:
//   ratio program=X.XXX list=Y.YYY
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "LineCount.h"
#include "SampleFirmware.h"
#include "SimulatedInstrument.h"

namespace fs = std::filesystem;
using namespace quorvex;
using namespace quorvex::bench;

namespace {

// Targets: a run may take this much longer than the line itself needs.
constexpr double kProgramRatioTarget = 1.02;
constexpr double kListRatioTarget = 1.05;
constexpr double kCpuShareTarget = 0.02;
constexpr long kPeakKilobytesTarget = 20L * 1024;
constexpr double kWindowSecondsTarget = 0.5;
// Environment variable that makes the window print "shown" and quit once it is up.
constexpr const char* kShownHook = "QUORVEX_EXIT_WHEN_SHOWN";

struct Options {
  int runs = 5;
  int sector = 5;
  fs::path binDir;
};

fs::path g_folder;  // the temporary folder, removed on every way out

[[noreturn]] void Fail(const std::string& text) {
  std::fprintf(stderr, "quorvex-bench: %s\n", text.c_str());
  KillRemainingChildren();
  std::error_code ignored;
  if (!g_folder.empty()) fs::remove_all(g_folder, ignored);
  std::_Exit(1);
}

void Usage() {
  std::printf(
      "usage: quorvex-bench [--runs N] [--sector N] [--bin DIR]\n"
      "  --runs N    runs of each measurement, median taken (default 5; a paced programming\n"
      "              run takes about 12.5 s)\n"
      "  --sector N  sector the sample firmware is programmed into (default 5)\n"
      "  --bin DIR   folder of quorvex-cli, quorvex-sim and quorvex (default: this program's)\n");
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      Usage();
      std::exit(0);
    } else if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--sector" && hasValue) {
      options.sector = std::atoi(argv[++i]);
    } else if (arg == "--bin" && hasValue) {
      options.binDir = argv[++i];
    } else {
      Usage();
      std::exit(2);
    }
  }
  if (options.runs < 1 || options.sector < 1 || options.sector > 64) {
    Usage();
    std::exit(2);
  }
  if (options.binDir.empty()) {
    // Where this program lies: /proc on Linux, else the path it was started by.
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) self = fs::absolute(argv[0]);
    options.binDir = self.parent_path();
  }
  return options;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string LoadAverage() {
  double load[3] = {};
  if (::getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// A sample firmware: a full image with a named, written information block, as a .fls file.
fs::path WriteSampleFirmware(const fs::path& folder) {
  fs::path path = folder / "bench.fls";
  if (!WriteFirmwareFile(path.string(), SampleImage("BENCH", true))) {
    Fail("cannot write " + path.string());
  }
  return path;
}

// Runs of one quorvex-cli command: wall time, CPU time and peak memory of each.
struct Runs {
  std::vector<double> wall;
  std::vector<double> cpu;
  long peakKilobytes = 0;

  [[nodiscard]] double MedianWall() const { return Median(wall); }
  [[nodiscard]] double MedianCpu() const { return Median(cpu); }
};

// Runs the command `runs` times; every run must end with exit code 0. `check` runs after
// each one (it may throw the run out with Fail).
template <typename Check>
Runs Measure(const std::vector<std::string>& argv, int runs, Check check) {
  Runs result;
  for (int i = 0; i < runs; ++i) {
    std::string error;
    const ChildCost cost = RunToEnd(argv, &error);
    if (!error.empty()) Fail(error);
    if (cost.exitCode != 0) {
      std::string command;
      for (const std::string& a : argv) command += (command.empty() ? "" : " ") + a;
      Fail(command + " ended with exit code " + std::to_string(cost.exitCode));
    }
    check();
    result.wall.push_back(cost.wallSeconds);
    result.cpu.push_back(cost.cpuSeconds);
    result.peakKilobytes = std::max(result.peakKilobytes, cost.peakKilobytes);
  }
  return result;
}

std::vector<std::string> ProgramCommand(const fs::path& cli, const std::string& port,
                                        const fs::path& firmware, int sector) {
  return {cli.string(),          "-p", port, "-q", "-y", "program", firmware.string(), "-s",
          std::to_string(sector)};
}

std::vector<std::string> ListCommand(const fs::path& cli, const std::string& port) {
  return {cli.string(), "-p", port, "list"};
}

void PrintTraffic(const char* what, const LineTraffic& t) {
  std::printf(
      "%-8s line carries %zu bytes to the instrument, %zu back, %zu pauses of %.3f s:\n"
      "         limit %.3f s at 160 us a byte\n",
      what, t.toInstrument, t.fromInstrument, t.pauses,
      std::chrono::duration<double>(t.pauseTime).count(), t.LimitSeconds());
}

// Time from launching the window to its report that it is shown, or nullopt with *note.
std::optional<double> WindowStartup(const fs::path& window, const fs::path& folder, int runs,
                                    std::string* note) {
  std::error_code ignored;
  if (!fs::exists(window, ignored)) {
    *note = "skipped: " + window.string() + " is not built (configure with -DQUORVEX_BUILD_APP=ON)";
    return std::nullopt;
  }
  std::ifstream in(window, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.find(kShownHook) == std::string::npos) {
    *note = "skipped: " + window.string() + " does not know " + kShownHook +
            " (print \"shown\" and quit once the window is up)";
    return std::nullopt;
  }
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    // A fresh, empty settings folder each time: a first start, which probes the ports and
    // stores empty settings. A stored port that is missing would show a message first.
    const fs::path config = folder / ("config" + std::to_string(i));
    fs::create_directories(config, ignored);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                          std::string(kShownHook) + "=1",
                                          "XDG_CONFIG_HOME=" + config.string()};
    ChildProcess child;
    if (!child.Start({window.string()}, env, true, note)) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::optional<double> shown;
    while (auto line = child.ReadLine(deadline)) {
      if (*line == "shown") {
        shown = std::chrono::duration<double>(Clock::now() - child.StartedAt()).count();
        break;
      }
    }
    child.Stop(SIGTERM);
    if (!shown) {
      *note = "skipped: the window did not report \"shown\" within 10 s";
      return std::nullopt;
    }
    times.push_back(*shown);
  }
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const fs::path cli = options.binDir / "quorvex-cli";
  const fs::path simulator = options.binDir / "quorvex-sim";
  for (const fs::path& program : {cli, simulator}) {
    if (::access(program.c_str(), X_OK) != 0) Fail(program.string() + " is not built");
  }

  std::string folderTemplate = (fs::temp_directory_path() / "quorvex-bench.XXXXXX").string();
  if (::mkdtemp(folderTemplate.data()) == nullptr) Fail("cannot create a temporary folder");
  const fs::path folder = folderTemplate;
  g_folder = folder;
  const fs::path firmware = WriteSampleFirmware(folder);

  std::printf("quorvex-bench: %d runs each, sector %d; %ld cores, load average %s\n", options.runs,
              options.sector, ::sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());

  // What the line must carry, counted in a run of each sequence through the serial code.
  std::string error;
  LineTraffic program;
  LineTraffic listing;
  if (!CountProgramming(firmware.string(), options.sector, &program, &error) ||
      !CountListing(&listing, &error)) {
    Fail(error);
  }
  PrintTraffic("program", program);
  PrintTraffic("list", listing);

  // Without pacing: what the host and the pseudo-terminal add to the mandated pauses. The
  // instrument runs in this process, so it can confirm every run sent the counted bytes.
  Runs fastProgram;
  Runs fastList;
  {
    sim::SimulatedInstrument instrument;
    if (!instrument.Start(&error)) Fail("cannot start the simulated instrument: " + error);
    const auto sameBytes = [&instrument](const LineTraffic& counted) {
      return [&instrument, &counted] {
        const std::size_t received = instrument.Received().size();
        if (received != counted.toInstrument) {
          Fail("a run sent " + std::to_string(received) + " bytes, not the " +
               std::to_string(counted.toInstrument) + " counted");
        }
        instrument.ClearLog();
      };
    };
    instrument.ClearLog();
    fastProgram = Measure(ProgramCommand(cli, instrument.PortPath(), firmware, options.sector),
                          options.runs, sameBytes(program));
    fastList = Measure(ListCommand(cli, instrument.PortPath()), options.runs, sameBytes(listing));
  }
  const double programPauses = std::chrono::duration<double>(program.pauseTime).count();
  std::printf(
      "unpaced  program: median %.3f s, of which pauses %.3f s: the host adds %.1f ms\n"
      "         quorvex-cli CPU %.1f ms (user + system), peak memory %.1f MB\n"
      "         list: median %.1f ms for %zu bytes\n",
      fastProgram.MedianWall(), programPauses, (fastProgram.MedianWall() - programPauses) * 1e3,
      fastProgram.MedianCpu() * 1e3, static_cast<double>(fastProgram.peakKilobytes) / 1024,
      fastList.MedianWall() * 1e3, listing.toInstrument + listing.fromInstrument);

  // Paced: the line as it is at 62,500 baud.
  ChildProcess paced;
  const std::string line = (folder / "line").string();
  if (!paced.Start({simulator.string(), "--pace", "--link", line}, {}, true, &error)) Fail(error);
  if (!paced.ReadLine(Clock::now() + std::chrono::seconds(10))) {
    Fail("quorvex-sim did not print its pseudo-terminal");
  }
  const Runs slowProgram =
      Measure(ProgramCommand(cli, line, firmware, options.sector), options.runs, [] {});
  const Runs slowList = Measure(ListCommand(cli, line), options.runs, [] {});
  paced.Stop(SIGTERM);

  const double programRatio = slowProgram.MedianWall() / program.LimitSeconds();
  const double listRatio = slowList.MedianWall() / listing.LimitSeconds();
  const double cpuShare = slowProgram.MedianCpu() / slowProgram.MedianWall();
  const long peak = std::max(slowProgram.peakKilobytes, fastProgram.peakKilobytes);
  std::printf(
      "paced    program: median %.3f s, limit %.3f s, ratio %.3f (target <= %.2f: %s)\n"
      "         list:    median %.3f s, limit %.3f s, ratio %.3f (target <= %.2f: %s)\n"
      "         quorvex-cli program CPU %.1f ms = %.2f %% of its wall time (target < 2 %%: %s)\n"
      "         quorvex-cli peak memory %.1f MB (target < 20 MB: %s)\n",
      slowProgram.MedianWall(), program.LimitSeconds(), programRatio, kProgramRatioTarget,
      Verdict(programRatio <= kProgramRatioTarget), slowList.MedianWall(), listing.LimitSeconds(),
      listRatio, kListRatioTarget, Verdict(listRatio <= kListRatioTarget),
      slowProgram.MedianCpu() * 1e3, cpuShare * 100, Verdict(cpuShare < kCpuShareTarget),
      static_cast<double>(peak) / 1024, Verdict(peak < kPeakKilobytesTarget));

  std::string note;
  const std::optional<double> shown =
      WindowStartup(options.binDir / "quorvex", folder, options.runs, &note);
  if (shown) {
    std::printf("window   shown after %.1f ms, median (target < 500 ms: %s)\n", *shown * 1e3,
                Verdict(*shown < kWindowSecondsTarget));
  } else {
    std::printf("window   %s\n", note.c_str());
  }

  std::error_code ignored;
  fs::remove_all(folder, ignored);
  std::printf("load average at the end %s\n", LoadAverage().c_str());
  std::printf("ratio program=%.3f list=%.3f\n", programRatio, listRatio);
  return 0;
}
