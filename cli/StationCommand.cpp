// quorvex-cli station: every slot of a job programs each unit put on it, until the station is
// stopped or has done the units it was asked for.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AuditLog.h"
#include "Commands.h"
#include "ExitCode.h"
#include "Interrupt.h"
#include "Job.h"
#include "PortRuns.h"
#include "Simulator.h"
#include "StandardStreams.h"
#include "Station.h"
#include "StationOutput.h"
#include "TComPort.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Simulated slots when neither the job nor -p names any.
constexpr int kSimulatedSlots = 4;
// A simulated unit stays on its slot long enough for the job's sectors at the line's pace,
// then its slot is empty for a while, each slot a little longer than the one before, so that
// the slots drift apart as a line's do.
constexpr std::chrono::milliseconds kPacedSector{14'000};
constexpr std::chrono::milliseconds kVerdictShown{3'000};
constexpr std::chrono::milliseconds kEmptySlot{2'000};
constexpr std::chrono::milliseconds kEmptySlotStep{800};

// What a slot is shown by: usb:SERIAL and usb-path:LOC as written, a port as the other
// commands name it (ttyUSB0 for /dev/ttyUSB0).
std::string SlotName(const std::string& spec) {
  if (spec.starts_with("usb:") || spec.starts_with("usb-path:")) return spec;
  return PortNameOf(spec);
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int RunStation(const GlobalOptions& options, const std::string& jobPath, std::optional<int> units) {
  const auto start = Clock::now();
  // A station that ends before any slot still ends with its result: a script reading the
  // events waits for one.
  const auto endedBeforeAnySlot = [&](int code) {
    RunRecord record;
    record.command = "station";
    record.exit = code;
    record.seconds = SecondsSince(start);
    MakeOutput(options)->Result(record);
    return code;
  };
  if (units && *units < 1) {
    Error("--units needs a count of at least 1");
    return endedBeforeAnySlot(kExitBadInput);
  }

  station::Job job;
  std::string error;
  if (!station::LoadJob(jobPath, &job, &error)) {
    Error(error);
    return endedBeforeAnySlot(kExitBadInput);
  }
  std::vector<station::SlotSpec> slots;
  for (const std::string& spec : options.ports.empty() ? job.slots : options.ports) {
    slots.push_back({SlotName(spec), spec});
  }
  if (!slots.empty() || !options.simulate) {
    if (const std::string problem = station::SlotSpecProblem(slots); !problem.empty()) {
      Error(problem);
      return endedBeforeAnySlot(kExitBadInput);
    }
  }

  std::shared_ptr<AuditLog> audit;
  if (!options.logFile.empty()) {
    auto file = OpenAppendFile(options.logFile, &error);
    if (!file) {
      Error("cannot open the log file " + options.logFile + " for appending: " + error);
      return endedBeforeAnySlot(kExitBadInput);
    }
    audit = std::make_shared<AuditLog>(std::move(file));
  }

  // With --simulate every slot gets its own simulated units, in place of its port.
  std::vector<std::unique_ptr<Simulator>> simulators;  // outlive the station
  if (options.simulate) {
    const std::size_t count = slots.empty() ? kSimulatedSlots : slots.size();
    const auto present = kPacedSector * static_cast<int>(job.sectors.size()) + kVerdictShown;
    slots.clear();
    for (std::size_t i = 0; i < count; ++i) {
      auto simulator = std::make_unique<Simulator>();
      if (!simulator->StartSlot(present, kEmptySlot + kEmptySlotStep * static_cast<int>(i),
                                &error)) {
        Error(CannotStart(error));
        return endedBeforeAnySlot(kExitFailed);
      }
      slots.push_back({"sim" + std::to_string(i + 1), simulator->PortPath()});
      simulators.push_back(std::move(simulator));
    }
  }

  std::vector<std::string> names;
  names.reserve(slots.size());
  for (const station::SlotSpec& slot : slots) names.push_back(slot.name);
  const std::unique_ptr<StationOutput> output =
      options.json ? MakeStationJson(names) : MakeStationText(options.quiet, job.path, names);
  station::StationOptions stationOptions;
  stationOptions.units = units.value_or(0);
  stationOptions.audit = audit;

  // From here Ctrl-C, SIGTERM and SIGHUP stop the station instead of ending the program.
  SetStopOnInterrupt(true);
  int code = kExitDone;
  station::Counts counts;
  {
    station::Station station(std::move(job), std::move(slots), *output, stationOptions);
    station.Start();
    while (!station.WaitUntil(Clock::now() + std::chrono::milliseconds(100))) {
      if (InterruptRequested()) station.Stop();
    }
    code = station.Wait();
    counts = station.UnitCounts();
  }
  output->Ended(code, counts, SecondsSince(start));
  SetStopOnInterrupt(false);
  return code;
}

}  // namespace quorvex::cli
