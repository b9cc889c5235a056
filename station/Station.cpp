#include "Station.h"

#include <utility>

#include "Device.h"
#include "FirmwareImage.h"
#include "Hook.h"
#include "SectorInf.h"
#include "Sequences.h"
#include "Sha256.h"
#include "SlotOperator.h"
#include "TComPort.h"

namespace quorvex::station {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitStopped = 3;
constexpr int kExitDeclined = 4;

// The exit code of one sector's run, as `program` ends with it.
int ExitCodeOf(RunResult result) {
  switch (result) {
    case RunResult::Done:
      return kExitPassed;
    case RunResult::Stopped:
      return kExitStopped;
    case RunResult::Declined:
      return kExitDeclined;
    case RunResult::Failed:
    case RunResult::BadSector:
      break;
  }
  return kExitFailed;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The operator of the probes, which report nothing.
class SilentOperator final : public Operator {
 public:
  void Log(std::string_view) override {}
  int MessageBox(std::string_view, std::string_view, unsigned) override { return kIdNo; }
  void PlainMessage(std::string_view) override {}
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  std::string SectorText() override { return {}; }
  void Beep() override {}
};

// What the station says, once, about a port that is there but does not open.
std::string OpenTrouble(const PortFailure& failure) {
  const std::string system = failure.system.empty() ? "" : ": " + failure.system;
  switch (failure.error) {
    case PortOpenError::PermissionDenied:
      return "the port cannot be opened: permission denied (a serial port needs the dialout "
             "group); the slot waits";
    case PortOpenError::Busy:
      return "the port is held by another program; the slot waits until it is free";
    case PortOpenError::NotASerialPort:
      return "not a serial port; the slot waits";
    case PortOpenError::LineRefused:
      return "the port refused the line settings (62,500 baud, 8N1)" + system + "; the slot waits";
    case PortOpenError::None:
    case PortOpenError::NoSuchPort:
    case PortOpenError::Other:
      break;
  }
  return "the port cannot be opened" + system + "; the slot waits";
}

}  // namespace

// One slot: its port, its thread, and the round of waiting, programming and verdict.
class Station::Slot {
 public:
  Slot(Station& station, int number, SlotSpec spec)
      : station_(station),
        options_(station.options_),
        number_(number),
        spec_(std::move(spec)),
        port_([](std::string_view) {}),  // the slot says why in its own words, once
        probe_(std::make_unique<Device>(port_, silent_)) {
    status_.slot = number_;
    status_.port = spec_.name;
    status_.sectors = static_cast<int>(station_.job_.sectors.size());
  }

