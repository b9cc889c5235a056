// Units put on a slot and taken off it: the simulated instrument over its real pseudo-terminal,
// with periods of tens of milliseconds. Every check is made only when the unit's presence or
// absence held for the whole exchange; an exchange that a turn of the slot overtook on a busy
// machine is tried again with the next unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Hex.h"
#include "LineHost.h"
#include "SimulatedInstrument.h"

namespace quorvex::sim {
namespace {

using namespace std::chrono_literals;
using quorvex::test::Hex;
using quorvex::test::ToHex;
using test::LineHost;

constexpr const char* kCheck = "01 00 02 FC";
constexpr const char* kCheckReply = "03 00 FD 45 B3 07";
constexpr const char* kWriteBlock1 = "03 00 30 E0 00 EC";
constexpr const char* kWriteBlockReply = "01 00 CF 2F";
constexpr const char* kReadBlock1 = "03 00 33 E0 00 E9";
constexpr const char* kErase1 = "02 00 31 00 CC";
constexpr const char* kEraseReply = "01 00 CE 30";
constexpr const char* kInit1 = "02 00 32 00 CB";
constexpr const char* kInitReply = "01 00 CD 31";
// Units whose exchanges a turn of the slot overtook are skipped; this many at most.
constexpr int kAttempts = 8;
constexpr std::size_t kReadChunk = 4096;
// A paced image block is answered 20.6 ms after it was written.
constexpr auto kBlockAnswerWait = 40ms;

struct Periods {
  const char* name;
  int presentMs;
  int absentMs;
  bool pace;
};

void PrintTo(const Periods& p, std::ostream* os) { *os << p.name; }

class UnitsComeAndGo : public ::testing::TestWithParam<Periods> {
 protected:
  void Start(bool pace) {
    Options options;
    options.pace = pace;
    options.comeAndGo = ComeAndGo{.present = std::chrono::milliseconds(GetParam().presentMs),
                                  .absent = std::chrono::milliseconds(GetParam().absentMs)};
    instrument_ = std::make_unique<SimulatedInstrument>(options);
    std::string error;
    ASSERT_TRUE(instrument_->Start(&error)) << error;
    host_ = std::make_unique<LineHost>(instrument_->PortPath());
    ASSERT_TRUE(host_->Open());
  }

  [[nodiscard]] std::chrono::milliseconds Present() const {
    return std::chrono::milliseconds(GetParam().presentMs);
  }
  [[nodiscard]] std::chrono::milliseconds Absent() const {
    return std::chrono::milliseconds(GetParam().absentMs);
  }

  // The number of a unit that has just arrived, after the one there now; 0 after 2 s. What an
  // earlier, overtaken exchange left on the line is read away first.
  int NextArrival() {
    host_->Read(kReadChunk, 1ms);
    const int before = instrument_->UnitsSoFar();
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
      const int unit = instrument_->UnitsSoFar();
      if (unit > before && Still(unit)) return unit;
      std::this_thread::sleep_for(100us);
    }
    return 0;
  }
  // Waits until `unit` has left; false when the next unit came first (or after 2 s).
  bool Departure(int unit) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Gone(unit)) return true;
      if (instrument_->UnitsSoFar() != unit) return false;
      std::this_thread::sleep_for(100us);
    }
    return false;
  }
  // `unit` is on the slot (read after an exchange: it was there throughout, as it was at the
  // start).
  [[nodiscard]] bool Still(int unit) const {
    return instrument_->UnitPresent() && instrument_->UnitsSoFar() == unit;
  }
  // `unit` has left and no other has come yet.
  [[nodiscard]] bool Gone(int unit) const {
    return !instrument_->UnitPresent() && instrument_->UnitsSoFar() == unit;
  }

  std::string Exchange(std::string_view request, std::size_t replyBytes,
                       std::chrono::milliseconds timeout) {
    EXPECT_TRUE(host_->Write(Hex(request)));
    return ToHex(host_->Read(replyBytes, timeout));
  }

  std::unique_ptr<SimulatedInstrument> instrument_;
  std::unique_ptr<LineHost> host_;
};

