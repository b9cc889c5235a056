#include "PortRuns.h"

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AuditLog.h"
#include "ExitCode.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Interrupt.h"
#include "PortCause.h"
#include "PortChoice.h"
#include "SectorInf.h"
#include "SectorNumber.h"
#include "Sha256.h"
#include "Simulator.h"
#include "StandardStreams.h"
#include "TComPort.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Several runs end with the smallest non-zero code: a failure outranks a decline.
int CombinedExitCode(const std::vector<RunRecord>& records) {
  int code = kExitDone;
  for (const RunRecord& r : records) {
    if (r.exit != kExitDone && (code == kExitDone || r.exit < code)) code = r.exit;
  }
  return code;
}

// The instrument on the other end of one port: an opened, configured port, and, with
// --simulate, the simulated instrument that answers on it.
class Connection {
 public:
  Connection(PortRunOperator& op, Output& output)
      : output_(output),
        port_([&op](std::string_view text) { op.PlainMessage(text); }),
        device_(port_, op) {}

  // 0 when the port is open; otherwise the exit code, the reason already shown.
  int Open(const Target& target) {
    std::string path = target.path;
    if (path.empty()) {
      simulator_ = std::make_unique<Simulator>();
      std::string error;
      if (!simulator_->Start(&error)) {
        output_.Note(target.name, CannotStart(error));
        return kExitFailed;
      }
      path = simulator_->PortPath();
    }
    if (!port_.Open(path)) {
      // The window's message says which port; this line says why, for a terminal user.
      output_.Note(target.name, PortCause(port_.OpenFailure()));
      port_.Close();
      return kExitFailed;
    }
    const std::uint32_t actual = port_.ActualBaud();
    if (actual != 0 &&
        (actual * 100 < TComPort::kBaudRate * 99 || actual * 100 > TComPort::kBaudRate * 101)) {
      output_.Note(target.name, "warning: the port runs at " + std::to_string(actual) +
                                    " baud instead of 62500; the instrument may not understand it");
    }
    return kExitDone;
  }

  Device& device() { return device_; }

 private:
  Output& output_;
  std::unique_ptr<Simulator> simulator_;  // declared before the port: it outlives it
  TComPort port_;
  Device device_;
};

// The sector field's number, when it names one of the 64 sectors.
std::optional<int> SectorOf(const std::string& text) {
  if (const auto n = ParseInteger(text); n && *n >= kFirstSector && *n <= kLastSector) {
    return static_cast<int>(*n);
  }
  return std::nullopt;
}

}  // namespace

// The record of a command that ended on a port, or before any port, with `code`.
RunRecord RecordOf(const DeviceJob& job, const std::string& port, int code) {
  RunRecord record;
  record.command = job.command;
  record.port = port;
  record.file = job.file;
  record.sha256 = job.sha256;
  record.sector = SectorOf(job.sector);
  record.name = job.name;
  record.exit = code;
  return record;
}

