// quorvex-bench: measures complete programming runs and sector listings through quorvex-cli
// against quorvex-sim --pace (bytes held to 62,500-baud line time). Each is compared, round by
// round in the same run, with a minimal blocking host written here (bare reads and writes, the
// same pauses), and with the least time the line needs for the bytes and pauses of each
// command; then the same with busy loops beside both hosts, as on a busy bench PC. Then four,
// and eight, paced instruments programmed at once by one quorvex-cli against a single run
// beside them; without pacing, what the host adds, its CPU time and peak memory; and the
// start-up of the window. The last lines:
//   ratio program=X.XXX list=Y.YYY          against the line itself: moves with the machine
//   vs-baseline program=X.XXXX list=Y.YYYY  against the minimal host beside it
//   busyN program=X.XXXX list=Y.YYYY        the same with N busy loops beside both
//   parallel4=Z.ZZZZ                        the slowest of four at once against one alone
//   parallel8=Z.ZZZZ                        the same with eight
//   cpu-per-instrument alone=Xms with8=Yms  quorvex-cli CPU time per instrument
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "BaselineHost.h"
#include "BusyLoops.h"
#include "ChildProcess.h"
#include "LineCount.h"
#include "SampleFirmware.h"
#include "SectorInf.h"
#include "SimulatedInstrument.h"

namespace fs = std::filesystem;
using namespace quorvex;
using namespace quorvex::bench;
using namespace quorvex::process;

