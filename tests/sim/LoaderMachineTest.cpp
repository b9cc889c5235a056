// The loader state machine, driven by time stamps alone: exchanges as hex on the line.
#include "LoaderMachine.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Faults.h"
#include "FlashState.h"
#include "Hex.h"

namespace quorvex::sim {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ToHex;

std::string Repeat(std::string_view hexByte, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += std::string(i == 0 ? "" : " ") + std::string(hexByte);
  return text;
}

// 64 zero block bytes, as a fresh instrument holds them.
const std::string kZeroBlock = Repeat("00", 64);

// Frames on the line, with their check bytes worked out by hand.
constexpr const char* kCheck = "01 00 02 FC";
constexpr const char* kCheckReply = "03 00 FD 45 B3 07";
constexpr const char* kEraseSector3 = "02 00 31 02 CA";
constexpr const char* kInitSector3 = "02 00 32 02 C9";
constexpr const char* kFinishSector3 = "02 00 35 02 C6";
constexpr const char* kFinishMatched = "02 00 CA 00 33";
constexpr const char* kFinishMismatch = "02 00 CA 01 32";

// A fresh loader over fresh flash, a clock that only moves when a test says so, and the
// bytes the loader emitted since the last look.
class Loader : public ::testing::Test {
 protected:
  Loader() { machine_.emplace(Faults{}, &flash_); }

  void UseFaults(const std::vector<std::string>& texts) {
    Faults faults;
    std::string error;
    ASSERT_TRUE(ParseFaults(texts, &faults, &error)) << error;
    machine_.emplace(faults, &flash_);
  }

  void Send(const std::vector<std::uint8_t>& bytes) { machine_->Feed(bytes, now_); }
  void Send(std::string_view hex) { Send(Hex(hex)); }
  void Wait(std::chrono::milliseconds silence) { now_ += silence; }

  // Everything emitted since the last call, as hex.
  std::string Replies() {
    std::vector<std::uint8_t> bytes;
    for (const Emission& emission : machine_->TakeEmissions()) {
      bytes.insert(bytes.end(), emission.bytes.begin(), emission.bytes.end());
    }
    return ToHex(bytes);
  }
  std::string Exchange(std::string_view hex) {
    Send(hex);
    return Replies();
  }

  static std::vector<std::uint8_t> ImageBlock(int block) {
    std::vector<std::uint8_t> bytes(kImageBlockBytes);
    std::iota(bytes.begin(), bytes.end(), static_cast<std::uint8_t>(block * 7));
    return bytes;
  }
  // Streams image blocks first..last (1-based) 1 ms apart; returns the answers as hex.
  std::string Stream(int first, int last) {
    std::string answers;
    for (int block = first; block <= last; ++block) {
      Wait(1ms);
      Send(ImageBlock(block));
      const std::string answer = Replies();
      answers += (answers.empty() || answer.empty() ? "" : " ") + answer;
    }
    return answers;
  }

  FlashState flash_;
  std::optional<LoaderMachine> machine_;
  TimePoint now_{std::chrono::hours(1)};
};

// --- One request, one reply -------------------------------------------------------------------

struct ExchangeCase {
  const char* name;
  std::vector<std::string> faults;
  std::string request;
  std::string reply;  // "" when the loader stays silent
};

void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }

class LoaderExchange : public Loader, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(LoaderExchange, AnswersAsOnTheLine) {
  UseFaults(GetParam().faults);
  EXPECT_EQ(Exchange(GetParam().request), GetParam().reply);
}

