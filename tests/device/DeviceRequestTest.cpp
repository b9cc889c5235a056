// The loader's requests byte for byte, and what each failure tells the operator, over a
// scripted in-memory port.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Device.h"
#include "Hex.h"
#include "RecordingOperator.h"
#include "ScriptedBackend.h"
#include "Texts.h"

namespace quorvex::test {
namespace {

struct DeviceFixture : ::testing::Test {
  std::shared_ptr<ScriptedLine> line = std::make_shared<ScriptedLine>();
  RecordingOperator op;
  TComPort port{[this](std::string_view t) { op.PlainMessage(t); },
                std::make_unique<ScriptedBackend>(line)};
  Device device{port, op};
  std::vector<long> pauses;
  void SetUp() override {
    ASSERT_TRUE(port.Open("//./COM1"));
    device.SetPause([this](std::chrono::milliseconds ms) { pauses.push_back(ms.count()); });
  }
};

enum class Call { Check, Erase, Init, Read, Write };

struct RequestCase {
  const char* name;
  Call call;
  std::string sector;  // the sector field's text; also the argument of Read and Write
  std::string reply;   // the instrument's bytes
  std::string wire;    // what the host must send (the 64 block bytes of Write not included)
  bool fails;
  std::string box;  // the first line of the box text, empty when none
  std::string caption;
  std::string logLine;  // empty when none
};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class RequestTest : public DeviceFixture, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTest, ExchangesAndReports) {
  const RequestCase& c = GetParam();
  op.sectorText = c.sector;
  line->Queue(Hex(c.reply));
  const auto n = static_cast<std::uint8_t>(std::stoi(c.sector));
  SectorInf block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
  bool failed = false;
  switch (c.call) {
    case Call::Check:
      failed = device.CheckDevice();
      break;
    case Call::Erase:
      failed = device.Erase();
      break;
    case Call::Init:
      failed = device.Init();
      break;
    case Call::Read:
      failed = device.ReadSectorInf(n, block) != 0;
      break;
    case Call::Write:
      failed = device.WriteSectorInf(n, block) != 0;
      break;
  }
  EXPECT_EQ(failed, c.fails);
  const std::vector<std::uint8_t> frame = Hex(c.wire);
  ASSERT_GE(line->written.size(), frame.size());
  EXPECT_EQ(ToHex({line->written.begin(), line->written.begin() + frame.size()}), c.wire);
  if (c.call == Call::Write) {
    EXPECT_EQ(line->written.size(), frame.size() + 64) << "all 64 block bytes, even on failure";
    EXPECT_EQ(pauses, std::vector<long>(64, 10)) << "10 ms before each block byte";
  } else {
    EXPECT_EQ(line->written.size(), frame.size());
  }
  if (c.box.empty()) {
    EXPECT_TRUE(op.shown.empty());
  } else {
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(FirstLine(op.shown[0].text), c.box);
    EXPECT_EQ(op.shown[0].caption, c.caption);
    EXPECT_EQ(op.shown[0].flags, 0x10u);
  }
  EXPECT_EQ(op.log,
            c.logLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.logLine});
}

