#include "Commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AuditLog.h"
#include "Device.h"
#include "ExitCode.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Interrupt.h"
#include "Output.h"
#include "PortCause.h"
#include "PortChoice.h"
#include "PortEnumeration.h"
#include "PortIdentity.h"
#include "SectorInf.h"
#include "SectorNumber.h"
#include "Sequences.h"
#include "Sha256.h"
#include "Simulator.h"
#include "StandardStreams.h"
#include "TComPort.h"
#include "TerminalOperator.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The program's own usage errors: on stderr, with --json too.
void Error(const std::string& text) {
  WriteStandard(StandardStream::Err, "quorvex-cli: " + text + "\n");
}

// `ports`: the names of the ports the command runs on, in the order given; none for a
// command without a port.
std::unique_ptr<Output> MakeOutput(const GlobalOptions& options,
                                   const std::vector<std::string>& ports = {}) {
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
  Connection(TerminalOperator& op, Output& output)
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
        output_.Note(target.name, "cannot start the simulated instrument: " + error);
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

// What a device command does once its port is open; returns the exit code.
using DeviceBody = std::function<int(Device&, TerminalOperator&)>;

// One device command, as every port runs it.
struct DeviceJob {
  std::string command;
  std::string sector;  // the sector field's text
  std::optional<std::string> file;
  // Of the file as checked before any port was opened; a run that reads the file records
  // what it read instead.
  std::optional<std::string> sha256;
  std::optional<std::string> name;
  DeviceBody body;
};

// The sector field's number, when it names one of the 64 sectors.
std::optional<int> SectorOf(const std::string& text) {
  if (const auto n = ParseInteger(text); n && *n >= kFirstSector && *n <= kLastSector) {
    return static_cast<int>(*n);
  }
  return std::nullopt;
}

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

RunRecord RunOnPort(const GlobalOptions& options, const DeviceJob& job, const Target& target,
                    Output& output) {
  const auto start = Clock::now();
  TerminalOperator op(output, target.name, options.yes);
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

// What every device command does before its first port is touched: the ports are chosen
// and the audit file opened, or the command ends with exit 2.
int StartDeviceCommand(const GlobalOptions& options, DeviceJob job) {
  std::vector<Target> targets;
  if (const int code = ChooseTargets(options, &targets); code != kExitDone) return code;
  std::unique_ptr<AuditLog> audit;
  if (!options.logFile.empty()) {
    std::string error;
    auto file = OpenAppendFile(options.logFile, &error);
    if (!file) {
      Error("cannot open the log file " + options.logFile + " for appending: " + error);
      return kExitBadInput;
    }
    audit = std::make_unique<AuditLog>(std::move(file));
  }
  // From here Ctrl-C asks every run to stop instead of ending the program.
  SetStopOnInterrupt(true);
  const int code = RunDeviceCommand(options, job, std::move(audit), targets);
  SetStopOnInterrupt(false);
  return code;
}

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
  // The path is UTF-8; as a u8 path it reaches the system's wide calls on Windows.
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A command that uses no port: its output, and the result event at its end.
class FileCommand {
 public:
  FileCommand(const GlobalOptions& options, std::string command)
      : output_(MakeOutput(options)), op_(*output_, "", false), command_(std::move(command)) {}

  Output& output() { return *output_; }
  TerminalOperator& op() { return op_; }

  int End(int code) {
    RunRecord record;
    record.command = command_;
    record.exit = code;
    record.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    output_->Result(record);
    return code;
  }

  // Reads and decodes a firmware file, with the window's messages.
  int LoadImage(const std::string& file, FileBytes& image) {
    FileBytes raw{};
    if (ReportFileFailure(op_, ReadFirmwareFile(file, raw, nullptr))) return kExitBadInput;
    DecodeImage(raw, image);
    return kExitDone;
  }

  int Write(const std::string& path, const FileBytes& bytes) {
    if (!WriteWholeFile(path, bytes.data(), bytes.size())) {
      output_->Note("", "cannot write " + path);
      return kExitFailed;
    }
    return kExitDone;
  }

 private:
  std::unique_ptr<Output> output_;
  TerminalOperator op_;
  std::string command_;
  Clock::time_point start_ = Clock::now();
};

}  // namespace

int RunPorts(const GlobalOptions& options, bool withIdentity) {
  FileCommand command(options, "ports");
  TComPort port([&command](std::string_view text) { command.op().PlainMessage(text); });
  std::vector<PortIdentity> ports;
  const std::vector<PortIdentity> known =
      withIdentity || options.json ? ListPortIdentities() : std::vector<PortIdentity>{};
  for (const std::string& name : ListOpenablePorts(port)) {
    PortIdentity entry{name, PortPathOf(name), "serial port", std::nullopt};
    for (const PortIdentity& k : known) {
      if (k.name == name) entry = k;
    }
    ports.push_back(entry);
  }
  // A port the system knows is listed even while another program holds it.
  for (const PortIdentity& k : known) {
    const bool listed = std::any_of(ports.begin(), ports.end(),
                                    [&k](const PortIdentity& p) { return p.name == k.name; });
    if (!listed) ports.push_back(k);
  }
  std::sort(ports.begin(), ports.end(), [](const PortIdentity& a, const PortIdentity& b) {
    return NaturalLess(a.name, b.name);
  });
  Simulator simulator;
  if (options.simulate) {
    std::string error;
    if (!simulator.Start(&error)) {
      command.output().Note("", "cannot start the simulated instrument: " + error);
      return command.End(kExitFailed);
    }
    ports.push_back({PortNameOf(simulator.PortPath()), simulator.PortPath(), "simulated instrument",
                     std::nullopt});
  }
  command.output().Ports(ports, withIdentity);
  return command.End(kExitDone);
}

int RunCheck(const GlobalOptions& options) {
  return StartDeviceCommand(options,
                            {"check", "", {}, {}, {}, [](Device& device, TerminalOperator& op) {
                               const RunResult result = CheckLoader(device, op);
                               if (result != RunResult::Done) return ExitCodeOf(result);
                               char line[64];
                               std::snprintf(line, sizeof line, "loader version %02X %02X",
                                             device.Reply[1], device.Reply[2]);
                               op.Log(line);
                               return static_cast<int>(kExitDone);
                             }});
}

int RunList(const GlobalOptions& options) {
  return StartDeviceCommand(options,
                            {"list", "", {}, {}, {}, [](Device& device, TerminalOperator& op) {
                               return ExitCodeOf(ListSectors(device, op));
                             }});
}

int RunClear(const GlobalOptions& options, const std::string& sector) {
  return StartDeviceCommand(options,
                            {"clear", sector, {}, {}, {}, [](Device& device, TerminalOperator& op) {
                               return ExitCodeOf(ClearSector(device, op));
                             }});
}

int RunProgram(const GlobalOptions& options, const std::string& file, const std::string& sector) {
  // The file is checked once, before any port is opened: a file that fails here reaches no
  // instrument. Each run then opens and reads it again, as the window's run does.
  const auto start = Clock::now();
  FileBytes raw{};
  {
    const std::unique_ptr<Output> output = MakeOutput(options);
    TerminalOperator op(*output, "", options.yes);
    if (ReportFileFailure(op, ReadFirmwareFile(file, raw, nullptr))) {
      // No port ran: the result a script waits for belongs to none.
      RunRecord record = RecordOf({"program", sector, file, {}, {}, {}}, "", kExitBadInput);
      record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      output->Result(record);
      return kExitBadInput;
    }
  }
  const std::string sha256 = Sha256Hex(raw.data(), raw.size());
  FileBytes image{};
  DecodeImage(raw, image);
  const std::string name = SectorName(DeriveSectorInf(image));
  return StartDeviceCommand(
      options, {"program", sector, file, sha256, name, [](Device& device, TerminalOperator& op) {
                  op.SetStopFlag(&device.StopRequested);
                  return ExitCodeOf(RunProgramming(device, op));
                }});
}

int RunDecode(const GlobalOptions& options, const std::string& file, const std::string& output) {
  FileCommand command(options, "decode");
  FileBytes image{};
  if (const int code = command.LoadImage(file, image); code != kExitDone) return command.End(code);
  return command.End(command.Write(output, image));
}

int RunEncode(const GlobalOptions& options, const std::string& imagePath,
              const std::string& output) {
  FileCommand command(options, "encode");
  std::vector<std::uint8_t> bytes;
  if (!ReadWhole(imagePath, bytes)) {
    command.output().Note("", "cannot read " + imagePath);
    return command.End(kExitBadInput);
  }
  if (bytes.size() != kFileSize) {
    command.output().Note("", imagePath + " holds " + std::to_string(bytes.size()) +
                                  " bytes; an image holds " + std::to_string(kFileSize));
    return command.End(kExitBadInput);
  }
  FileBytes image{};
  std::copy(bytes.begin(), bytes.end(), image.begin());
  FileBytes file{};
  EncodeImage(image, file);
  return command.End(command.Write(output, file));
}

int RunInspect(const GlobalOptions& options, const std::string& file) {
  FileCommand command(options, "inspect");
  FileBytes image{};
  if (const int code = command.LoadImage(file, image); code != kExitDone) return command.End(code);
  const SectorInf block = DeriveSectorInf(image);
  Output& out = command.output();
  out.Log("", "name: " + SectorName(block));
  char line[80];
  std::snprintf(line, sizeof line, "marker: %02X %02X (%s)", block[62], block[63],
                IsWritten(block)  ? "written"
                : IsLoaded(block) ? "loaded, not marked written"
                                  : "not loaded");
  out.Log("", line);
  out.Log("", "block:");
  for (std::size_t row = 0; row < block.size(); row += 16) {
    std::string hex = " ";
    for (std::size_t i = row; i < row + 16; ++i) {
      std::snprintf(line, sizeof line, " %02X", block[i]);
      hex += line;
    }
    out.Log("", hex);
  }
  return command.End(kExitDone);
}

}  // namespace quorvex::cli