const ExchangeCase kExchanges[] = {
    {"DeviceCheck", {}, kCheck, kCheckReply},
    {"CheckByteZeroPassesTheSumRule", {}, "01 00 02 00", kCheckReply},
    {"SecondByteIsNotLookedAt", {}, "01 7E 02 FC", kCheckReply},
    {"EraseSector1", {}, "02 00 31 00 CC", "01 00 CE 30"},
    {"EraseSector64", {}, "02 00 31 3F 8D", "01 00 CE 30"},
    {"InitSector64", {}, "02 00 32 3F 8C", "01 00 CD 31"},
    {"ReadSector2", {}, "03 00 33 E0 40 A9", "41 00 CC " + kZeroBlock + " F2"},
    {"ReadSector64", {}, "03 00 33 EF C0 1A", "41 00 CC " + kZeroBlock + " F2"},
    {"WriteSector64", {}, "03 00 30 EF C0 1D " + Repeat("5A", 64), "01 00 CF 2F"},
    {"FinishWithoutTransferMismatches", {}, "02 00 35 00 C8", kFinishMismatch},

    {"BadCheckByteIgnored", {}, "01 00 02 FD", ""},
    {"EmptyFrameIgnored", {}, "00 00 FF", ""},
    {"UnknownCodeIgnored", {}, "01 00 07 F7", ""},
    {"CheckWithExtraByteIgnored", {}, "02 00 02 00 FB", ""},
    {"EraseIndex40Ignored", {}, "02 00 31 40 8C", ""},
    {"InitIndex40Ignored", {}, "02 00 32 40 8B", ""},
    {"FinishIndex40Ignored", {}, "02 00 35 40 88", ""},
    {"ReadBetweenBlocksIgnored", {}, "03 00 33 E0 01 E8", ""},
    {"ReadBelowFirstBlockIgnored", {}, "03 00 33 DF C0 2A", ""},
    {"ReadAfterLastBlockIgnored", {}, "03 00 33 F0 00 D9", ""},
    // The raw bytes after a write to no sector's block are taken, even one that looks like a
    // device check, and nothing is answered.
    {"WriteToNoBlockSwallowsItsBytes", {}, "03 00 30 E0 01 EB 01 00 02 FC " + Repeat("00", 60), ""},

    {"VersionFault", {"version=45B4"}, kCheck, "03 00 FD 45 B4 06"},
    {"WrongCodeOnCheck", {"wrong-code=check"}, kCheck, "03 00 CE 45 B3 36"},
    {"WrongCodeOnInitIsTheEraseCode", {"wrong-code=32"}, "02 00 32 3F 8C", "01 00 CE 30"},
    {"WrongCodeOnEraseIsTheInitCode", {"wrong-code=erase"}, "02 00 31 00 CC", "01 00 CD 31"},
    {"WrongCodeOnFinish", {"wrong-code=finish"}, "02 00 35 00 C8", "02 00 CE 01 2E"},
    {"WrongCodeOnReadKeepsTheBlock",
     {"wrong-code=read"},
     "03 00 33 E0 40 A9",
     "41 00 CE " + kZeroBlock + " F0"},
    {"BadCheckOnCheck", {"bad-check=02"}, kCheck, "03 00 FD 45 B3 F8"},
    {"BadCheckOnErase", {"bad-check=erase"}, "02 00 31 00 CC", "01 00 CE CF"},
    {"ShortCheck", {"short=check"}, kCheck, "01 00 FD 01"},
    {"ShortRead", {"short=0x33"}, "03 00 33 E0 40 A9", "01 00 CC 32"},
    {"ShortFinish", {"short=finish"}, "02 00 35 00 C8", "01 00 CA 34"},
    {"FaultOnAnotherRequestChangesNothing", {"short=read", "bad-check=init"}, kCheck, kCheckReply},
    {"SilentCheck", {"silent"}, kCheck, ""},
    {"SilentErase", {"silent"}, "02 00 31 00 CC", ""},
    {"StrayByteBeforeFirstReply", {"stray-byte"}, kCheck, "00 " + std::string(kCheckReply)},
};

INSTANTIATE_TEST_SUITE_P(Requests, LoaderExchange, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Requests spanning several exchanges ------------------------------------------------------

TEST_F(Loader, StrayByteGoesOutOnceOnly) {
  UseFaults({"stray-byte"});
  EXPECT_EQ(Exchange(kCheck), "00 " + std::string(kCheckReply));
  EXPECT_EQ(Exchange(kCheck), kCheckReply);
}

TEST_F(Loader, WrittenBlockIsReadBackAndStored) {
  std::vector<std::uint8_t> block(kBlockBytes);
  std::iota(block.begin(), block.end(), std::uint8_t{0x80});
  Send("03 00 30 EF C0 1D");
  for (std::uint8_t byte : block) {  // one byte every 10 ms, as a host writes them
    Wait(10ms);
    Send(std::vector<std::uint8_t>{byte});
  }
  EXPECT_EQ(Replies(), "01 00 CF 2F");
  EXPECT_TRUE(std::equal(block.begin(), block.end(), flash_.InfoBlock(63).begin()));
  EXPECT_TRUE(machine_->TakeStateChanged());

  const std::vector<std::uint8_t> read = Hex(Exchange("03 00 33 EF C0 1A"));
  ASSERT_EQ(read.size(), 68u);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), read.begin() + 3));
}