namespace {

RunRecord RunOnPort(const GlobalOptions& options, const DeviceJob& job, const Target& target,
                    Output& output) {
  const auto start = Clock::now();
  PortRunOperator op(output, target.name, options.yes);
  op.SetSectorText(job.sector);
  RunRecord record = RecordOf(job, target.name, kExitDone);
  {
    Connection connection(op, output);
    Device& device = connection.device();
    // The open command first: a file that cannot be used stops before the line is touched.
    if (job.file && device.OpenFirmware(*job.file)) {
      record.exit = kExitBadInput;
    } else {
      record.exit = connection.Open(target);
      if (record.exit == kExitDone) record.exit = job.body(device, op);
    }
    // The run read the file again: what it sent is what it read then, whatever the file
    // held at the first check. Decoding unscrambles RawFile in place; the image alone fixes
    // the file it came from, so the file's bytes are encoded from it again.
    if (job.file && device.FileRead()) {
      const auto file = std::make_unique<FileBytes>();
      EncodeImage(device.Image, *file);
      record.sha256 = Sha256Hex(file->data(), file->size());
      record.name = SectorName(DeriveSectorInf(device.Image));
    }
  }
  record.usbSerial = target.usbSerial;
  record.ended = record.exit == kExitDone ? "ok" : op.LastReport();
  record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  record.log = op.LogLines();
  return record;
}

// Runs the command on every port at once, each in a thread of its own with its own port,
// device and operator, and reports each run's end.
int RunDeviceCommand(const GlobalOptions& options, const DeviceJob& job,
                     std::unique_ptr<AuditLog> audit, const std::vector<Target>& targets) {
  std::vector<std::string> names;
  names.reserve(targets.size());
  for (const Target& target : targets) names.push_back(target.name);
  const std::unique_ptr<Output> output = MakeOutput(options, names);
  std::vector<RunRecord> records(targets.size());
  const auto runOne = [&](std::size_t i) {
    RunRecord& record = records[i];
    try {
      record = RunOnPort(options, job, targets[i], *output);
    } catch (const std::exception& error) {
      // A run's thread must not take the process down: the port ends as a failure, the
      // others go on, and its audit record is still written.
      record = RecordOf(job, targets[i].name, kExitFailed);
      record.usbSerial = targets[i].usbSerial;
      record.ended = error.what();
      output->Note(record.port, error.what());
    }
    std::string error;
    if (audit && !audit->Record(record, &error)) {
      // A run nobody can account for has not ended well, whatever the instrument said.
      record.exit = kExitFailed;
      record.ended = "cannot write the audit record to " + options.logFile + ": " + error;
      output->Note(record.port, record.ended);
    }
  };
  if (targets.size() == 1) {
    runOne(0);
  } else {
    std::vector<std::jthread> runs;
    for (std::size_t i = 0; i < targets.size(); ++i) runs.emplace_back(runOne, i);
  }
  for (std::size_t i = 0; i < records.size(); ++i) output->Result(records[i]);
  return CombinedExitCode(records);
}

}  // namespace

std::unique_ptr<Output> MakeOutput(const GlobalOptions& options,
                                   const std::vector<std::string>& ports) {
  return options.json ? MakeJsonOutput() : MakeTextOutput(options.quiet, ports);
}

int ExitCodeOf(RunResult result) {
  switch (result) {
    case RunResult::Done:
      return kExitDone;
    case RunResult::Failed:
      return kExitFailed;
    case RunResult::BadSector:
      return kExitBadInput;
    case RunResult::Declined:
      return kExitDeclined;
    case RunResult::Stopped:
      return kExitStopped;
  }
  return kExitFailed;
}

// What every device command does before its first port is touched: the ports are chosen
// and the audit file opened, or the command ends with exit 2.
int StartDeviceCommand(const GlobalOptions& options, DeviceJob job) {
  const auto start = Clock::now();
  // A command that ends before any port still ends with its result: a script reading the
  // events waits for one.
  const auto endedBeforeAnyPort = [&](int code) {
    RunRecord record = RecordOf(job, "", code);
    record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    MakeOutput(options)->Result(record);
    return code;
  };
  std::vector<Target> targets;
  if (const int code = ChooseTargets(options, &targets); code != kExitDone) {
    return endedBeforeAnyPort(code);
  }
  std::unique_ptr<AuditLog> audit;
  if (!options.logFile.empty()) {
    std::string error;
    auto file = OpenAppendFile(options.logFile, &error);
    if (!file) {
      Error("cannot open the log file " + options.logFile + " for appending: " + error);
      return endedBeforeAnyPort(kExitBadInput);
    }
    audit = std::make_unique<AuditLog>(std::move(file));
  }
  // From here Ctrl-C, SIGTERM and SIGHUP ask every run to stop instead of ending the program.
  SetStopOnInterrupt(true);
  const int code = RunDeviceCommand(options, job, std::move(audit), targets);
  SetStopOnInterrupt(false);
  return code;
}

}  // namespace quorvex::cli