const char* kRecv = "Ошибка приема сообщения";
const char* kWrong = "Нет связи со сканером";

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestTest,
    ::testing::ValuesIn(std::vector<RequestCase>{
        {"CheckOk", Call::Check, "1", "03 00 FD 45 B3 07", "01 00 02 FC", false, "", "", ""},
        {"CheckOtherVersion", Call::Check, "1", "03 00 FD 45 B4 06", "01 00 02 FC", true,
         "Версия загрузчика не соответствует версии прибора", "Ошибка", ""},
        {"CheckSwappedVersion", Call::Check, "1", "03 00 FD B3 45 07", "01 00 02 FC", true,
         "Версия загрузчика не соответствует версии прибора", "Ошибка", ""},
        {"CheckWrongCode", Call::Check, "1", "03 00 FC 45 B3 08", "01 00 02 FC", true, kWrong,
         "Ошибка", ""},
        {"CheckSilent", Call::Check, "1", "", "01 00 02 FC", true, kRecv, "Ошибка", ""},
        {"CheckShortReply", Call::Check, "1", "01 00 FD 01", "01 00 02 FC", true, kRecv, "Ошибка",
         ""},
        {"CheckEmptyPayload", Call::Check, "1", "00 00 FF", "01 00 02 FC", true, kRecv, "Ошибка",
         ""},
        {"EraseSector1", Call::Erase, "1", "01 00 CE 30", "02 00 31 00 CC", false, "", "", ""},
        {"EraseBadCheck", Call::Erase, "1", "01 00 CE 31", "02 00 31 00 CC", true, kRecv,
         "Стирание", "Ошибка стирания"},
        {"EraseWrongCode", Call::Erase, "1", "01 00 CD 31", "02 00 31 00 CC", true, kWrong,
         "Стирание", "Ошибка стирания"},
        {"InitSector64", Call::Init, "64", "01 00 CD 31", "02 00 32 3F 8C", false, "", "", ""},
        {"InitOtherRequestsCode", Call::Init, "64", "01 00 CE 30", "02 00 32 3F 8C", true, kWrong,
         "Инициализация", "Нет связи со сканером"},
        {"InitSilent", Call::Init, "64", "", "02 00 32 3F 8C", true, kRecv, "Инициализация",
         "Ошибка инициализации"},
        {"ReadSector2WrongCode", Call::Read, "2", "01 00 CD 31", "03 00 33 E0 40 A9", true, kWrong,
         "Чтение кадра", "Нет связи со сканером"},
        {"ReadShortReply", Call::Read, "2", "01 00 CC 32", "03 00 33 E0 40 A9", true, kRecv,
         "Чтение кадра", "Ошибка приема сообщения"},
        {"WriteSector64", Call::Write, "64", "01 00 CF 2F", "03 00 30 EF C0 1D", false, "", "", ""},
        {"WriteSector1", Call::Write, "1", "01 00 CF 2F", "03 00 30 E0 00 EC", false, "", "", ""},
        {"WriteSilent", Call::Write, "64", "", "03 00 30 EF C0 1D", true, kRecv, "Запись кадра",
         "Ошибка чтения кадра"},
        {"WriteWrongCodeLogsTrailingSpace", Call::Write, "64", "01 00 CE 30", "03 00 30 EF C0 1D",
         true, kWrong, "Запись кадра", "Нет связи со сканером "},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The requests that name the sector take it from the field. A field that does not hold 1 to
// 64 is reported as the command's check reports it, and nothing reaches the line: no request
// may fall back to sector 1.
struct FieldCase {
  const char* name;
  std::string text;
  Shown shown;
};

class UnusableFieldTest : public DeviceFixture, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(UnusableFieldTest, EraseInitAndFinishSendNothing) {
  const FieldCase& c = GetParam();
  op.sectorText = c.text;
  device.FileSize = 65'600;
  const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
      {"Erase", [&] { return device.Erase(); }},
      {"Init", [&] { return device.Init(); }},
      // The finish request follows the 512 blocks; the field goes bad during the transfer.
      {"Program", [&] {
         op.sectorText = "1";
         op.onProcessMessages = [&](int) { op.sectorText = c.text; };
         line->Queue(std::vector<std::uint8_t>(512, 0x00));
         const bool failed = device.Program();
         op.onProcessMessages = nullptr;
         return failed;
       }}};
  for (const auto& [what, call] : calls) {
    SCOPED_TRACE(what);
    line->written.clear();
    op.shown.clear();
    op.sectorText = c.text;
    EXPECT_TRUE(call());
    const std::size_t sent = std::string_view(what) == "Program" ? 65'536u : 0u;
    EXPECT_EQ(line->written.size(), sent) << "no request naming a sector";
    EXPECT_EQ(op.shown, std::vector<Shown>{c.shown});
    EXPECT_TRUE(op.log.empty());
  }
  EXPECT_EQ(op.progress.back(), 0);
}

const Shown kWrongSectorBox{"Введен неправильный номер сектора", "Ошибка", 0x10, false};

INSTANTIATE_TEST_SUITE_P(
    SectorField, UnusableFieldTest,
    ::testing::ValuesIn(std::vector<FieldCase>{
        {"Empty", "", {"Введите номер сектора", "Quorvex", 0, true}},
        {"Letters", "ab", {"'ab' is not a valid integer value.", "Quorvex", 0x10, false}},
        {"DigitThenLetter", "1x", {"'1x' is not a valid integer value.", "Quorvex", 0x10, false}},
        {"Zero", "0", kWrongSectorBox},
        {"Sixty-five", "65", kWrongSectorBox},
        {"Negative", "-1", kWrongSectorBox},
    }),
    [](const auto& info) {
      std::string name = info.param.name;
      std::erase(name, '-');
      return name;
    });

TEST_F(DeviceFixture, ReadSectorInfFillsTheBlockOrLeavesItAlone) {
  // 41 00 CC, the block bytes 80 to BF, and the frame's check byte, worked out by hand.
  std::vector<std::uint8_t> reply{65, 0x00, 0xCC};
  for (int i = 0; i < 64; ++i) reply.push_back(static_cast<std::uint8_t>(0x80 + i));
  reply.push_back(0x12);
  line->Queue(reply);
  SectorInf block{};
  ASSERT_EQ(device.ReadSectorInf(2, block), 0);
  EXPECT_EQ(block[0], 0x80);
  EXPECT_EQ(block[63], 0x80 + 63);

  SectorInf untouched{};
  untouched.fill(0x5A);
  EXPECT_EQ(device.ReadSectorInf(2, untouched), 1);  // silent line
  for (const std::uint8_t b : untouched) ASSERT_EQ(b, 0x5A);
}

TEST_F(DeviceFixture, StaleReplyBytesAreNeverTakenAsVersion) {
  line->Queue(Hex("03 00 FD 45 B3 07"));
  ASSERT_FALSE(device.CheckDevice());
  line->Queue(Hex("01 00 FD 01"));  // the right code alone: Reply[1..2] still hold 45 B3
  EXPECT_TRUE(device.CheckDevice());
  EXPECT_EQ(FirstLine(op.shown.at(0).text), "Ошибка приема сообщения");
}

TEST(SectorAddressTest, BlockAddresses) {
  EXPECT_EQ(SectorInfAddress(1), 0xE000);
  EXPECT_EQ(SectorInfAddress(2), 0xE040);
  EXPECT_EQ(SectorInfAddress(64), 0xEFC0);
}

}  // namespace
}  // namespace quorvex::test