TEST_F(Loader, EraseRestoresErasedFlash) {
  flash_.Program(2, 100, Hex("00 11"));
  EXPECT_EQ(Exchange(kEraseSector3), "01 00 CE 30");
  const auto sector = flash_.Sector(2);
  EXPECT_TRUE(std::all_of(sector.begin(), sector.end(), [](auto b) { return b == 0xFF; }));
}

TEST_F(Loader, BadCheckFailsEvenWhenTheSumIsZero) {
  UseFaults({"bad-check=read"});
  FlashState::Block block{};
  block[0] = 0xF3;  // 41 + CC + F3 = 0x200: a sum of zero, which every check byte passes
  flash_.SetInfoBlock(0, block);
  // The padding byte 01 makes the sum 02, and the check byte is that sum: 02 AND 02 fails.
  std::string zeros;
  for (int i = 1; i < 64; ++i) zeros += " 00";  // block bytes 1 to 63
  EXPECT_EQ(Exchange("03 00 33 E0 00 E9"), "42 00 CC F3" + zeros + " 01 02");
}

TEST_F(Loader, RecordsRecognisedRequestsAndEveryByte) {
  Send("01 00 07 F7");  // unknown code
  Send("01 00 02 FD");  // bad check byte
  Send(kCheck);
  Send("03 00 33 E0 01 E8");  // known code, no sector's block: recorded, not answered
  const auto& requests = machine_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].code, 0x02);
  EXPECT_EQ(ToHex(requests[0].payload), "02");
  EXPECT_EQ(ToHex(requests[1].payload), "33 E0 01");
  EXPECT_EQ(machine_->Received().size(), 4u + 4u + 4u + 6u);
  machine_->ClearLog();
  EXPECT_TRUE(machine_->Requests().empty());
  EXPECT_TRUE(machine_->Received().empty());
}

TEST_F(Loader, SilentLoaderStillRecordsAndStores) {
  UseFaults({"silent"});
  Send("03 00 30 E0 00 EC " + Repeat("77", 64));
  EXPECT_EQ(Replies(), "");
  EXPECT_EQ(flash_.InfoBlock(0)[0], 0x77);
  ASSERT_EQ(machine_->Requests().size(), 1u);
  EXPECT_EQ(machine_->Requests()[0].code, 0x30);
}

TEST_F(Loader, DelayPostponesEveryReply) {
  UseFaults({"delay-ms=40"});
  Send(kCheck);
  auto emissions = machine_->TakeEmissions();
  ASSERT_EQ(emissions.size(), 1u);
  EXPECT_EQ(emissions[0].due, now_ + 40ms);

  Send(kInitSector3);
  (void)machine_->TakeEmissions();
  Wait(1ms);
  Send(ImageBlock(1));
  emissions = machine_->TakeEmissions();
  ASSERT_EQ(emissions.size(), 1u);
  EXPECT_EQ(ToHex(emissions[0].bytes), "06");
  EXPECT_EQ(emissions[0].due, now_ + 40ms);
}

// --- Image transfer ---------------------------------------------------------------------------

TEST_F(Loader, FullTransferProgramsTheSector) {
  EXPECT_EQ(Exchange(kEraseSector3), "01 00 CE 30");
  EXPECT_EQ(Exchange(kInitSector3), "01 00 CD 31");
  EXPECT_EQ(Stream(1, kImageBlocks), Repeat("06", kImageBlocks));
  EXPECT_EQ(machine_->BlocksReceived(), kImageBlocks);

  const auto sector = flash_.Sector(2);
  for (int block = 1; block <= kImageBlocks; ++block) {
    const auto expected = ImageBlock(block);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                           sector.begin() + (block - 1) * kImageBlockBytes))
        << "block " << block;
  }
  // After the last block the loader waits for requests at once, pause or not.
  EXPECT_EQ(Exchange(kFinishSector3), kFinishMatched);
}

