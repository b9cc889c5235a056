#include "StationSoak.h"

#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "FirmwareImage.h"
#include "Report.h"
#include "SampleFirmware.h"
#include "SoakSample.h"
#include "Station.h"
#include "TempFolder.h"

namespace quorvex::soak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using station::SlotState;

constexpr std::uint8_t kInit = 0x32;
constexpr int kSector = 5;
constexpr int kExitStopped = 3;
// The first sample is taken after this many units, once everything has been through its round.
constexpr int kSampleAt = 100;
// Resident memory may move by what the other slots hold at the moment of a sample (a unit being
// programmed holds its image and file), far below a leak of one unit's buffers in every unit.
constexpr long kAllowedGrowthKb = 2048;
// Every slot must have had at least this many units, or its fault was hardly tried.
constexpr int kLeastPerSlot = 5;
// How often the soak looks at the station and the simulators.
constexpr auto kLook = 50ms;
// An adapter whose line hung up is plugged in again after this long, as a new port.
constexpr auto kReplugAfter = 1s;
// How far into the image a slot may be for a sample (see Steady below), in per cent.
constexpr int kEarlyPercent = 10;

// A slot of the soak: its units' periods and fault, and the verdict every unit on it ends with.
struct SlotPlan {
  const char* name;
  std::vector<std::string> faults;
  std::chrono::milliseconds present;
  std::chrono::milliseconds absent;
  // The fault hangs up the line and ends the simulator: a new one is plugged in after
  // kReplugAfter, on a pseudo-terminal of its own.
  bool replug;
  int verdict;
};

// An unpaced run takes about 1.7 s; a unit present for 3 s has room for it and its finding.
const std::array<SlotPlan, 4> kPlans = {{
    {"clean", {}, 3000ms, 500ms, false, 0},
    {"checksum-mismatch", {"checksum-mismatch"}, 3000ms, 500ms, false, 1},
    // Taken away while its information block is written (64 bytes 10 ms apart, after the
    // device check and the read of the block): the host waits out its 5 s time-out for the
    // reply, and the slot stays empty long enough for that and for the probes to see the unit
    // gone, so the next unit is found and fails the same way.
    {"pulled out mid-run", {}, 500ms, 6500ms, false, 1},
    {"hangup-after=100", {"hangup-after=100"}, 3000ms, 500ms, true, 1},
}};
constexpr int kReplugSlot = 4;  // the slot samples wait for; see Steady

// What the soak keeps of a unit's record: little, so that it holds no more memory for each
// unit than it must.
struct Ended {
  int slot = 0;
  int unit = 0;
  int exit = 0;
  int sectorExit = -1;  // the first sector's; -1 when not exactly one was attempted
  std::string ended;    // what ended it, kept only when that is not its slot's verdict
};

bool OnASlot(int slot) { return slot >= 1 && slot <= static_cast<int>(kPlans.size()); }

// One sector, and its exit is the unit's (the first failure ends the unit): the verdict of its
// slot.
bool AsItsSlot(const Ended& unit) {
  return OnASlot(unit.slot) && unit.exit == kPlans[unit.slot - 1].verdict &&
         unit.sectorExit == unit.exit;
}

// The station's reports the soak looks at; safe from every slot's thread.
class SoakReport final : public station::Report {
 public:
  void SlotChanged(const station::SlotStatus& status) override {
    const std::lock_guard lock(mutex_);
    auto& slot = slots_[status.slot];
    slot.state = status.state;
    slot.percent = 0;
  }
  void SlotLog(int, std::string_view) override {}
  void SlotMessage(int, std::string_view, std::string_view) override {}
  void SlotProgress(int slot, int percent, std::size_t, std::size_t, bool) override {
    const std::lock_guard lock(mutex_);
    slots_[slot].percent = percent;
  }
  void SlotNote(int slot, std::string_view text) override {
    std::printf("slot %d: %.*s\n", slot, static_cast<int>(text.size()), text.data());
  }
  void UnitEnded(const station::UnitRecord& record, const json&) override {
    Ended unit{record.slot,
               record.unit,
               record.exit,
               record.sectors.size() == 1 ? record.sectors.front().exit : -1,
               {}};
    if (!AsItsSlot(unit)) unit.ended = record.ended;
    const std::lock_guard lock(mutex_);
    units_.push_back(std::move(unit));
  }

