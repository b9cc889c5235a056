// quorvex-soak: many programming runs in one process, through the real serial port code, against
// a simulated instrument on a pseudo-terminal; the process's open descriptors and resident memory
// must not grow. The port is opened and closed for every run, as quorvex-cli does; the pauses
// are the real ones and the line is not paced. With --station, a station's slots program units
// coming and going instead (see StationSoak.h). Run by scripts/soak.
//   quorvex-soak [RUNS]             (default 200)
//   quorvex-soak --station [UNITS]  (default 500)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "Device.h"
#include "Operator.h"
#include "SampleFirmware.h"
#include "Sequences.h"
#include "SimulatedInstrument.h"
#include "SoakSample.h"
#include "StationSoak.h"
#include "TComPort.h"

namespace {

// Counts what a run reports; answers Yes to the overwrite question (every sector is written
// again from the second round on).
class SoakOperator final : public quorvex::Operator {
 public:
  void Log(std::string_view) override {}
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override {
    if ((flags & 0x0F) == quorvex::kMbYesNo) return quorvex::kIdYes;
    std::fprintf(stderr, "  %.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    return quorvex::kIdOk;
  }
  void PlainMessage(std::string_view text) override { MessageBox(text, "Quorvex", 0); }
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  std::string SectorText() override { return sector; }
  void Beep() override {}

  std::string sector = "1";
};

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvex::soak;
  if (argc > 1 && std::string_view(argv[1]) == "--station") {
    const int units = argc > 2 ? std::atoi(argv[2]) : 500;
    if (units < kStationSoakLeast || argc > 3) {
      std::fprintf(stderr, "usage: quorvex-soak --station [UNITS >= %d]\n", kStationSoakLeast);
      return 2;
    }
    return StationSoak(units, QUORVEX_SIM);
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  if (runs < 2) {
    std::fprintf(stderr, "usage: quorvex-soak [RUNS >= 2] | --station [UNITS]\n");
    return 2;
  }
  const std::string firmware = (std::filesystem::temp_directory_path() /
                                ("quorvex-soak-" + std::to_string(::getpid()) + ".fls"))
                                   .string();
  // Marked written, as a real file is.
  if (!quorvex::WriteFirmwareFile(firmware, quorvex::SampleImage("SOAK", true))) {
    std::fprintf(stderr, "quorvex-soak: cannot write %s\n", firmware.c_str());
    return 1;
  }

  const Sample start = Take();
  quorvex::sim::SimulatedInstrument instrument;
  std::string error;
  if (!instrument.Start(&error)) {
    std::fprintf(stderr, "quorvex-soak: %s\n", error.c_str());
    return 1;
  }
  SoakOperator op;
  quorvex::TComPort port([&op](std::string_view text) { op.PlainMessage(text); });
  quorvex::Device device(port, op);
  device.FileName = firmware;

  std::printf("quorvex-soak: %d programming runs against the simulated instrument\n", runs);
  Print("start", start);
  Sample afterFirst{};
  int done = 0;
  for (int run = 1; run <= runs; ++run) {
    op.sector = std::to_string((run - 1) % 64 + 1);
    bool ok = false;
    if (port.Open(instrument.PortPath())) {
      ok = quorvex::RunProgramming(device, op) == quorvex::RunResult::Done;
    }
    port.Close();
    // The simulator keeps every byte it received for inspection; a test's log, not a leak.
    instrument.ClearLog();
    if (ok) {
      ++done;
    } else {
      std::printf("run %d: failed\n", run);
    }
    if (run == 1) {
      afterFirst = Take();
      Print("after run 1", afterFirst);
    } else if (run % 50 == 0 || run == runs) {
      Print(("after run " + std::to_string(run)).c_str(), Take());
    }
  }
  const Sample end = Take();
  instrument.Stop();
  std::remove(firmware.c_str());

  constexpr long kAllowedGrowthKb = 2048;  // allocator noise, far below one run's buffers
  const bool steady = end.descriptors == afterFirst.descriptors &&
                      end.residentKb - afterFirst.residentKb <= kAllowedGrowthKb;
  std::printf(
      "result: %d of %d runs done; descriptors %d -> %d, VmRSS %ld -> %ld kB "
      "(after run 1 -> after run %d): %s\n",
      done, runs, afterFirst.descriptors, end.descriptors, afterFirst.residentKb, end.residentKb,
      runs, steady ? "steady" : "GROWING");
  return done == runs && steady ? 0 : 1;
}