namespace {

// Targets, against the minimal host and a single run measured beside them. How long a run
// takes against the line itself is printed too, but moves with the machine's scheduling.
constexpr double kProgramVsTarget = 1.01;
constexpr double kListVsTarget = 1.02;
constexpr double kParallelTarget = 1.02;
// Instruments programmed at once by one quorvex-cli: a bench of four, and one of eight.
constexpr std::array<int, 2> kParallelPorts{4, 8};
constexpr double kCpuShareTarget = 0.02;
constexpr long kPeakKilobytesTarget = 20L * 1024;
constexpr double kWindowSecondsTarget = 0.5;
// Environment variable that makes the window print "shown" and quit once it is up.
constexpr const char* kShownHook = "QUORVEX_EXIT_WHEN_SHOWN";

struct Options {
  int runs = 3;
  int sector = 5;
  int busy = 2;  // busy loops beside the second side-by-side measurement; 0 skips it
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
      "usage: quorvex-bench [--runs N] [--busy N] [--sector N] [--bin DIR]\n"
      "  --runs N    rounds of each measurement, median taken (default 3; a paced programming\n"
      "              run takes about 12.5 s, a round of all paced measurements about a minute)\n"
      "  --busy N    busy loops at normal priority kept running beside a second side-by-side\n"
      "              measurement (default 2; 0 leaves it out)\n"
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
    } else if (arg == "--busy" && hasValue) {
      options.busy = std::atoi(argv[++i]);
    } else if (arg == "--sector" && hasValue) {
      options.sector = std::atoi(argv[++i]);
    } else if (arg == "--bin" && hasValue) {
      options.binDir = argv[++i];
    } else {
      Usage();
      std::exit(2);
    }
  }
  if (options.runs < 1 || options.busy < 0 || options.sector < 1 || options.sector > 64) {
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

// How a child that did not succeed ended, for the failure message.
std::string HowItEnded(const ChildCost& cost) {
  return cost.error.empty() ? "ended with exit code " + std::to_string(cost.exitCode)
                            : "could not be waited for (" + cost.error + ")";
}

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
      Fail(command + " " + HowItEnded(cost));
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

// The paced instruments of this run, ended on every way out.
std::vector<std::unique_ptr<ChildProcess>> g_paced;

// Starts `quorvex-sim --pace` on a link at `link`; the link's path.
std::string StartPaced(const fs::path& simulator, const fs::path& link) {
  auto child = std::make_unique<ChildProcess>();
  std::string error;
  if (!child->Start({simulator.string(), "--pace", "--link", link.string()}, {}, true, &error)) {
    Fail(error);
  }
  if (!child->ReadLine(Clock::now() + std::chrono::seconds(10))) {
    Fail("quorvex-sim did not print its pseudo-terminal");
  }
  g_paced.push_back(std::move(child));
  return link.string();
}

void StopPaced() {
  for (auto& child : g_paced) child->Stop(SIGTERM);
  g_paced.clear();
}

// The most memory any paced quorvex-cli run took.
long g_pacedPeakKilobytes = 0;

// What one run cost its host: wall and CPU seconds, and how often it waited (each voluntary
// context switch is a wait that ended in a wake-up) or was put aside for another program.
struct RunCost {
  double wall = 0;
  double cpu = 0;
  long waits = 0;
  long preempted = 0;
};

// One quorvex-cli run, which must end with exit code 0.
RunCost CliRun(const std::vector<std::string>& argv) {
  std::string error;
  const ChildCost cost = RunToEnd(argv, &error);
  if (!error.empty()) Fail(error);
  if (cost.exitCode != 0) Fail(argv[0] + " " + HowItEnded(cost));
  g_pacedPeakKilobytes = std::max(g_pacedPeakKilobytes, cost.peakKilobytes);
  return {cost.wallSeconds, cost.cpuSeconds, cost.voluntarySwitches, cost.involuntarySwitches};
}

// This thread's own account so far: the minimal host runs in it.
RunCost ThreadUsage() {
  rusage usage{};
#ifdef RUSAGE_THREAD
  ::getrusage(RUSAGE_THREAD, &usage);
#else
  ::getrusage(RUSAGE_SELF, &usage);
#endif
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {0, seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw, usage.ru_nivcsw};
}

// The minimal host's runs, timed from opening the line to the last reply.
template <typename Body>
RunCost BaselineRun(const std::string& line, Body body) {
  const RunCost before = ThreadUsage();
  const auto start = Clock::now();
  {
    BaselineHost host;
    std::string error;
    if (!host.Open(line, &error) || !body(host, &error)) Fail(error);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const RunCost after = ThreadUsage();
  return {wall, after.cpu - before.cpu, after.waits - before.waits,
          after.preempted - before.preempted};
}

RunCost BaselineProgram(const std::string& line, const FileBytes& image, int sector) {
  std::array<std::uint8_t, kFirmwareSize> firmware{};
  std::copy_n(image.begin(), kFirmwareSize, firmware.begin());
  const SectorInf block = DeriveSectorInf(image);
  return BaselineRun(line, [&](BaselineHost& host, std::string* error) {
    return host.Program(firmware, block, sector, error);
  });
}

RunCost BaselineList(const std::string& line) {
  return BaselineRun(line, [](BaselineHost& host, std::string* error) { return host.List(error); });
}

// quorvex-cli and the minimal host, measured in turns: the ratio of each round.
struct SideBySide {
  std::vector<RunCost> cli;
  std::vector<RunCost> baseline;

  template <typename Cli, typename Baseline>
  void Add(bool cliFirst, Cli runCli, Baseline runBaseline) {
    if (cliFirst) {
      cli.push_back(runCli());
      baseline.push_back(runBaseline());
    } else {
      baseline.push_back(runBaseline());
      cli.push_back(runCli());
    }
  }
  [[nodiscard]] double MedianRatio() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < cli.size(); ++i) ratios.push_back(cli[i].wall / baseline[i].wall);
    return Median(ratios);
  }
};

template <typename Field>
double MedianOf(const std::vector<RunCost>& runs, Field field) {
  std::vector<double> values;
  for (const RunCost& r : runs) values.push_back(static_cast<double>(field(r)));
  return Median(values);
}

double MedianWall(const std::vector<RunCost>& runs) {
  return MedianOf(runs, [](const RunCost& r) { return r.wall; });
}

// Programming runs and listings through quorvex-cli and the minimal host in turns on one paced
// instrument, round by round, so both see the same machine at the same time.
struct PacedPair {
  SideBySide programs;
  SideBySide lists;
};

PacedPair MeasureSideBySide(const fs::path& cli, const std::string& line, const fs::path& firmware,
                            const FileBytes& image, const Options& options) {
  PacedPair pair;
  for (int round = 0; round < options.runs; ++round) {
    const bool cliFirst = round % 2 == 0;  // neither always runs on a line just used
    pair.programs.Add(
        cliFirst, [&] { return CliRun(ProgramCommand(cli, line, firmware, options.sector)); },
        [&] { return BaselineProgram(line, image, options.sector); });
    pair.lists.Add(
        cliFirst, [&] { return CliRun(ListCommand(cli, line)); },
        [&] { return BaselineList(line); });
  }
  return pair;
}

