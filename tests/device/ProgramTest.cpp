// The image transfer: 512 raw blocks, one answer byte each, progress, cancel and the
// finish verdict, over a scripted in-memory port.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Device.h"
#include "Hex.h"
#include "RecordingOperator.h"
#include "ScriptedBackend.h"

namespace quorvex::test {
namespace {

struct ProgramFixture : ::testing::Test {
  std::shared_ptr<ScriptedLine> line = std::make_shared<ScriptedLine>();
  RecordingOperator op;
  TComPort port{nullptr, std::make_unique<ScriptedBackend>(line)};
  Device device{port, op};
  std::vector<long> pauses;
  void SetUp() override {
    ASSERT_TRUE(port.Open("//./COM1"));
    device.SetPause([this](std::chrono::milliseconds ms) { pauses.push_back(ms.count()); });
    device.FileSize = 65'600;
    for (std::size_t i = 0; i < device.Image.size(); ++i) {
      device.Image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    op.sectorText = "1";
  }
  void AnswerBlocks(int count) { line->Queue(std::vector<std::uint8_t>(count, 0x00)); }
};

struct VerdictCase {
  const char* name;
  std::string finishReply;
  bool fails;
  std::string box;  // first line, empty when none
  std::string logLine;
};

class VerdictTest : public ProgramFixture, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(VerdictTest, JudgesTheFinishReply) {
  const VerdictCase& c = GetParam();
  AnswerBlocks(512);
  line->Queue(Hex(c.finishReply));
  EXPECT_EQ(device.Program(), c.fails);
  EXPECT_FALSE(device.Stopped());
  // The image's first 65,536 bytes, in 512 writes of 128, then the finish frame.
  ASSERT_EQ(line->written.size(), 65'536u + 5u);
  EXPECT_TRUE(
      std::equal(device.Image.begin(), device.Image.begin() + 65'536, line->written.begin()));
  EXPECT_EQ(ToHex({line->written.end() - 5, line->written.end()}), "02 00 35 00 C8");
  EXPECT_EQ(std::count(line->writeSizes.begin(), line->writeSizes.end(), 128u), 512);
  EXPECT_EQ(pauses, std::vector<long>{1000});
  EXPECT_EQ(op.progress.back(), 0) << "the bar is back at 0 in every outcome";
  if (c.box.empty()) {
    EXPECT_TRUE(op.shown.empty());
    EXPECT_TRUE(op.log.empty());
  } else {
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text.substr(0, op.shown[0].text.find('\n')), c.box);
    EXPECT_EQ(op.shown[0].caption, "Завершение программирования");
    EXPECT_EQ(op.log, std::vector<std::string>{c.logLine});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Finish, VerdictTest,
    ::testing::ValuesIn(std::vector<VerdictCase>{
        {"Success", "02 00 CA 00 33", false, "", ""},
        {"SuccessWith2", "02 00 CA 02 31", false, "", ""},
        {"SuccessWithFF", "02 00 CA FF 34", false, "", ""},
        {"ChecksumMismatch", "02 00 CA 01 32", true, "Сбой программирования",
         "Ошибка контрольной суммы микропрограммы"},
        {"NoReply", "", true, "Ошибка приема сообщения", "Ошибка завершения программирования"},
        {"CodeOnly", "01 00 CA 34", true, "Ошибка приема сообщения",
         "Ошибка завершения программирования"},
        {"WrongCode", "02 00 CB 00 32", true, "Нет связи со сканером", "Нет связи со сканером"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramFixture, ProgressClimbsTo99AndReturnsTo0) {
  AnswerBlocks(512);
  line->Queue(Hex("02 00 CA 00 33"));
  ASSERT_FALSE(device.Program());
  ASSERT_EQ(op.progress.size(), 1u + 512u + 1u);
  EXPECT_EQ(op.progress[0], 0);
  for (int block = 0; block < 6; ++block) EXPECT_EQ(op.progress[1 + block], 0);
  EXPECT_EQ(op.progress[1 + 6], 1) << "1 after the block at offset 768";
  EXPECT_EQ(op.progress[1 + 257], 50) << "50 after the block at offset 32,896";
  EXPECT_EQ(op.progress[512], 99);
  EXPECT_EQ(op.progress.back(), 0);
  EXPECT_EQ(op.processed, 512);
}

// A missing answer is no verdict, but a loader silent for three blocks in a row is gone: the
// stream ends there instead of waiting out every block left, and the finish request reports
// the failure as it always does.
struct SilenceCase {
  const char* name;
  int answered;            // blocks answered, in order, before the answers stop for good
  std::vector<int> gaps;   // reads (from 1) whose answer never comes, the later ones still do
  bool finishAnswered;     // the finish reply is queued after the block answers
  std::size_t blocksSent;  // image blocks written
  bool fails;
};

void PrintTo(const SilenceCase& c, std::ostream* os) { *os << c.name; }

class SilenceTest : public ProgramFixture, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceTest, ThreeUnansweredBlocksInARowEndTheStream) {
  const SilenceCase& c = GetParam();
  AnswerBlocks(c.answered);
  if (c.finishAnswered) line->Queue(Hex("02 00 CA 00 33"));
  line->nothingAt = c.gaps;
  EXPECT_EQ(device.Program(), c.fails);
  EXPECT_EQ(std::count(line->writeSizes.begin(), line->writeSizes.end(), 128u),
            static_cast<long>(c.blocksSent));
  EXPECT_EQ(ToHex({line->written.end() - 5, line->written.end()}), "02 00 35 00 C8")
      << "the finish request follows";
  EXPECT_EQ(pauses, std::vector<long>{1000});
  EXPECT_EQ(op.progress.back(), 0);
  if (c.fails) {
    EXPECT_EQ(op.log, std::vector<std::string>{"Ошибка завершения программирования"});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Silence, SilenceTest,
    ::testing::ValuesIn(std::vector<SilenceCase>{
        {"SilentAfterBlock100", 100, {}, false, 103, true},
        {"SilentFromTheFirstBlock", 0, {}, false, 3, true},
        {"SilentForTheLastBlocksOnly", 510, {}, false, 512, true},
        // Two missing answers in a row, then the loader answers again: nothing is cut short.
        {"TwoMissingInARow", 510, {7, 8}, true, 512, false},
        {"MissingHereAndThere", 509, {5, 7, 300}, true, 512, false},
    }),
    [](const auto& info) { return std::string(info.param.name); });

struct CancelCase {
  const char* name;
  int clickAfterBlock;  // 1-based; the click is handled in that block's message processing
};

class CancelTest : public ProgramFixture, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, StopsAfterTheBlockWithoutFinishing) {
  const int after = GetParam().clickAfterBlock;
  AnswerBlocks(512);
  op.onProcessMessages = [&](int calls) {
    if (calls == after) device.StopRequested = 1;
  };
  EXPECT_TRUE(device.Program());
  EXPECT_TRUE(device.Stopped());
  EXPECT_EQ(line->written.size(), static_cast<std::size_t>(after) * 128)
      << "no finish request after a cancel";
  EXPECT_EQ(op.log, std::vector<std::string>{"Стоп"});
  EXPECT_TRUE(op.shown.empty());
  EXPECT_EQ(op.progress.back(), 0);
  EXPECT_EQ(pauses, std::vector<long>{1000});
}

INSTANTIATE_TEST_SUITE_P(Cancel, CancelTest,
                         ::testing::ValuesIn(std::vector<CancelCase>{
                             {"FirstBlock", 1}, {"Middle", 200}, {"LastBlock", 512}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramFixture, FlagLeftSetBeforeTheRunIsCleared) {
  device.StopRequested = 1;
  AnswerBlocks(512);
  line->Queue(Hex("02 00 CA 00 33"));
  EXPECT_FALSE(device.Program());
}

}  // namespace
}  // namespace quorvex::test