  [[nodiscard]] int Count() const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(units_.size());
  }
  [[nodiscard]] std::vector<Ended> Units() const {
    const std::lock_guard lock(mutex_);
    return units_;
  }
  // The slot is programming a unit and is early in its image, or before it.
  [[nodiscard]] bool EarlyInARun(int slot) const {
    const std::lock_guard lock(mutex_);
    const auto it = slots_.find(slot);
    return it != slots_.end() && it->second.state == SlotState::Programming &&
           it->second.percent < kEarlyPercent;
  }

 private:
  struct Shown {
    SlotState state = SlotState::Waiting;
    int percent = 0;
  };
  mutable std::mutex mutex_;
  std::map<int, Shown> slots_;
  std::vector<Ended> units_;
};

// The simulators of the slots, each a quorvex-sim of its own on a link in `folder`, the slot's
// port; so this process holds the station and nothing else of what is measured.
class Slots {
 public:
  Slots(std::filesystem::path folder, std::filesystem::path simulator)
      : folder_(std::move(folder)), simulator_(std::move(simulator)) {
    for (const SlotPlan& plan : kPlans) {
      slots_.push_back({&plan, nullptr, 0, {}});
      PlugIn(slots_.back());
    }
  }
  Slots(const Slots&) = delete;
  Slots& operator=(const Slots&) = delete;

  [[nodiscard]] bool Started() const { return started_; }
  [[nodiscard]] std::string Port(int slot) const {
    return (folder_ / ("slot" + std::to_string(slot))).string();
  }

  // A simulator whose line hung up has ended: it is plugged in again after a while, on a
  // pseudo-terminal of its own behind the same link.
  void Replug() {
    for (Slot& slot : slots_) {
      if (!slot.plan->replug) continue;
      if (slot.child && slot.child->WaitUntil(Clock::now())) {
        slot.child.reset();
        slot.unpluggedAt = Clock::now();
      } else if (!slot.child && Clock::now() - slot.unpluggedAt >= kReplugAfter) {
        PlugIn(slot);
      }
    }
  }

  // Ends every simulator, each writing its record of requests.
  void StopAll() {
    for (Slot& slot : slots_) {
      if (slot.child) slot.child->Stop(SIGTERM);
      slot.child.reset();
    }
  }

  // From the records: the units each slot's simulators brought, and every unit programmed
  // more than once (more than one init request).
  struct Brought {
    std::array<int, kPlans.size()> units{};
    std::vector<std::string> twice;
  };
  [[nodiscard]] Brought Read() const {
    Brought brought;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      for (int plug = 1; plug <= slots_[i].plugs; ++plug) {
        std::map<int, int> inits;  // unit: its init requests
        int units = 0;
        std::ifstream in(Record(static_cast<int>(i) + 1, plug));
        for (std::string line; std::getline(in, line);) {
          int unit = 0;
          double ms = 0;
          unsigned code = 0;
          if (std::sscanf(line.c_str(), "unit %d at %lf ms: %2x", &unit, &ms, &code) != 3) {
            brought.twice.push_back("slot " + std::to_string(i + 1) + ": a record line '" + line +
                                    "' that does not read");
            continue;
          }
          units = std::max(units, unit);
          if (code == kInit) ++inits[unit];
        }
        brought.units[i] += units;
        for (const auto& [unit, count] : inits) {
          if (count > 1) {
            brought.twice.push_back("slot " + std::to_string(i + 1) + ", simulator " +
                                    std::to_string(plug) + ", unit " + std::to_string(unit) + ": " +
                                    std::to_string(count) + " runs");
          }
        }
      }
    }
    return brought;
  }

 private:
  struct Slot {
    const SlotPlan* plan;
    std::unique_ptr<process::ChildProcess> child;  // none while unplugged
    int plugs;                                     // simulators so far
    Clock::time_point unpluggedAt;
  };

  [[nodiscard]] std::filesystem::path Record(int slot, int plug) const {
    return folder_ / ("slot" + std::to_string(slot) + "-" + std::to_string(plug) + ".record");
  }

  void PlugIn(Slot& slot) {
    const int number = static_cast<int>(&slot - slots_.data()) + 1;
    const std::string periods = std::to_string(slot.plan->present.count()) + "," +
                                std::to_string(slot.plan->absent.count());
    std::vector<std::string> argv{simulator_.string(),
                                  "--come-and-go",
                                  periods,
                                  "--link",
                                  Port(number),
                                  "--record",
                                  Record(number, slot.plugs + 1).string()};
    for (const std::string& fault : slot.plan->faults) argv.insert(argv.end(), {"--fault", fault});
    auto child = std::make_unique<process::ChildProcess>();
    std::string error;
    // Its first line is its pseudo-terminal, printed once the link is there.
    if (!child->Start(argv, {}, true, &error) ||
        !child->ReadLine(Clock::now() + std::chrono::seconds(10))) {
      std::fprintf(stderr, "quorvex-soak: slot %d: quorvex-sim did not start %s\n", number,
                   error.c_str());
      started_ = false;
      return;
    }
    child->CloseStdout();
    slot.child = std::move(child);
    ++slot.plugs;
  }

  std::filesystem::path folder_;
  std::filesystem::path simulator_;
  std::vector<Slot> slots_;
  bool started_ = true;
};