struct FinishCase {
  const char* name;
  std::vector<std::string> faults;
  bool erase;  // erase before init
  int blocks;  // image blocks sent
  const char* finish;
  const char* reply;
};

void PrintTo(const FinishCase& c, std::ostream* os) { *os << c.name; }

class LoaderFinish : public Loader, public ::testing::WithParamInterface<FinishCase> {};

// The host's run: erase, init, stream, pause 1000 ms, finish.
TEST_P(LoaderFinish, JudgesWhatArrived) {
  const FinishCase& c = GetParam();
  UseFaults(c.faults);
  flash_.Program(2, 0, std::vector<std::uint8_t>(kSectorBytes, 0x5A));  // an old firmware
  if (c.erase) Send(kEraseSector3);
  Send(kInitSector3);
  (void)Replies();
  (void)Stream(1, c.blocks);
  Wait(1000ms);
  EXPECT_EQ(Exchange(c.finish), c.reply);
}

const FinishCase kFinishes[] = {
    {"AllBlocksIntact", {}, true, 512, kFinishSector3, kFinishMatched},
    {"ChecksumMismatchFault", {"checksum-mismatch"}, true, 512, kFinishSector3, kFinishMismatch},
    {"BlockMissing", {}, true, 511, kFinishSector3, kFinishMismatch},
    {"NoBlock", {}, true, 0, kFinishSector3, kFinishMismatch},
    {"OtherSector", {}, true, 512, "02 00 35 03 C5", kFinishMismatch},
    {"SectorNotErased", {}, false, 512, kFinishSector3, kFinishMismatch},
    {"ShortFinishReply", {"short=finish"}, true, 512, kFinishSector3, "01 00 CA 34"},
};