TEST_P(UnitsComeAndGo, AnswerWhilePresentAndNothingAnswersWhileAbsent) {
  Start(GetParam().pace);
  int answered = 0;
  int unanswered = 0;
  for (int attempt = 0; attempt < kAttempts && (answered < 2 || unanswered < 2); ++attempt) {
    const int unit = NextArrival();
    ASSERT_GT(unit, 0) << "no unit arrived";
    const std::string reply = Exchange(kCheck, 6, Present());
    if (Still(unit)) {
      EXPECT_EQ(reply, kCheckReply) << "unit " << unit;
      ++answered;
    }
    if (!Departure(unit)) continue;
    const std::string silence = Exchange(kCheck, 6, Absent() / 2);
    if (Gone(unit)) {
      EXPECT_EQ(silence, "") << "after unit " << unit;
      ++unanswered;
    }
  }
  EXPECT_GE(answered, 2);
  EXPECT_GE(unanswered, 2);
}

// Half a frame sent to a unit that is then taken off is not completed by the next unit's bytes.
TEST_P(UnitsComeAndGo, TheNextUnitForgetsHalfAFrame) {
  Start(GetParam().pace);
  int checked = 0;
  for (int attempt = 0; attempt < kAttempts && checked == 0; ++attempt) {
    const int unit = NextArrival();
    ASSERT_GT(unit, 0) << "no unit arrived";
    ASSERT_TRUE(host_->Write(Hex("03 00 33 E0")));  // a read request without its last two bytes
    if (!Departure(unit)) continue;
    const int next = NextArrival();
    ASSERT_GT(next, unit) << "no unit arrived";
    const std::string reply = Exchange(kCheck, 6, Present());
    if (!Still(next)) continue;
    EXPECT_EQ(reply, kCheckReply) << "unit " << next;
    ++checked;
  }
  EXPECT_EQ(checked, 1);
}

TEST_P(UnitsComeAndGo, TheNextUnitIsBlankAfterTheLastWasWritten) {
  Start(GetParam().pace);
  const std::vector<std::uint8_t> image(128, 0x5A);
  int checked = 0;
  for (int attempt = 0; attempt < kAttempts && checked == 0; ++attempt) {
    const int unit = NextArrival();
    ASSERT_GT(unit, 0) << "no unit arrived";
    std::vector<std::uint8_t> write = Hex(kWriteBlock1);
    write.insert(write.end(), kBlockBytes, 0x3C);
    ASSERT_TRUE(host_->Write(write));
    const std::string written = ToHex(host_->Read(4, Present()));
    const std::string erased = Exchange(kErase1, 4, Present());
    const std::string begun = Exchange(kInit1, 4, Present());
    ASSERT_TRUE(host_->Write(image));
    const std::string answer = ToHex(host_->Read(1, Present()));
    if (!Still(unit)) continue;
    ASSERT_EQ(written, kWriteBlockReply);
    ASSERT_EQ(erased, kEraseReply);
    ASSERT_EQ(begun, kInitReply);
    ASSERT_EQ(answer, "06");
    // The unit holds what it was written with, also once it has left.
    if (!Departure(unit)) continue;
    const std::uint8_t blockByte = instrument_->Block(1)[0];
    const std::uint8_t flashByte = instrument_->Flash(1)[0];
    if (Gone(unit)) {
      EXPECT_EQ(blockByte, 0x3C);
      EXPECT_EQ(flashByte, 0x5A);
    }

    const int next = NextArrival();
    ASSERT_GT(next, unit) << "no unit arrived";
    const auto flash = instrument_->Flash(1);
    const auto block = instrument_->Block(1);
    const std::vector<std::uint8_t> read = Hex(Exchange(kReadBlock1, 68, Present()));
    if (!Still(next)) continue;
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](auto b) { return b == 0; }));
    ASSERT_EQ(read.size(), 68u);
    EXPECT_TRUE(std::all_of(read.begin() + 3, read.end() - 1, [](auto b) { return b == 0; }))
        << "unit " << next << " read back its block as " << ToHex(read);
    ++checked;
  }
  EXPECT_EQ(checked, 1);
}

