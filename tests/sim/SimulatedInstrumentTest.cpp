// The simulated instrument on a real pseudo-terminal, talked to by a plain host.
#include "SimulatedInstrument.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <thread>

#include "Hex.h"
#include "LineHost.h"
#include "TempFolder.h"

namespace quorvex::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvex::test::Hex;
using quorvex::test::ToHex;
using test::LineHost;

constexpr const char* kCheck = "01 00 02 FC";
constexpr const char* kCheckReply = "03 00 FD 45 B3 07";

Options WithFaults(std::vector<std::string> faults) {
  Options options;
  options.faults = std::move(faults);
  return options;
}

// A folder of its own; `dir / "name"` is the path of a file in it.
class TempDir : public quorvex::test::TempFolder {
 public:
  TempDir() : TempFolder("quorvex-sim") {}
  [[nodiscard]] std::string operator/(const char* name) const { return (Path() / name).string(); }
};

// A started instrument with the given options.
class Instrument : public ::testing::Test {
 protected:
  void Start(Options options = {}) {
    instrument_ = std::make_unique<SimulatedInstrument>(std::move(options));
    std::string error;
    ASSERT_TRUE(instrument_->Start(&error)) << error;
  }
  std::string Exchange(LineHost& host, std::string_view request, std::size_t replyBytes) {
    EXPECT_TRUE(host.Write(Hex(request)));
    return ToHex(host.Read(replyBytes));
  }

  std::unique_ptr<SimulatedInstrument> instrument_;
};

TEST_F(Instrument, AnswersTheDeviceCheck) {
  Start();
  LineHost host(instrument_->PortPath());
  ASSERT_TRUE(host.Open());
  EXPECT_EQ(Exchange(host, kCheck, 6), kCheckReply);
  const auto requests = instrument_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, 0x02);
  EXPECT_EQ(ToHex(instrument_->Received()), kCheck);
}

// The host closes its end between commands; the line must still be served afterwards.
TEST_F(Instrument, ServesAHostThatReopensThePort) {
  Start();
  for (int round = 0; round < 3; ++round) {
    LineHost host(instrument_->PortPath());
    ASSERT_TRUE(host.Open());
    EXPECT_EQ(Exchange(host, kCheck, 6), kCheckReply) << "round " << round;
  }
  // No host at all for a while, then one more.
  std::this_thread::sleep_for(150ms);
  LineHost host(instrument_->PortPath());
  EXPECT_EQ(Exchange(host, kCheck, 6), kCheckReply);
}

TEST_F(Instrument, InformationBlocksOverTheLineMeetTheTestAccessors) {
  Start();
  std::array<std::uint8_t, kBlockBytes> preset{};
  std::iota(preset.begin(), preset.end(), std::uint8_t{1});
  instrument_->SetBlock(2, preset);
  LineHost host(instrument_->PortPath());
  const std::vector<std::uint8_t> read = Hex(Exchange(host, "03 00 33 E0 40 A9", 68));
  ASSERT_EQ(read.size(), 68u);
  EXPECT_TRUE(std::equal(preset.begin(), preset.end(), read.begin() + 3));

  std::vector<std::uint8_t> write = Hex("03 00 30 EF C0 1D");
  write.insert(write.end(), kBlockBytes, 0x42);
  ASSERT_TRUE(host.Write(write));
  EXPECT_EQ(ToHex(host.Read(4)), "01 00 CF 2F");
  EXPECT_EQ(instrument_->Block(64)[63], 0x42);
}

std::vector<std::uint8_t> TestImage() {
  std::vector<std::uint8_t> image(kSectorBytes);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return image;
}

TEST_F(Instrument, ProgrammingRunOverTheLine) {
  Start();
  LineHost host(instrument_->PortPath());
  EXPECT_EQ(Exchange(host, "02 00 31 02 CA", 4), "01 00 CE 30");
  EXPECT_EQ(Exchange(host, "02 00 32 02 C9", 4), "01 00 CD 31");
  const auto image = TestImage();
  std::string answers;
  for (std::size_t offset = 0; offset < image.size(); offset += 128) {
    ASSERT_TRUE(host.Write({image.begin() + offset, image.begin() + offset + 128}));
    const auto answer = host.Read(1);
    ASSERT_EQ(ToHex(answer), "06") << "block at " << offset;
  }
  EXPECT_EQ(instrument_->BlocksReceived(), 512);
  EXPECT_EQ(Exchange(host, "02 00 35 02 C6", 5), "02 00 CA 00 33");
  EXPECT_EQ(instrument_->Flash(3), image);
}