INSTANTIATE_TEST_SUITE_P(Transfer, LoaderFinish, ::testing::ValuesIn(kFinishes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Loader, SecondFinishOfOneTransferMismatches) {
  Send(kEraseSector3);
  Send(kInitSector3);
  (void)Replies();
  (void)Stream(1, kImageBlocks);
  EXPECT_EQ(Exchange(kFinishSector3), kFinishMatched);
  EXPECT_EQ(Exchange(kFinishSector3), kFinishMismatch);
}

TEST_F(Loader, PartialImageBlockIsDroppedAndTheStreamGoesOn) {
  Send(kInitSector3);
  (void)Replies();
  Wait(1ms);
  Send(std::vector<std::uint8_t>(60, 0x00));
  Wait(300ms);
  Send(ImageBlock(1));
  EXPECT_EQ(Replies(), "06");
  EXPECT_EQ(machine_->BlocksReceived(), 1);
  EXPECT_EQ(flash_.Sector(2)[0], ImageBlock(1)[0]);
}

// --- Silences ---------------------------------------------------------------------------------

struct Step {
  int waitMs;       // silence before the bytes
  std::string hex;  // what the host sends
};

struct SilenceCase {
  const char* name;
  std::vector<std::string> faults;
  std::vector<Step> steps;
  std::string replies;  // everything emitted, after the first step's reply
};

void PrintTo(const SilenceCase& c, std::ostream* os) { *os << c.name; }

class LoaderSilence : public Loader, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(LoaderSilence, EndsWhatWasUnderWay) {
  UseFaults(GetParam().faults);
  std::string replies;
  for (const Step& s : GetParam().steps) {
    Wait(std::chrono::milliseconds(s.waitMs));
    Send(s.hex);
    const std::string reply = Replies();
    if (!reply.empty()) replies += (replies.empty() ? "" : " ") + reply;
  }
  EXPECT_EQ(replies, GetParam().replies);
}

const std::string kBlockOfZeros = Repeat("00", 128);

const SilenceCase kSilences[] = {
    {"PartialFrameDroppedAfter250ms", {}, {{0, "01 00"}, {250, kCheck}}, kCheckReply},
    {"PartialFrameKeptAt249ms", {}, {{0, "01 00"}, {249, "02 FC"}}, kCheckReply},
    {"GarbageLengthSwallowsUntilSilence", {}, {{0, "FF"}, {10, kCheck}, {10, "00"}}, ""},
    {"GarbageLengthForgottenAfterSilence", {}, {{0, "FF"}, {250, kCheck}}, kCheckReply},
    {"PartialInformationBlockDropped",
     {},
     {{0, "03 00 30 E0 00 EC " + Repeat("11", 10)}, {250, kCheck}},
     kCheckReply},
    {"StreamCancelledAfter900msOfSilence",
     {},
     {{0, kInitSector3}, {900, kCheck}},
     "01 00 CD 31 " + std::string(kCheckReply)},
    {"StreamGoesOnAfter899ms", {}, {{0, kInitSector3}, {899, kBlockOfZeros}}, "01 00 CD 31 06"},
    {"CancelCountsFromTheDelayedAnswer",
     {"delay-ms=500"},
     {{0, kInitSector3}, {1300, kBlockOfZeros}},
     "01 00 CD 31 06"},
    {"MutedLoaderIgnoresTheFinish",
     {"mute-after=1"},
     {{0, kInitSector3},
      {1, kBlockOfZeros},
      {1, kBlockOfZeros},
      {5001, kBlockOfZeros},
      {1000, kFinishSector3}},
     "01 00 CD 31 06"},
    {"MutedLoaderStillMutedAt5499ms",
     {"mute-after=1"},
     {{0, kInitSector3}, {1, kBlockOfZeros}, {1, kBlockOfZeros}, {5499, kCheck}},
     "01 00 CD 31 06"},
    {"MutedLoaderBackAfter5500ms",
     {"mute-after=1"},
     {{0, kInitSector3}, {1, kBlockOfZeros}, {1, kBlockOfZeros}, {5500, kCheck}},
     "01 00 CD 31 06 " + std::string(kCheckReply)},
    {"MuteAfterZeroAnswersNoBlock",
     {"mute-after=0"},
     {{0, kInitSector3}, {1, kBlockOfZeros}},
     "01 00 CD 31"},
};

INSTANTIATE_TEST_SUITE_P(Resync, LoaderSilence, ::testing::ValuesIn(kSilences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Loader, MutedLoaderAnswersExactlyTheGivenBlocks) {
  UseFaults({"mute-after=300"});
  Send(kInitSector3);
  (void)Replies();
  EXPECT_EQ(Stream(1, kImageBlocks), Repeat("06", 300));
  EXPECT_EQ(machine_->BlocksReceived(), 300);
}

TEST_F(Loader, HangupFollowsTheGivenBlockAnswer) {
  UseFaults({"hangup-after=2"});
  Send(kInitSector3);
  (void)Replies();
  Wait(1ms);
  Send(ImageBlock(1));
  EXPECT_EQ(Replies(), "06");
  EXPECT_FALSE(machine_->HungUp());
  Wait(1ms);
  Send(ImageBlock(2));
  const auto emissions = machine_->TakeEmissions();
  ASSERT_EQ(emissions.size(), 2u);
  EXPECT_EQ(ToHex(emissions[0].bytes), "06");
  EXPECT_FALSE(emissions[0].hangUpAfter);
  EXPECT_TRUE(emissions[1].bytes.empty());
  EXPECT_TRUE(emissions[1].hangUpAfter);
  EXPECT_TRUE(machine_->HungUp());
  Wait(10s);
  EXPECT_EQ(Exchange(kCheck), "");
}

TEST_F(Loader, HangupAfterZeroFollowsTheInitReply) {
  UseFaults({"hangup-after=0"});
  Send(kInitSector3);
  const auto emissions = machine_->TakeEmissions();
  ASSERT_EQ(emissions.size(), 2u);
  EXPECT_EQ(ToHex(emissions[0].bytes), "01 00 CD 31");
  EXPECT_TRUE(emissions[1].hangUpAfter);
}

// Garbage with random pauses never crashes the loader, and a quiet host gets it back.
TEST_F(Loader, SurvivesGarbageAndRecovers) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> pause(0, 1200);
  for (int burst = 0; burst < 2000; ++burst) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(byte(random) % 200));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(random));
    if (burst % 50 == 0) bytes = Hex(kInitSector3);  // wander into the image stream too
    Wait(std::chrono::milliseconds(pause(random) < 1100 ? pause(random) % 30 : 1000));
    Send(bytes);
    (void)machine_->TakeEmissions();
  }
  Wait(1s);
  EXPECT_EQ(Exchange(kCheck), kCheckReply);
}

}  // namespace
}  // namespace quorvex::sim