void PrintSideBySide(const char* what, const SideBySide& runs, double limit, double target) {
  const double ratio = runs.MedianRatio();
  const auto cpu = [](const RunCost& r) { return r.cpu * 1e3; };
  const auto waits = [](const RunCost& r) { return r.waits; };
  const auto preempted = [](const RunCost& r) { return r.preempted; };
  std::printf(
      "         %-8s quorvex-cli median %.3f s, minimal host %.3f s, limit %.3f s\n"
      "                  against the line: quorvex-cli %.3f, minimal host %.3f\n"
      "                  against the minimal host, round by round: %.4f (target <= %.2f: %s)\n"
      "                  a run: CPU %.1f ms against %.1f ms, waits %.0f against %.0f,"
      " put aside %.0f against %.0f\n",
      what, MedianWall(runs.cli), MedianWall(runs.baseline), limit, MedianWall(runs.cli) / limit,
      MedianWall(runs.baseline) / limit, ratio, target, Verdict(ratio <= target),
      MedianOf(runs.cli, cpu), MedianOf(runs.baseline, cpu), MedianOf(runs.cli, waits),
      MedianOf(runs.baseline, waits), MedianOf(runs.cli, preempted),
      MedianOf(runs.baseline, preempted));
}

// One quorvex-cli --json programming run on the lines: the seconds of each port's run as its
// result event gives them, and the CPU time of the whole process.
struct JsonRun {
  std::vector<double> seconds;
  double cpuSeconds = 0;
};

JsonRun RunJson(const fs::path& cli, const std::vector<std::string>& lines,
                const fs::path& firmware, int sector) {
  std::vector<std::string> argv{cli.string(), "--json", "-y"};
  for (const std::string& line : lines) argv.insert(argv.end(), {"-p", line});
  argv.insert(argv.end(), {"program", firmware.string(), "-s", std::to_string(sector)});
  ChildProcess child;
  std::string error;
  if (!child.Start({argv, {}, Redirect::Pipe(), {}}, &error)) Fail(error);
  JsonRun run;
  while (const auto text = child.ReadLine(Clock::now() + std::chrono::seconds(120))) {
    const auto event = nlohmann::json::parse(*text, nullptr, false);
    if (event.is_object() && event.value("event", "") == "result") {
      if (event.value("exit", -1) != 0) Fail("a run of " + event.value("port", "") + " failed");
      run.seconds.push_back(event.value("seconds", 0.0));
    }
  }
  const ChildCost cost = child.Wait();
  if (cost.exitCode != 0 || run.seconds.size() != lines.size()) {
    Fail("quorvex-cli --json program " + HowItEnded(cost));
  }
  run.cpuSeconds = cost.cpuSeconds;
  return run;
}

// Several paced instruments programmed at once by one quorvex-cli, and one alone beside it,
// in turns: the slowest of them against the single run, and the CPU time per instrument.
struct ParallelFigures {
  double ratio = 0;
  double cpuTogether = 0;  // per instrument, seconds
  double cpuAlone = 0;
};