// The verdicts: every unit once, each with its slot's verdict (or stopped, once the soak
// stopped the station); false after printing what was wrong.
bool CheckUnits(const std::vector<Ended>& units, int recordedBeforeStop) {
  bool good = true;
  std::vector<int> numbers;
  std::array<std::array<int, 3>, kPlans.size()> tally{};  // per slot: passed, failed, stopped
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Ended& unit = units[i];
    numbers.push_back(unit.unit);
    if (!OnASlot(unit.slot)) {
      std::printf("unit %d: on slot %d, which the station does not have\n", unit.unit, unit.slot);
      good = false;
      continue;
    }
    const SlotPlan& plan = kPlans[unit.slot - 1];
    ++tally[unit.slot - 1][unit.exit == 0 ? 0 : unit.exit == kExitStopped ? 2 : 1];
    const bool afterStop = static_cast<int>(i) >= recordedBeforeStop;
    if (!AsItsSlot(unit) && !(afterStop && unit.exit == kExitStopped)) {
      std::printf("unit %d on slot %d (%s): exit %d (sector %d), not %d: %s\n", unit.unit,
                  unit.slot, plan.name, unit.exit, unit.sectorExit, plan.verdict,
                  unit.ended.c_str());
      good = false;
    }
  }
  std::sort(numbers.begin(), numbers.end());
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (numbers[i] != static_cast<int>(i) + 1) {
      std::printf("the units recorded are not 1 to %zu each once: %d at place %zu\n",
                  numbers.size(), numbers[i], i + 1);
      good = false;
      break;
    }
  }
  for (std::size_t i = 0; i < kPlans.size(); ++i) {
    const int count = tally[i][0] + tally[i][1] + tally[i][2];
    std::printf("slot %zu (%s): %d units, %d passed, %d failed, %d stopped at the end\n", i + 1,
                kPlans[i].name, count, tally[i][0], tally[i][1], tally[i][2]);
    if (count < kLeastPerSlot) {
      std::printf("slot %zu had fewer than %d units\n", i + 1, kLeastPerSlot);
      good = false;
    }
  }
  return good;
}

}  // namespace

