#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Device.h"
#include "Output.h"
#include "PortRunOperator.h"
#include "Sequences.h"

namespace quorvex::cli {

// `ports`: the names of the ports the command runs on, in the order given; none for a
// command without a port.
std::unique_ptr<Output> MakeOutput(const GlobalOptions& options,
                                   const std::vector<std::string>& ports = {});

int ExitCodeOf(RunResult result);

// What a device command does once its port is open; returns the exit code.
using DeviceBody = std::function<int(Device&, PortRunOperator&)>;

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

// The record of a command that ended on a port, or before any port, with `code`.
RunRecord RecordOf(const DeviceJob& job, const std::string& port, int code);

// What every device command does before its first port is touched: the ports are chosen
// and the audit file opened, or the command ends with exit 2. Then the command runs on every
// port at once and each run's end is reported.
int StartDeviceCommand(const GlobalOptions& options, DeviceJob job);

}  // namespace quorvex::cli