ParallelFigures MeasureParallel(const fs::path& cli, const std::vector<std::string>& lines,
                                const fs::path& firmware, const Options& options) {
  const auto ports = static_cast<double>(lines.size());
  std::vector<double> ratios;
  std::vector<double> together;
  std::vector<double> alone;
  for (int round = 0; round < options.runs; ++round) {
    const auto runTogether = [&] {
      const JsonRun run = RunJson(cli, lines, firmware, options.sector);
      together.push_back(run.cpuSeconds / ports);
      return *std::max_element(run.seconds.begin(), run.seconds.end());
    };
    const auto runAlone = [&] {
      const JsonRun run = RunJson(cli, {lines.front()}, firmware, options.sector);
      alone.push_back(run.cpuSeconds);
      return run.seconds.front();
    };
    if (round % 2 == 0) {
      const double slowest = runTogether();
      ratios.push_back(slowest / runAlone());
    } else {
      const double single = runAlone();
      ratios.push_back(runTogether() / single);
    }
  }
  return {Median(ratios), Median(together), Median(alone)};
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

  // Paced: the line as it is at 62,500 baud, first on a quiet machine, then with busy loops
  // beside both hosts.
  const FileBytes image = SampleImage("BENCH", true);
  const std::string line = StartPaced(simulator, folder / "line");
  const PacedPair quiet = MeasureSideBySide(cli, line, firmware, image, options);
  std::printf("paced    on this machine as it is:\n");
  PrintSideBySide("program:", quiet.programs, program.LimitSeconds(), kProgramVsTarget);
  PrintSideBySide("list:", quiet.lists, listing.LimitSeconds(), kListVsTarget);
  std::optional<PacedPair> busy;
  if (options.busy > 0) {
    const BusyLoops loops(options.busy);
    busy = MeasureSideBySide(cli, line, firmware, image, options);
    std::printf("paced    with %d busy loops beside both hosts (load average %s at the end):\n",
                loops.Count(), LoadAverage().c_str());
  }
  if (busy) {
    PrintSideBySide("program:", busy->programs, program.LimitSeconds(), kProgramVsTarget);
    PrintSideBySide("list:", busy->lists, listing.LimitSeconds(), kListVsTarget);
  }

  // Several paced instruments programmed at once by one quorvex-cli, and one alone beside it.
  std::vector<std::string> lines{line};
  std::vector<std::pair<int, ParallelFigures>> parallel;
  for (const int ports : kParallelPorts) {
    while (static_cast<int>(lines.size()) < ports) {
      lines.push_back(StartPaced(simulator, folder / ("line" + std::to_string(lines.size()))));
    }
    const std::vector<std::string> used(lines.begin(), lines.begin() + ports);
    const ParallelFigures figures = MeasureParallel(cli, used, firmware, options);
    parallel.emplace_back(ports, figures);
    std::printf(
        "parallel %d instruments at once: the slowest run against a single run beside it %.4f "
        "(target <= %.2f: %s)\n"
        "         quorvex-cli CPU per instrument %.1f ms at once, %.1f ms alone\n",
        ports, figures.ratio, kParallelTarget, Verdict(figures.ratio <= kParallelTarget),
        figures.cpuTogether * 1e3, figures.cpuAlone * 1e3);
  }
  StopPaced();
  // The share of its wall time quorvex-cli spends on the CPU, from the runs on the machine as
  // it is (busy loops take the CPU from it and slow every instruction it runs).
  std::vector<RunCost> quietCli = quiet.programs.cli;
  quietCli.insert(quietCli.end(), quiet.lists.cli.begin(), quiet.lists.cli.end());
  const double cpuShare =
      MedianOf(quietCli, [](const RunCost& r) { return r.cpu; }) / MedianWall(quietCli);
  const long peakKilobytes = std::max(g_pacedPeakKilobytes, fastProgram.peakKilobytes);
  std::printf(
      "         quorvex-cli CPU %.2f %% of its wall time in paced runs (target < 2 %%: %s)\n"
      "         quorvex-cli peak memory %.1f MB (target < 20 MB: %s)\n",
      cpuShare * 100, Verdict(cpuShare < kCpuShareTarget),
      static_cast<double>(peakKilobytes) / 1024, Verdict(peakKilobytes < kPeakKilobytesTarget));

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
  const double programRatio = MedianWall(quiet.programs.cli) / program.LimitSeconds();
  const double listRatio = MedianWall(quiet.lists.cli) / listing.LimitSeconds();
  std::printf("ratio program=%.3f list=%.3f\n", programRatio, listRatio);
  std::printf("vs-baseline program=%.4f list=%.4f\n", quiet.programs.MedianRatio(),
              quiet.lists.MedianRatio());
  if (busy) {
    std::printf("busy%d program=%.4f list=%.4f\n", options.busy, busy->programs.MedianRatio(),
                busy->lists.MedianRatio());
  }
  for (const auto& [ports, figures] : parallel)
    std::printf("parallel%d=%.4f\n", ports, figures.ratio);
  const ParallelFigures& widest = parallel.back().second;
  std::printf("cpu-per-instrument alone=%.1fms with%d=%.1fms\n", widest.cpuAlone * 1e3,
              parallel.back().first, widest.cpuTogether * 1e3);
  return 0;
}
