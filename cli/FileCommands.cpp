#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "ExitCode.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Output.h"
#include "PortCause.h"
#include "PortIdentity.h"
#include "PortList.h"
#include "PortRunOperator.h"
#include "PortRuns.h"
#include "SectorInf.h"
#include "Simulator.h"
#include "TComPort.h"
#include "WholeFile.h"

// The commands that use no port's instrument: decode, encode, inspect and ports.
namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A command that runs on no instrument (decode, encode, inspect, ports): its output, and the
// result event at its end.
class PortlessCommand {
 public:
  PortlessCommand(const GlobalOptions& options, std::string command)
      : output_(MakeOutput(options)), op_(*output_, "", false), command_(std::move(command)) {}

  Output& output() { return *output_; }
  PortRunOperator& op() { return op_; }

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
  PortRunOperator op_;
  std::string command_;
  Clock::time_point start_ = Clock::now();
};

}  // namespace

int RunPorts(const GlobalOptions& options, bool withIdentity) {
  PortlessCommand command(options, "ports");
  TComPort port([&command](std::string_view text) { command.op().PlainMessage(text); });
  // The long list and --json also name the ports that another program holds now.
  std::vector<std::string> forbidden;
  std::vector<PortIdentity> ports = ListPorts(
      port, withIdentity || options.json ? PortSet::Known : PortSet::Openable, &forbidden);
  // A user outside the serial devices' group would otherwise see an empty list and no reason.
  if (!forbidden.empty()) command.output().Note("", ForbiddenPortsNote(forbidden));
  Simulator simulator;
  if (options.simulate) {
    std::string error;
    if (!simulator.Start(&error)) {
      command.output().Note("", CannotStart(error));
      return command.End(kExitFailed);
    }
    ports.push_back({PortNameOf(simulator.PortPath()), simulator.PortPath(), "simulated instrument",
                     std::nullopt, ""});
  }
  command.output().Ports(ports, withIdentity);
  return command.End(kExitDone);
}

int RunDecode(const GlobalOptions& options, const std::string& file, const std::string& output) {
  PortlessCommand command(options, "decode");
  FileBytes image{};
  if (const int code = command.LoadImage(file, image); code != kExitDone) return command.End(code);
  return command.End(command.Write(output, image));
}

int RunEncode(const GlobalOptions& options, const std::string& imagePath,
              const std::string& output) {
  PortlessCommand command(options, "encode");
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(imagePath, bytes, kFileSize)) {
    command.output().Note("", "cannot read " + imagePath);
    return command.End(kExitBadInput);
  }
  if (bytes.size() > kFileSize) {
    command.output().Note("", imagePath + " holds more than " + std::to_string(kFileSize) +
                                  " bytes; an image holds " + std::to_string(kFileSize));
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
  PortlessCommand command(options, "inspect");
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
