// quorvex-bench: measures complete programming runs and sector listings through quorvex-cli
// against quorvex-sim --pace (bytes held to 62,500-baud line time). Each is compared, round by
// round in the same run, with a minimal blocking host written here (bare reads and writes, the
// same pauses; for listings also as a program of its own), and with the least time the line
// needs for the bytes and pauses of each command; then the same with busy loops beside both hosts,
// as on a busy bench PC. Then four, eight and sixteen paced instruments programmed at once by one
// quorvex-cli against a single run beside them; a station of eight slots of paced units coming
// and going, each unit against a single run beside it, how soon a unit is found, and (with
// no units) what waiting costs; without pacing, what the host adds, its CPU time and peak
// memory; and the start-up of the window. The last lines:
//   ratio program=X.XXX list=Y.YYY          against the line itself: moves with the machine
//   vs-baseline program=X.XXXX list=Y.YYYY  against the minimal host beside it
//   busyN program=X.XXXX list=Y.YYYY        the same with N busy loops beside both
//   vs-host-process list=Y.YYYY             listings against the minimal host run as a
//   busyN-host-process list=Y.YYYY          program of its own (both pay a process's start)
//   parallel4=Z.ZZZZ                        the slowest of four at once against one alone
//   parallel8=Z.ZZZZ                        the same with eight
//   parallel16=Z.ZZZZ                       the same with sixteen
//   station8=Z.ZZZZ                         the slowest unit of a station of eight slots against
//                                           a single run beside it
//   station-detect=S.SS s                   the longest a unit waited to be found after it came
//   busyN station8=Z.ZZZZ                   the same two with N busy loops beside both
//   busyN station-detect=S.SS s
//   station-idle-cpu=P.PP %                 eight empty slots probing: the station's CPU time
//                                           over 20 s once started, in per cent of one core
//   cpu-per-instrument alone=Xms with16=Yms quorvex-cli CPU time per instrument
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "BenchCommon.h"
#include "BusyLoops.h"
#include "LineCount.h"
#include "Options.h"
#include "PacedInstruments.h"
#include "ParallelRuns.h"
#include "SampleFirmware.h"
#include "SideBySide.h"
#include "StationRuns.h"
#include "UnpacedRuns.h"
#include "WindowStartup.h"

namespace fs = std::filesystem;
using namespace quorvex;
using namespace quorvex::bench;

namespace {

// Targets, against the minimal host and a single run measured beside them. How long a run
// takes against the line itself is printed too, but moves with the machine's scheduling.
constexpr double kProgramVsTarget = 1.01;
constexpr double kListVsTarget = 1.02;
constexpr double kParallelTarget = 1.02;
// Instruments programmed at once by one quorvex-cli: benches of four, eight and sixteen.
constexpr std::array<int, 3> kParallelPorts{4, 8, 16};
constexpr double kCpuShareTarget = 0.02;
constexpr long kPeakKilobytesTarget = 20L * 1024;
constexpr double kWindowSecondsTarget = 0.5;

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const fs::path cli = options.binDir / "quorvex-cli";
  const fs::path simulator = options.binDir / "quorvex-sim";
  const fs::path minimalHost = options.ownDir / "quorvex-minimal-host";
  for (const fs::path& program : {cli, simulator, minimalHost}) {
    if (::access(program.c_str(), X_OK) != 0) Fail(program.string() + " is not built");
  }

  const fs::path folder = MakeTemporaryFolder();
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

  // Without pacing: what the host and the pseudo-terminal add to the mandated pauses.
  const UnpacedFigures fast = MeasureUnpaced(cli, firmware, program, listing, options);
  PrintUnpaced(fast, program, listing);

  // Paced: the line as it is at 62,500 baud, first on a quiet machine, then with busy loops
  // beside both hosts.
  const FileBytes image = SampleImage("BENCH", true);
  PacedInstruments paced(simulator);
  const std::string line = paced.Start(folder / "line");
  const PacedPair quiet = MeasureSideBySide(cli, minimalHost, line, firmware, image, options);
  std::printf("paced    on this machine as it is:\n");
  PrintSideBySide("program:", quiet.programs, program.LimitSeconds(), kProgramVsTarget);
  PrintSideBySide("list:", quiet.lists, listing.LimitSeconds(), kListVsTarget);
  std::optional<PacedPair> busy;
  if (options.busy > 0) {
    const BusyLoops loops(options.busy);
    busy = MeasureSideBySide(cli, minimalHost, line, firmware, image, options);
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
      lines.push_back(paced.Start(folder / ("line" + std::to_string(lines.size()))));
    }
    const std::vector<std::string> used(lines.begin(), lines.begin() + ports);
    const ParallelFigures figures = MeasureParallel(cli, used, firmware, options);
    parallel.emplace_back(ports, figures);
    PrintParallel(ports, figures, kParallelTarget);
  }
  paced.StopAll();

  // A station of units coming and going, in turns with a single run, and its slots with no
  // units; when this quorvex-cli has the command.
  std::optional<StationPart> station;
  if (HasStationCommand(cli)) {
    station = MeasureStationPart(cli, simulator, folder, firmware, program.LimitSeconds(), options);
  } else {
    std::printf("station  skipped: %s has no station command\n", cli.c_str());
  }

  // The CPU share comes from the runs on the machine as it is (busy loops take the CPU from
  // quorvex-cli and slow every instruction it runs); the peak memory from every run.
  const double cpuShare = quiet.CliCpuShare();
  const long peakKilobytes = std::max(
      {quiet.CliPeakKilobytes(), busy ? busy->CliPeakKilobytes() : 0L, fast.program.peakKilobytes});
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
  std::printf("vs-host-process list=%.4f\n", quiet.lists.MedianRatioToProcess());
  if (busy) {
    std::printf("busy%d-host-process list=%.4f\n", options.busy,
                busy->lists.MedianRatioToProcess());
  }
  for (const auto& [ports, figures] : parallel)
    std::printf("parallel%d=%.4f\n", ports, figures.ratio);
  if (station) PrintStationLines(*station, options);
  const ParallelFigures& widest = parallel.back().second;
  std::printf("cpu-per-instrument alone=%.1fms with%d=%.1fms\n", widest.cpuAlone * 1e3,
              parallel.back().first, widest.cpuTogether * 1e3);
  return 0;
}