TEST_F(Instrument, PaceHoldsBytesToLineTime) {
  Options options;
  options.pace = true;
  Start(options);
  LineHost host(instrument_->PortPath());
  EXPECT_EQ(Exchange(host, "02 00 32 02 C9", 4), "01 00 CD 31");
  constexpr int kBlocks = 16;
  const std::vector<std::uint8_t> block(128, 0x00);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kBlocks; ++i) {
    ASSERT_TRUE(host.Write(block));
    ASSERT_EQ(host.Read(1).size(), 1u);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto lineTime = kBlocks * 129 * 160us;  // 128 bytes in, one answer out
  // Only the lower bound: a busy machine may take longer, and speed is the benchmark's business.
  EXPECT_GE(elapsed, lineTime);
}

TEST_F(Instrument, HangupLooksLikeAnUnpluggedAdapter) {
  std::atomic<bool> handled{false};
  instrument_ = std::make_unique<SimulatedInstrument>(WithFaults({"hangup-after=0"}));
  instrument_->SetHangupHandler([&handled] { handled = true; });
  std::string error;
  ASSERT_TRUE(instrument_->Start(&error)) << error;

  LineHost host(instrument_->PortPath());
  EXPECT_EQ(Exchange(host, "02 00 32 02 C9", 4), "01 00 CD 31");
  EXPECT_TRUE(host.Read(1, 1s).empty());
  EXPECT_TRUE(host.SawHangup());
  // The serving thread records the hang-up right after closing the line the host watches.
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!handled && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(instrument_->HungUp());
}

TEST_F(Instrument, StateAndLinkOutliveTheRunAsIntended) {
  TempDir dir;
  const std::string state = dir / "state.bin";
  const std::string link = dir / "scanner";
  Options options;
  options.statePath = state;
  options.linkPath = link;
  Start(options);
  EXPECT_EQ(fs::read_symlink(link).string(), instrument_->PortPath());
  {
    LineHost host(link);
    std::vector<std::uint8_t> write = Hex("03 00 30 E0 00 EC");
    write.insert(write.end(), kBlockBytes, 0x3C);
    ASSERT_TRUE(host.Write(write));
    EXPECT_EQ(ToHex(host.Read(4)), "01 00 CF 2F");
  }
  instrument_->Stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(instrument_->LastError(), "");

  Options again;
  again.statePath = state;
  Start(again);
  EXPECT_EQ(instrument_->Block(1)[0], 0x3C);
  EXPECT_EQ(instrument_->Block(2)[0], 0x00);
}

struct RefusedStart {
  const char* name;
  std::function<Options(TempDir&)> options;
};

void PrintTo(const RefusedStart& r, std::ostream* os) { *os << r.name; }

class InstrumentRefuses : public ::testing::TestWithParam<RefusedStart> {};

TEST_P(InstrumentRefuses, ToStart) {
  TempDir dir;
  SimulatedInstrument instrument(GetParam().options(dir));
  std::string error;
  EXPECT_FALSE(instrument.Start(&error));
  EXPECT_FALSE(error.empty());
}

const RefusedStart kRefusals[] = {
    {"UnknownFault", [](TempDir&) { return WithFaults({"explode"}); }},
    {"ForeignStateFile",
     [](TempDir& dir) {
       std::ofstream(dir / "state.bin") << "junk";
       Options options;
       options.statePath = dir / "state.bin";
       return options;
     }},
    // Each unit that comes starts blank: a state file has nothing to keep.
    {"UnitsComingAndGoingWithAStateFile",
     [](TempDir& dir) {
       Options options;
       options.comeAndGo = ComeAndGo{.present = 50ms, .absent = 50ms};
       options.statePath = dir / "state.bin";
       return options;
     }},
    {"UnitNeverPresent",
     [](TempDir&) {
       Options options;
       options.comeAndGo = ComeAndGo{.present = 0ms, .absent = 50ms};
       return options;
     }},
    {"UnitAbsentOverAnHour",
     [](TempDir&) {
       Options options;
       options.comeAndGo = ComeAndGo{.present = 50ms, .absent = 3'600'001ms};
       return options;
     }},
    {"LinkOverARegularFile",
     [](TempDir& dir) {
       std::ofstream(dir / "file") << "keep me";
       Options options;
       options.linkPath = dir / "file";
       return options;
     }},
};

INSTANTIATE_TEST_SUITE_P(BadOptions, InstrumentRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::sim
