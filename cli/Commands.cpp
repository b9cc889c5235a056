#include "Commands.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "ExitCode.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Output.h"
#include "PortRunOperator.h"
#include "PortRuns.h"
#include "SectorInf.h"
#include "Sequences.h"
#include "Sha256.h"

// The commands that talk to the instrument: check, list, clear and program.
namespace quorvex::cli {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

int RunCheck(const GlobalOptions& options) {
  return StartDeviceCommand(options,
                            {"check", "", {}, {}, {}, [](Device& device, PortRunOperator& op) {
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
                            {"list", "", {}, {}, {}, [](Device& device, PortRunOperator& op) {
                               return ExitCodeOf(ListSectors(device, op));
                             }});
}

int RunClear(const GlobalOptions& options, const std::string& sector) {
  return StartDeviceCommand(options,
                            {"clear", sector, {}, {}, {}, [](Device& device, PortRunOperator& op) {
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
    PortRunOperator op(*output, "", options.yes);
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
      options, {"program", sector, file, sha256, name, [](Device& device, PortRunOperator& op) {
                  op.SetStopFlag(&device.StopRequested);
                  return ExitCodeOf(RunProgramming(device, op));
                }});
}

}  // namespace quorvex::cli
