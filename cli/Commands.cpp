#include "Commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Device.h"
#include "ExitCode.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "Interrupt.h"
#include "PortEnumeration.h"
#include "RegistryAccessor.h"
#include "SectorInf.h"
#include "Sequences.h"
#include "Simulator.h"
#include "TComPort.h"
#include "TerminalOperator.h"

namespace quorvex::cli {
namespace {

void Error(const std::string& text) { std::fprintf(stderr, "quorvex-cli: %s\n", text.c_str()); }

// The port named on the command line, or the one the window stored last.
std::optional<std::string> ChoosePortPath(const GlobalOptions& options) {
  if (!options.port.empty()) return PortPathOf(options.port);
  auto registry = MakeRegistryAccessor();
  registry->SetRootKey(RootKey::LocalMachine);
  if (registry->KeyExists(kSettingsKey) && registry->OpenKey(kSettingsKey, false)) {
    const std::string stored = registry->ReadString(kValueComName);
    if (!stored.empty()) return PortPathOf(stored);
  }
  return std::nullopt;
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

// The instrument on the other end of the line: an opened, configured port, and, with
// --simulate, the simulated instrument that answers on it.
class Connection {
 public:
  explicit Connection(TerminalOperator& op)
      : port_([&op](std::string_view text) { op.PlainMessage(text); }), device_(port_, op) {}

  // 0 when the port is open; otherwise the exit code, the reason already shown.
  int Open(const GlobalOptions& options) {
    std::string path;
    if (options.simulate) {
      simulator_ = std::make_unique<Simulator>();
      std::string error;
      if (!simulator_->Start(&error)) {
        Error("cannot start the simulated instrument: " + error);
        return kExitFailed;
      }
      path = simulator_->PortPath();
    } else if (const auto chosen = ChoosePortPath(options)) {
      path = *chosen;
    } else {
      Error("no port chosen: give -p PORT (see 'quorvex-cli ports'), or --simulate");
      return kExitBadInput;
    }
    if (!port_.Open(path)) {
      port_.Close();
      return kExitFailed;
    }
    const std::uint32_t actual = port_.ActualBaud();
    if (actual != 0 &&
        (actual * 100 < TComPort::kBaudRate * 99 || actual * 100 > TComPort::kBaudRate * 101)) {
      Error("warning: the port runs at " + std::to_string(actual) +
            " baud instead of 62500; the instrument may not understand it");
    }
    return kExitDone;
  }

  Device& device() { return device_; }

 private:
  std::unique_ptr<Simulator> simulator_;  // declared first: it outlives the port
  TComPort port_;
  Device device_;
};

template <typename Command>
int WithInstrument(const GlobalOptions& options, const std::string& sector, Command command) {
  TerminalOperator op(options.quiet, options.yes ? Answer::Yes : Answer::Ask);
  op.SetSectorText(sector);
  Connection connection(op);
  if (const int code = connection.Open(options); code != kExitDone) return code;
  return command(connection.device(), op);
}

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
  // The path is UTF-8; as a u8 path it reaches the system's wide calls on Windows.
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Reads and decodes a firmware file for the file commands, with the window's messages.
int LoadImage(const std::string& file, FileBytes& image) {
  TerminalOperator op(true, Answer::Ask);
  FileBytes raw{};
  if (ReportFileFailure(op, ReadFirmwareFile(file, raw, nullptr))) return kExitBadInput;
  DecodeImage(raw, image);
  return kExitDone;
}

int Write(const std::string& output, const FileBytes& bytes) {
  if (!WriteWholeFile(output, bytes.data(), bytes.size())) {
    Error("cannot write " + output);
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace

int RunPorts(const GlobalOptions& options) {
  TerminalOperator op(options.quiet, Answer::Ask);
  TComPort port([&op](std::string_view text) { op.PlainMessage(text); });
  Simulator simulator;
  for (const std::string& name : ListOpenablePorts(port)) std::printf("%s\n", name.c_str());
  if (options.simulate) {
    std::string error;
    if (!simulator.Start(&error)) {
      Error("cannot start the simulated instrument: " + error);
      return kExitFailed;
    }
    std::printf("%s\n", PortNameOf(simulator.PortPath()).c_str());
  }
  return kExitDone;
}

int RunCheck(const GlobalOptions& options) {
  return WithInstrument(options, "", [](Device& device, TerminalOperator&) {
    if (device.CheckDevice()) return static_cast<int>(kExitFailed);
    std::printf("loader version %02X %02X\n", device.Reply[1], device.Reply[2]);
    return static_cast<int>(kExitDone);
  });
}

int RunList(const GlobalOptions& options) {
  return WithInstrument(options, "", [](Device& device, TerminalOperator& op) {
    return ExitCodeOf(ListSectors(device, op));
  });
}

int RunClear(const GlobalOptions& options, const std::string& sector) {
  return WithInstrument(options, sector, [](Device& device, TerminalOperator& op) {
    return ExitCodeOf(ClearSector(device, op));
  });
}

int RunProgram(const GlobalOptions& options, const std::string& file, const std::string& sector) {
  TerminalOperator op(options.quiet, options.yes ? Answer::Yes : Answer::Ask);
  op.SetSectorText(sector);
  Connection connection(op);
  // The open command first: a file that cannot be used stops before the line is touched.
  if (connection.device().OpenFirmware(file)) return kExitBadInput;
  if (const int code = connection.Open(options); code != kExitDone) return code;
  op.SetStopFlag(&connection.device().StopRequested);
  SetStopOnInterrupt(true);
  const RunResult result = RunProgramming(connection.device(), op);
  SetStopOnInterrupt(false);
  return ExitCodeOf(result);
}

int RunDecode(const std::string& file, const std::string& output) {
  FileBytes image{};
  if (const int code = LoadImage(file, image); code != kExitDone) return code;
  return Write(output, image);
}

int RunEncode(const std::string& imagePath, const std::string& output) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWhole(imagePath, bytes)) {
    Error("cannot read " + imagePath);
    return kExitBadInput;
  }
  if (bytes.size() != kFileSize) {
    Error(imagePath + " holds " + std::to_string(bytes.size()) + " bytes; an image holds " +
          std::to_string(kFileSize));
    return kExitBadInput;
  }
  FileBytes image{};
  std::copy(bytes.begin(), bytes.end(), image.begin());
  FileBytes file{};
  EncodeImage(image, file);
  return Write(output, file);
}

int RunInspect(const std::string& file) {
  FileBytes image{};
  if (const int code = LoadImage(file, image); code != kExitDone) return code;
  const SectorInf block = DeriveSectorInf(image);
  std::printf("name: %s\n", SectorName(block).c_str());
  std::printf("marker: %02X %02X (%s)\n", block[62], block[63],
              IsWritten(block)  ? "written"
              : IsLoaded(block) ? "loaded, not marked written"
                                : "not loaded");
  std::printf("block:");
  for (std::size_t i = 0; i < block.size(); ++i) {
    std::printf("%s%02X", i % 16 == 0 ? "\n  " : " ", block[i]);
  }
  std::printf("\n");
  return kExitDone;
}

}  // namespace quorvex::cli
