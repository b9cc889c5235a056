#include "LineCount.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

#include "Device.h"
#include "Operator.h"
#include "PortBackend.h"
#include "Sequences.h"
#include "SimulatedInstrument.h"
#include "TComPort.h"

namespace quorvex::bench {
namespace {

constexpr double kByteSeconds = 160e-6;

// The platform's serial back end with a count of every byte handed to it and every byte it
// delivered.
class CountingBackend final : public PortBackend {
 public:
  explicit CountingBackend(LineTraffic* traffic)
      : traffic_(traffic), inner_(MakePlatformBackend()) {}

  PortFailure OpenExclusive(const std::string& path) override {
    return inner_->OpenExclusive(path);
  }
  void PrepareQueues() override { inner_->PrepareQueues(); }
  void DiscardInput() override { inner_->DiscardInput(); }
  bool SetLine(std::uint32_t baud) override { return inner_->SetLine(baud); }
  bool SetTimeouts(std::uint32_t timeoutMs) override { return inner_->SetTimeouts(timeoutMs); }
  bool SetDtr(bool raise) override { return inner_->SetDtr(raise); }
  void Close() override { inner_->Close(); }
  [[nodiscard]] bool IsOpen() const override { return inner_->IsOpen(); }
  bool Write(const std::uint8_t* data, std::size_t count) override {
    const bool written = inner_->Write(data, count);
    if (written) traffic_->toInstrument += count;
    return written;
  }
  bool ReadByte(std::uint8_t& byte, std::size_t replyLeft) override {
    const bool read = inner_->ReadByte(byte, replyLeft);
    if (read) ++traffic_->fromInstrument;
    return read;
  }
  [[nodiscard]] std::uint32_t ActualBaud() const override { return inner_->ActualBaud(); }

 private:
  LineTraffic* traffic_;
  std::unique_ptr<PortBackend> inner_;
};

// Answers Yes to the overwrite question; any other message means the run went wrong.
class SilentOperator final : public Operator {
 public:
  explicit SilentOperator(std::string sector) : sector_(std::move(sector)) {}
  void Log(std::string_view) override {}
  int MessageBox(std::string_view text, std::string_view, unsigned flags) override {
    if ((flags & 0x0F) == kMbYesNo) return kIdYes;
    complaint = text;
    return kIdOk;
  }
  void PlainMessage(std::string_view text) override { complaint = text; }
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  std::string SectorText() override { return sector_; }
  void Beep() override {}

  std::string complaint;

 private:
  std::string sector_;
};

// Starts an unpaced instrument, opens the line to it through the counting back end, runs
// the sequence and checks the instrument received exactly what was counted.
template <typename Sequence>
bool Count(const std::string& sector, LineTraffic* traffic, std::string* error, Sequence sequence) {
  *traffic = {};
  sim::SimulatedInstrument instrument;
  if (!instrument.Start(error)) return false;
  SilentOperator op(sector);
  TComPort port([&op](std::string_view text) { op.PlainMessage(text); },
                std::make_unique<CountingBackend>(traffic));
  if (!port.Open(instrument.PortPath())) {
    *error = "cannot open the simulated instrument's line: " + op.complaint;
    return false;
  }
  Device device(port, op);
  // The pauses are kept, so the instrument sees the run exactly as a real one.
  device.SetPause([traffic](std::chrono::milliseconds pause) {
    ++traffic->pauses;
    traffic->pauseTime += pause;
    std::this_thread::sleep_for(pause);
  });
  const RunResult result = sequence(device, op);
  if (result != RunResult::Done) {
    *error = "the counted run failed: " + op.complaint;
    return false;
  }
  const std::size_t received = instrument.Received().size();
  if (received != traffic->toInstrument) {
    *error = "the instrument received " + std::to_string(received) + " bytes, the host counted " +
             std::to_string(traffic->toInstrument);
    return false;
  }
  return true;
}

}  // namespace

double LineTraffic::LimitSeconds() const {
  return static_cast<double>(toInstrument + fromInstrument) * kByteSeconds +
         std::chrono::duration<double>(pauseTime).count();
}

bool CountProgramming(const std::string& firmwareFile, int sector, LineTraffic* traffic,
                      std::string* error) {
  return Count(std::to_string(sector), traffic, error, [&](Device& device, Operator& op) {
    if (device.OpenFirmware(firmwareFile)) return RunResult::Failed;
    return RunProgramming(device, op);
  });
}

bool CountListing(LineTraffic* traffic, std::string* error) {
  return Count("", traffic, error,
               [](Device& device, Operator& op) { return ListSectors(device, op); });
}

void PrintTraffic(const char* what, const LineTraffic& traffic) {
  std::printf(
      "%-8s line carries %zu bytes to the instrument, %zu back, %zu pauses of %.3f s:\n"
      "         limit %.3f s at 160 us a byte\n",
      what, traffic.toInstrument, traffic.fromInstrument, traffic.pauses,
      std::chrono::duration<double>(traffic.pauseTime).count(), traffic.LimitSeconds());
}

}  // namespace quorvex::bench