int StationSoak(int units, const std::string& simulator) {
  const auto start = Clock::now();
  const test::TempFolder folder("quorvex-soak");
  const std::filesystem::path firmware = folder.Path() / "soak.fls";
  if (folder.Path().empty() || !WriteFirmwareFile(firmware.string(), SampleImage("SOAK", true))) {
    std::fprintf(stderr, "quorvex-soak: cannot write %s\n", firmware.c_str());
    return 1;
  }
  station::Job job;
  job.path = (folder.Path() / "soak.toml").string();
  job.sectors.push_back({kSector, firmware.string(), "", "SOAK", 0});
  job.overwrite = true;

  std::printf("quorvex-soak: a station of %zu slots of units coming and going, %d units\n",
              kPlans.size(), units);
  for (std::size_t i = 0; i < kPlans.size(); ++i) {
    std::printf("  slot %zu: %s, units present %lld ms, away %lld ms%s\n", i + 1, kPlans[i].name,
                static_cast<long long>(kPlans[i].present.count()),
                static_cast<long long>(kPlans[i].absent.count()),
                kPlans[i].replug ? ", plugged in again after each hang-up" : "");
  }
  Print("start", Take());

  Slots slots(folder.Path(), simulator);
  if (!slots.Started()) return 1;
  SoakReport report;
  station::StationOptions options;
  // Probes five times as often as on a bench: more rounds of the same code in the time. Each
  // slot's port is found by the station's own finder, as on a bench.
  options.probeEvery = 100ms;
  options.probeWait = 100ms;
  std::vector<station::SlotSpec> specs;
  for (int i = 1; i <= static_cast<int>(kPlans.size()); ++i) {
    specs.push_back({"slot" + std::to_string(i), slots.Port(i)});
  }

  // Samples are taken while the replugged slot is early in a run: its simulator is there, its
  // port open, and the hang-up still to come, so every sample sees the same descriptors and
  // threads. The free memory the allocator keeps in its arenas is handed back first: resident
  // memory then shows what the station holds, not in which thread's arena a block last landed.
  std::optional<Sample> first;
  std::optional<Sample> last;
  int recordedBeforeStop = 0;
  // A unit takes about 3 s on its slot; four slots share the count.
  const auto limit = start + std::chrono::seconds(units * 3 + 60);
  {
    station::Station station(job, specs, report, options);
    station.Start();
    int printed = 0;
    int sampled = 0;  // hundreds of units sampled
    while (Clock::now() < limit) {
      std::this_thread::sleep_for(kLook);
      slots.Replug();
      const int ended = report.Count();
      if (ended / kSampleAt > printed) {
        printed = ended / kSampleAt;
        std::printf("%d units after %.0f s\n", ended,
                    std::chrono::duration<double>(Clock::now() - start).count());
        std::fflush(stdout);
      }
      if (!report.EarlyInARun(kReplugSlot)) continue;
      if (ended >= (sampled + 1) * kSampleAt && ended < units) {
        sampled = ended / kSampleAt;
        HandBackFreeMemory();
        const Sample sample = Take();
        if (!first) first = sample;
        Print(("at unit " + std::to_string(ended)).c_str(), sample);
      } else if (first && ended >= units) {
        HandBackFreeMemory();
        last = Take();
        Print(("at unit " + std::to_string(ended)).c_str(), *last);
        break;
      }
    }
    recordedBeforeStop = report.Count();
    station.Stop();
    station.Wait();
  }
  slots.StopAll();

  const double minutes = std::chrono::duration<double>(Clock::now() - start).count() / 60;
  bool good = true;
  if (!last) {
    std::printf("only %d of %d units in %.1f minutes\n", recordedBeforeStop, units, minutes);
    good = false;
  }
  const std::vector<Ended> ended = report.Units();
  good = CheckUnits(ended, recordedBeforeStop) && good;
  const Slots::Brought brought = slots.Read();
  for (std::size_t i = 0; i < kPlans.size(); ++i) {
    std::printf("slot %zu: its simulators brought %d units\n", i + 1, brought.units[i]);
  }
  for (const std::string& twice : brought.twice) {
    std::printf("programmed twice: %s\n", twice.c_str());
    good = false;
  }
  bool steady = false;
  if (first && last) {
    steady = last->descriptors == first->descriptors && last->threads == first->threads &&
             last->residentKb - first->residentKb <= kAllowedGrowthKb;
    std::printf(
        "descriptors %d -> %d, threads %d -> %d, VmRSS %ld -> %ld kB (anonymous %ld -> %ld kB), "
        "heap in use %ld -> %ld kB (unit %d -> unit %d): %s\n",
        first->descriptors, last->descriptors, first->threads, last->threads, first->residentKb,
        last->residentKb, first->anonymousKb, last->anonymousKb, first->heapKb, last->heapKb,
        kSampleAt, units, steady ? "steady" : "GROWING");
  }
  std::printf("result: %zu units recorded in %.1f minutes: %s\n", ended.size(), minutes,
              good && steady ? "held" : "FAILED");
  return good && steady ? 0 : 1;
}

}  // namespace quorvex::soak