  ~Slot() { Join(); }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }

  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    Show(SlotState::Waiting);
    while (!station_.Stopping()) {
      if (!port_.IsOpen() && !OpenPort()) {
        station_.SleepUntil(Clock::now() + options_.probeEvery);
        continue;
      }
      const auto probeStart = Clock::now();
      if (probe_->ProbeLoader(options_.probeWait) == LoaderAnswer::None) {
        if (!port_.IsOpen()) port_.Close();  // unplugged: the port is looked for again
        station_.SleepUntil(probeStart + options_.probeEvery);
        continue;
      }
      // A loader answers: a unit is on the slot. A loader of another version is a unit too,
      // and fails at the device check before anything is written.
      const std::optional<int> unit = station_.TakeUnit();
      if (!unit) break;  // the station has all the units it was asked for
      ProgramUnit(*unit);
      AwaitRemoval();
      if (station_.Stopping()) break;  // the unit is still there: its verdict stays shown
      Show(SlotState::Removed);
      status_ =
          SlotStatus{number_, spec_.name, SlotState::Waiting, 0, 0, 0, status_.sectors, 0, {}};
      Show(SlotState::Waiting);
    }
    port_.Close();
    if (hook_.joinable()) hook_.join();
  }

  // Opens the slot's port when it is there; a port that is missing is no news, one that is
  // there and does not open is said once (again only when the reason changes).
  bool OpenPort() {
    const std::optional<SlotPort> found = options_.findPort(spec_.spec);
    if (!found) return false;
    if (port_.Open(found->path)) {
      usbSerial_ = found->usbSerial;
      said_ = PortOpenError::None;
      return true;
    }
    const PortFailure failure = port_.OpenFailure();
    port_.Close();
    if (failure.error != PortOpenError::NoSuchPort && failure.error != said_) {
      station_.report_.SlotNote(number_, OpenTrouble(failure));
    }
    said_ = failure.error;
    return false;
  }

  void ProgramUnit(int unit) {
    const auto start = Clock::now();
    const Job& job = station_.job_;
    SlotOperator op(station_.report_, number_, job.overwrite, station_.stop_);
    const auto device = std::make_unique<Device>(port_, op);
    op.SetStopFlag(&device->StopRequested);
    UnitRecord record;
    record.job = job.path;
    record.slot = number_;
    record.port = spec_.name;
    record.usbSerial = usbSerial_;
    record.unit = unit;
    status_.unit = unit;
    int exit = kExitPassed;
    for (std::size_t i = 0; i < job.sectors.size() && exit == kExitPassed; ++i) {
      const JobSector& sector = job.sectors[i];
      status_.sector = sector.number;
      status_.sectorIndex = static_cast<int>(i) + 1;
      Show(SlotState::Programming);
      const auto sectorStart = Clock::now();
      op.SetSector(sector.number);
      SectorRecord done;
      done.sector = sector.number;
      done.file = sector.file;
      done.sha256 = sector.sha256;
      done.name = sector.name;
      // As `program` does: the file is opened as the window opens it, then the run reads it.
      const int code =
          device->OpenFirmware(sector.file) ? kExitFailed : ExitCodeOf(RunProgramming(*device, op));
      if (device->FileRead()) {
        // What was sent is what the run read, whatever the file held when the job was read.
        const auto file = std::make_unique<FileBytes>();
        EncodeImage(device->Image, *file);
        done.sha256 = Sha256Hex(file->data(), file->size());
        done.name = SectorName(DeriveSectorInf(device->Image));
      }
      done.exit = code;
      done.seconds = SecondsSince(sectorStart);
      record.sectors.push_back(std::move(done));
      exit = code;
    }
    record.exit = exit;
    record.ended = exit == kExitPassed ? "ok" : op.LastReport();
    record.seconds = SecondsSince(start);
    record.log = op.LogLines();
    const json line = station_.UnitEnded(record);
    RunHookFor(record, line);
    status_.exit = record.exit;
    status_.cause = record.exit == kExitPassed ? std::string() : record.ended;
    Show(record.exit == kExitPassed ? SlotState::Passed : SlotState::Failed);
  }

  // The job's hook, on a thread of its own so that the slot goes on probing meanwhile.
  void RunHookFor(const UnitRecord& record, const json& line) {
    const Job& job = station_.job_;
    if (job.onResult.empty()) return;
    if (hook_.joinable()) hook_.join();  // the last unit's hook, ended within its limit
    std::vector<std::string> environment = {"QUORVEX_SLOT=" + std::to_string(record.slot),
                                            "QUORVEX_PORT=" + record.port,
                                            "QUORVEX_UNIT=" + std::to_string(record.unit),
                                            "QUORVEX_EXIT=" + std::to_string(record.exit)};
    std::string input = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    hook_ =
        std::thread([this, &job, environment = std::move(environment), input = std::move(input)] {
          const std::string complaint = HookComplaint(RunHook(job.onResult, input, environment));
          if (!complaint.empty()) station_.report_.SlotNote(number_, complaint);
        });
  }

  // The verdict stays until the unit is taken away: its loader silent for a few probes in a
  // row, or its port gone. A unit still on the slot is never programmed twice.
  void AwaitRemoval() {
    int silent = 0;
    while (!station_.Stopping()) {
      if (!port_.IsOpen()) return;
      const auto probeStart = Clock::now();
      if (probe_->ProbeLoader(options_.probeWait) == LoaderAnswer::None) {
        if (!port_.IsOpen()) {
          port_.Close();
          return;
        }
        if (++silent >= options_.goneAfter) return;
      } else {
        silent = 0;
      }
      station_.SleepUntil(probeStart + options_.probeEvery);
    }
  }

  void Show(SlotState state) {
    status_.state = state;
    station_.report_.SlotChanged(status_);
  }

  Station& station_;
  const StationOptions& options_;
  int number_;
  SlotSpec spec_;
  SilentOperator silent_;
  TComPort port_;
  std::unique_ptr<Device> probe_;
  std::optional<std::string> usbSerial_;
  PortOpenError said_ = PortOpenError::None;
  SlotStatus status_;
  std::thread hook_;
  std::thread thread_;
};

Station::Station(Job job, std::vector<SlotSpec> slots, Report& report, StationOptions options)
    : job_(std::move(job)), report_(report), options_(std::move(options)) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    slots_.push_back(std::make_unique<Slot>(*this, static_cast<int>(i) + 1, std::move(slots[i])));
  }
}

Station::~Station() {
  Stop();
  for (const auto& slot : slots_) slot->Join();
}

void Station::Start() {
  for (const auto& slot : slots_) slot->Start();
}

void Station::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopAsked_ = true;
  }
  stop_.store(true);
  changed_.notify_all();
}

bool Station::WaitUntil(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return EndedLocked(); });
}

int Station::Wait() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return EndedLocked(); });
  }
  // Every slot leaves its round: the ones waiting at once, a unit being programmed at its
  // next step.
  stop_.store(true);
  changed_.notify_all();
  for (const auto& slot : slots_) slot->Join();
  const std::lock_guard lock(mutex_);
  if (stopAsked_) return cutShort_ ? kExitStopped : kExitPassed;
  return counts_.failed == 0 ? kExitPassed : kExitFailed;
}

Counts Station::UnitCounts() const {
  const std::lock_guard lock(mutex_);
  return counts_;
}

bool Station::EndedLocked() const {
  return stopAsked_ || (options_.units > 0 && ended_ >= options_.units);
}

std::optional<int> Station::TakeUnit() {
  const std::lock_guard lock(mutex_);
  if (stop_.load() || (options_.units > 0 && started_ >= options_.units)) return std::nullopt;
  return ++started_;
}

json Station::UnitEnded(UnitRecord& record) {
  json line = UnitJson(record);
  if (options_.audit) {
    std::string error;
    if (!options_.audit->Append(line, &error)) {
      // A unit nobody can account for has not passed, whatever the instrument said.
      report_.SlotNote(record.slot, "cannot write the unit's record: " + error);
      if (record.exit == kExitPassed) {
        record.exit = kExitFailed;
        record.ended = "cannot write the unit's record: " + error;
        line["exit"] = kExitFailed;
      }
    }
  }
  report_.UnitEnded(record, line);
  {
    const std::lock_guard lock(mutex_);
    ++ended_;
    if (record.exit == kExitPassed) {
      ++counts_.passed;
    } else {
      ++counts_.failed;
    }
    if (record.exit == kExitStopped) cutShort_ = true;
  }
  changed_.notify_all();
  return line;
}

void Station::SleepUntil(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [this] { return stop_.load(); });
}

}  // namespace quorvex::station