// Paced, a transfer of a whole sector takes 10 s: the end of a present period cuts it off.
TEST_P(UnitsComeAndGo, ATransferCutOffLeavesTheNextUnitUntouched) {
  Start(true);
  const std::vector<std::uint8_t> image(128, 0x00);
  int checked = 0;
  for (int attempt = 0; attempt < kAttempts && checked == 0; ++attempt) {
    const int unit = NextArrival();
    ASSERT_GT(unit, 0) << "no unit arrived";
    const std::string begun = Exchange(kInit1, 4, Present());
    if (!Still(unit)) continue;
    ASSERT_EQ(begun, kInitReply);
    // Block after block, each waiting for its answer, as a host does, until none comes.
    int answered = 0;
    for (;;) {
      ASSERT_TRUE(host_->Write(image));
      if (host_->Read(1, kBlockAnswerWait).empty()) break;
      ++answered;
    }
    ASSERT_LT(answered, 512);
    if (Still(unit)) continue;  // an answer late on a busy machine, not the end of the unit
    if (Gone(unit)) {
      const int blocks = instrument_->BlocksReceived();
      if (Gone(unit)) {
        // The last block reached the unit, or the unit had left before it came.
        EXPECT_TRUE(blocks == answered || blocks == answered + 1)
            << "unit " << unit << " took " << blocks << " blocks, " << answered << " answered";
      }
    }
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!(instrument_->UnitsSoFar() > unit && instrument_->UnitPresent()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(100us);
    }
    const int next = unit + 1;
    // On a starved machine the last block may be read only once the next unit is there.
    if (!instrument_->Received().empty()) continue;
    const std::string reply = Exchange(kCheck, 6, Present());
    if (!Still(next)) continue;
    EXPECT_EQ(reply, kCheckReply) << "unit " << next << " still takes image blocks";
    EXPECT_EQ(instrument_->BlocksReceived(), 0);
    const auto flash = instrument_->Flash(1);
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](auto b) { return b == 0xFF; }));
    ++checked;
  }
  EXPECT_EQ(checked, 1);
}

// Tens of milliseconds each way; paced rows leave room for 70 paced bytes of a block write.
const Periods kPeriods[] = {
    {"Even", 60, 60, false},
    {"BriefAbsence", 80, 20, false},
    {"BriefPresence", 40, 80, false},
    {"Paced", 90, 40, true},
};

INSTANTIATE_TEST_SUITE_P(Periods, UnitsComeAndGo, ::testing::ValuesIn(kPeriods),
                         [](const auto& info) { return std::string(info.param.name); });

// The count of units and the unit of each request: two units, each asked once; each request
// stamped with when it arrived and how long after its own unit came, which lies between what
// the host saw before and after its exchange.
TEST(UnitsComeAndGoCount, RequestsCarryTheirUnitAndTime) {
  using Clock = std::chrono::steady_clock;
  Options options;
  // Each unit stays long enough for one exchange on a busy machine.
  options.comeAndGo = ComeAndGo{.present = 600ms, .absent = 10ms};
  SimulatedInstrument instrument(options);
  std::string error;
  const auto beforeStart = Clock::now();
  ASSERT_TRUE(instrument.Start(&error)) << error;
  EXPECT_EQ(instrument.UnitsSoFar(), 1);
  LineHost host(instrument.PortPath());
  const auto firstWritten = Clock::now();
  ASSERT_TRUE(host.Write(Hex(kCheck)));
  ASSERT_EQ(ToHex(host.Read(6, 500ms)), kCheckReply);
  const auto firstAnswered = Clock::now();
  const auto deadline = Clock::now() + 5s;
  auto notYet = Clock::now();  // before the last look that did not find unit 3 on the slot
  for (;;) {
    const auto look = Clock::now();
    if (instrument.UnitsSoFar() == 3 && instrument.UnitPresent()) break;
    notYet = look;
    if (look > deadline) break;
    std::this_thread::sleep_for(100us);
  }
  const auto seen = Clock::now();
  ASSERT_EQ(instrument.UnitsSoFar(), 3);
  ASSERT_TRUE(host.Write(Hex(kCheck)));
  ASSERT_EQ(ToHex(host.Read(6, 500ms)), kCheckReply);
  const auto thirdAnswered = Clock::now();
  const auto requests = instrument.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].unit, 1);
  EXPECT_EQ(requests[1].unit, 3);

  // Unit 1 came with Start(); unit 3 after the last look that missed it and by the one that
  // found it.
  EXPECT_GE(requests[0].at, firstWritten);
  EXPECT_LE(requests[0].at, firstAnswered);
  EXPECT_GE(requests[0].afterArrival, Clock::duration::zero());
  EXPECT_LE(requests[0].afterArrival, firstAnswered - beforeStart);
  EXPECT_GE(requests[1].at, seen);
  EXPECT_LE(requests[1].at, thirdAnswered);
  EXPECT_GE(requests[1].afterArrival, Clock::duration::zero());
  EXPECT_LE(requests[1].afterArrival, thirdAnswered - notYet);
}

}  // namespace
}  // namespace quorvex::sim
